#include "plugin/vis_window.h"

#include "plugin/host_records.h"
#include "plugin/skin_reader.h"

namespace tarnevox {

LRESULT CALLBACK visWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* module = reinterpret_cast<VisModule*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  switch (message) {
    case WM_CREATE:
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    case WM_ERASEBKGND:
      return 1;  // Direct3D paints every pixel; erasing would only flicker
    case WM_DISPLAYCHANGE:
      if (module != nullptr) applySkinColors(module);
      return 0;
    case WM_KEYDOWN:
    case WM_KEYUP:
      // The host handles its keys even while the visual has the focus.
      if (module != nullptr) PostMessageW(module->parentWindow, message, wParam, lParam);
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

}  // namespace tarnevox
