#include "tools/analyze/host_frames.h"

#include <cmath>

namespace tarnevox {

unsigned char hostByteFromFloat(double sample) {
  if (std::isnan(sample)) return 0;
  const double scaled = sample * 32768.0;
  long value;
  if (scaled >= 32767.0) {
    value = 32767;
  } else if (scaled <= -32768.0) {
    value = -32768;
  } else {
    value = std::lround(scaled);
  }
  return static_cast<unsigned char>((value >> 8) & 0xFF);
}

}  // namespace tarnevox
