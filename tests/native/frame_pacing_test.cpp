#include "engine/frame_pacing.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace tarnevox {
namespace {

constexpr std::int64_t kTicks = 10'000'000;  // counter ticks per second, as under Wine
constexpr std::int64_t kMs = kTicks / 1000;

TEST(FramePacing, PeriodComesFromTheRateAndUnknownRatesAreSixtyHertz) {
  EXPECT_EQ(refreshPeriodTicks(144, kTicks), kTicks / 144);
  EXPECT_EQ(refreshPeriodTicks(240, kTicks), kTicks / 240);
  for (std::uint32_t unknown : {0u, 1u}) {
    EXPECT_EQ(refreshPeriodTicks(unknown, kTicks), kTicks / 60);
  }
}

TEST(FramePacing, PassesThatDrewNothingPauseAsBeforeFromTheirEnd) {
  const std::int64_t period = refreshPeriodTicks(60, kTicks);
  struct Case {
    FrameResult result;
    std::uint32_t ms;
  };
  for (const Case c : {Case{FrameResult::kNothingDrawn, 60}, Case{FrameResult::kDeviceLost, 100},
                       Case{FrameResult::kFailed, 50}}) {
    const PassPause pause = pauseAfterPass({c.result, 0}, 0, 3 * kMs, period, kTicks);
    EXPECT_EQ(pause.milliseconds, c.ms);
    EXPECT_EQ(pause.nextDue, 3 * kMs + c.ms * kMs);
  }
}

// A loop over simulated time: each pass draws for `drawTicks`, then Present either waits
// for the next blank of the true rate or takes `presentTicks` and returns; every wait of
// the loop wakes up to `lateTicks` late, and so does a Present that waited.
struct SimulatedRun {
  int frames = 0;
  int waits = 0;
  int refreshesWithoutAFrame = 0;
};
SimulatedRun simulate(std::uint32_t reportedHz, double trueHz, bool presentWaits,
                      std::int64_t drawTicks, std::int64_t presentTicks, std::int64_t lateTicks) {
  const std::int64_t period = refreshPeriodTicks(reportedHz, kTicks);
  const double blank = static_cast<double>(kTicks) / trueHz;
  SimulatedRun run;
  std::int64_t now = 0;
  std::int64_t due = 0;
  std::int64_t lastBlankShown = 0;
  for (std::int64_t late = 0; now < 10 * kTicks; late = (late * 7 + 3) % 16) {
    now += drawTicks;
    const std::int64_t called = now;
    const auto blankIndex = static_cast<std::int64_t>(static_cast<double>(now) / blank) + 1;
    if (blankIndex > lastBlankShown) {
      run.refreshesWithoutAFrame += static_cast<int>(blankIndex - lastBlankShown - 1);
      lastBlankShown = blankIndex;
    }
    now = presentWaits ? static_cast<std::int64_t>(static_cast<double>(blankIndex) * blank) +
                             late * lateTicks / 15
                       : now + presentTicks;
    ++run.frames;
    const PassPause pause =
        pauseAfterPass({FrameResult::kDrawn, now - called}, due, now, period, kTicks);
    if (pause.milliseconds > 0) {
      ++run.waits;
      now += pause.milliseconds * kMs + late * lateTicks / 15;
    }
    due = pause.nextDue;
  }
  return run;
}

TEST(FramePacing, APresentThatWaitsForTheBlankGetsNoFurtherWaitAndEveryRefreshAFrame) {
  for (const double hz : {60.0, 144.0, 240.0}) {
    SCOPED_TRACE(hz);
    const SimulatedRun run = simulate(static_cast<std::uint32_t>(hz), hz, true, kMs / 2, 0, kMs);
    EXPECT_EQ(run.waits, 0);
    EXPECT_EQ(run.refreshesWithoutAFrame, 0);
  }
  // Displays reported a little slow or fast, as 59 Hz for 59.94 or 60 for 59.94.
  for (const std::uint32_t reported : {59u, 60u}) {
    const SimulatedRun run = simulate(reported, 59.94, true, 2 * kMs, 0, kMs);
    EXPECT_EQ(run.waits, 0);
    EXPECT_EQ(run.refreshesWithoutAFrame, 0);
  }
  // Blanks that come later than a quarter period cost a short wait now and then, no frame.
  const SimulatedRun run = simulate(240, 240.0, true, kMs / 2, 0, 3 * kMs / 2);
  EXPECT_GT(run.waits, 0);
  EXPECT_EQ(run.refreshesWithoutAFrame, 0);
}

TEST(FramePacing, APresentThatReturnsAtOnceIsHeldToTheRateDespiteLateWakeUps) {
  for (const std::uint32_t hz : {60u, 144u, 240u}) {
    SCOPED_TRACE(hz);
    // A Present that takes less than a quarter of a period is not taken for a blank.
    for (const std::int64_t presentTicks : {std::int64_t{0}, kTicks / hz / 5}) {
      const SimulatedRun run = simulate(hz, hz, false, kMs / 2, presentTicks, 3 * kMs / 2);
      EXPECT_LE(run.frames, static_cast<int>(hz) * 10 + 1);  // never faster
      EXPECT_GE(run.frames, static_cast<int>(hz) * 10 * 99 / 100);
      EXPECT_GE(run.waits, run.frames - 2);
    }
  }
}

TEST(FramePacing, ALoopThatFellBehindStartsAfreshWithoutABurst) {
  const std::int64_t period = refreshPeriodTicks(60, kTicks);
  // A pass that took 200 ms: the next starts at once, due from now...
  PassPause pause = pauseAfterPass({FrameResult::kDrawn, 0}, 0, 200 * kMs, period, kTicks);
  EXPECT_EQ(pause.milliseconds, 0u);
  EXPECT_EQ(pause.nextDue, 200 * kMs);
  // ...and the one after that, drawn in 1 ms, waits out the rest of its period.
  pause = pauseAfterPass({FrameResult::kDrawn, 0}, pause.nextDue, 201 * kMs, period, kTicks);
  EXPECT_EQ(pause.milliseconds, 16u);
  EXPECT_EQ(pause.nextDue, 200 * kMs + period);
  // A counter that went back waits no longer than a period.
  pause = pauseAfterPass({FrameResult::kDrawn, 0}, 500 * kMs, 100 * kMs, period, kTicks);
  EXPECT_EQ(pause.milliseconds, 17u);
  EXPECT_EQ(pause.nextDue, 100 * kMs + period);
}

}  // namespace
}  // namespace tarnevox
