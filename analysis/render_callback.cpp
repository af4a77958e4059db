#include "analysis/render_callback.h"

#include "analysis/frame_analysis.h"
#include "engine/renderer.h"
#include "plugin/module_slot.h"

namespace tarnevox {

Status analyseFrame(Renderer* renderer, const VisModule* module) {
  EnterCriticalSection(&renderer->lock);
  if (module == nullptr) {
    LeaveCriticalSection(&renderer->lock);
    return kStatusPointer;
  }
  analyseBlock(module->waveformData, renderer->targetSpectrum, renderer->targetWave);
  LeaveCriticalSection(&renderer->lock);
  return kStatusOk;
}

// Both modules share this callback; which targets are drawn is the renderer's mode.
int __cdecl onRender(VisModule* module) {
  Renderer* renderer = rendererOf(module);
  if (renderer == nullptr) return 1;
  analyseFrame(renderer, module);
  return 0;
}

}  // namespace tarnevox
