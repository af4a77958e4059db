#include "engine/render_thread.h"

#include "common/debug_log.h"
#include "display/direct3d_device.h"
#include "display/frame_drawing.h"
#include "engine/animate.h"
#include "engine/frame_pacing.h"
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

// The counter now; after a failed read, the start of the pass.
std::int64_t counterNow(Renderer* renderer) {
  LARGE_INTEGER now;
  return QueryPerformanceCounter(&now) ? now.QuadPart : renderer->lastCounter;
}

// Unless a program asks for a finer one, the system's timer ticks every 15.6 ms, and a
// wait of a few milliseconds lasts a whole tick: too coarse for frames 4 to 17 ms apart.
// The finer timer is asked for the first time the loop has to wait out a period itself
// (a Present that waits for the blank needs none) and given back when the loop ends.
// winmm.dll is loaded at run time, so that the library's imports stay as they are.
class FineTimer {
 public:
  FineTimer() = default;
  FineTimer(const FineTimer&) = delete;
  FineTimer& operator=(const FineTimer&) = delete;
  ~FineTimer() {
    if (endPeriod_ != nullptr) endPeriod_(1);
    if (winmm_ != nullptr) FreeLibrary(winmm_);
  }

  void request() {
    if (requested_) return;
    requested_ = true;
    winmm_ = LoadLibraryW(L"winmm.dll");
    if (winmm_ == nullptr) return;
    const auto beginPeriod = timerFunction("timeBeginPeriod");
    const auto endPeriod = timerFunction("timeEndPeriod");
    if (beginPeriod != nullptr && endPeriod != nullptr && beginPeriod(1) == 0) {
      endPeriod_ = endPeriod;
    }
  }

 private:
  using TimerPeriodFunction = UINT(WINAPI*)(UINT milliseconds);
  TimerPeriodFunction timerFunction(const char* name) const {
    return reinterpret_cast<TimerPeriodFunction>(
        reinterpret_cast<void*>(GetProcAddress(winmm_, name)));
  }

  HMODULE winmm_ = nullptr;
  TimerPeriodFunction endPeriod_ = nullptr;
  bool requested_ = false;
};

// The refresh period of the monitor that the window is on: read again when the window
// has moved to another monitor, after a pass that drew nothing (a change of display
// mode loses the device first), and from each new Direct3D object.
struct DisplayPace {
  HMONITOR monitor = nullptr;
  const IDirect3D9* d3d = nullptr;
  std::int64_t period = 0;

  void follow(Renderer* renderer, bool drewLastPass) {
    const HMONITOR now = MonitorFromWindow(renderer->window, MONITOR_DEFAULTTONEAREST);
    if (now == monitor && renderer->d3d == d3d && period != 0 && drewLastPass) return;
    monitor = now;
    d3d = renderer->d3d;
    period = refreshPeriodTicks(monitorRefreshRate(renderer, now), renderer->counterFrequency);
  }
};

// The event also ends a loop whose flag was raised after an early stop request had
// already cleared it. Every wait of the render thread is made here, on the stop event.
void runRenderLoop(Renderer* renderer) {
  FineTimer timer;
  DisplayPace pace;
  FramePacer pacer;
  FrameResult last = FrameResult::kNothingDrawn;
  while (InterlockedExchange(&renderer->running, 1) != 0 && !stopRequested(renderer)) {
    advanceFrameClock(renderer);  // the pass begins at lastCounter
    animate(renderer);
    FrameReport frame = {FrameResult::kNothingDrawn, 0};
    if (windowCanBeSeen(renderer)) {
      pace.follow(renderer, last == FrameResult::kDrawn);
      frame = drawFrame(renderer);
    }
    const std::uint32_t pause =
        pacer.pauseAfterPass(frame, renderer->lastCounter, counterNow(renderer), pace.period,
                             renderer->counterFrequency);
    if (pause > 0) {
      if (frame.result == FrameResult::kDrawn) timer.request();
      pauseRenderThread(renderer, pause);
    }
    last = frame.result;
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

DWORD waitAnsweringSentMessages(HANDLE handle, DWORD milliseconds) {
  const DWORD started = GetTickCount();
  for (;;) {
    const DWORD waited = GetTickCount() - started;
    const DWORD left = waited < milliseconds ? milliseconds - waited : 0;
    const DWORD woke = MsgWaitForMultipleObjects(1, &handle, FALSE, left, QS_SENDMESSAGE);
    if (woke != WAIT_OBJECT_0 + 1) return woke;
    // Delivers what other threads sent to this thread's windows; nothing posted is taken.
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
}

Status stopThread(Renderer* renderer) {
  if (renderer->thread == nullptr) return kStatusNothingDone;
  requestThreadStop(renderer);
  bool ended = true;
  if (waitAnsweringSentMessages(renderer->thread, kStopTimeoutMs) == WAIT_TIMEOUT) {
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
