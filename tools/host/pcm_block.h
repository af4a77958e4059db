// Host blocks from PCM audio as a WAV file holds it. No Windows header.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tools/host/signals.h"

namespace tarnevox::host {

struct PcmFormat {
  int channels = 0;
  int bitsPerSample = 0;       // 8, 16, 24 or 32 for integers; 32 for floating point
  bool floatingPoint = false;  // IEEE single precision
  int sampleRate = 0;
  int blockAlign = 0;          // bytes per frame, all channels
};

// Null when the host can play the format, otherwise a short reason.
const char* pcmFormatProblem(const PcmFormat& format);

// One sample as the host's signed 8-bit value: the top byte of a left-justified integer
// (8-bit WAV data is unsigned, offset 128), floating point times 128, clamped.
int pcmSampleToHost(const PcmFormat& format, const unsigned char* sample);

// Frames first .. first + 575, wrapping round the end of the data, so a short file loops.
// A mono file feeds both channels; channels beyond the second are ignored.
// frameCount must not be 0.
void fillPcmBlock(const PcmFormat& format, const unsigned char* data, std::size_t frameCount,
                  std::uint64_t first, SampleBlock* block);

}  // namespace tarnevox::host
