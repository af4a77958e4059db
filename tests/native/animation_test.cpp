#include "engine/animation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace tarnevox {
namespace {

constexpr AnimationTunables kDefaults{0.3f, 30.0f, -0.2f};
constexpr float kSentinel = -12345.0f;

// The renderer's arrays, each with one guard element behind it that a pass must not touch.
struct Arrays {
  float targetSpectrum[kBandCount + 1] = {};
  float shownSpectrum[kBandCount + 1] = {};
  float targetWave[kWaveColumnCount + 1] = {};
  float shownWave[kWaveColumnCount + 1] = {};
  PeakState peaks[kBandCount + 1] = {};

  Arrays() {
    targetSpectrum[kBandCount] = shownSpectrum[kBandCount] = kSentinel;
    targetWave[kWaveColumnCount] = shownWave[kWaveColumnCount] = kSentinel;
    peaks[kBandCount] = PeakState{kSentinel, kSentinel, kSentinel};
  }
  void step(double frameDelta, const AnimationTunables& tunables = kDefaults) {
    animateStep(AnimationArrays{targetSpectrum, shownSpectrum, targetWave, shownWave, peaks},
                tunables, frameDelta);
  }
  void expectGuardsIntact() const {
    EXPECT_EQ(shownSpectrum[kBandCount], kSentinel);
    EXPECT_EQ(shownWave[kWaveColumnCount], kSentinel);
    EXPECT_EQ(peaks[kBandCount].value, kSentinel);
    EXPECT_EQ(peaks[kBandCount].hold, kSentinel);
  }
};

void expectPeak(const PeakState& peak, float value, float velocity, float hold) {
  EXPECT_EQ(peak.value, value);
  EXPECT_EQ(peak.velocity, velocity);
  EXPECT_EQ(peak.hold, hold);
}

TEST(BlendFactor, IsSmoothingTimesDeltaCappedAtOneWithNoLowerBound) {
  EXPECT_NEAR(blendFactor(0.3f, 1.0), 0.3, 1e-7);
  EXPECT_EQ(blendFactor(0.3f, 0.0), 0.0);
  EXPECT_NEAR(blendFactor(0.3f, -1.0), -0.3, 1e-7);
  EXPECT_EQ(blendFactor(0.3f, 4.0), 1.0);  // not 1.2
  EXPECT_EQ(blendFactor(0.5f, 2.0), 1.0);
  EXPECT_EQ(blendFactor(0.3f, std::numeric_limits<double>::infinity()), 1.0);
  EXPECT_EQ(blendFactor(0.3f, std::numeric_limits<double>::quiet_NaN()), 1.0);
}

TEST(Animation, BlendsEveryShownValueTowardsItsOwnTarget) {
  Arrays a;
  for (int i = 0; i < kBandCount; ++i) a.targetSpectrum[i] = 100.0f + static_cast<float>(i);
  for (int i = 0; i < kWaveColumnCount; ++i) {
    a.shownWave[i] = 10.0f;
    a.targetWave[i] = static_cast<float>(i) - 200.0f;
  }
  a.step(1.0);
  for (int i = 0; i < kBandCount; ++i) {
    EXPECT_NEAR(a.shownSpectrum[i], 0.3 * (100 + i), 1e-4) << i;
  }
  for (int i = 0; i < kWaveColumnCount; ++i) {
    EXPECT_NEAR(a.shownWave[i], 10.0 + 0.3 * (i - 210), 1e-4) << i;
  }
  EXPECT_FLOAT_EQ(a.shownSpectrum[0], 30.0f);  // 0 towards 100
  a.expectGuardsIntact();

  // A pass of four sixtieths (or an unusable clock reading) lands exactly on the targets.
  for (double delta : {4.0, std::numeric_limits<double>::quiet_NaN()}) {
    Arrays b;
    for (int i = 0; i < kBandCount; ++i) b.targetSpectrum[i] = 0.7f * static_cast<float>(i);
    for (int i = 0; i < kWaveColumnCount; ++i) b.targetWave[i] = -0.3f * static_cast<float>(i);
    b.step(delta);
    for (int i = 0; i < kBandCount; ++i) EXPECT_EQ(b.shownSpectrum[i], b.targetSpectrum[i]);
    for (int i = 0; i < kWaveColumnCount; ++i) EXPECT_EQ(b.shownWave[i], b.targetWave[i]);
  }
}

TEST(Animation, ZeroDeltaFreezesEverythingButStillRaisesMarkers) {
  Arrays a;
  for (int i = 0; i < kBandCount; ++i) {
    a.targetSpectrum[i] = 90.0f;
    a.shownSpectrum[i] = 40.0f;
  }
  a.shownWave[7] = 3.0f;
  a.targetWave[7] = 9.0f;
  a.peaks[0] = PeakState{60.0f, 0.0f, 12.0f};   // held
  a.peaks[1] = PeakState{70.0f, -1.5f, -2.0f};  // falling
  a.peaks[2] = PeakState{10.0f, -1.0f, -3.0f};  // below its bar
  a.step(0.0);
  EXPECT_EQ(a.shownSpectrum[0], 40.0f);
  EXPECT_EQ(a.shownWave[7], 3.0f);
  expectPeak(a.peaks[0], 60.0f, 0.0f, 12.0f);
  expectPeak(a.peaks[1], 70.0f, -1.5f, -2.0f);
  expectPeak(a.peaks[2], 40.0f, 0.0f, 30.0f);
}

TEST(Animation, MarkerCountsDownItsHoldThenFallsWithConstantAcceleration) {
  Arrays a;
  for (int i = 0; i < kBandCount; ++i) a.targetSpectrum[i] = a.shownSpectrum[i] = 20.0f;
  a.peaks[5] = PeakState{50.0f, 0.0f, 0.5f};
  a.step(1.0);
  expectPeak(a.peaks[5], 50.0f, 0.0f, -0.5f);  // the pass that ends the hold only counts down
  a.step(1.0);
  expectPeak(a.peaks[5], 50.0f, -0.2f, -0.5f);  // moved by the old velocity, 0
  a.step(1.0);
  expectPeak(a.peaks[5], 49.8f, -0.4f, -0.5f);

  // After n falling passes of one sixtieth the marker has dropped 0.1 n (n - 1).
  Arrays b;
  b.peaks[3] = PeakState{200.0f, 0.0f, 0.0f};
  for (int n = 1; n <= 40; ++n) {
    b.step(1.0);
    EXPECT_NEAR(b.peaks[3].value, 200.0 - 0.1 * n * (n - 1), 1e-3) << n;
    EXPECT_NEAR(b.peaks[3].velocity, -0.2 * n, 1e-4) << n;
  }

  // Gravity scales with the frame time: one pass of two sixtieths.
  Arrays c;
  c.peaks[0] = PeakState{100.0f, -1.0f, 0.0f};
  c.step(2.0);
  EXPECT_FLOAT_EQ(c.peaks[0].value, 98.0f);
  EXPECT_FLOAT_EQ(c.peaks[0].velocity, -1.4f);
}

TEST(Animation, NotANumberHoldCountsAsHeld) {
  Arrays a;
  a.peaks[9] = PeakState{50.0f, -1.0f, std::numeric_limits<float>::quiet_NaN()};
  a.step(1.0);
  EXPECT_EQ(a.peaks[9].value, 50.0f);
  EXPECT_EQ(a.peaks[9].velocity, -1.0f);
  EXPECT_TRUE(std::isnan(a.peaks[9].hold));
}

TEST(Animation, OnlyABarStrictlyAboveItsMarkerRearmsTheHold) {
  Arrays a;
  const float above = std::nextafter(50.0f, 100.0f);
  a.shownSpectrum[0] = a.targetSpectrum[0] = 50.0f;  // level: marker free at 50, not moving yet
  a.shownSpectrum[1] = a.targetSpectrum[1] = above;
  a.peaks[0] = a.peaks[1] = PeakState{50.0f, 0.0f, 0.0f};
  a.step(1.0);
  expectPeak(a.peaks[0], 50.0f, -0.2f, 0.0f);
  expectPeak(a.peaks[1], above, 0.0f, 30.0f);

  // A custom hold is what a rise re-arms.
  Arrays b;
  b.shownSpectrum[0] = b.targetSpectrum[0] = 5.0f;
  b.step(1.0, AnimationTunables{0.3f, 7.5f, -0.2f});
  expectPeak(b.peaks[0], 5.0f, 0.0f, 7.5f);
}

TEST(Animation, MarkerNeverEndsAPassBelowItsBar) {
  Arrays a;
  for (int i = 0; i < kBandCount; ++i) {
    a.shownSpectrum[i] = a.targetSpectrum[i] = 8.0f;
    a.peaks[i] = PeakState{10.0f, -5.0f, -1.0f};  // would fall to 5
  }
  a.step(1.0);
  for (int i = 0; i < kBandCount; ++i) expectPeak(a.peaks[i], 8.0f, 0.0f, 30.0f);

  // Over a silent band a marker stays at 0 however long it falls.
  Arrays b;
  for (int pass = 0; pass < 100; ++pass) {
    b.step(1.0);
    ASSERT_EQ(b.peaks[0].value, 0.0f) << pass;
  }
}

TEST(Animation, MarkersFollowTheShownSpectrumOnlyNotTargetsOrWaveform) {
  Arrays a;
  for (int i = 0; i < kBandCount; ++i) a.targetSpectrum[i] = 100.0f;
  for (int i = 0; i < kWaveColumnCount; ++i) a.targetWave[i] = a.shownWave[i] = 250.0f;
  a.step(1.0);
  for (int i = 0; i < kBandCount; ++i) {
    EXPECT_EQ(a.peaks[i].value, a.shownSpectrum[i]) << i;  // ~30, not 100
    EXPECT_LT(a.peaks[i].value, 31.0f);
  }

  // Loud columns over a silent spectrum raise no marker.
  Arrays b;
  for (int i = 0; i < kWaveColumnCount; ++i) b.targetWave[i] = b.shownWave[i] = 250.0f;
  b.step(1.0);
  for (int i = 0; i < kBandCount; ++i) {
    EXPECT_EQ(b.peaks[i].value, 0.0f) << i;
    EXPECT_EQ(b.peaks[i].hold, 0.0f) << i;  // never armed
  }
  b.expectGuardsIntact();
}

}  // namespace
}  // namespace tarnevox
