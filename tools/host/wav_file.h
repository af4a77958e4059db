// A WAV file read whole into memory through the system's multimedia file functions.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "tools/host/pcm_block.h"

namespace tarnevox::host {

struct WavData {
  PcmFormat format;
  std::vector<unsigned char> bytes;  // the data chunk, whole frames only
  std::size_t frameCount = 0;        // at least 1 after a successful read
};

// On failure returns false and puts a one-line reason into *error.
bool readWavFile(const std::wstring& path, WavData* wav, std::string* error);

// Stereo 8-bit audio one block long at 50 blocks a second, so that every render call of
// a run, 20 ms apart, hands the plug-in exactly this block.
WavData wavOfBlock(const SampleBlock& block);

}  // namespace tarnevox::host
