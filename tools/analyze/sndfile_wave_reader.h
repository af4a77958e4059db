// WAV files read through libsndfile, for the Linux build. Accepts the same formats as
// the reader of our own (riff_wave_reader.h) and reduces samples the same way.
#pragma once

#include <memory>
#include <string>

#include "tools/analyze/host_frames.h"

namespace tarnevox {

// Null, with a one-line reason in `error`, when the file cannot be opened or is no WAV
// file of 8/16/24/32-bit PCM or 32/64-bit float with one or two channels.
std::unique_ptr<HostFrameSource> openSndfileWave(const char* path, std::string& error);

}  // namespace tarnevox
