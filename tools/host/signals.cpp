#include "tools/host/signals.h"

#include <cmath>

namespace tarnevox::host {

namespace {

constexpr double kTwoPi = 6.283185307179586;

// Sweep: 40 Hz to 16 kHz, exponential in time, restarting every 6 seconds.
constexpr double kSweepFrom = 40.0;
constexpr double kSweepTo = 16000.0;
constexpr int kSweepSeconds = 6;

// Beat: 120 beats a minute, a bar of four beats lasts two seconds. The chord's
// frequencies complete whole cycles in a bar, so the bar can repeat without a click.
constexpr double kBeatSeconds = 0.5;
constexpr int kBarSeconds = 2;
constexpr double kChord[] = {220.0, 277.5, 330.0};

// A fixed hash of (sample, channel): white noise that every run reproduces.
double noiseValue(int channel, std::uint64_t n) {
  std::uint64_t z = n * 2 + static_cast<std::uint64_t>(channel) + 0x9E3779B97F4A7C15ull;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  z ^= z >> 31;
  return static_cast<double>(z >> 11) * (2.0 / 9007199254740992.0) - 1.0;  // [-1, 1)
}

double sweepValue(std::uint64_t n, int sampleRate) {
  const std::uint64_t period = static_cast<std::uint64_t>(kSweepSeconds) * sampleRate;
  const double t = static_cast<double>(n % period) / sampleRate;
  const double rate = std::log(kSweepTo / kSweepFrom) / kSweepSeconds;
  const double phase = kTwoPi * kSweepFrom * (std::exp(rate * t) - 1.0) / rate;
  return 0.8 * std::sin(phase);
}

double beatValue(int channel, std::uint64_t n, int sampleRate) {
  const std::uint64_t bar = static_cast<std::uint64_t>(kBarSeconds) * sampleRate;
  const std::uint64_t inBar = n % bar;  // the noise too, so that every bar is the same
  const double t = static_cast<double>(inBar) / sampleRate;
  const int beat = static_cast<int>(t / kBeatSeconds);
  const double sinceBeat = t - beat * kBeatSeconds;
  const double sinceHat = std::fmod(t + kBeatSeconds / 2, kBeatSeconds);

  // A kick whose pitch falls from about 155 Hz to 45 Hz.
  double value = 0.6 * std::exp(-14.0 * sinceBeat) *
                 std::sin(kTwoPi * (45.0 * sinceBeat +
                                    (110.0 / 28.0) * (1.0 - std::exp(-28.0 * sinceBeat))));
  if (beat == 1 || beat == 3) {
    value += 0.3 * std::exp(-22.0 * sinceBeat) *
             (0.6 * noiseValue(channel, inBar) + 0.4 * std::sin(kTwoPi * 185.0 * sinceBeat));
  }
  // Differenced noise leans to the high bands, as a hat does.
  value += 0.15 * std::exp(-70.0 * sinceHat) *
           0.5 * (noiseValue(channel, inBar) - noiseValue(channel, inBar - 1));
  for (double frequency : kChord) value += 0.05 * std::sin(kTwoPi * frequency * t);
  return std::tanh(value);  // a soft limit where kick and snare meet
}

}  // namespace

bool parseSignalKind(std::string_view name, SignalKind* kind) {
  static constexpr SignalKind kAll[] = {SignalKind::kSineSweep, SignalKind::kBeat,
                                        SignalKind::kNoise, SignalKind::kSilence};
  for (SignalKind candidate : kAll) {
    if (name == signalName(candidate)) {
      *kind = candidate;
      return true;
    }
  }
  return false;
}

const char* signalName(SignalKind kind) {
  switch (kind) {
    case SignalKind::kSineSweep:
      return "sweep";
    case SignalKind::kBeat:
      return "beat";
    case SignalKind::kNoise:
      return "noise";
    case SignalKind::kSilence:
      return "silence";
  }
  return "?";
}

double signalValue(SignalKind kind, int channel, std::uint64_t n, int sampleRate) {
  switch (kind) {
    case SignalKind::kSineSweep:
      return sweepValue(n, sampleRate);
    case SignalKind::kBeat:
      return beatValue(channel, n, sampleRate);
    case SignalKind::kNoise:
      return 0.7 * noiseValue(channel, n);
    case SignalKind::kSilence:
      return 0.0;
  }
  return 0.0;
}

unsigned char toHostByte(double value) {
  double scaled = std::nearbyint(value * 128.0);
  if (!(scaled >= -128.0)) scaled = -128.0;  // also catches NaN
  if (scaled > 127.0) scaled = 127.0;
  return static_cast<unsigned char>(static_cast<int>(scaled) & 0xFF);
}

void fillSignalBlock(SignalKind kind, std::uint64_t first, int sampleRate, SampleBlock* block) {
  for (int channel = 0; channel < kBlockChannels; ++channel) {
    for (int i = 0; i < kBlockSamples; ++i) {
      block->samples[channel][i] =
          toHostByte(signalValue(kind, channel, first + static_cast<std::uint64_t>(i), sampleRate));
    }
  }
}

}  // namespace tarnevox::host
