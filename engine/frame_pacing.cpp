#include "engine/frame_pacing.h"

namespace tarnevox {
namespace {

std::uint32_t fixedPauseMs(FrameResult result) {
  switch (result) {
    case FrameResult::kNothingDrawn: return kNothingDrawnPauseMs;
    case FrameResult::kDeviceLost: return kDeviceLostPauseMs;
    case FrameResult::kFailed: return kFailurePauseMs;
    case FrameResult::kDrawn:
    case FrameResult::kDeviceGone: break;
  }
  return 0;
}

}  // namespace

std::int64_t refreshPeriodTicks(std::uint32_t refreshHz, std::int64_t ticksPerSecond) {
  const std::uint32_t hz = refreshHz > 1 ? refreshHz : kFallbackRefreshHz;
  const std::int64_t period = ticksPerSecond / hz;
  return period > 0 ? period : 1;
}

std::uint32_t FramePacer::pauseAfterPass(const FrameReport& frame, std::int64_t start,
                                         std::int64_t now, std::int64_t period,
                                         std::int64_t ticksPerSecond) {
  if (frame.result == FrameResult::kDeviceGone) {
    count_ = 0;
    const std::uint32_t pause = recoveryPause_;
    recoveryPause_ = pause < kLongestRecoveryPauseMs / 2 ? pause * 2 : kLongestRecoveryPauseMs;
    return pause;
  }
  if (frame.result == FrameResult::kDrawn) recoveryPause_ = kFirstRecoveryPauseMs;
  if (frame.result != FrameResult::kDrawn || ticksPerSecond <= 0) {
    count_ = 0;  // frames start afresh after a pause
    return frame.result != FrameResult::kDrawn ? fixedPauseMs(frame.result)
                                               : 1000 / kFallbackRefreshHz;
  }
  // A pass that began late only because the wait before it woke late counts from when
  // it was due, so that lateness is not handed on.
  if (count_ > 0 && start > due_) start = due_;
  if (count_ < kWindow) {
    starts_[(oldest_ + count_++) % kWindow] = start;
  } else {
    starts_[oldest_] = start;
    oldest_ = (oldest_ + 1) % kWindow;
  }
  const std::int64_t sooner = frame.presentTicks >= period / 8 ? period / 4 : 0;
  std::int64_t next = starts_[oldest_] + count_ * period - sooner;
  if (next < start + period / 2) next = start + period / 2;
  if (now - next >= period) {  // fallen behind
    count_ = 0;
    oldest_ = 0;
    return 0;
  }
  if (next <= now) {
    due_ = now;
    return 0;
  }
  if (next - now > period) next = now + period;  // the counter went back: a period at most
  due_ = next;
  return static_cast<std::uint32_t>(((next - now) * 1000 + ticksPerSecond - 1) / ticksPerSecond);
}

}  // namespace tarnevox
