// Direct3D 9 on the visual window: start, reset after a loss or a resize, release.
#pragma once

#include <windows.h>

#include <cstdint>

#include "common/status.h"
#include "display/back_buffer_size.h"

namespace tarnevox {

class Renderer;

Status initDisplay(Renderer* renderer);
Status createDeviceResources(Renderer* renderer);
Status resetDevice(Renderer* renderer);
Status releaseDisplay(Renderer* renderer);

// The back buffer that the visual window's client area asks for now, within the device's
// limits. An empty client area asks for the size the buffer has.
BufferSize wantedBackBufferSize(Renderer* renderer);

// Resets the device with a back buffer of this size; the results are resetDevice's.
Status resizeBackBuffer(Renderer* renderer, BufferSize size);

// Milliseconds on the performance counter, wrapping at 32 bits, for pacing resizes: finer
// than the system tick, which may advance in steps of 16 ms.
std::uint32_t resizeClockMs();

// The refresh rate of the display mode of the adapter that drives `monitor`, in hertz; 0
// when it is not known.
std::uint32_t monitorRefreshRate(Renderer* renderer, HMONITOR monitor);

// How the library reaches Direct3D. The plug-in uses the system loader; tests put a
// recording double in its place.
struct Direct3DLoader {
  HMODULE(WINAPI* loadLibrary)(LPCWSTR name);
  FARPROC(WINAPI* getProcAddress)(HMODULE module, LPCSTR name);
  BOOL(WINAPI* freeLibrary)(HMODULE module);
};

// Null restores the system loader. Not for use while a render thread runs.
void setDirect3DLoader(const Direct3DLoader* loader);

}  // namespace tarnevox
