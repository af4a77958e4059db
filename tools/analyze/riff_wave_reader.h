// A reader of RIFF/WAVE files of our own, for builds without libsndfile (Windows): PCM of
// 8, 16, 24 or 32 bits and IEEE float of 32 or 64 bits, also in the extensible format
// chunk, mono or stereo, any sample rate.
#pragma once

#include <memory>
#include <string>

#include "tools/analyze/host_frames.h"

namespace tarnevox {

// Null, with a one-line reason in `error`, when the file cannot be opened or is no WAV
// file of those formats. A data chunk longer than the file ends where the file ends.
std::unique_ptr<HostFrameSource> openRiffWave(const char* path, std::string& error);

}  // namespace tarnevox
