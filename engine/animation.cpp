#include "engine/animation.h"

namespace tarnevox {

double blendFactor(float smoothing, double frameDelta) {
  const double k = static_cast<double>(smoothing) * frameDelta;
  return k < 1.0 ? k : 1.0;  // NaN fails the test and gives 1 too
}

namespace {

void blend(float* shown, const float* target, int count, double k) {
  for (int i = 0; i < count; ++i) {
    const double value = shown[i];
    shown[i] = static_cast<float>(value + k * (static_cast<double>(target[i]) - value));
  }
}

void movePeak(PeakState& peak, float bar, const AnimationTunables& tunables, double frameDelta) {
  if (peak.hold <= 0.0f) {
    // Falling: move by the velocity from before this pass, then accelerate.
    peak.value = static_cast<float>(peak.value + frameDelta * peak.velocity);
    peak.velocity = static_cast<float>(peak.velocity + tunables.peakGravity * frameDelta);
  } else {  // held, also when hold is not a number
    peak.hold = static_cast<float>(peak.hold - frameDelta);
  }
  if (bar > peak.value) {
    peak.value = bar;
    peak.velocity = 0.0f;
    peak.hold = tunables.peakHold;
  }
}

}  // namespace

void animateStep(const AnimationArrays& arrays, const AnimationTunables& tunables,
                 double frameDelta) {
  const double k = blendFactor(tunables.smoothing, frameDelta);
  blend(arrays.shownSpectrum, arrays.targetSpectrum, kBandCount, k);
  blend(arrays.shownWave, arrays.targetWave, kWaveColumnCount, k);
  for (int i = 0; i < kBandCount; ++i) {
    movePeak(arrays.peaks[i], arrays.shownSpectrum[i], tunables, frameDelta);
  }
}

}  // namespace tarnevox
