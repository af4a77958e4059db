#include "engine/render_thread.h"

#include "common/debug_log.h"
#include "display/direct3d_device.h"
#include "display/frame_drawing.h"
#include "engine/animate.h"
#include "engine/renderer.h"

namespace tarnevox {
namespace {

constexpr DWORD kStopTimeoutMs = 2000;
constexpr DWORD kTerminatedExitCode = 255;
// TerminateThread only starts the termination; this long is waited for it to complete.
constexpr DWORD kTerminationWaitMs = 1000;

// Sixtieths of a second since the previous pass; a failed counter read keeps the old delta.
void advanceFrameClock(Renderer* renderer) {
  LARGE_INTEGER now;
  if (!QueryPerformanceCounter(&now)) return;
  const std::int64_t delta = now.QuadPart - renderer->lastCounter;
  renderer->lastCounter = now.QuadPart;
  renderer->frameDelta =
      static_cast<double>(delta) / static_cast<double>(renderer->counterFrequency) * 60.0;
}

// A hidden, minimised, empty or disabled window gets no frame. A child window counts as
// hidden when a window it sits in is hidden, but is never iconic itself, so the
// top-level window around it (the host's frame) is asked whether it is minimised.
bool windowCanBeSeen(Renderer* renderer) {
  RECT client;
  if (renderer->window == nullptr) return false;
  GetClientRect(renderer->window, &client);
  return IsWindowVisible(renderer->window) && !IsIconic(renderer->window) &&
         !IsIconic(GetAncestor(renderer->window, GA_ROOT)) && !IsRectEmpty(&client) &&
         IsWindowEnabled(renderer->window);
}

bool stopRequested(Renderer* renderer) {
  return WaitForSingleObject(renderer->stopEvent, 0) == WAIT_OBJECT_0;
}

// The event also ends a loop whose flag was raised after an early stop request had
// already cleared it.
void runRenderLoop(Renderer* renderer) {
  while (InterlockedExchange(&renderer->running, 1) != 0 && !stopRequested(renderer)) {
    advanceFrameClock(renderer);
    animate(renderer);
    if (windowCanBeSeen(renderer)) {
      drawFrame(renderer);
    } else {
      pauseRenderThread(renderer, 50);
    }
    pauseRenderThread(renderer, 10);
  }
}

}  // namespace

void pauseRenderThread(Renderer* renderer, DWORD milliseconds) {
  if (renderer->stopEvent != nullptr) {
    WaitForSingleObject(renderer->stopEvent, milliseconds);
  } else {
    Sleep(milliseconds);
  }
}

Status startThread(Renderer* renderer) {
  LARGE_INTEGER now;
  if (!QueryPerformanceCounter(&now)) return E_FAIL;
  renderer->lastCounter = now.QuadPart;
  renderer->frameDelta = 0.0;
  if (renderer->thread != nullptr) return kStatusNothingDone;
  renderer->stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);  // manual reset
  if (renderer->stopEvent == nullptr) return E_FAIL;
  renderer->thread = CreateThread(nullptr, 0, renderThreadProc, renderer, 0, nullptr);
  if (renderer->thread != nullptr) return S_OK;
  CloseHandle(renderer->stopEvent);
  renderer->stopEvent = nullptr;
  return E_FAIL;
}

DWORD WINAPI renderThreadProc(LPVOID parameter) {
  return renderThreadMain(static_cast<Renderer*>(parameter));
}

DWORD renderThreadMain(Renderer* renderer) {
  renderer->initResult = initDisplay(renderer);
  // The starter is waiting on its own copy of the handle; the field is only forgotten.
  const HANDLE ready = renderer->readyEvent;
  if (failed(renderer->initResult)) {
    DebugLog(L"Error: Failed to initialize display.\n");
    // Whatever the failed start had made goes before the starter resumes.
    releaseDisplay(renderer);
    SetEvent(ready);
    renderer->readyEvent = nullptr;
    return 1;
  }
  // Raised before the signal, so a stop request that follows it at once is never lost.
  InterlockedExchange(&renderer->running, 1);
  DebugLog(L"Info: Display initialized successfully.\n");
  SetEvent(ready);
  renderer->readyEvent = nullptr;

  runRenderLoop(renderer);
  releaseDisplay(renderer);
  InterlockedExchange(&renderer->running, 0);
  return 0;
}

void requestThreadStop(Renderer* renderer) {
  if (renderer->thread == nullptr) return;
  InterlockedExchange(&renderer->running, 0);
  SetEvent(renderer->stopEvent);
}

Status stopThread(Renderer* renderer) {
  if (renderer->thread == nullptr) return kStatusNothingDone;
  requestThreadStop(renderer);
  bool ended = true;
  if (WaitForSingleObject(renderer->thread, kStopTimeoutMs) == WAIT_TIMEOUT) {
    TerminateThread(renderer->thread, kTerminatedExitCode);
    ended = WaitForSingleObject(renderer->thread, kTerminationWaitMs) == WAIT_OBJECT_0;
    // It may have died holding anything (the renderer's lock, Direct3D's own locks), so
    // the renderer and its Direct3D objects are never freed or used again.
    renderer->abandoned = true;
  }
  CloseHandle(renderer->thread);
  if (ended) CloseHandle(renderer->stopEvent);  // nothing waits on it any more
  renderer->stopEvent = nullptr;
  renderer->frameDelta = 0.0;
  renderer->thread = nullptr;
  renderer->counterFrequency = 0;
  renderer->lastCounter = 0;
  return S_OK;
}

bool retireRenderer(Renderer* renderer) {
  stopThread(renderer);
  if (renderer->abandoned) return false;
  delete renderer;
  return true;
}

}  // namespace tarnevox
