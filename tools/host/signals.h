// Built-in test signals for the stand-in host, and the block of waveform bytes that a
// render call hands to the plug-in. No Windows header: the generators are tested natively.
#pragma once

#include <cstdint>
#include <string_view>

namespace tarnevox::host {

inline constexpr int kBlockChannels = 2;
inline constexpr int kBlockSamples = 576;
inline constexpr int kSignalSampleRate = 44100;

// One render call's waveform data as the host delivers it: signed 8-bit samples stored
// as bytes (two's complement), all 576 of channel 0 first.
struct SampleBlock {
  unsigned char samples[kBlockChannels][kBlockSamples];
};

enum class SignalKind {
  kSineSweep,  // a logarithmic sweep from 40 Hz to 16 kHz every 6 seconds
  kBeat,       // 120 beats a minute: kick, snare on 2 and 4, off-beat hats, a soft chord
  kNoise,      // white noise, different in the two channels, the same on every run
  kSilence,
};

// "sweep", "beat", "noise", "silence".
bool parseSignalKind(std::string_view name, SignalKind* kind);
const char* signalName(SignalKind kind);

// The signal's value, from -1 to 1, at sample n of channel 0 or 1. A pure function of
// its arguments, so any stretch of a signal can be produced on its own.
double signalValue(SignalKind kind, int channel, std::uint64_t n, int sampleRate);

// Rounds value x 128 to the nearest integer, clamps it to -128..127 and stores it as a
// two's-complement byte: 1.0 gives 0x7F, -1.0 gives 0x80, -1/128 gives 0xFF.
unsigned char toHostByte(double value);

// Samples first .. first + 575 of both channels.
void fillSignalBlock(SignalKind kind, std::uint64_t first, int sampleRate, SampleBlock* block);

}  // namespace tarnevox::host
