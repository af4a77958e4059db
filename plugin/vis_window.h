// The visual window's procedure: no erasing, keys forwarded to the host, recolouring.
#pragma once

#include <windows.h>

namespace tarnevox {

LRESULT CALLBACK visWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace tarnevox
