#include "plugin/module_lifecycle.h"

#include "common/win_status.h"
#include "engine/render_thread.h"
#include "engine/renderer.h"
#include "plugin/full_screen.h"
#include "plugin/host_records.h"
#include "plugin/module_slot.h"
#include "plugin/skin_reader.h"
#include "plugin/vis_window.h"

namespace tarnevox {

HostFrameState gHostFrameState = {};

namespace {

// The visual window the running start made, until a stop has seen it destroyed. Some
// hosts never name a frame in the record, so the stop finds the window here.
HWND gVisualWindow = nullptr;
ATOM gVisualClass = 0;

constexpr wchar_t kClassName[] = L"Tarnevox";
constexpr LPARAM kEmbedServiceRequest = 505;
constexpr LPARAM kVisualWindowAnnouncement = 611;
constexpr DWORD kVisualStyle = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
constexpr DWORD kReadyTimeoutMs = 10000;

struct StartFailure {
  const wchar_t* text;
  const wchar_t* caption;
};

constexpr StartFailure kOldHost = {L"This plugin requires Winamp 2.90 or higher.",
                                   L"Invalid Winamp Version"};
constexpr StartFailure kClassFailure = {L"Error registering window class.", L"Error"};
constexpr StartFailure kWindowFailure = {L"Error creating window.", L"Error"};
constexpr StartFailure kInitFailure = {L"Failed to initialize.", L"Error"};

// The frame record, the window class and the analysis storage exist once per library,
// so a module may not start while one is running or starting.
bool anyModuleRunning() {
  for (int index = 0; index < 2; ++index) {
    if (rendererOf(lookupModule(index)) != nullptr) return true;
  }
  return false;
}

// Each of our records starts in its own mode whatever its slot holds after a stop;
// a record the library does not know keeps the low bit of its slot.
int startMode(const VisModule* module) {
  if (module == lookupModule(1)) return kModeSpectrum;
  if (module == lookupModule(0)) return kModeWaveform;
  return static_cast<int>(module->userData & 1);
}

ATOM registerVisualClass(HINSTANCE instance) {
  WNDCLASSW windowClass = {};
  windowClass.style = CS_DBLCLKS;  // a double-click toggles full screen
  windowClass.lpfnWndProc = visWindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.lpszClassName = kClassName;
  return RegisterClassW(&windowClass);
}

// The window covers the frame's client area from the start, so the render thread's
// back buffer has the frame's size from the first frame on.
HWND createVisualWindow(HWND frame, HINSTANCE instance) {
  RECT client = {};
  GetClientRect(frame, &client);
  return CreateWindowExW(0, kClassName, nullptr, kVisualStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                         client.right, client.bottom, frame, nullptr, instance, nullptr);
}

// Hands the new renderer to the render thread and waits until it has tried Direct3D; a
// driver that does not answer within the bound fails the start instead of hanging it.
bool startRenderer(Renderer* renderer, HWND visual, HANDLE ready) {
  renderer->window = visual;
  renderer->readyEvent = ready;
  LARGE_INTEGER frequency;
  if (!QueryPerformanceFrequency(&frequency) || frequency.QuadPart == 0) return false;
  renderer->counterFrequency = frequency.QuadPart;
  if (failed(startThread(renderer))) return false;
  if (waitAnsweringSentMessages(ready, kReadyTimeoutMs) != WAIT_OBJECT_0) return false;
  return !failed(renderer->initResult);
}

// Destroys the frame the host made for this start, with the visual window in it, and
// forgets it, so that no later stop destroys whatever window has the handle by then.
void removeFrame(VisModule* module) {
  if (gHostFrameState.frame == nullptr) return;
  SetForegroundWindow(module->parentWindow);
  DestroyWindow(gHostFrameState.frame);
  gHostFrameState.frame = nullptr;
}

// Destroys the visual window of this start if it is still there: a host that leaves the
// record empty would otherwise keep it, with its timer, its procedure in this library
// and the quit message that its end posts to end the host's visualization loop.
void removeVisualWindow() {
  const HWND visual = gVisualWindow;
  gVisualWindow = nullptr;
  // A handle that no longer names a window of our class may by now be someone else's.
  if (visual == nullptr || !IsWindow(visual)) return;
  if (GetClassLongPtrW(visual, GCW_ATOM) != gVisualClass) return;
  DestroyWindow(visual);
}

// Wakes the render thread to end before the stop does anything that may wait on the
// host, so that it is no longer drawing if the host ends the process meanwhile.
void askRendererToStop(VisModule* module) {
  const SlotLock held;
  if (Renderer* renderer = rendererOf(module)) requestThreadStop(renderer);
}

// Takes the module's renderer out of the slot, so that no render call reaches it any
// more, then stops its thread and frees it. False when the thread had to be terminated:
// then what it may have used is left alone.
bool stopRenderer(VisModule* module) {
  Renderer* renderer = takeRenderer(module);
  return renderer == nullptr || retireRenderer(renderer);
}

// What a start has set up so far.
struct StartProgress {
  bool classRegistered = false;
  HWND visual = nullptr;
  bool announced = false;
  HANDLE ready = nullptr;
};

// A failed start undoes what it set up before it reports, so that the next start works
// whether or not the host stops the module in between, and no window class is left
// pointing into a library that may be unloaded.
int failStart(VisModule* module, const StartProgress& progress, const StartFailure& failure) {
  // A render thread that had to be terminated may have been waiting on the event.
  const bool stopped = stopRenderer(module);
  if (progress.ready != nullptr && stopped) CloseHandle(progress.ready);
  if (progress.announced) {
    SendMessageW(module->parentWindow, WM_USER, 0, kVisualWindowAnnouncement);
  }
  if (progress.visual != nullptr) {
    // Detached first, so that its end posts no quit message to the host's thread.
    SetWindowLongPtrW(progress.visual, GWLP_USERDATA, 0);
    DestroyWindow(progress.visual);
    gVisualWindow = nullptr;
  }
  removeFrame(module);
  if (progress.classRegistered) UnregisterClassW(kClassName, module->dllInstance);
  MessageBoxW(module->parentWindow, failure.text, failure.caption, MB_OK | MB_ICONWARNING);
  return 1;
}

}  // namespace

int __cdecl onInit(VisModule* module) {
  if (anyModuleRunning()) return 1;
  const int mode = startMode(module);
  Renderer* renderer = createRenderer();
  putRenderer(module, renderer);
  if (renderer == nullptr) return 1;
  renderer->mode = mode;

  StartProgress progress;
  HWND host = module->parentWindow;
  auto embed = reinterpret_cast<HostEmbed>(SendMessageW(host, WM_USER, 0, kEmbedServiceRequest));
  if (embed == nullptr) return failStart(module, progress, kOldHost);
  HWND frame = embed(&gHostFrameState);
  SetWindowTextW(gHostFrameState.frame, kClassName);

  gVisualClass = registerVisualClass(module->dllInstance);
  progress.classRegistered = gVisualClass != 0;
  if (!progress.classRegistered) return failStart(module, progress, kClassFailure);
  noteHostWindow(host);
  progress.visual = createVisualWindow(frame, module->dllInstance);
  if (progress.visual == nullptr) return failStart(module, progress, kWindowFailure);
  gVisualWindow = progress.visual;
  SetWindowLongPtrW(progress.visual, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(module));
  SetTimer(progress.visual, kFollowFrameTimer, kFollowFrameMs, nullptr);
  SendMessageW(host, WM_USER, reinterpret_cast<WPARAM>(progress.visual), kVisualWindowAnnouncement);
  progress.announced = true;

  progress.ready = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (progress.ready == nullptr) return failStart(module, progress, kInitFailure);
  if (!startRenderer(renderer, progress.visual, progress.ready)) {
    return failStart(module, progress, kInitFailure);
  }
  CloseHandle(progress.ready);

  applySkinColors(module);
  ShowWindow(frame, SW_SHOWNORMAL);
  return 0;
}

void __cdecl onQuit(VisModule* module) {
  // A start refused because the other module runs leaves nothing to undo, and the frame,
  // the class and the skin bitmap are the running module's.
  if (rendererOf(module) == nullptr && anyModuleRunning()) return;
  askRendererToStop(module);
  releaseSkinBitmap();
  SendMessageW(module->parentWindow, WM_USER, 0, kVisualWindowAnnouncement);
  forgetFullScreenRenderer();  // the renderer goes with the thread
  stopRenderer(module);  // the thread draws into the visual window, so it goes first
  closeFullScreen();     // with the visual window in it, if it is there
  removeFrame(module);
  removeVisualWindow();
  // Nothing of this library may run once the stop has returned: the host may unload it.
  UnregisterClassW(kClassName, module->dllInstance);
}

}  // namespace tarnevox
