#include "tools/analyze/block_cutter.h"

#include <algorithm>

namespace tarnevox {

namespace {
constexpr std::size_t kReadChunkFrames = 4096;
}

BlockCutter::BlockCutter(HostFrameSource& source) : source_(source) {
  frames_.reserve(kSamplesPerChannel + kReadChunkFrames);
}

void BlockCutter::discardBefore(std::uint64_t frame) {
  const std::size_t count = static_cast<std::size_t>(
      std::min<std::uint64_t>(frame - bufferStart_, frames_.size()));
  frames_.erase(frames_.begin(), frames_.begin() + static_cast<std::ptrdiff_t>(count));
  bufferStart_ += count;
}

bool BlockCutter::next(HostBlock& block, double& startSeconds) {
  const std::uint32_t rate = source_.sampleRate();
  const std::uint64_t start = blockStartFrame(nextBlock_, rate);
  // Frames before the block's start are dropped as they arrive, so skipping over a gap
  // never holds more than one read chunk.
  for (;;) {
    discardBefore(start);
    if (bufferStart_ == start && frames_.size() >= kSamplesPerChannel) break;
    const std::size_t kept = frames_.size();
    frames_.resize(kept + kReadChunkFrames);
    const std::size_t got = source_.readFrames(frames_.data() + kept, kReadChunkFrames);
    frames_.resize(kept + got);
    if (got == 0) return false;
  }
  for (int i = 0; i < kSamplesPerChannel; ++i) {
    block[0][i] = frames_[i].channel[0];
    block[1][i] = frames_[i].channel[1];
  }
  startSeconds = static_cast<double>(start) / rate;
  ++nextBlock_;
  return true;
}

}  // namespace tarnevox
