// Forward real FFT of fixed length 512, in place, double precision.
#pragma once

#include <cstdint>

namespace tarnevox {

// The tables of one data stream. All zero means "not built"; the first transform
// builds them and later transforms only read them.
struct FftWorkArea {
  std::int32_t indexTable[18];
  double trigTable[256];
};

// On return data[0] = R[0], data[1] = R[256], data[2k] = R[k], data[2k+1] = I[k]
// (k = 1..255), where R[k] + i I[k] = sum of x[j] e^(+2 pi i j k / 512). Unscaled.
void realFft512(double* data, FftWorkArea& workArea);

}  // namespace tarnevox
