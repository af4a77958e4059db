#include "analysis/render_callback.h"

#include <cstring>

#include "analysis/frame_analysis.h"
#include "common/quiet_floating_point.h"
#include "engine/renderer.h"
#include "plugin/module_slot.h"

namespace tarnevox {

// The analysis runs outside the renderer's lock, which is held only to copy the results
// in: a host that renders without pause never keeps the render thread waiting for long.
Status analyseFrame(Renderer* renderer, const VisModule* module) {
  float spectrum[kBandCount];
  float wave[kWaveColumnCount];
  if (module != nullptr) analyseBlock(module->waveformData, spectrum, wave);
  EnterCriticalSection(&renderer->lock);
  if (module == nullptr) {
    LeaveCriticalSection(&renderer->lock);
    return kStatusPointer;
  }
  std::memcpy(renderer->targetSpectrum, spectrum, sizeof spectrum);
  std::memcpy(renderer->targetWave, wave, sizeof wave);
  LeaveCriticalSection(&renderer->lock);
  return kStatusOk;
}

// Both modules share this callback; which targets are drawn is the renderer's mode.
int __cdecl onRender(VisModule* module) {
  if (rendererOf(module) == nullptr) return 1;  // no sample is read
  const QuietFloatingPoint quiet;
  // The module may have stopped since the look above; under the lock it cannot.
  const SlotLock held;
  Renderer* renderer = rendererOf(module);
  if (renderer == nullptr) return 1;
  analyseFrame(renderer, module);
  return 0;
}

}  // namespace tarnevox
