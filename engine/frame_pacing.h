// How long the render loop waits after each pass: after a drawn frame only what remains
// of the display's refresh period, so frames come at the display's pace; fixed pauses
// otherwise.
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
  kDeviceGone,    // the device was given up, or a new one could not be made yet
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
// While no device can be made (a driver being replaced, a session moving to another
// adapter), each try waits twice as long as the one before, up to the longest pause.
inline constexpr std::uint32_t kFirstRecoveryPauseMs = 250;
inline constexpr std::uint32_t kLongestRecoveryPauseMs = 4000;

// One refresh period in counter ticks (at least one tick).
std::int64_t refreshPeriodTicks(std::uint32_t refreshHz, std::int64_t ticksPerSecond);

// Keeps the frames of one render loop at the display's pace.
//
// A frame begins a period after the one before it began, measured over the last
// kWindow frames: the next one begins no sooner than kWindow periods after the oldest of
// them. So a wait that wakes a little late makes no later frame late, and one frame that
// began late (its Present came back late) makes no later frame wait. A Present that
// waited for the blank (it took an eighth of a period or more) has used its period up,
// though the blank may let it return a quarter period sooner than that: a rate is often
// reported rounded (59 for 59.94 Hz), and the return comes a little late or early. After
// such a Present the next frame may begin that much sooner, and after one that returned
// at once the loop waits out the rest of the period. Never are two frames less than half
// a period apart, and a loop that has fallen a period behind starts afresh, without a
// burst to catch up.
class FramePacer {
 public:
  static constexpr int kWindow = 12;

  // Milliseconds to wait after a pass that began at `start` and ended at `now` (counter
  // ticks); 0: the next pass starts at once.
  std::uint32_t pauseAfterPass(const FrameReport& frame, std::int64_t start, std::int64_t now,
                               std::int64_t period, std::int64_t ticksPerSecond);

 private:
  std::int64_t starts_[kWindow] = {};  // when the last frames began, a ring from oldest_
  int count_ = 0;
  int oldest_ = 0;
  std::int64_t due_ = 0;  // when the next pass is due to begin
  std::uint32_t recoveryPause_ = kFirstRecoveryPauseMs;  // before the next try for a device
};

}  // namespace tarnevox
