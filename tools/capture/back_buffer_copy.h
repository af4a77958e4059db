// Reading a device's back buffer into memory, as the next Present is about to show it.
#pragma once

#include <windows.h>
#include <d3d9.h>

#include <vector>

namespace tarnevox {

// Copies back buffer 0 of swap chain 0 through a system-memory surface into *rgb as
// 8-bit red, green, blue, rows top to bottom. Only 32-bit formats (X8R8G8B8, A8R8G8B8)
// are read. False, with *rgb untouched, when a step fails.
bool copyBackBuffer(IDirect3DDevice9* device, std::vector<BYTE>* rgb, UINT* width, UINT* height);

}  // namespace tarnevox
