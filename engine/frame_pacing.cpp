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

PassPause pauseAfterPass(FrameResult result, std::int64_t due, std::int64_t now,
                         std::int64_t period, std::int64_t ticksPerSecond) {
  if (ticksPerSecond <= 0) return {1000 / kFallbackRefreshHz, now};  // no counter to pace by
  if (result != FrameResult::kDrawn) {
    const std::uint32_t pause = fixedPauseMs(result);
    return {pause, now + ticksOfMs(pause, ticksPerSecond)};
  }
  std::int64_t next = due + period;
  // A Present that waited for the blank returns a little early or late, and a display's
  // rate is often reported rounded (59 for 59.94 Hz): up to an eighth of a period left
  // counts as used up, since so short a wait would only make the next frame miss its blank.
  if (next - now <= period / 8) return {0, now};
  if (next - now > period) next = now + period;  // the counter went back: a period at most
  const std::int64_t left = next - now;
  const std::int64_t ms = (left * 1000 + ticksPerSecond - 1) / ticksPerSecond;
  return {static_cast<std::uint32_t>(ms), next};
}

}  // namespace tarnevox
