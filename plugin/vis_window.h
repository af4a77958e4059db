// The visual window's procedure: no erasing, keys forwarded to the host, recolouring,
// the double-click and Alt+Enter that toggle full screen, and the window kept over the
// whole client area of the frame it sits in.
#pragma once

#include <windows.h>

namespace tarnevox {

// The timer, on the visual window, that keeps it over the frame's client area. Hosts
// resize their frame without telling the plug-in; the render thread gives its back
// buffer the window's size, so following the frame shows the whole picture at its size.
inline constexpr UINT_PTR kFollowFrameTimer = 1;
inline constexpr UINT kFollowFrameMs = 25;

LRESULT CALLBACK visWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Remembers which thread owns the host's window, on whose loop the visual window's end
// must not post a quit message. Called by each start before it makes the window.
void noteHostWindow(HWND hostWindow);

// Moves and sizes the visual window over its parent's whole client area, unless it is
// there already or the frame is minimised (which would shrink it for nothing).
void coverParentClientArea(HWND visual);

}  // namespace tarnevox
