// Moves the shown values towards their targets and moves the peak markers.
#pragma once

#include "common/sizes.h"
#include "engine/peak_state.h"

namespace tarnevox {

struct AnimationTunables {
  float smoothing;    // fraction of the gap closed per sixtieth of a second
  float peakHold;     // sixtieths of a second a raised marker is held
  float peakGravity;  // level units per sixtieth of a second squared, negative
};

// The values one pass reads and writes; the arrays are the renderer's own.
struct AnimationArrays {
  const float* targetSpectrum;  // kBandCount
  float* shownSpectrum;         // kBandCount
  const float* targetWave;      // kWaveColumnCount
  float* shownWave;             // kWaveColumnCount
  PeakState* peaks;             // kBandCount
};

// Fraction of the remaining distance closed in one pass: smoothing x frameDelta, at most 1
// (also when it is not a number), with no lower bound.
double blendFactor(float smoothing, double frameDelta);

// One pass of the animation over frameDelta sixtieths of a second.
void animateStep(const AnimationArrays& arrays, const AnimationTunables& tunables,
                 double frameDelta);

}  // namespace tarnevox
