// How long the render loop waits after each pass: after a drawn frame only what remains
// of one refresh period, so frames come at the display's pace; fixed pauses otherwise.
#pragma once

#include <cstdint>

namespace tarnevox {

// What one pass of the render loop came to. The drawing reports it; the loop decides
// every wait from it.
enum class FrameResult {
  kDrawn,         // a frame was presented
  kNothingDrawn,  // the window cannot be seen, or there is no display to draw with
  kDeviceLost,    // the device is lost and could not be reset yet
  kFailed,        // a Direct3D call failed (the frame may still have been presented)
};

// What drawing reports of one frame.
struct FrameReport {
  FrameResult result;
  std::int64_t presentTicks;  // how long Present took, in counter ticks; 0 without one
};

// A display that reports no rate (0, or 1 for the hardware's default) is taken to be this.
inline constexpr std::uint32_t kFallbackRefreshHz = 60;

inline constexpr std::uint32_t kNothingDrawnPauseMs = 60;
inline constexpr std::uint32_t kDeviceLostPauseMs = 100;
inline constexpr std::uint32_t kFailurePauseMs = 50;

// One refresh period in counter ticks (at least one tick).
std::int64_t refreshPeriodTicks(std::uint32_t refreshHz, std::int64_t ticksPerSecond);

struct PassPause {
  std::uint32_t milliseconds;  // 0: the next pass starts at once
  std::int64_t nextDue;        // counter value at which the next pass is due
};

// The wait after a pass that was due at `due` and ended at `now` (counter ticks).
//
// After a drawn frame the next one is due a period after this one was. A Present that
// waited for the blank (it took an eighth of the period or more) has used the period up:
// the next pass starts at once, though the blank let it return up to a quarter period
// early. One that returned sooner leaves the rest of the period to wait, on a grid of its
// own, so that a wait that wakes a little late does not slow the frames that follow. A
// loop that has fallen behind starts afresh from now, never catching up with a burst.
PassPause pauseAfterPass(const FrameReport& frame, std::int64_t due, std::int64_t now,
                         std::int64_t period, std::int64_t ticksPerSecond);

}  // namespace tarnevox
