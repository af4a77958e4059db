#include "display/frame_drawing.h"

#include "common/color_access.h"
#include "common/debug_log.h"
#include "display/direct3d_device.h"
#include "display/frame_geometry.h"
#include "display/quad_batch.h"
#include "engine/render_thread.h"
#include "engine/renderer.h"

namespace tarnevox {
namespace {

// 0 when the frame may go on, 1 when it must be skipped; a reset that made the device
// and failed afterwards is reported.
Status afterReset(Status reset) {
  if (failed(reset)) DebugLog(L"Error: Failed to reset device.\n");
  return reset == S_OK ? S_OK : kStatusNothingDone;
}

// A window that changed size gets a back buffer of its new size once the size has held
// for a moment, and at most every kResizeIntervalMs; until then Present scales the old
// one into it.
Status followWindowSize(Renderer* renderer) {
  const BufferSize current{renderer->presentParams.BackBufferWidth,
                           renderer->presentParams.BackBufferHeight};
  const BufferSize wanted = wantedBackBufferSize(renderer);
  if (!resizeDue(renderer->sizeWatch, current, wanted, resizeClockMs(), renderer->resetTick)) {
    return S_OK;
  }
  return afterReset(resizeBackBuffer(renderer, wanted));
}

// After a loss the device may need a reset before the frame can go on, and after a
// resize a back buffer of the window's size. Returns 0 when the frame may be drawn, 1
// when it must be skipped.
Status makeDeviceUsable(Renderer* renderer) {
  const HRESULT level = renderer->device->TestCooperativeLevel();
  if (SUCCEEDED(level)) return followWindowSize(renderer);
  pauseRenderThread(renderer, 50);
  if (level == D3DERR_DEVICELOST) {
    pauseRenderThread(renderer, 50);
    return kStatusNothingDone;
  }
  if (level == D3DERR_DEVICENOTRESET) {
    // The reset that a loss needs takes the window's size as it is now.
    return afterReset(resizeBackBuffer(renderer, wantedBackBufferSize(renderer)));
  }
  return S_OK;  // any other code: the frame is attempted as usual
}

void emitFrameQuads(Renderer* renderer) {
  const UINT width = renderer->presentParams.BackBufferWidth;
  const UINT height = renderer->presentParams.BackBufferHeight;
  emitBackground(renderer, renderer->frameDelta, loadColor(renderer->background), width, height);
  if (renderer->mode != kModeWaveform) {
    drawSpectrum(renderer);
  } else {
    drawWaveform(renderer);
  }
}

}  // namespace

void drawWaveform(Renderer* renderer) {
  const ColorF foreground = loadColor(renderer->foreground);
  EnterCriticalSection(&renderer->lock);
  emitWaveformColumns(renderer, renderer->shownWave, renderer->presentParams.BackBufferWidth,
                      renderer->presentParams.BackBufferHeight, foreground);
  LeaveCriticalSection(&renderer->lock);
}

void drawSpectrum(Renderer* renderer) {
  const ColorF foreground = loadColor(renderer->foreground);
  EnterCriticalSection(&renderer->lock);
  emitSpectrumBars(renderer, renderer->shownSpectrum, renderer->peaks,
                   renderer->presentParams.BackBufferWidth,
                   renderer->presentParams.BackBufferHeight, foreground);
  LeaveCriticalSection(&renderer->lock);
}

Status drawFrame(Renderer* renderer) {
  if (renderer->device == nullptr) return E_FAIL;
  if (makeDeviceUsable(renderer) != S_OK) return kStatusNothingDone;
  // A reset that reported a lost device leaves no buffer: never lock what is not there.
  if (renderer->vertexBuffer == nullptr) {
    pauseRenderThread(renderer, 50);
    return kStatusNothingDone;
  }

  IDirect3DDevice9* device = renderer->device;
  if (FAILED(device->BeginScene())) {
    pauseRenderThread(renderer, 50);
  } else {
    if (lockBatch(renderer) == S_OK) {
      emitFrameQuads(renderer);
      finishBatch(renderer);
    }
    device->EndScene();
  }
  if (FAILED(device->Present(nullptr, nullptr, nullptr, nullptr))) {
    pauseRenderThread(renderer, 50);
  }
  return S_OK;
}

}  // namespace tarnevox
