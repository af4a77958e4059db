#include "plugin/full_screen.h"

#include <cstdint>

#include "display/direct3d_device.h"
#include "plugin/module_slot.h"
#include "plugin/vis_window.h"

namespace tarnevox {
namespace {

struct FullScreen {
  HWND window = nullptr;  // ours, covering the monitor
  HWND visual = nullptr;
  HWND frame = nullptr;   // the host's frame the visual window belongs in
  // Own pixels: the renderer presents into `window`, and `window` takes the input. Else
  // the visual window was moved into `window`, and it takes the input.
  Renderer* renderer = nullptr;
  // The window of monitor's own pixels that an earlier trip left hidden: the render
  // thread may still be presenting into it, so it goes only at the stop, after the thread.
  HWND spare = nullptr;
  bool pointerHidden = false;
  LPARAM lastPointer = -1;
  // The Escape that left full screen: its repeats and its release are not the host's.
  bool escapeHeld = false;

  HWND input() const { return renderer != nullptr ? window : visual; }
};

FullScreen gFullScreen;

constexpr wchar_t kFullScreenTitle[] = L"Tarnevox";

// Windows 10 1607 and later: a window made while its thread is per-monitor DPI aware has
// the monitor's own pixels, whatever the host declares. (The second context is 1607's;
// the first, from 1703 on, also scales the non-client parts, which this window lacks.)
using SetDpiContextFunction = HANDLE(WINAPI*)(HANDLE context);
const HANDLE kPerMonitorAwareV2 = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4));
const HANDLE kPerMonitorAware = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-3));

SetDpiContextFunction dpiContextSetter() {
  return reinterpret_cast<SetDpiContextFunction>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetThreadDpiAwarenessContext")));
}

// The class of the visual window serves the full-screen window too, so one procedure sees
// both and the class's registration and end cover both.
HWND createFullScreenWindow(HWND visual, const RECT& area) {
  const auto atom = static_cast<ATOM>(GetClassLongPtrW(visual, GCW_ATOM));
  const auto instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(visual, GWLP_HINSTANCE));
  return CreateWindowExW(WS_EX_TOPMOST, MAKEINTATOM(atom), kFullScreenTitle,
                         WS_POPUP | WS_CLIPCHILDREN, area.left, area.top, area.right - area.left,
                         area.bottom - area.top, nullptr, nullptr, instance, nullptr);
}

bool monitorArea(HMONITOR monitor, RECT* area) {
  MONITORINFO info = {};
  info.cbSize = sizeof info;
  if (!GetMonitorInfoW(monitor, &info)) return false;
  *area = info.rcMonitor;
  return true;
}

// A window of the monitor's own pixels that the renderer presents into; the visual
// window stays in its frame. A window of another DPI awareness cannot be moved into it
// (Windows refuses SetParent across awareness from 1703 on), and need not be: Direct3D
// presents the device's back buffer into any window of the thread. Null where the system
// has no per-monitor awareness.
HWND ownPixelsWindow(HWND visual, HMONITOR monitor, RECT* area) {
  const SetDpiContextFunction setContext = dpiContextSetter();
  if (setContext == nullptr) return nullptr;
  HANDLE previous = setContext(kPerMonitorAwareV2);
  if (previous == nullptr) previous = setContext(kPerMonitorAware);
  if (previous == nullptr) return nullptr;
  // In this context the monitor's rectangle and the window are in its own pixels.
  HWND window = nullptr;
  if (monitorArea(monitor, area)) {
    window = gFullScreen.spare;
    if (window != nullptr) {
      SetWindowPos(window, HWND_TOPMOST, area->left, area->top, area->right - area->left,
                   area->bottom - area->top, SWP_NOACTIVATE);
    } else {
      window = createFullScreenWindow(visual, *area);
    }
  }
  setContext(previous);
  return window;
}

void showPointer() {
  if (!gFullScreen.pointerHidden) return;
  gFullScreen.pointerHidden = false;
  SetCursor(LoadCursorW(nullptr, IDC_ARROW));
}

void enterFullScreen(HWND visual) {
  const HWND frame = GetParent(visual);
  if (frame == nullptr) return;
  // The monitor that holds the larger part of the frame, as the user sees it.
  const HMONITOR monitor = MonitorFromWindow(frame, MONITOR_DEFAULTTONEAREST);
  const LONG_PTR module = GetWindowLongPtrW(visual, GWLP_USERDATA);
  Renderer* renderer = rendererOf(reinterpret_cast<const VisModule*>(module));
  RECT area;
  HWND window = renderer != nullptr ? ownPixelsWindow(visual, monitor, &area) : nullptr;
  if (window != nullptr) {
    // It handles the visual window's input itself, for the same module.
    SetWindowLongPtrW(window, GWLP_USERDATA, module);
    gFullScreen = FullScreen{window, visual, frame, renderer};
    gFullScreen.spare = window;
    setFullScreenTarget(renderer, window,
                        BufferSize{static_cast<std::uint32_t>(area.right - area.left),
                                   static_cast<std::uint32_t>(area.bottom - area.top)});
  } else {
    if (!monitorArea(monitor, &area)) return;
    window = createFullScreenWindow(visual, area);
    if (window == nullptr) return;
    const HWND spare = gFullScreen.spare;
    gFullScreen = FullScreen{window, visual, frame};
    gFullScreen.spare = spare;
    SetParent(visual, window);
    // One change of size, straight to the monitor's: the render thread resets its device once.
    SetWindowPos(visual, nullptr, 0, 0, area.right - area.left, area.bottom - area.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  }
  ShowWindow(window, SW_SHOWNORMAL);
  SetForegroundWindow(window);
  SetFocus(gFullScreen.input());
  SetTimer(gFullScreen.input(), kHidePointerTimer, kHidePointerMs, nullptr);
}

// The full-screen window goes without a word to the host: its end is no visual window's.
void destroyFullScreenWindow(HWND window) {
  if (window == nullptr || !IsWindow(window)) return;
  SetWindowLongPtrW(window, GWLP_USERDATA, 0);
  DestroyWindow(window);
}

}  // namespace

bool inFullScreen() { return gFullScreen.window != nullptr; }

void toggleFullScreen(HWND visual) {
  if (inFullScreen()) {
    leaveFullScreen();
  } else {
    enterFullScreen(visual);
  }
}

void leaveFullScreen() {
  const FullScreen left = gFullScreen;
  if (left.window == nullptr) return;
  // A frame the host destroyed meanwhile has nowhere to take the moved picture back.
  if (left.renderer == nullptr && !IsWindow(left.frame)) return;
  KillTimer(left.input(), kHidePointerTimer);
  showPointer();
  gFullScreen.window = nullptr;
  gFullScreen.renderer = nullptr;
  if (left.renderer != nullptr) {
    // Hidden, not destroyed: a frame already on its way may still be presented into it.
    setFullScreenTarget(left.renderer, nullptr, BufferSize{0, 0});
    SetWindowLongPtrW(left.window, GWLP_USERDATA, 0);
    ShowWindow(left.window, SW_HIDE);
  } else {
    SetParent(left.visual, left.frame);
    coverParentClientArea(left.visual);
    destroyFullScreenWindow(left.window);
  }
  if (left.renderer != nullptr && IsWindow(left.frame)) {
    SetForegroundWindow(left.frame);
    SetFocus(left.visual);
  }
}

void forgetFullScreenRenderer() {
  if (gFullScreen.renderer == nullptr) return;
  setFullScreenTarget(gFullScreen.renderer, nullptr, BufferSize{0, 0});
  gFullScreen.renderer = nullptr;
}

void closeFullScreen() {
  const HWND window = gFullScreen.window;
  const HWND spare = gFullScreen.spare;
  gFullScreen = FullScreen{};
  destroyFullScreenWindow(window);
  if (spare != window) destroyFullScreenWindow(spare);
}

bool fullScreenKey(HWND, UINT message, WPARAM key, bool repeat) {
  if (key != VK_ESCAPE) return false;
  if (gFullScreen.escapeHeld) {
    // Its release may have gone to another window: a fresh press is the host's again.
    if (message == WM_KEYUP || repeat) {
      gFullScreen.escapeHeld = message != WM_KEYUP;
      return true;
    }
    gFullScreen.escapeHeld = false;
  }
  if (message != WM_KEYDOWN || !inFullScreen()) return false;
  leaveFullScreen();
  gFullScreen.escapeHeld = true;
  return true;
}

// Windows also reports a pointer that did not move (after a window change under it), so
// only a new position counts as movement.
void fullScreenPointerMoved(HWND window, LPARAM position) {
  if (!inFullScreen() || window != gFullScreen.input() || position == gFullScreen.lastPointer) {
    return;
  }
  gFullScreen.lastPointer = position;
  showPointer();
  SetTimer(window, kHidePointerTimer, kHidePointerMs, nullptr);
}

void fullScreenPointerRested(HWND window) {
  KillTimer(window, kHidePointerTimer);
  if (!inFullScreen()) return;
  POINT pointer;
  // A pointer resting on another monitor or window is not ours to hide.
  if (!GetCursorPos(&pointer) || WindowFromPoint(pointer) != gFullScreen.input()) return;
  gFullScreen.pointerHidden = true;
  SetCursor(nullptr);
}

bool fullScreenPointerHidden() { return gFullScreen.pointerHidden; }

bool fullScreenWindowMessage(HWND window, UINT message, WPARAM wParam, LRESULT* result) {
  if (window != gFullScreen.window || window == nullptr) return false;
  *result = 0;
  switch (message) {
    case WM_ACTIVATE:
      // Top-most only while active: another window the user brings up comes in front.
      SetWindowPos(window, LOWORD(wParam) == WA_INACTIVE ? HWND_NOTOPMOST : HWND_TOPMOST, 0, 0,
                   0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
      return false;  // the default procedure gives it the focus
    case WM_SETFOCUS:
      // Keys belong to the window that takes the input, which handles and forwards them.
      if (window != gFullScreen.input()) SetFocus(gFullScreen.input());
      return true;
    case WM_CLOSE:
      // Alt+F4 and the like leave full screen; the window is ours to end, at the stop.
      leaveFullScreen();
      return true;
    case WM_ERASEBKGND:
      *result = 1;  // the visual window covers it
      return true;
    default:
      return false;
  }
}

}  // namespace tarnevox
