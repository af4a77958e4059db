// Cutting a stream of host frames into the blocks a player would deliver: one block of
// 576 consecutive frames for every 20 ms of audio.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "analysis/frame_analysis.h"
#include "tools/analyze/host_frames.h"

namespace tarnevox {

inline constexpr std::uint32_t kBlocksPerSecond = 50;

// Block k starts at frame floor(k * rate / 50), exactly, in integers: at 44100 Hz every
// 882 frames, at 11025 Hz alternately after 220 and 221 frames. Below 28800 Hz blocks
// overlap, above it frames between blocks are skipped.
inline std::uint64_t blockStartFrame(std::uint64_t block, std::uint32_t sampleRate) {
  return block * sampleRate / kBlocksPerSecond;
}

class BlockCutter {
 public:
  explicit BlockCutter(HostFrameSource& source);

  // The next block and its start time in seconds (start frame / rate). False at the end:
  // a block that would run past the last frame is not delivered. After false, the
  // source's error() tells a read error from the end of the audio.
  bool next(HostBlock& block, double& startSeconds);

 private:
  void discardBefore(std::uint64_t frame);

  HostFrameSource& source_;
  std::uint64_t nextBlock_ = 0;
  std::uint64_t bufferStart_ = 0;  // frame number of frames_[0]
  std::vector<HostFrame> frames_;
};

}  // namespace tarnevox
