// Any host block, with invalid operation, division by zero and overflow trapped: no trap,
// the levels finite and not negative, the targets within 0..102.4.
#include <cfenv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "analysis/frame_analysis.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Shorter inputs are the start of a block whose rest is zero.
  tarnevox::HostBlock block{};
  std::memcpy(block, data, size < sizeof block ? size : sizeof block);
  float spectrum[tarnevox::kBandCount];
  float wave[tarnevox::kWaveColumnCount];
  // As on a host that traps these, which must get no exception from the analysis.
  feenableexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW);
  tarnevox::analyseBlock(block, spectrum, wave);
  fedisableexcept(FE_ALL_EXCEPT);
  for (float level : spectrum) {
    if (!std::isfinite(level) || level < 0.0f) std::abort();
  }
  for (float target : wave) {
    if (!(target >= 0.0f && target <= 102.4f)) std::abort();
  }
  return 0;
}
