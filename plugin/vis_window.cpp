#include "plugin/vis_window.h"

#include "display/direct3d_device.h"
#include "plugin/full_screen.h"
#include "plugin/host_records.h"
#include "plugin/module_slot.h"
#include "plugin/skin_reader.h"

namespace tarnevox {
namespace {

// Bit 30 of a key message: the key was already down, so this is a repeat.
constexpr LPARAM kKeyWasDown = 0x40000000;

// Taken at the start: by the time the visual window ends, the host's window may be gone.
DWORD gHostWindowThread = 0;

}  // namespace

void noteHostWindow(HWND hostWindow) {
  gHostWindowThread = GetWindowThreadProcessId(hostWindow, nullptr);
}

LRESULT CALLBACK visWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT handled = 0;
  if (fullScreenWindowMessage(window, message, wParam, &handled)) return handled;
  auto* module = reinterpret_cast<VisModule*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  switch (message) {
    case WM_CREATE:
      return 0;
    case WM_DESTROY:
      // The quit message ends a host's visualization loop. On the thread of the host's
      // own window it would end the host's main loop instead, and a window that a failed
      // start detached ends without a message at all.
      if (module != nullptr && GetCurrentThreadId() != gHostWindowThread) PostQuitMessage(0);
      return 0;
    case WM_ERASEBKGND:
      return 1;  // Direct3D paints every pixel; erasing would only flicker
    case WM_DISPLAYCHANGE:
      if (module != nullptr) {
        applySkinColors(module);
        // Monitors may have come or gone: the render thread looks for its adapter again.
        if (Renderer* renderer = rendererOf(module)) noteDisplayChange(renderer);
      }
      return 0;
    case WM_TIMER:
      if (wParam == kHidePointerTimer) {
        fullScreenPointerRested(window);
      } else if (wParam == kFollowFrameTimer) {
        coverParentClientArea(window);
      } else {
        break;
      }
      return 0;
    case WM_KEYDOWN:
    case WM_KEYUP:
      // The host handles its keys even while the visual has the focus; only the Escape
      // that leaves full screen is ours.
      if (module == nullptr) return 0;
      if (!fullScreenKey(window, message, wParam, (lParam & kKeyWasDown) != 0)) {
        PostMessageW(module->parentWindow, message, wParam, lParam);
      }
      return 0;
    case WM_SYSKEYDOWN:
      if (wParam != VK_RETURN || module == nullptr) break;
      if ((lParam & kKeyWasDown) == 0) toggleFullScreen(window);  // Alt+Enter, not its repeats
      return 0;
    case WM_SYSCHAR:
      if (wParam == VK_RETURN) return 0;  // Alt+Enter's character: no beep for a missing menu
      break;
    case WM_LBUTTONDBLCLK:
      if (module != nullptr) toggleFullScreen(window);
      return 0;
    case WM_MOUSEMOVE:
      fullScreenPointerMoved(window, lParam);
      return 0;
    case WM_SETCURSOR:
      if (!fullScreenPointerHidden() || LOWORD(lParam) != HTCLIENT) break;
      SetCursor(nullptr);
      return TRUE;
    default:
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

void coverParentClientArea(HWND visual) {
  const HWND parent = GetParent(visual);
  if (parent == nullptr || IsIconic(GetAncestor(visual, GA_ROOT))) return;
  RECT frame;
  RECT current;
  if (!GetClientRect(parent, &frame) || !GetWindowRect(visual, &current)) return;
  MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&current), 2);
  if (EqualRect(&frame, &current)) return;
  SetWindowPos(visual, nullptr, 0, 0, frame.right, frame.bottom,
               SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOOWNERZORDER);
}

}  // namespace tarnevox
