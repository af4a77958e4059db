#include "plugin/full_screen.h"

#include "plugin/vis_window.h"

namespace tarnevox {
namespace {

struct FullScreen {
  HWND window = nullptr;  // ours, with the visual window in it
  HWND frame = nullptr;   // the host's frame the visual window came from
  bool pointerHidden = false;
  LPARAM lastPointer = -1;
  // The Escape that left full screen: its repeats and its release are not the host's.
  bool escapeHeld = false;
};

FullScreen gFullScreen;

constexpr wchar_t kFullScreenTitle[] = L"Tarnevox";

// The class of the visual window serves the full-screen window too, so one procedure sees
// both and the class's registration and end cover both.
HWND createFullScreenWindow(HWND visual, const RECT& area) {
  const auto atom = static_cast<ATOM>(GetClassLongPtrW(visual, GCW_ATOM));
  const auto instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(visual, GWLP_HINSTANCE));
  return CreateWindowExW(WS_EX_TOPMOST, MAKEINTATOM(atom), kFullScreenTitle,
                         WS_POPUP | WS_CLIPCHILDREN, area.left, area.top, area.right - area.left,
                         area.bottom - area.top, nullptr, nullptr, instance, nullptr);
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
  MONITORINFO monitor = {};
  monitor.cbSize = sizeof monitor;
  if (!GetMonitorInfoW(MonitorFromWindow(frame, MONITOR_DEFAULTTONEAREST), &monitor)) return;
  const RECT& area = monitor.rcMonitor;
  const HWND window = createFullScreenWindow(visual, area);
  if (window == nullptr) return;
  gFullScreen = FullScreen{window, frame};
  SetParent(visual, window);
  // One change of size, straight to the monitor's: the render thread resets its device once.
  SetWindowPos(visual, nullptr, 0, 0, area.right - area.left, area.bottom - area.top,
               SWP_NOZORDER | SWP_NOACTIVATE);
  ShowWindow(window, SW_SHOWNORMAL);
  SetForegroundWindow(window);
  SetFocus(visual);
  SetTimer(visual, kHidePointerTimer, kHidePointerMs, nullptr);
}

}  // namespace

bool inFullScreen() { return gFullScreen.window != nullptr; }

void toggleFullScreen(HWND visual) {
  if (inFullScreen()) {
    leaveFullScreen(visual);
  } else {
    enterFullScreen(visual);
  }
}

void leaveFullScreen(HWND visual) {
  const HWND window = gFullScreen.window;
  // A frame the host destroyed meanwhile has nowhere to take the picture back.
  if (window == nullptr || !IsWindow(gFullScreen.frame)) return;
  KillTimer(visual, kHidePointerTimer);
  showPointer();
  SetParent(visual, gFullScreen.frame);
  coverParentClientArea(visual);
  gFullScreen.window = nullptr;
  gFullScreen.frame = nullptr;
  DestroyWindow(window);
}

void closeFullScreen() {
  const HWND window = gFullScreen.window;
  gFullScreen = FullScreen{};
  if (window != nullptr && IsWindow(window)) DestroyWindow(window);
}

bool fullScreenKey(HWND visual, UINT message, WPARAM key, bool repeat) {
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
  leaveFullScreen(visual);
  gFullScreen.escapeHeld = true;
  return true;
}

// Windows also reports a pointer that did not move (after a window change under it), so
// only a new position counts as movement.
void fullScreenPointerMoved(HWND visual, LPARAM position) {
  if (!inFullScreen() || position == gFullScreen.lastPointer) return;
  gFullScreen.lastPointer = position;
  showPointer();
  SetTimer(visual, kHidePointerTimer, kHidePointerMs, nullptr);
}

void fullScreenPointerRested(HWND visual) {
  KillTimer(visual, kHidePointerTimer);
  if (!inFullScreen()) return;
  POINT pointer;
  // A pointer resting on another monitor or window is not ours to hide.
  if (!GetCursorPos(&pointer) || WindowFromPoint(pointer) != visual) return;
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
      // Keys belong to the visual window, which handles and forwards them.
      if (HWND visual = GetWindow(window, GW_CHILD)) SetFocus(visual);
      return true;
    case WM_CLOSE:
      // Alt+F4 and the like leave full screen; the window is ours to end, at the stop.
      if (HWND visual = GetWindow(window, GW_CHILD)) leaveFullScreen(visual);
      return true;
    case WM_ERASEBKGND:
      *result = 1;  // the visual window covers it
      return true;
    default:
      return false;
  }
}

}  // namespace tarnevox
