#include "engine/render_thread.h"

#include "engine/renderer.h"

namespace tarnevox {

// The thread itself arrives with the engine; until then there is never one to stop.
Status stopThread(Renderer* renderer) {
  if (renderer->thread == nullptr) return kStatusNothingDone;
  return kStatusOk;
}

}  // namespace tarnevox
