#include "display/frame_drawing.h"

#include "common/color_access.h"
#include "common/debug_log.h"
#include "display/direct3d_device.h"
#include "display/frame_geometry.h"
#include "display/quad_batch.h"
#include "engine/renderer.h"

namespace tarnevox {
namespace {

// Answers that mean the driver or the device has gone for good: only a new device draws.
bool goneForGood(HRESULT result) {
  return result == D3DERR_DRIVERINTERNALERROR || result == D3DERR_DEVICEREMOVED ||
         result == D3DERR_DEVICEHUNG;
}

// A reset that made the device and failed afterwards is reported. The frame goes on only
// after a reset that worked; a lost device keeps its device for a later attempt, a reset
// that failed otherwise has released it, to be made again.
FrameResult afterReset(Renderer* renderer, Status reset) {
  if (reset == S_OK) return FrameResult::kDrawn;
  if (failed(reset)) {
    DebugLog(L"Error: Failed to reset device.\n");
    return FrameResult::kDeviceGone;
  }
  return renderer->device != nullptr ? FrameResult::kDeviceLost : FrameResult::kDeviceGone;
}

// A window that changed size gets a back buffer of its new size once the size has held
// for a moment, and at most every kResizeIntervalMs; until then Present scales the old
// one into it.
FrameResult followWindowSize(Renderer* renderer) {
  const BufferSize current{renderer->presentParams.BackBufferWidth,
                           renderer->presentParams.BackBufferHeight};
  const BufferSize wanted = wantedBackBufferSize(renderer);
  if (!resizeDue(renderer->sizeWatch, current, wanted, resizeClockMs(), renderer->resetTick)) {
    return FrameResult::kDrawn;
  }
  return afterReset(renderer, resizeBackBuffer(renderer, wanted));
}

// After a loss the device may need a reset before the frame can go on, and after a
// resize a back buffer of the window's size. kDrawn when the frame may be drawn; sets
// *troubled when it may, but the device answered with a failure.
FrameResult makeDeviceUsable(Renderer* renderer, bool* troubled) {
  // A display given up by an earlier pass, or a window now on another adapter's monitor:
  // a new device, made where the window is.
  if ((renderer->device == nullptr || deviceBelongsElsewhere(renderer)) &&
      failed(recreateDisplay(renderer))) {
    return FrameResult::kDeviceGone;
  }
  const HRESULT level = renderer->device->TestCooperativeLevel();
  if (SUCCEEDED(level)) return followWindowSize(renderer);
  if (level == D3DERR_DEVICELOST) return FrameResult::kDeviceLost;
  if (goneForGood(level)) {
    releaseDevice(renderer);
    return FrameResult::kDeviceGone;
  }
  if (level == D3DERR_DEVICENOTRESET) {
    // The reset that a loss needs takes the window's size as it is now.
    return afterReset(renderer, resizeBackBuffer(renderer, wantedBackBufferSize(renderer)));
  }
  *troubled = true;  // any other code: the frame is attempted as usual
  return FrameResult::kDrawn;
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

FrameReport drawFrame(Renderer* renderer) {
  // Without the library there has never been a display to draw with.
  if (renderer->d3dModule == nullptr) return {FrameResult::kNothingDrawn, 0};
  bool troubled = false;
  const FrameResult usable = makeDeviceUsable(renderer, &troubled);
  if (usable != FrameResult::kDrawn) return {usable, 0};
  // A reset that reported a lost device leaves no buffer: never lock what is not there.
  if (renderer->vertexBuffer == nullptr) return {FrameResult::kFailed, 0};

  IDirect3DDevice9* device = renderer->device;
  if (FAILED(device->BeginScene())) {
    troubled = true;
  } else {
    if (lockBatch(renderer) == S_OK) {
      emitFrameQuads(renderer);
      finishBatch(renderer);
    }
    device->EndScene();
  }
  // How long Present took tells the loop whether it waited for the blank.
  LARGE_INTEGER before = {}, after = {};
  QueryPerformanceCounter(&before);
  // In full screen the back buffer goes to the full-screen window, at its own pixels: the
  // rectangle is given, since Direct3D would take the device window's.
  BufferSize fullScreen;
  const HWND target = fullScreenTarget(renderer, &fullScreen);
  const RECT whole = {0, 0, static_cast<LONG>(fullScreen.width),
                      static_cast<LONG>(fullScreen.height)};
  const HRESULT presented =
      device->Present(nullptr, target != nullptr ? &whole : nullptr, target, nullptr);
  if (!QueryPerformanceCounter(&after)) after = before;
  const std::int64_t presentTicks = after.QuadPart - before.QuadPart;
  if (goneForGood(presented)) {
    releaseDevice(renderer);
    return {FrameResult::kDeviceGone, presentTicks};
  }
  if (FAILED(presented)) troubled = true;
  return {troubled ? FrameResult::kFailed : FrameResult::kDrawn, presentTicks};
}

}  // namespace tarnevox
