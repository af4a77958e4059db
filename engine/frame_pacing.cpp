#include "engine/frame_pacing.h"

namespace tarnevox {
namespace {

std::uint32_t fixedPauseMs(FrameResult result) {
  switch (result) {
    case FrameResult::kNothingDrawn: return kNothingDrawnPauseMs;
    case FrameResult::kDeviceLost: return kDeviceLostPauseMs;
    case FrameResult::kFailed: return kFailurePauseMs;
    case FrameResult::kDrawn: break;
  }
  return 0;
}

std::int64_t ticksOfMs(std::uint32_t milliseconds, std::int64_t ticksPerSecond) {
  return static_cast<std::int64_t>(milliseconds) * ticksPerSecond / 1000;
}

}  // namespace

std::int64_t refreshPeriodTicks(std::uint32_t refreshHz, std::int64_t ticksPerSecond) {
  const std::uint32_t hz = refreshHz > 1 ? refreshHz : kFallbackRefreshHz;
  const std::int64_t period = ticksPerSecond / hz;
  return period > 0 ? period : 1;
}

PassPause pauseAfterPass(const FrameReport& frame, std::int64_t due, std::int64_t now,
                         std::int64_t period, std::int64_t ticksPerSecond) {
  if (ticksPerSecond <= 0) return {1000 / kFallbackRefreshHz, now};  // no counter to pace by
  if (frame.result != FrameResult::kDrawn) {
    const std::uint32_t pause = fixedPauseMs(frame.result);
    return {pause, now + ticksOfMs(pause, ticksPerSecond)};
  }
  std::int64_t next = due + period;
  if (next <= now) return {0, now};
  // A Present that waited (an eighth of the period or more: the wait is short when the
  // frame began late) has been paced by the blank, which may let it return up to a
  // quarter period early: a rate is often reported rounded (59 for 59.94 Hz), and the
  // return comes a little late or early. Earlier than that, only the excess is waited,
  // so that a frame that began late (the return before came late) does not keep every
  // later one late; and a Present kept waiting by a busy device, which may pass for one,
  // still leaves the loop no faster than 4/3 the rate.
  if (frame.presentTicks >= period / 8) {
    next -= period / 4;
    if (next <= now) return {0, now};
  }
  if (next - now > period) next = now + period;  // the counter went back: a period at most
  const std::int64_t left = next - now;
  const std::int64_t ms = (left * 1000 + ticksPerSecond - 1) / ticksPerSecond;
  return {static_cast<std::uint32_t>(ms), next};
}

}  // namespace tarnevox
