#include "analysis/frame_analysis.h"

#include <cmath>
#include <cstdlib>

#if !defined(TARNEVOX_NO_SIMD) && \
    (defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2))
#define TARNEVOX_ANALYSIS_SSE2 1
#include <emmintrin.h>
#endif

namespace tarnevox {

AnalysisStorage gAnalysis;

const double tiltExponent = 1.6;
const double referenceExponent = 3.3;

namespace {

constexpr int kBinsPerBand = 3;
constexpr int kUsedBins = kBinsPerBand * kBandCount;  // 192 of the 255 bins

// The window and the per-band constants depend only on the tunables, which never
// change, so they are computed on the first call instead of 1536 cosines per call.
// Like the rest of the analysis storage this relies on calls never overlapping.
struct AnalysisConstants {
  bool built;
  double window[kFftLength];
  double reference;
  double tilt[kBandCount];
};
AnalysisConstants gConstants;

void buildConstants(AnalysisConstants& k) {
  constexpr double kTwoPi = 6.283185307179586;
  constexpr double kFourPi = 12.566370614359172;
  constexpr double kSixPi = 18.84955592153876;
  constexpr double kInverseLength = 0.001953125;
  for (int n = 0; n < kFftLength; ++n) {
    const double x = n + 0.5;
    k.window[n] = ((0.35875 - 0.48829 * std::cos(x * kTwoPi * kInverseLength)) +
                   0.14128 * std::cos(x * kFourPi * kInverseLength)) -
                  0.01168 * std::cos(x * kSixPi * kInverseLength);
  }
  k.reference = std::pow(10.0, referenceExponent);
  const double tiltBase =
      std::pow(10.0, std::log10(2.4) / std::pow(63.0, tiltExponent));
  for (int b = 0; b < kBandCount; ++b) {
    k.tilt[b] = std::pow(tiltBase, std::pow(63.0 - b, tiltExponent));
  }
  k.built = true;
}

// Bin magnitudes, in place in increasing order: entry k is written only after entries
// 2k and 2k+1 have been read. Only the bins the bands use are computed.
void magnitudesInPlace(double* samples) {
  int bin = 0;
#if defined(TARNEVOX_ANALYSIS_SSE2)
  for (; bin + 1 < kUsedBins; bin += 2) {
    const __m128d first = _mm_loadu_pd(&samples[2 * bin]);       // re, im of bin
    const __m128d second = _mm_loadu_pd(&samples[2 * bin + 2]);  // re, im of bin + 1
    const __m128d re = _mm_unpacklo_pd(first, second);
    const __m128d im = _mm_unpackhi_pd(first, second);
    const __m128d power = _mm_add_pd(_mm_mul_pd(re, re), _mm_mul_pd(im, im));
    _mm_storeu_pd(&samples[bin], _mm_sqrt_pd(power));
  }
#endif
  for (; bin < kUsedBins; ++bin) {
    const double re = samples[2 * bin];
    const double im = samples[2 * bin + 1];
    samples[bin] = std::sqrt(re * re + im * im);
  }
}

}  // namespace

void analyseBlock(const HostBlock& block, float* spectrum, float* wave,
                  RealTransform transform) {
  if (!gConstants.built) buildConstants(gConstants);
  const AnalysisConstants& k = gConstants;

  for (int c = 0; c < kHostChannels; ++c) {
    double* samples = gAnalysis.sampleBuffer[c];
    const unsigned char* bytes = block[c];
    for (int n = 0; n < kFftLength; ++n) {
      // The spectrum reads the bytes as signed 8-bit values.
      const int value = (bytes[n] ^ 0x80) - 128;
      samples[n] = value * 512.0 * k.window[n];
    }
    transform(samples, gAnalysis.fftWorkAreas[c]);
    magnitudesInPlace(samples);
  }

  const double* m0 = gAnalysis.sampleBuffer[0];
  const double* m1 = gAnalysis.sampleBuffer[1];
  for (int b = 0; b < kBandCount; ++b) {
    double sum = 0;
    for (int bin = kBinsPerBand * b; bin < kBinsPerBand * (b + 1); ++bin) {
      sum += (m1[bin] + m0[bin]) * 0.5;
    }
    const double average = sum / kBinsPerBand;
    // Silence would give the logarithm of 0, minus infinity, a level stored as 0 like any
    // negative one; it is stored as 0 without taking it, which would raise a division by
    // zero on a thread that traps it.
    if (!(average > 0.0)) {
      spectrum[b] = 0.0f;
      continue;
    }
    const double level = std::log10(average / k.reference);
    const float stored = static_cast<float>((level - k.tilt[b] + 1) * 140);
    spectrum[b] = stored >= 0.0f ? stored : 0.0f;
  }

  // The columns show the size of the signed samples, so silence draws nothing and the
  // two half-waves of a tone stand equally tall.
  const double scale = 0.8f;
  for (int i = 0; i < kWaveColumnCount; ++i) {
    const int size0 = std::abs((block[0][i] ^ 0x80) - 128);
    const int size1 = std::abs((block[1][i] ^ 0x80) - 128);
    wave[i] = static_cast<float>((size0 + size1) * 0.5 * scale);
  }
}

}  // namespace tarnevox
