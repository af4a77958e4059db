#include "tools/host/vis_session.h"

#include <mmsystem.h>

#include <xmmintrin.h>

#include <cstring>

namespace tarnevox::host {

namespace {

constexpr wchar_t kHostClass[] = L"TarnevoxHostMain";
constexpr wchar_t kFrameClass[] = L"TarnevoxHostFrame";
constexpr DWORD kFrameStyle = WS_OVERLAPPEDWINDOW;
constexpr int kChannels = 2;
// The player's render calls come this often, also after the stop until its loop ends.
constexpr double kPlayerRenderMs = 25.0;
// How long a player's loop goes on after the stop before the stand-in gives up on it.
constexpr double kLoopPatienceMs = 2000.0;
// Posted to the main window after a stop, to see whether its loop still runs.
constexpr UINT kProbeMessage = WM_APP + 1;

// The frame-window service has no context argument, so it finds the session here.
std::atomic<VisSession*> gActiveSession{nullptr};

// Dispatches what is queued for the calling thread; false once WM_QUIT came.
bool dispatchQueued() {
  MSG message;
  bool quit = false;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      quit = true;
      continue;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return !quit;
}

bool registerClasses(HINSTANCE instance, WNDPROC hostProc, WNDPROC frameProc) {
  WNDCLASSW host = {};
  host.lpfnWndProc = hostProc;
  host.hInstance = instance;
  host.lpszClassName = kHostClass;
  WNDCLASSW frame = {};
  frame.lpfnWndProc = frameProc;
  frame.hInstance = instance;
  frame.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  frame.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
  frame.lpszClassName = kFrameClass;
  // Registered once per process; a second registration fails harmlessly.
  WNDCLASSW existing;
  if (!GetClassInfoW(instance, kHostClass, &existing) && RegisterClassW(&host) == 0) return false;
  if (!GetClassInfoW(instance, kFrameClass, &existing) && RegisterClassW(&frame) == 0) return false;
  return true;
}

// What hosts that size the announced window themselves do with it.
void fitToClientArea(HWND visual, HWND frame) {
  RECT client;
  if (visual == nullptr || !IsChild(frame, visual) || !GetClientRect(frame, &client)) return;
  SetWindowPos(visual, nullptr, 0, 0, client.right, client.bottom, SWP_NOZORDER | SWP_NOACTIVATE);
}

// The session whose address went into the window's creation data.
VisSession* sessionOf(HWND window, UINT message, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  return reinterpret_cast<VisSession*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

}  // namespace

double nowMs() {
  static const double frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<double>(f.QuadPart);
  }();
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) * 1000.0 / frequency;
}

const char* stopReasonText(StopReason reason) {
  switch (reason) {
    case StopReason::kNone:
      return "not stopped";
    case StopReason::kInitFailed:
      return "the module did not start";
    case StopReason::kRenderLimit:
      return "render limit reached";
    case StopReason::kTimeLimit:
      return "time limit reached";
    case StopReason::kEscapeKey:
      return "Escape pressed";
    case StopReason::kFrameClosed:
      return "frame window closed";
    case StopReason::kWindowDestroyed:
      return "the visualization thread's windows went away";
    case StopReason::kRequested:
      return "stop requested";
  }
  return "?";
}

VisSession::~VisSession() {
  if (thread_ != nullptr) {
    requestStop();
    wait();
  }
  release();
}

bool VisSession::start(PluginLibrary& library, const SessionOptions& options, std::string* error) {
  if (thread_ != nullptr) {
    *error = "this session is already running";
    return false;
  }
  VisModule* module = library.module(options.module);
  if (module == nullptr) {
    *error = "module " + std::to_string(options.module) + " is out of range: the plug-in has " +
             std::to_string(library.moduleCount()) + " module" +
             (library.moduleCount() == 1 ? "" : "s");
    if (library.moduleCount() > 0) {
      *error += " (0 to " + std::to_string(library.moduleCount() - 1) + ")";
    }
    return false;
  }
  VisSession* expected = nullptr;
  if (!gActiveSession.compare_exchange_strong(expected, this)) {
    *error = "another module is running in this process";
    return false;
  }

  options_ = options;
  library_ = &library;
  module_ = module;
  report_ = SessionReport();
  stopReason_ = static_cast<int>(StopReason::kNone);
  initResult_ = -1;
  renderCalls_ = 0;
  frameWindow_ = nullptr;
  visualWindow_ = nullptr;
  hostLoopEnded_ = false;

  HINSTANCE instance = GetModuleHandleW(nullptr);
  if (!registerClasses(instance, hostWindowProc, frameWindowProc)) {
    *error = "cannot register the host's window classes: " + systemErrorText(GetLastError());
    release();
    return false;
  }
  // Hidden: it only answers the plug-in's messages.
  hostWindow_ = CreateWindowExW(0, kHostClass, L"Tarnevox host", WS_OVERLAPPEDWINDOW, 0, 0, 200,
                                100, nullptr, nullptr, instance, this);
  initDone_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  stopEvent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (hostWindow_ == nullptr || initDone_ == nullptr || stopEvent_ == nullptr) {
    *error = "cannot create the host window: " + systemErrorText(GetLastError());
    release();
    return false;
  }
  timeBeginPeriod(1);  // render calls 20 ms apart need finer waits than the default tick
  thread_ = CreateThread(nullptr, 0, visThreadMain, this, 0, nullptr);
  if (thread_ == nullptr) {
    *error = "cannot start the visualization thread: " + systemErrorText(GetLastError());
    timeEndPeriod(1);
    release();
    return false;
  }
  if (options_.hostKind == HostKind::kUiThread) callInit();
  // onInit sends its requests to the main window, so keep answering until it returns.
  HANDLE handles[2] = {initDone_, thread_};
  for (;;) {
    const DWORD woke =
        MsgWaitForMultipleObjects(2, handles, FALSE, INFINITE, QS_ALLINPUT | QS_ALLPOSTMESSAGE);
    pumpMainThread();
    if (woke == WAIT_OBJECT_0 || woke == WAIT_OBJECT_0 + 1 || woke == WAIT_FAILED) break;
  }
  return true;
}

// A host whose main thread also starts and stops the module ends its main loop on a
// quit message, as programs do; the other kinds only run the main window there.
void VisSession::pumpMainThread() {
  if (hostLoopEnded_) return;
  if (!dispatchQueued() && options_.hostKind == HostKind::kUiThread) hostLoopEnded_ = true;
}

bool VisSession::pumpUntil(HANDLE handle, DWORD milliseconds) {
  const double end = nowMs() + milliseconds;
  for (;;) {
    pumpMainThread();
    const double left = end - nowMs();
    if (milliseconds != INFINITE && left <= 0) return WaitForSingleObject(handle, 0) == WAIT_OBJECT_0;
    const DWORD timeout = milliseconds == INFINITE ? INFINITE : static_cast<DWORD>(left) + 1;
    const DWORD woke = hostLoopEnded_
                           ? WaitForSingleObject(handle, timeout)
                           : MsgWaitForMultipleObjects(1, &handle, FALSE, timeout,
                                                       QS_ALLINPUT | QS_ALLPOSTMESSAGE);
    if (woke == WAIT_OBJECT_0 || woke == WAIT_FAILED) {
      pumpMainThread();
      return true;
    }
  }
}

bool VisSession::pumpFor(DWORD milliseconds) {
  if (thread_ == nullptr) return true;
  return pumpUntil(thread_, milliseconds);
}

SessionReport VisSession::wait() {
  if (thread_ == nullptr) return report_;
  pumpUntil(thread_, INFINITE);
  if (options_.hostKind == HostKind::kUiThread) {
    callQuit();
    probeHostLoop();
    destroyLeftFrame();
  }
  timeEndPeriod(1);
  SessionReport report = report_;
  report.initResult = initResult_.load();
  report.renderCalls = renderCalls_.load();
  report.stopReason = static_cast<StopReason>(stopReason_.load());
  release();
  report_ = report;
  return report;
}

void VisSession::resizeFrame(int clientWidth, int clientHeight) {
  const HWND frame = frameWindow_.load();
  RECT bounds = {0, 0, clientWidth, clientHeight};
  AdjustWindowRectEx(&bounds, kFrameStyle, FALSE, 0);
  SetWindowPos(frame, nullptr, 0, 0, bounds.right - bounds.left, bounds.bottom - bounds.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void VisSession::requestStop(StopReason reason) {
  int none = static_cast<int>(StopReason::kNone);
  stopReason_.compare_exchange_strong(none, static_cast<int>(reason));
  if (stopEvent_ != nullptr) SetEvent(stopEvent_);
}

void VisSession::release() {
  if (thread_ != nullptr) CloseHandle(thread_);
  if (initDone_ != nullptr) CloseHandle(initDone_);
  if (stopEvent_ != nullptr) CloseHandle(stopEvent_);
  if (hostWindow_ != nullptr) DestroyWindow(hostWindow_);
  thread_ = nullptr;
  initDone_ = nullptr;
  stopEvent_ = nullptr;
  hostWindow_ = nullptr;
  VisSession* self = this;
  gActiveSession.compare_exchange_strong(self, nullptr);
}

DWORD WINAPI VisSession::visThreadMain(void* self) {
  static_cast<VisSession*>(self)->runVisThread();
  return 0;
}

void VisSession::runVisThread() {
  // A host that starts and stops on its main thread makes only the render calls from
  // here, as from its decoding thread.
  const bool renderOnly = options_.hostKind == HostKind::kUiThread;
  if (renderOnly) {
    WaitForSingleObject(initDone_, INFINITE);
  } else {
    callInit();
  }
  if (initResult_ == 0) {
    renderLoop();
  } else {
    requestStop(StopReason::kInitFailed);
  }
  if (renderOnly) return;
  callQuit();
  if (options_.hostKind == HostKind::kOwnThreadPlayer) {
    renderUntilLoopEnds();
  } else {
    report_.quitReachedStoppingThread = !dispatchQueued();
  }
  destroyLeftFrame();
}

void VisSession::callInit() {
  VisModule* module = module_;
  module->parentWindow = hostWindow_;
  module->dllInstance = library_->handle();
  module->sampleRate = options_.wav != nullptr ? options_.wav->format.sampleRate : kSignalSampleRate;
  module->channels = kChannels;
  report_.started = true;
  initResult_ = module->onInit(module);
  if (HWND frame = frameWindow_.load()) {
    wchar_t title[256] = {};
    GetWindowTextW(frame, title, 256);
    report_.frameTitle = title;
    report_.frameShownAfterInit = IsWindowVisible(frame) != FALSE;
  }
  SetEvent(initDone_);
}

void VisSession::callQuit() {
  for (int quit = 0; quit < options_.quitCalls; ++quit) {
    const double quitting = nowMs();
    module_->onQuit(module_);
    const double took = nowMs() - quitting;
    if (took > report_.longestQuitMs) report_.longestQuitMs = took;
  }
}

// The player's loop after the stop: render calls go on until a quit message ends it.
void VisSession::renderUntilLoopEnds() {
  const double stopped = nowMs();
  const HWND visual = report_.announcedWindow;
  double next = stopped;
  for (;;) {
    const bool quit = !dispatchQueued();
    const double now = nowMs();
    if (report_.visualGoneAfterStopMs < 0 && !IsWindow(visual)) {
      report_.visualGoneAfterStopMs = now - stopped;
    }
    if (quit) {
      report_.loopEndedAfterStopMs = now - stopped;
      report_.quitReachedStoppingThread = true;
      return;
    }
    if (now - stopped >= kLoopPatienceMs) return;
    if (now >= next) {
      render();
      next += kPlayerRenderMs;
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(next - now) + 1,
                              QS_ALLINPUT | QS_ALLPOSTMESSAGE);
  }
}

// After the stop on the main thread: a quit message that the stop posted ends the main
// loop here, as it would a program's; then a message posted to the main window shows
// whether the loop still runs.
void VisSession::probeHostLoop() {
  pumpMainThread();
  PostMessageW(hostWindow_, kProbeMessage, 0, 0);
  const double end = nowMs() + 1000.0;
  while (!report_.hostAnsweredAfterStop && !hostLoopEnded_ && nowMs() < end) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT | QS_ALLPOSTMESSAGE);
    pumpMainThread();
  }
  report_.hostLoopEnded = hostLoopEnded_;
}

// The frame is destroyed by the plug-in's stop when the record names it; otherwise the
// host destroys it here, on the thread that made it.
void VisSession::destroyLeftFrame() {
  HWND frame = frameWindow_.load();
  report_.frameWindow = frame;
  if (frame != nullptr && IsWindow(frame)) {
    report_.frameLeftAfterQuit = true;
    DestroyWindow(frame);
  }
  frameWindow_ = nullptr;
}

void VisSession::renderLoop() {
  const int requested = module_->delayMs;
  const double delay = options_.hostKind == HostKind::kOwnThreadPlayer ? kPlayerRenderMs
                       : requested < 1                                 ? 1.0
                       : requested > 1000                              ? 1000.0
                                                                       : requested;
  const double started = nowMs();
  const double deadline = options_.timeLimitMs > 0 ? started + options_.timeLimitMs : 0.0;
  double next = started;
  for (;;) {
    if (!dispatchQueued()) requestStop(StopReason::kWindowDestroyed);
    if (WaitForSingleObject(stopEvent_, 0) == WAIT_OBJECT_0) return;
    const double now = nowMs();
    if (deadline > 0 && now >= deadline) {
      requestStop(StopReason::kTimeLimit);
      return;
    }
    if (now >= next) {
      const long call = renderCalls_.load();
      fillWaveform(call);
      if (render() != 0) ++report_.renderNonZero;
      renderCalls_ = call + 1;
      if (options_.renderLimit > 0 && call + 1 >= options_.renderLimit) {
        requestStop(StopReason::kRenderLimit);
        return;
      }
      // A host that fell behind carries on at its pace instead of catching up in a burst.
      next = next + delay < now ? now + delay : next + delay;
      continue;
    }
    double wait = next - now;
    if (deadline > 0 && deadline - now < wait) wait = deadline - now;
    MsgWaitForMultipleObjects(1, &stopEvent_, FALSE, static_cast<DWORD>(wait) + 1,
                              QS_ALLINPUT | QS_ALLPOSTMESSAGE);
  }
}

// The floating-point state of the calling thread: the x87 control and status words and
// the SSE control and status register.
struct FloatingPointState {
  unsigned short x87Control = 0;
  unsigned short x87Status = 0;
  unsigned sse = 0;

  bool operator==(const FloatingPointState&) const = default;
};

FloatingPointState readFloatingPoint() {
  FloatingPointState state;
  __asm__ __volatile__("fnstcw %0" : "=m"(state.x87Control));
  __asm__ __volatile__("fnstsw %0" : "=m"(state.x87Status));
  state.sse = _mm_getcsr();
  return state;
}

// Only the control words; pending x87 flags are cleared first so that none goes off.
void writeFloatingPointControl(const FloatingPointState& state) {
  __asm__ __volatile__("fnclex");
  __asm__ __volatile__("fldcw %0" : : "m"(state.x87Control));
  _mm_setcsr(state.sse);
}

#if defined(__i386__)
// Calls a __cdecl callback with the stack the given number of bytes off the 16-byte
// alignment that GCC's own code keeps; 32-bit Windows promises only 4.
int callOffAlignment(int(__cdecl* callback)(VisModule*), VisModule* module, int offset) {
  int result;
  __asm__ __volatile__(
      "movl %%esp, %%esi\n\t"
      "andl $-16, %%esp\n\t"
      "subl $12, %%esp\n\t"
      "subl %[offset], %%esp\n\t"
      "pushl %[module]\n\t"
      "call *%[callback]\n\t"
      "movl %%esi, %%esp"
      : "=a"(result)
      : [callback] "r"(callback), [module] "r"(module), [offset] "r"(offset)
      : "ecx", "edx", "esi", "memory", "cc", "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5",
        "xmm6", "xmm7");
  return result;
}
#endif

int VisSession::callRender() {
#if defined(__i386__)
  if (options_.stackOffset % 16 != 0) {
    return callOffAlignment(module_->onRender, module_, options_.stackOffset % 16);
  }
#endif
  return module_->onRender(module_);
}

// With exceptions unmasked the call must raise none and leave the state as it found it.
int VisSession::render() {
  if (options_.unmaskedExceptions == 0) return callRender();
  const FloatingPointState saved = readFloatingPoint();
  // The FE_* bits are the x87 mask bits, and the SSE ones shifted by 7.
  const unsigned exceptions = static_cast<unsigned>(options_.unmaskedExceptions) & 0x3F;
  FloatingPointState unmasked = saved;
  unmasked.x87Control = static_cast<unsigned short>(saved.x87Control & ~exceptions);
  if (options_.extendedPrecision) unmasked.x87Control |= 0x300;  // precision control 11b
  unmasked.sse = (saved.sse & ~(exceptions << 7)) & ~0x3Fu;
  writeFloatingPointControl(unmasked);
  const FloatingPointState before = readFloatingPoint();
  const int result = callRender();
  const FloatingPointState after = readFloatingPoint();
  writeFloatingPointControl(saved);
  if (!(after == before)) ++report_.floatingPointChanged;
  return result;
}

// Render call n shows the audio n delays into the stream, so a run is reproducible.
void VisSession::fillWaveform(long call) {
  SampleBlock block;
  const int rate = options_.wav != nullptr ? options_.wav->format.sampleRate : kSignalSampleRate;
  const int delay = module_->delayMs > 0 ? module_->delayMs : 1;
  const std::uint64_t first = static_cast<std::uint64_t>(call) * static_cast<std::uint64_t>(rate) *
                              static_cast<std::uint64_t>(delay) / 1000;
  if (options_.wav != nullptr) {
    fillPcmBlock(options_.wav->format, options_.wav->bytes.data(), options_.wav->frameCount, first,
                 &block);
  } else {
    fillSignalBlock(options_.signal, first, rate, &block);
  }
  std::memcpy(module_->waveformData, block.samples, sizeof block.samples);
}

HWND VisSession::makeFrame() {
  RECT bounds = {0, 0, options_.frameWidth, options_.frameHeight};
  AdjustWindowRectEx(&bounds, kFrameStyle, FALSE, 0);
  // Shown by the plug-in once it has started.
  HWND frame = CreateWindowExW(0, kFrameClass, L"", kFrameStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                               bounds.right - bounds.left, bounds.bottom - bounds.top, nullptr,
                               nullptr, GetModuleHandleW(nullptr), this);
  if (frame != nullptr) {
    ++report_.framesMade;
    frameWindow_ = frame;
  }
  return frame;
}

HWND __cdecl VisSession::embedService(void* frameRecord) {
  VisSession* session = gActiveSession.load();
  HWND frame = nullptr;
  if (session != nullptr && session->options_.bogusFrame) {
    frame = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x7FF0));  // no window has it
  } else if (session != nullptr) {
    frame = session->makeFrame();
  }
  const bool fillsRecord =
      session == nullptr || session->options_.hostKind != HostKind::kOwnThreadPlayer;
  if (frameRecord != nullptr && fillsRecord) *static_cast<HWND*>(frameRecord) = frame;
  return frame;
}

LRESULT VisSession::answerHostMessage(WPARAM wParam, LPARAM lParam) {
  switch (lParam) {
    case kEmbedServiceRequest:
      ++report_.embedRequests;
      if (!options_.embedService) return 0;
      return reinterpret_cast<LRESULT>(&VisSession::embedService);
    case kVisualAnnouncement:
      if (wParam != 0) {
        ++report_.announcements;
        report_.announcedWindow = reinterpret_cast<HWND>(wParam);
      } else {
        ++report_.withdrawals;
        if (options_.onWithdrawal) options_.onWithdrawal();
      }
      visualWindow_ = reinterpret_cast<HWND>(wParam);
      if (options_.sizeVisualWindow) fitToClientArea(visualWindow_.load(), frameWindow_.load());
      return 0;
    case kSkinBitmapRequest:
      ++report_.skinRequests;
      return reinterpret_cast<LRESULT>(makeSkinBitmap(options_.skin));
    default:
      return 0;
  }
}

LRESULT CALLBACK VisSession::hostWindowProc(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam) {
  VisSession* session = sessionOf(window, message, lParam);
  if (session == nullptr) return DefWindowProcW(window, message, wParam, lParam);
  switch (message) {
    case WM_USER:
      return session->answerHostMessage(wParam, lParam);
    case WM_KEYDOWN:
    case WM_KEYUP:
      ++session->report_.keyMessages;
      if (message == WM_KEYDOWN) session->report_.keysDown.push_back(wParam);
      if (message == WM_KEYDOWN && wParam == VK_ESCAPE) session->requestStop(StopReason::kEscapeKey);
      return 0;
    case WM_CLOSE:
      session->requestStop(StopReason::kRequested);
      return 0;
    case kProbeMessage:
      session->report_.hostAnsweredAfterStop = true;
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

LRESULT CALLBACK VisSession::frameWindowProc(HWND window, UINT message, WPARAM wParam,
                                             LPARAM lParam) {
  VisSession* session = sessionOf(window, message, lParam);
  if (session == nullptr) return DefWindowProcW(window, message, wParam, lParam);
  switch (message) {
    case WM_CLOSE:
      // The plug-in destroys its frame in onQuit; the host only asks for the stop.
      session->requestStop(StopReason::kFrameClosed);
      return 0;
    case WM_SETFOCUS:
      // Keys go to the visual window, which passes them on to the main window.
      if (HWND visual = session->visualWindow(); visual != nullptr && IsChild(window, visual)) {
        SetFocus(visual);
      }
      return 0;
    case WM_KEYDOWN:
      if (wParam == VK_ESCAPE) session->requestStop(StopReason::kEscapeKey);
      return 0;
    case WM_SIZE:
      if (session->options_.sizeVisualWindow) fitToClientArea(session->visualWindow(), window);
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

bool runModule(PluginLibrary& library, const SessionOptions& options, SessionReport* report,
               std::string* error) {
  VisSession session;
  if (!session.start(library, options, error)) return false;
  *report = session.wait();
  return true;
}

}  // namespace tarnevox::host
