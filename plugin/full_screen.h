// Full screen: a borderless, top-most window of our own that covers the frame's monitor.
// Where the system has per-monitor DPI awareness, that window has the monitor's own
// pixels, the renderer presents its back buffer (at that size) into it, and it takes the
// visual window's input itself, while the visual window stays in the host's frame. Else
// the visual window is moved into it, and back. Not Direct3D's exclusive mode: the
// display mode stays, and the back buffer changes size as after any resize.
//
// Everything here runs on the thread that runs the visual window, and there is at most
// one full-screen window per library, as there is one visual window.
#pragma once

#include <windows.h>

namespace tarnevox {

// On the visual window: hides the pointer once it has rested this long over it.
inline constexpr UINT_PTR kHidePointerTimer = 2;
inline constexpr UINT kHidePointerMs = 2000;

bool inFullScreen();

// Enters full screen on the monitor that holds most of the visual window's frame, or
// leaves it. When the full-screen window cannot be made, nothing changes.
void toggleFullScreen(HWND visual);

// Puts the picture back into the visual window, in its frame at the frame's size as it
// is now.
void leaveFullScreen();

// The stop, before the render thread ends: the renderer is no longer full screen's to
// change; the window stays until closeFullScreen.
void forgetFullScreenRenderer();

// The stop: destroys the full-screen window with whatever is still in it.
void closeFullScreen();

// The part in full screen of the window that takes the input: the keys that leave it and
// the pointer. True when the message has been handled here and goes nowhere else.
bool fullScreenKey(HWND window, UINT message, WPARAM key, bool repeat);
void fullScreenPointerMoved(HWND window, LPARAM position);
void fullScreenPointerRested(HWND window);
bool fullScreenPointerHidden();

// The full-screen window's own messages: false when `window` is not that window or the
// message is left to the default procedure.
bool fullScreenWindowMessage(HWND window, UINT message, WPARAM wParam, LRESULT* result);

}  // namespace tarnevox
