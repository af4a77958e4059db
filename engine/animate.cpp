#include "engine/animate.h"

#include "engine/animation.h"
#include "engine/renderer.h"

namespace tarnevox {

Status animate(Renderer* renderer) {
  const AnimationArrays arrays{renderer->targetSpectrum, renderer->shownSpectrum,
                               renderer->targetWave, renderer->shownWave, renderer->peaks};
  const AnimationTunables tunables{renderer->smoothing, renderer->peakHold,
                                   renderer->peakGravity};
  // One pass always blends towards one complete set of targets.
  EnterCriticalSection(&renderer->lock);
  animateStep(arrays, tunables, renderer->frameDelta);
  LeaveCriticalSection(&renderer->lock);
  return kStatusOk;
}

}  // namespace tarnevox
