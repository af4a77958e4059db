#include "plugin/module_lifecycle.h"

#include "common/win_status.h"
#include "engine/render_thread.h"
#include "engine/renderer.h"
#include "plugin/host_records.h"
#include "plugin/module_slot.h"
#include "plugin/skin_reader.h"
#include "plugin/vis_window.h"

namespace tarnevox {

HostFrameState gHostFrameState = {};

namespace {

constexpr wchar_t kClassName[] = L"Tarnevox";
constexpr LPARAM kEmbedServiceRequest = 505;
constexpr LPARAM kVisualWindowAnnouncement = 611;
constexpr DWORD kVisualStyle = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;

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
  windowClass.style = 0;
  windowClass.lpfnWndProc = visWindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.lpszClassName = kClassName;
  return RegisterClassW(&windowClass);
}

// The window covers the frame's client area; Present scales the whole canvas into it.
HWND createVisualWindow(HWND frame, HINSTANCE instance) {
  RECT client = {};
  GetClientRect(frame, &client);
  return CreateWindowExW(0, kClassName, nullptr, kVisualStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                         client.right, client.bottom, frame, nullptr, instance, nullptr);
}

// Hands the new renderer to the render thread and waits until it has tried Direct3D.
bool startRenderer(Renderer* renderer, HWND visual, HANDLE ready) {
  renderer->window = visual;
  renderer->readyEvent = ready;
  LARGE_INTEGER frequency;
  if (!QueryPerformanceFrequency(&frequency) || frequency.QuadPart == 0) return false;
  renderer->counterFrequency = frequency.QuadPart;
  if (failed(startThread(renderer))) return false;
  WaitForSingleObject(ready, INFINITE);
  return !failed(renderer->initResult);
}

int failStart(VisModule* module, HANDLE ready, const StartFailure& failure) {
  delete rendererOf(module);  // stops a render thread that was already started
  module->userData = 0;
  if (ready != nullptr) CloseHandle(ready);
  MessageBoxW(module->parentWindow, failure.text, failure.caption, MB_OK | MB_ICONWARNING);
  return 1;
}

}  // namespace

int __cdecl onInit(VisModule* module) {
  if (anyModuleRunning()) return 1;
  const int mode = startMode(module);
  Renderer* renderer = createRenderer();
  module->userData = reinterpret_cast<std::intptr_t>(renderer);
  if (renderer == nullptr) return 1;
  renderer->mode = mode;

  HWND host = module->parentWindow;
  auto embed = reinterpret_cast<HostEmbed>(SendMessageW(host, WM_USER, 0, kEmbedServiceRequest));
  if (embed == nullptr) return failStart(module, nullptr, kOldHost);
  HWND frame = embed(&gHostFrameState);
  SetWindowTextW(gHostFrameState.frame, kClassName);

  if (registerVisualClass(module->dllInstance) == 0) {
    return failStart(module, nullptr, kClassFailure);
  }
  HWND visual = createVisualWindow(frame, module->dllInstance);
  if (visual == nullptr) return failStart(module, nullptr, kWindowFailure);
  SetWindowLongPtrW(visual, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(module));
  SetTimer(visual, kFollowFrameTimer, kFollowFrameMs, nullptr);
  SendMessageW(host, WM_USER, reinterpret_cast<WPARAM>(visual), kVisualWindowAnnouncement);

  HANDLE ready = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (ready == nullptr) return failStart(module, nullptr, kInitFailure);
  if (!startRenderer(renderer, visual, ready)) return failStart(module, ready, kInitFailure);
  CloseHandle(ready);

  applySkinColors(module);
  ShowWindow(frame, SW_SHOWNORMAL);
  return 0;
}

void __cdecl onQuit(VisModule* module) {
  // A start refused because the other module runs leaves nothing to undo, and the frame,
  // the class and the skin bitmap are the running module's.
  if (rendererOf(module) == nullptr && anyModuleRunning()) return;
  releaseSkinBitmap();
  SendMessageW(module->parentWindow, WM_USER, 0, kVisualWindowAnnouncement);
  if (Renderer* renderer = rendererOf(module)) {
    // The thread draws into the visual window, so it goes before the windows do.
    stopThread(renderer);
    delete renderer;
    module->userData = 0;
  }
  if (gHostFrameState.frame != nullptr) {
    SetForegroundWindow(module->parentWindow);
    DestroyWindow(gHostFrameState.frame);  // takes the visual window with it
  }
  UnregisterClassW(kClassName, module->dllInstance);
}

}  // namespace tarnevox
