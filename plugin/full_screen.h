// Full screen: the visual window moved out of the host's frame into a borderless, top-most
// window of our own that covers the frame's monitor, and back. Not Direct3D's exclusive
// mode: the display mode stays, and the render thread gives its back buffer the window's
// new size as it does after any resize.
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

// Puts the visual window back into its frame at the frame's size as it is now.
void leaveFullScreen(HWND visual);

// The stop: destroys the full-screen window with whatever is still in it.
void closeFullScreen();

// The visual window's part in full screen: the keys that leave it and the pointer.
// True when the message has been handled here and goes nowhere else.
bool fullScreenKey(HWND visual, UINT message, WPARAM key, bool repeat);
void fullScreenPointerMoved(HWND visual, LPARAM position);
void fullScreenPointerRested(HWND visual);
bool fullScreenPointerHidden();

// The full-screen window's own messages: false when `window` is not that window or the
// message is left to the default procedure.
bool fullScreenWindowMessage(HWND window, UINT message, WPARAM wParam, LRESULT* result);

}  // namespace tarnevox
