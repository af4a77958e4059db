// What a test suite against the recording Direct3D stand-in sets up once: a top-level
// window of the canvas size, the stand-in in place of "d3d9.dll", and its debugger-line
// capture.
#pragma once

#include <windows.h>

#include "display/direct3d_device.h"
#include "tests/wine/fake_d3d9.h"

namespace tarnevox::testing {

inline HWND beginFakeDisplaySuite(const wchar_t* className, const wchar_t* title, DWORD style) {
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = DefWindowProcW;
  windowClass.lpszClassName = className;
  RegisterClassW(&windowClass);
  const HWND window = CreateWindowExW(0, className, title, style, 0, 0, 1024, 1024, nullptr,
                                      nullptr, nullptr, nullptr);
  static const Direct3DLoader kFakeLoader = {fake_d3d9_load_library, fake_d3d9_get_proc_address,
                                             fake_d3d9_free_library};
  fake_debug_capture(TRUE);
  setDirect3DLoader(&kFakeLoader);
  return window;
}

inline void endFakeDisplaySuite(HWND window) {
  setDirect3DLoader(nullptr);
  fake_debug_capture(FALSE);
  DestroyWindow(window);
}

}  // namespace tarnevox::testing
