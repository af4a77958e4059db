// The pace of the render loop's frames in real time, against the recording Direct3D 9
// stand-in on a display of a given rate whose Present either waits for the next
// vertical blank or returns at once. Nothing is rendered, so what is measured is the
// loop's own pacing. A measurement, not a test: tools/measure-frames.sh builds it
// against this tree's engine and an earlier one's and runs both.
//
//   fake_pace_run RATE wait|once SECONDS
//
// After a second to settle it prints, for SECONDS: frames per second, the share of
// refresh periods in which no Present was made (so the next refresh shows no new frame),
// the longest gap between two Presents in milliseconds, and how many waits of its own
// the loop made per frame.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "display/direct3d_device.h"
#include "engine/render_thread.h"
#include "engine/renderer.h"
// Beside this file, not from the include path: the engine may come from another tree.
#include "fake_d3d9.h"

using namespace tarnevox;

namespace {

constexpr int kSettleSeconds = 1;

struct SimulatedDisplay {
  double period = 0;  // counter ticks
  bool presentWaits = false;
  HANDLE blankTimer = nullptr;
  std::vector<LONGLONG> presents;  // counter values of the Present calls
  Renderer* renderer = nullptr;
  std::atomic<LONGLONG> countFrom{0}, countTo{0};
  std::atomic<long> loopWaits{0};  // the loop's waits on its stop event between the two
};
SimulatedDisplay gDisplay;

LONGLONG counterNow() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}

// Runs on the render thread inside each Present: notes the call, then, for a display
// that waits, returns at the next blank (blanks on whole periods of the counter).
void presentOnDisplay(void*) {
  const LONGLONG now = counterNow();
  gDisplay.presents.push_back(now);
  if (!gDisplay.presentWaits) return;
  const double ticks = static_cast<double>(now);
  const double next =
      (static_cast<double>(static_cast<LONGLONG>(ticks / gDisplay.period)) + 1) * gDisplay.period;
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  LARGE_INTEGER due;  // relative, in units of 100 ns
  due.QuadPart =
      -static_cast<LONGLONG>((next - ticks) * 1e7 / static_cast<double>(frequency.QuadPart) + 0.5);
  if (due.QuadPart < 0 && SetWaitableTimer(gDisplay.blankTimer, &due, 0, nullptr, nullptr, FALSE)) {
    WaitForSingleObject(gDisplay.blankTimer, INFINITE);
  }
}

// Every wait of the render loop is one on its stop event; this program's import slot for
// WaitForSingleObject (see the end of the file) counts them.
DWORD WINAPI countLoopWaits(HANDLE handle, DWORD milliseconds) {
  static const auto system =
      reinterpret_cast<DWORD(WINAPI*)(HANDLE, DWORD)>(reinterpret_cast<void*>(
          GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "WaitForSingleObject")));
  const Renderer* renderer = gDisplay.renderer;
  if (milliseconds != 0 && renderer != nullptr && handle == renderer->stopEvent) {
    const LONGLONG now = counterNow();
    if (now >= gDisplay.countFrom && now < gDisplay.countTo) ++gDisplay.loopWaits;
  }
  return system(handle, milliseconds);
}

void pumpFor(DWORD milliseconds) {
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < milliseconds) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    Sleep(10);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int rate = argc == 4 ? std::atoi(argv[1]) : 0;
  const int seconds = argc == 4 ? std::atoi(argv[3]) : 0;
  if (rate <= 0 || seconds <= 0 ||
      (std::strcmp(argv[2], "wait") != 0 && std::strcmp(argv[2], "once") != 0)) {
    std::fprintf(stderr, "usage: fake_pace_run RATE wait|once SECONDS\n");
    return 2;
  }
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  gDisplay.period = static_cast<double>(frequency.QuadPart) / rate;
  gDisplay.presentWaits = std::strcmp(argv[2], "wait") == 0;
  gDisplay.blankTimer = CreateWaitableTimerW(nullptr, TRUE, nullptr);
  gDisplay.presents.reserve(static_cast<size_t>(rate) * (seconds + kSettleSeconds + 2) * 4);

  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = DefWindowProcW;
  windowClass.lpszClassName = L"TarnevoxFakePaceRun";
  RegisterClassW(&windowClass);
  const HWND window =
      CreateWindowExW(0, windowClass.lpszClassName, L"fake pace", WS_POPUP | WS_VISIBLE, 0, 0, 275,
                      116, nullptr, nullptr, nullptr, nullptr);
  fake_d3d9_reset();
  fake_d3d9_set_refresh_rate(static_cast<UINT>(rate));
  fake_d3d9_hook(FAKE_PRESENT, presentOnDisplay, nullptr);
  static const Direct3DLoader kFakeLoader = {fake_d3d9_load_library, fake_d3d9_get_proc_address,
                                             fake_d3d9_free_library};
  setDirect3DLoader(&kFakeLoader);

  Renderer* renderer = createRenderer();
  const HANDLE ready = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  renderer->window = window;
  renderer->readyEvent = ready;
  renderer->counterFrequency = frequency.QuadPart;
  gDisplay.renderer = renderer;
  gDisplay.countFrom = counterNow() + kSettleSeconds * frequency.QuadPart;
  gDisplay.countTo = gDisplay.countFrom + seconds * frequency.QuadPart;
  if (window == nullptr || startThread(renderer) != 0 ||
      WaitForSingleObject(ready, 10000) != WAIT_OBJECT_0 || renderer->initResult != 0) {
    std::fprintf(stderr, "fake_pace_run: the render thread did not start\n");
    return 1;
  }
  pumpFor(static_cast<DWORD>((kSettleSeconds + seconds) * 1000 + 200));
  const LONGLONG from = gDisplay.countFrom, to = gDisplay.countTo;
  stopThread(renderer);  // the render thread has ended: its record can be read
  gDisplay.renderer = nullptr;
  retireRenderer(renderer);

  std::vector<LONGLONG> presents;
  for (LONGLONG t : gDisplay.presents) {
    if (t >= from && t < to) presents.push_back(t);
  }
  if (presents.size() < 2) {
    std::fprintf(stderr, "fake_pace_run: too few frames\n");
    return 1;
  }
  LONGLONG longest = 0;
  long withFrame = 0;
  LONGLONG lastPeriod = -1;
  for (size_t i = 0; i < presents.size(); ++i) {
    if (i > 0 && presents[i] - presents[i - 1] > longest) longest = presents[i] - presents[i - 1];
    const auto period = static_cast<LONGLONG>(static_cast<double>(presents[i]) / gDisplay.period);
    if (period != lastPeriod) ++withFrame;
    lastPeriod = period;
  }
  const auto firstPeriod =
      static_cast<LONGLONG>(static_cast<double>(presents.front()) / gDisplay.period);
  const double periods = static_cast<double>(lastPeriod - firstPeriod + 1);
  const double ms = 1000.0 / static_cast<double>(frequency.QuadPart);
  std::printf("%.1f %.1f %.1f %.2f\n",
              static_cast<double>(presents.size() - 1) /
                  (static_cast<double>(presents.back() - presents.front()) * ms / 1000.0),
              (periods - static_cast<double>(withFrame)) / periods * 100.0,
              static_cast<double>(longest) * ms,
              static_cast<double>(gDisplay.loopWaits) / static_cast<double>(presents.size()));
  DestroyWindow(window);
  return 0;
}

// The linker takes this slot instead of kernel32's. A 32-bit slot's name carries the
// underscore and the argument bytes of a __stdcall function.
#if defined(__i386__)
#define IMPORT_SLOT(name, argumentBytes) __asm__("__imp__" #name "@" #argumentBytes)
#else
#define IMPORT_SLOT(name, argumentBytes) __asm__("__imp_" #name)
#endif
extern "C" {
DWORD(WINAPI* slotWaitForSingleObject)(HANDLE, DWORD) IMPORT_SLOT(WaitForSingleObject, 8) =
    countLoopWaits;
}
