// Any host block: the levels are finite and not negative, the targets within 0..102.4.
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
  tarnevox::analyseBlock(block, spectrum, wave);
  for (float level : spectrum) {
    if (!std::isfinite(level) || level < 0.0f) std::abort();
  }
  for (float target : wave) {
    if (!(target >= 0.0f && target <= 102.4f)) std::abort();
  }
  return 0;
}
