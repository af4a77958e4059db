// Fixed sizes of the host's sample blocks and of what is computed from them.
#pragma once

namespace tarnevox {

inline constexpr int kSamplesPerChannel = 576;  // bytes per channel in a host block
inline constexpr int kHostChannels = 2;
inline constexpr int kHostBlockBytes = kSamplesPerChannel * kHostChannels;
inline constexpr int kFftLength = 512;          // samples of each channel that reach the spectrum
inline constexpr int kBandCount = 64;           // spectrum bands, three FFT bins each
inline constexpr int kWaveColumnCount = 576;    // waveform columns, one per sample position

}  // namespace tarnevox
