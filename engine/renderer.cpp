#include "engine/renderer.h"

#include "common/color_access.h"
#include "engine/render_thread.h"

namespace tarnevox {

RendererBase::RendererBase() { InitializeCriticalSection(&lock); }

RendererBase::~RendererBase() { DeleteCriticalSection(&lock); }

// The fields the table leaves unset stay as the heap delivered them; initDisplay and
// onInit fill them before anything reads them.
Renderer::Renderer()
    : d3dModule(nullptr),
      thread(nullptr),
      window(nullptr),
      readyEvent(nullptr),
      d3d(nullptr),
      device(nullptr),
      vertexBuffer(nullptr),
      adapter(D3DADAPTER_DEFAULT),
      adapterMonitor(nullptr),
      deviceMonitor(nullptr),
      displayChanged(0),
      fullScreenWindow(nullptr),
      fullScreenSize{0, 0},
      texture(nullptr),
      lockedVertices(nullptr),
      vertexCount(0),
      counterFrequency(0),
      lastCounter(0),
      frameDelta(0.0),
      resetTick(0),
      sizeWatch{{0, 0}, 0},
      peakHold(30.0f),
      peakGravity(-0.2f),
      smoothing(0.3f),
      mode(kModeWaveform),
      background{1.0f, 0.0f, 0.0f, 0.0f},
      foreground{1.0f, 1.0f, 1.0f, 1.0f},
      running(0),
      stopEvent(nullptr),
      abandoned(false) {}

Renderer::~Renderer() { stopThread(this); }

void Renderer::operator delete(void* memory) noexcept { HeapFree(GetProcessHeap(), 0, memory); }

Renderer* createRenderer() {
  void* memory = HeapAlloc(GetProcessHeap(), 0, sizeof(Renderer));
  if (memory == nullptr) return nullptr;
  return new (memory) Renderer();
}

void setBackground(Renderer* renderer, const ColorF& colour) {
  storeColor(renderer->background, colour);
}

void setForeground(Renderer* renderer, const ColorF& colour) {
  storeColor(renderer->foreground, colour);
}

}  // namespace tarnevox
