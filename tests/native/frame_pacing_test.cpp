#include "engine/frame_pacing.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

namespace tarnevox {
namespace {

constexpr std::int64_t kTicks = 10'000'000;  // counter ticks per second, as under Wine
constexpr std::int64_t kMs = kTicks / 1000;

struct SimulatedRun {
  int frames = 0;
  int waits = 0;
  int refreshesWithoutAFrame = 0;
};

// Ten seconds of the loop on simulated time: each pass draws for half a millisecond, then
// Present either waits for the next blank of the true rate or takes `presentTicks` and
// returns; the loop's waits, and a Present that waited, end up to `lateTicks` late, and
// every 97th Present that waited `outlierTicks` late.
SimulatedRun simulate(std::uint32_t reportedHz, double trueHz, bool presentWaits,
                      std::int64_t presentTicks, std::int64_t lateTicks,
                      std::int64_t outlierTicks = 0) {
  const std::int64_t period = refreshPeriodTicks(reportedHz, kTicks);
  const double blank = static_cast<double>(kTicks) / trueHz;
  SimulatedRun run;
  FramePacer pacer;
  std::int64_t now = 0, lastBlankShown = 0;
  for (std::int64_t late = 0; now < 10 * kTicks; late = (late * 7 + 3) % 16) {
    const std::int64_t start = now;
    const std::int64_t called = now += kMs / 2;
    const auto nextBlank = static_cast<std::int64_t>(static_cast<double>(now) / blank) + 1;
    if (nextBlank > lastBlankShown) {
      run.refreshesWithoutAFrame += static_cast<int>(nextBlank - lastBlankShown - 1);
      lastBlankShown = nextBlank;
    }
    now = presentWaits ? static_cast<std::int64_t>(static_cast<double>(nextBlank) * blank) +
                             (run.frames % 97 == 96 ? outlierTicks : late * lateTicks / 15)
                       : now + presentTicks;
    ++run.frames;
    const std::uint32_t ms =
        pacer.pauseAfterPass({FrameResult::kDrawn, now - called}, start, now, period, kTicks);
    if (ms > 0) ++run.waits;
    now += ms * kMs + (ms > 0 ? late * lateTicks / 15 : 0);
  }
  return run;
}

TEST(FramePacing, APresentThatWaitsForTheBlankGetsNoFurtherWaitAndEveryRefreshAFrame) {
  // At the reported rate, and at 59.94 Hz reported rounded down or up.
  for (const auto& [reported, actual] : {std::pair{60u, 60.0}, std::pair{144u, 144.0},
                                         std::pair{240u, 240.0}, std::pair{59u, 59.94},
                                         std::pair{60u, 59.94}}) {
    SCOPED_TRACE(actual);
    const SimulatedRun run = simulate(reported, actual, true, 0, kMs);
    EXPECT_EQ(run.waits, 0);
    EXPECT_EQ(run.refreshesWithoutAFrame, 0);
  }
  // Returns more than a quarter period late now and then cost a short wait, no frame.
  const SimulatedRun jittery = simulate(240, 240.0, true, 0, 3 * kMs / 2);
  EXPECT_GT(jittery.waits, 0);
  EXPECT_EQ(jittery.refreshesWithoutAFrame, 0);
  // A frame that began 5 ms late costs a wait or two after it, not a wait for every
  // later frame.
  const SimulatedRun outliers = simulate(144, 144.0, true, 0, kMs / 2, 5 * kMs);
  EXPECT_LT(outliers.waits, outliers.frames / 10);
  EXPECT_EQ(outliers.refreshesWithoutAFrame, 0);
}

TEST(FramePacing, APresentThatReturnsAtOnceIsHeldToTheRateDespiteLateWakeUps) {
  for (const std::uint32_t hz : {60u, 144u, 240u}) {
    SCOPED_TRACE(hz);
    // A Present that takes less than an eighth of a period is not taken for a blank.
    for (const std::int64_t presentTicks : {std::int64_t{0}, kTicks / hz / 10}) {
      const SimulatedRun run = simulate(hz, hz, false, presentTicks, 3 * kMs / 2);
      EXPECT_LE(run.frames, static_cast<int>(hz) * 10 + 1);  // never faster
      EXPECT_GE(run.frames, static_cast<int>(hz) * 10 * 99 / 100);
      EXPECT_GE(run.waits, run.frames - 2);
    }
  }
  // A Present kept waiting by a busy device (half a period) passes for one that waited
  // for the blank, and the loop may then run a little faster than the display.
  const SimulatedRun busy = simulate(60, 60.0, false, kTicks / 120, 3 * kMs / 2);
  EXPECT_LE(busy.frames, 600 * 1025 / 1000);
}

TEST(FramePacing, ALoopThatFellBehindStartsAfreshWithoutABurst) {
  const std::int64_t period = refreshPeriodTicks(0, kTicks);  // unknown: 60 Hz
  EXPECT_EQ(period, refreshPeriodTicks(60, kTicks));
  FramePacer pacer;
  for (int frame = 0; frame < 20; ++frame) {
    pacer.pauseAfterPass({FrameResult::kDrawn, 0}, frame * period, frame * period + kMs, period,
                         kTicks);
  }
  // A pass that took 200 ms: the next starts at once, and the one after that, drawn in
  // 1 ms, waits out the rest of its period.
  const FrameReport drawn = {FrameResult::kDrawn, 0};
  const std::int64_t late = 20 * period + 200 * kMs;
  EXPECT_EQ(pacer.pauseAfterPass(drawn, 20 * period, late, period, kTicks), 0u);
  EXPECT_EQ(pacer.pauseAfterPass(drawn, late, late + kMs, period, kTicks), 16u);
  // A counter that went back waits no longer than a period.
  EXPECT_EQ(FramePacer().pauseAfterPass(drawn, 500 * kMs, 100 * kMs, period, kTicks), 17u);
  // Passes that drew nothing pause as they always did.
  EXPECT_EQ(pacer.pauseAfterPass({FrameResult::kDeviceLost, 0}, 0, 0, period, kTicks), 100u);
}

TEST(FramePacing, TriesForANewDeviceWaitLongerEachTimeUntilOneIsDrawnWith) {
  FramePacer pacer;
  const std::int64_t period = refreshPeriodTicks(60, kTicks);
  const FrameReport gone = {FrameResult::kDeviceGone, 0};
  std::vector<std::uint32_t> pauses;
  for (int attempt = 0; attempt < 7; ++attempt) {
    pauses.push_back(pacer.pauseAfterPass(gone, 0, 0, period, kTicks));
    // A loss or a failure between the tries does not start the pauses again.
    pacer.pauseAfterPass({FrameResult::kDeviceLost, 0}, 0, 0, period, kTicks);
  }
  EXPECT_EQ(pauses, (std::vector<std::uint32_t>{250, 500, 1000, 2000, 4000, 4000, 4000}));
  pacer.pauseAfterPass({FrameResult::kDrawn, 0}, 0, kMs, period, kTicks);
  EXPECT_EQ(pacer.pauseAfterPass(gone, 0, 0, period, kTicks), 250u);
}

}  // namespace
}  // namespace tarnevox
