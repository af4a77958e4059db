#include "analysis/frame_analysis.h"
#include "common/quiet_floating_point.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfenv>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace tarnevox {
namespace {

struct Targets {
  float spectrum[kBandCount];
  float wave[kWaveColumnCount];
};

Targets analyse(const HostBlock& block) {
  Targets t;
  // Poison, so that an entry the analysis forgets to write shows.
  for (float& v : t.spectrum) v = -7.0f;
  for (float& v : t.wave) v = -7.0f;
  analyseBlock(block, t.spectrum, t.wave);
  return t;
}

void fill(HostBlock& block, unsigned char c0, unsigned char c1) {
  std::memset(block[0], c0, kSamplesPerChannel);
  std::memset(block[1], c1, kSamplesPerChannel);
}

void expectOnlyLowBands(const Targets& t, double band0, double band1, float wave) {
  EXPECT_NEAR(t.spectrum[0], band0, 0.01);
  EXPECT_NEAR(t.spectrum[1], band1, 0.01);
  for (int b = 2; b < kBandCount; ++b) EXPECT_EQ(t.spectrum[b], 0.0f) << "band " << b;
  for (int i = 0; i < kWaveColumnCount; ++i) ASSERT_EQ(t.wave[i], wave) << "column " << i;
}

TEST(FrameAnalysis, ConstantBlocksGiveTheirKnownLevels) {
  HostBlock block;
  fill(block, 0x00, 0x00);
  expectOnlyLowBands(analyse(block), 0, 0, 0.0f);
  // -128 in both paths: the columns show the size of the signed sample.
  fill(block, 0x80, 0x80);
  expectOnlyLowBands(analyse(block), 304.78, 23.46, 102.4f);
  fill(block, 0x7F, 0x7F);
  expectOnlyLowBands(analyse(block), 304.30, 22.98, 101.6f);
  // A constant -1 and a constant +1 have equal magnitudes and equal columns.
  fill(block, 0xFF, 0x01);
  Targets t = analyse(block);
  EXPECT_NEAR(t.spectrum[0], 9.77, 0.01);
  for (int b = 1; b < kBandCount; ++b) EXPECT_EQ(t.spectrum[b], 0.0f) << "band " << b;
  for (float v : t.wave) ASSERT_EQ(v, 0.8f);
  fill(block, 0xFF, 0xFF);
  for (float v : analyse(block).wave) ASSERT_EQ(v, 0.8f);
  fill(block, 0x01, 0x01);
  for (float v : analyse(block).wave) ASSERT_EQ(v, 0.8f);
  // The extremes of the two channels average: (128 + 127) x 0.4.
  fill(block, 0x80, 0x7F);
  for (float v : analyse(block).wave) ASSERT_EQ(v, static_cast<float>(255 * 0.5 * 0.8f));
}

void fillSine(unsigned char* channel) {
  for (int n = 0; n < kSamplesPerChannel; ++n) {
    const long v = std::lround(100 * std::sin(2 * M_PI * 16 * n / 512));
    channel[n] = static_cast<unsigned char>(static_cast<signed char>(v));
  }
}

TEST(FrameAnalysis, ASineLandsInItsBandAndOneChannelHalvesIt) {
  HostBlock block;
  fillSine(block[0]);
  fillSine(block[1]);
  Targets both = analyse(block);
  int loudest = 0;
  for (int b = 0; b < kBandCount; ++b) {
    if (both.spectrum[b] > both.spectrum[loudest]) loudest = b;
  }
  EXPECT_EQ(loudest, 5);
  // These levels are known to one decimal, so they are checked to its rounding.
  EXPECT_NEAR(both.spectrum[5], 296.1, 0.05);
  EXPECT_NEAR(both.spectrum[4], 143.4, 0.05);
  EXPECT_NEAR(both.spectrum[6], 156.2, 0.05);

  std::memset(block[1], 0, kSamplesPerChannel);
  Targets one = analyse(block);
  EXPECT_NEAR(one.spectrum[5], 253.9, 0.05);
  // Halving the average lowers every level by 140 log10(2).
  EXPECT_NEAR(both.spectrum[5] - one.spectrum[5], 140 * std::log10(2.0), 1e-3);
}

// Half a period apart the samples are negated, so the columns repeat: both half-waves
// stand equally tall, and the envelope rises and falls smoothly.
TEST(FrameAnalysis, ASineGivesTheSameColumnsForBothHalfWaves) {
  HostBlock block;
  fillSine(block[0]);
  fillSine(block[1]);
  const Targets t = analyse(block);
  float highest = 0.0f;
  for (int i = 0; i < kWaveColumnCount; ++i) {
    if (i + 16 < kWaveColumnCount) ASSERT_EQ(t.wave[i], t.wave[i + 16]) << "column " << i;
    if (i > 0) ASSERT_LE(std::fabs(t.wave[i] - t.wave[i - 1]), 16.0f) << "column " << i;
    highest = std::max(highest, t.wave[i]);
  }
  EXPECT_EQ(highest, static_cast<float>(100 * 0.8f));
  EXPECT_EQ(t.wave[0], 0.0f);   // the zero crossings draw nothing
  EXPECT_EQ(t.wave[16], 0.0f);
}

TEST(FrameAnalysis, TheTailOfEachChannelReachesOnlyTheWaveform) {
  HostBlock block;
  fillSine(block[0]);
  fillSine(block[1]);
  const Targets before = analyse(block);
  for (int n = 512; n < kSamplesPerChannel; ++n) {
    block[0][n] = 0xFF;
    block[1][n] = 0x00;
  }
  const Targets after = analyse(block);
  EXPECT_EQ(std::memcmp(before.spectrum, after.spectrum, sizeof before.spectrum), 0);
  EXPECT_EQ(std::memcmp(before.wave, after.wave, 512 * sizeof(float)), 0);
  for (int i = 512; i < kSamplesPerChannel; ++i) EXPECT_EQ(after.wave[i], 0.4f);
}

TEST(FrameAnalysis, RepeatsExactlyAndOverwritesEverything) {
  HostBlock block;
  for (int c = 0; c < 2; ++c) {
    for (int n = 0; n < kSamplesPerChannel; ++n) block[c][n] = static_cast<unsigned char>(n * 37 + c * 11);
  }
  const Targets first = analyse(block);
  const Targets second = analyse(block);
  EXPECT_EQ(std::memcmp(&first, &second, sizeof first), 0);
  for (float v : first.spectrum) EXPECT_GE(v, 0.0f);
  for (float v : first.wave) {
    EXPECT_GE(v, 0.0f);
    EXPECT_LE(v, 102.4f);
  }
}

// Hosts that unmask invalid operation, division by zero and overflow (as Delphi programs
// do) must get no trap from the analysis, and the same results as everyone else. A trap
// ends this test with SIGFPE.
TEST(FrameAnalysis, NoTrapWithFloatingPointExceptionsUnmasked) {
  HostBlock silence{};
  HostBlock fullScale;
  HostBlock noise;
  std::uint32_t state = 2024;
  for (int c = 0; c < kHostChannels; ++c) {
    for (int n = 0; n < kSamplesPerChannel; ++n) {
      fullScale[c][n] = (n / 8) % 2 == 0 ? 0x80 : 0x7F;
      state = state * 1664525u + 1013904223u;
      noise[c][n] = static_cast<unsigned char>(state >> 24);
    }
  }
  for (const HostBlock* block : {&silence, &fullScale, &noise}) {
    const Targets masked = analyse(*block);
    feclearexcept(FE_ALL_EXCEPT);
    feenableexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW);
    const Targets trapped = analyse(*block);
    fedisableexcept(FE_ALL_EXCEPT);
    EXPECT_EQ(std::memcmp(&masked, &trapped, sizeof masked), 0);
  }
  EXPECT_EQ(analyse(silence).spectrum[0], 0.0f);
}

// What the render callback wraps around its work on a host's thread: no trap whatever it
// computes, rounding to nearest whatever the host rounds to, and the host's settings and
// flags back as they were.
TEST(FrameAnalysis, QuietFloatingPointMasksEverythingAndPutsTheHostsStateBack) {
  feclearexcept(FE_ALL_EXCEPT);
  volatile double three = 3.0;
  const double third = 1.0 / three;  // leaves the host's inexact flag set
  fesetround(FE_UPWARD);
  feenableexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW);
  fenv_t before;
  fegetenv(&before);
  {
    const QuietFloatingPoint quiet;
    volatile double zero = 0.0;
    volatile double results[] = {1.0 / zero, zero / zero, 1e308 * (third + 10.0), 1.0 / three};
    EXPECT_EQ(results[3], third);
    volatile long double x87 = 1.0L / static_cast<long double>(zero);  // the x87 unit too
    (void)x87;
  }
  fenv_t after;
  fegetenv(&after);
  fedisableexcept(FE_ALL_EXCEPT);
  fesetround(FE_TONEAREST);
  EXPECT_EQ(after.__control_word, before.__control_word);
  EXPECT_EQ(after.__status_word, before.__status_word);
  EXPECT_EQ(after.__mxcsr, before.__mxcsr);
  EXPECT_NE(before.__mxcsr & FE_INEXACT, 0u);
}

}  // namespace
}  // namespace tarnevox
