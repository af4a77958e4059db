#include "tools/host/pcm_block.h"

#include <cmath>
#include <cstring>

namespace tarnevox::host {

const char* pcmFormatProblem(const PcmFormat& format) {
  if (format.channels < 1) return "no channels";
  if (format.sampleRate < 1) return "no sample rate";
  if (format.floatingPoint) {
    if (format.bitsPerSample != 32) return "only 32-bit floating-point samples are supported";
  } else if (format.bitsPerSample != 8 && format.bitsPerSample != 16 &&
             format.bitsPerSample != 24 && format.bitsPerSample != 32) {
    return "only 8, 16, 24 and 32-bit integer samples are supported";
  }
  if (format.blockAlign < format.channels * (format.bitsPerSample / 8)) {
    return "frames are smaller than their samples";
  }
  return nullptr;
}

int pcmSampleToHost(const PcmFormat& format, const unsigned char* sample) {
  if (format.floatingPoint) {
    float value;
    std::memcpy(&value, sample, sizeof value);
    double scaled = std::floor(static_cast<double>(value) * 128.0);
    if (!(scaled >= -128.0)) scaled = -128.0;  // also catches NaN
    if (scaled > 127.0) scaled = 127.0;
    return static_cast<int>(scaled);
  }
  if (format.bitsPerSample == 8) return static_cast<int>(sample[0]) - 128;
  // Little-endian: the last byte of the sample is its most significant one.
  const int top = sample[format.bitsPerSample / 8 - 1];
  return top >= 128 ? top - 256 : top;
}

void fillPcmBlock(const PcmFormat& format, const unsigned char* data, std::size_t frameCount,
                  std::uint64_t first, SampleBlock* block) {
  const std::size_t bytesPerSample = static_cast<std::size_t>(format.bitsPerSample / 8);
  std::size_t frame = static_cast<std::size_t>(first % frameCount);
  for (int i = 0; i < kBlockSamples; ++i) {
    const unsigned char* frameBytes = data + frame * static_cast<std::size_t>(format.blockAlign);
    for (int channel = 0; channel < kBlockChannels; ++channel) {
      const int source = channel < format.channels ? channel : 0;
      const int value = pcmSampleToHost(format, frameBytes + source * bytesPerSample);
      block->samples[channel][i] = static_cast<unsigned char>(value & 0xFF);
    }
    if (++frame == frameCount) frame = 0;
  }
}

}  // namespace tarnevox::host
