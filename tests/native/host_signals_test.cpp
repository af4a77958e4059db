// The stand-in host's built-in signals and its PCM conversion, checked by what a
// visualization would see in them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "tools/host/pcm_block.h"
#include "tools/host/signals.h"

using namespace tarnevox::host;

namespace {

constexpr int kRate = kSignalSampleRate;
constexpr SignalKind kAllSignals[] = {SignalKind::kSineSweep, SignalKind::kBeat,
                                      SignalKind::kNoise, SignalKind::kSilence};

double energy(SignalKind kind, double fromSeconds, double toSeconds) {
  double sum = 0.0;
  for (auto n = static_cast<std::uint64_t>(fromSeconds * kRate);
       n < static_cast<std::uint64_t>(toSeconds * kRate); ++n) {
    const double v = signalValue(kind, 0, n, kRate);
    sum += v * v;
  }
  return sum;
}

TEST(HostSignals, QuantisedAsSignedBytesWithRoundingAndClamping) {
  EXPECT_EQ(toHostByte(0.0), 0x00);
  EXPECT_EQ(toHostByte(0.5), 0x40);
  EXPECT_EQ(toHostByte(-1.0 / 128), 0xFF);
  EXPECT_EQ(toHostByte(1.0), 0x7F);   // 128 does not fit
  EXPECT_EQ(toHostByte(-1.0), 0x80);
  EXPECT_EQ(toHostByte(3.0), 0x7F);
  EXPECT_EQ(toHostByte(-3.0), 0x80);
  EXPECT_EQ(toHostByte(std::nan("")), 0x80);
}

TEST(HostSignals, NamesRoundTripAndUnknownNamesAreRefused) {
  for (SignalKind kind : kAllSignals) {
    SignalKind parsed = kind == SignalKind::kSilence ? SignalKind::kBeat : SignalKind::kSilence;
    EXPECT_TRUE(parseSignalKind(signalName(kind), &parsed)) << signalName(kind);
    EXPECT_EQ(parsed, kind);
  }
  SignalKind untouched = SignalKind::kNoise;
  EXPECT_FALSE(parseSignalKind("Sweep", &untouched));
  EXPECT_FALSE(parseSignalKind("", &untouched));
  EXPECT_EQ(untouched, SignalKind::kNoise);
}

// A block is a window on one stream: a later block repeats the earlier one shifted.
TEST(HostSignals, BlocksAreWindowsOnOneStream) {
  for (SignalKind kind : kAllSignals) {
    SampleBlock early;
    SampleBlock late;
    fillSignalBlock(kind, 100000, kRate, &early);
    fillSignalBlock(kind, 100000 + 200, kRate, &late);
    for (int channel = 0; channel < kBlockChannels; ++channel) {
      EXPECT_EQ(std::memcmp(&early.samples[channel][200], &late.samples[channel][0],
                            kBlockSamples - 200), 0)
          << signalName(kind) << " channel " << channel;
    }
  }
}

TEST(HostSignals, SilenceIsAllZeroBytes) {
  SampleBlock block;
  std::memset(&block, 0x55, sizeof block);
  fillSignalBlock(SignalKind::kSilence, 12345, kRate, &block);
  for (const auto& channel : block.samples) {
    for (unsigned char byte : channel) ASSERT_EQ(byte, 0x00);
  }
}

// Sign changes over a stretch count its cycles: the sweep rises from 40 Hz to 16 kHz.
TEST(HostSignals, SweepRisesExponentiallyAndRepeatsEverySixSeconds) {
  const double rate = std::log(16000.0 / 40.0) / 6.0;
  for (double t : {0.5, 3.0, 5.5}) {
    const auto first = static_cast<std::uint64_t>(t * kRate);
    const auto last = first + kRate / 20;
    int changes = 0;
    double peak = 0.0;
    for (std::uint64_t n = first; n < last; ++n) {
      const double a = signalValue(SignalKind::kSineSweep, 0, n, kRate);
      const double b = signalValue(SignalKind::kSineSweep, 0, n + 1, kRate);
      if ((a < 0) != (b < 0)) ++changes;
      peak = std::fmax(peak, std::fabs(a));
    }
    const double t0 = static_cast<double>(first) / kRate;
    const double t1 = static_cast<double>(last) / kRate;
    const double cycles = 40.0 / rate * (std::exp(rate * t1) - std::exp(rate * t0));
    EXPECT_NEAR(changes, 2 * cycles, 2.5) << "at " << t << " s";
    EXPECT_LE(peak, 0.8 + 1e-9);
  }
  EXPECT_DOUBLE_EQ(signalValue(SignalKind::kSineSweep, 1, 1000, kRate),
                   signalValue(SignalKind::kSineSweep, 1, 1000 + 6 * kRate, kRate));
}

TEST(HostSignals, BeatIsLoudJustAfterEachBeatAndQuietBeforeTheNext) {
  for (double beat : {0.0, 0.5, 1.0, 1.5}) {
    const double hit = energy(SignalKind::kBeat, beat, beat + 0.05);
    const double tail = energy(SignalKind::kBeat, beat + 0.40, beat + 0.45);
    EXPECT_GT(hit, 10.0 * tail) << "beat at " << beat << " s";
  }
  EXPECT_DOUBLE_EQ(signalValue(SignalKind::kBeat, 0, 777, kRate),
                   signalValue(SignalKind::kBeat, 0, 777 + 2 * kRate, kRate));
}

TEST(HostSignals, NoiseIsCentredFlatAndDiffersBetweenChannels) {
  double sum = 0.0;
  double squares = 0.0;
  double cross = 0.0;
  for (std::uint64_t n = 0; n < kRate; ++n) {
    const double left = signalValue(SignalKind::kNoise, 0, n, kRate);
    const double right = signalValue(SignalKind::kNoise, 1, n, kRate);
    ASSERT_LE(std::fabs(left), 0.7);
    sum += left;
    squares += left * left;
    cross += left * right;
  }
  EXPECT_NEAR(sum / kRate, 0.0, 0.01);
  EXPECT_NEAR(std::sqrt(squares / kRate), 0.7 / std::sqrt(3.0), 0.01);  // uniform
  EXPECT_NEAR(cross / squares, 0.0, 0.03);
}

PcmFormat pcm(int channels, int bits, bool floatingPoint = false, int padding = 0) {
  return PcmFormat{channels, bits, floatingPoint, 44100, channels * bits / 8 + padding};
}

TEST(HostPcm, FormatsTheHostPlaysAndThoseItRefuses) {
  for (int bits : {8, 16, 24, 32}) EXPECT_EQ(pcmFormatProblem(pcm(2, bits)), nullptr) << bits;
  EXPECT_EQ(pcmFormatProblem(pcm(1, 32, true)), nullptr);
  EXPECT_NE(pcmFormatProblem(pcm(2, 12)), nullptr);
  EXPECT_NE(pcmFormatProblem(pcm(2, 64, true)), nullptr);
  EXPECT_NE(pcmFormatProblem(pcm(0, 16)), nullptr);
  PcmFormat tooSmall = pcm(2, 16);
  tooSmall.blockAlign = 2;
  EXPECT_NE(pcmFormatProblem(tooSmall), nullptr);
}

TEST(HostPcm, EachSampleBecomesItsTopByteAsASignedValue) {
  const unsigned char unsigned8[] = {0x80, 0xFF, 0x00};
  EXPECT_EQ(pcmSampleToHost(pcm(1, 8), &unsigned8[0]), 0);
  EXPECT_EQ(pcmSampleToHost(pcm(1, 8), &unsigned8[1]), 127);
  EXPECT_EQ(pcmSampleToHost(pcm(1, 8), &unsigned8[2]), -128);

  const unsigned char s16[][2] = {{0x00, 0x7F}, {0xFF, 0xFF}, {0x00, 0x80}, {0xFF, 0x00}};
  EXPECT_EQ(pcmSampleToHost(pcm(1, 16), s16[0]), 127);
  EXPECT_EQ(pcmSampleToHost(pcm(1, 16), s16[1]), -1);
  EXPECT_EQ(pcmSampleToHost(pcm(1, 16), s16[2]), -128);
  EXPECT_EQ(pcmSampleToHost(pcm(1, 16), s16[3]), 0);

  const unsigned char s24[] = {0xFF, 0xFF, 0x40};
  const unsigned char s32[] = {0x00, 0x00, 0x00, 0xC0};
  EXPECT_EQ(pcmSampleToHost(pcm(1, 24), s24), 64);
  EXPECT_EQ(pcmSampleToHost(pcm(1, 32), s32), -64);

  const float floats[] = {0.5f, -1.0f, 1.0f, -0.001f, std::nanf("")};
  const int expected[] = {64, -128, 127, -1, -128};
  for (int i = 0; i < 5; ++i) {
    unsigned char bytes[4];
    std::memcpy(bytes, &floats[i], 4);
    EXPECT_EQ(pcmSampleToHost(pcm(1, 32, true), bytes), expected[i]) << floats[i];
  }
}

TEST(HostPcm, BlocksTakeTwoChannelsAndWrapRoundTheEnd) {
  // Four channels of 16 bits plus two bytes of padding per frame; frame f holds f, -f,
  // 100, 100 in the top bytes.
  const PcmFormat format = pcm(4, 16, false, 2);
  constexpr int kFrames = 10;
  std::vector<unsigned char> data(kFrames * format.blockAlign, 0xEE);
  for (int f = 0; f < kFrames; ++f) {
    unsigned char* frame = &data[f * format.blockAlign];
    const int values[] = {f, -f, 100, 100};
    for (int c = 0; c < 4; ++c) {
      frame[2 * c] = 0;
      frame[2 * c + 1] = static_cast<unsigned char>(values[c] & 0xFF);
    }
  }
  SampleBlock block;
  fillPcmBlock(format, data.data(), kFrames, 27, &block);  // starts at frame 7
  for (int i = 0; i < kBlockSamples; ++i) {
    const int f = (7 + i) % kFrames;
    ASSERT_EQ(block.samples[0][i], f) << i;
    ASSERT_EQ(block.samples[1][i], (-f) & 0xFF) << i;
  }

  const unsigned char mono[] = {0x90, 0x70};  // 8-bit: +16, -16
  fillPcmBlock(pcm(1, 8), mono, 2, 0, &block);
  EXPECT_EQ(block.samples[0][0], 16);
  EXPECT_EQ(block.samples[1][0], 16);
  EXPECT_EQ(block.samples[1][1], 0xF0);
}

}  // namespace
