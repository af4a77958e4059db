// From one host block (two channels of 576 bytes) to the 64 band levels and the 576
// waveform targets. Platform-free: the Windows shell adds the renderer's lock.
#pragma once

#include "analysis/real_fft.h"
#include "common/sizes.h"

namespace tarnevox {

using HostBlock = unsigned char[kHostChannels][kSamplesPerChannel];

// The process-wide storage of the analysis: zero at load, tables built by the first call.
struct AnalysisStorage {
  double sampleBuffer[kHostChannels][kFftLength];
  FftWorkArea fftWorkAreas[kHostChannels];
};
extern AnalysisStorage gAnalysis;

// Tunables, fixed at load.
extern const double tiltExponent;       // 1.6
extern const double referenceExponent;  // 3.3

// The transform the analysis runs; a parameter only so the benchmarks can compare.
using RealTransform = void (*)(double* data, FftWorkArea& workArea);

// Overwrites all of spectrum[0..63] (levels, 0 or more) and wave[0..575] (0 to 102.4).
// Not reentrant: it uses gAnalysis, which the plug-in guards with its slot lock.
void analyseBlock(const HostBlock& block, float* spectrum, float* wave,
                  RealTransform transform = realFft512);

}  // namespace tarnevox
