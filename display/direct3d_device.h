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

// Releases the device and the Direct3D object but keeps the window and the library, for
// a display that is to be made again: after a reset that failed for good, a driver error,
// or a move to another adapter.
void releaseDevice(Renderer* renderer);

// Makes a new Direct3D object and device at the window's size, on the adapter of the
// window's monitor, after releasing what is left of the old ones. E_FAIL, with nothing
// made, while that cannot be done; the analysis arrays are kept.
Status recreateDisplay(Renderer* renderer);

// True when the device should be made again on another adapter: the window has moved to
// a monitor that another adapter drives. After a change of the display configuration the
// adapters are looked for in a new Direct3D object.
bool deviceBelongsElsewhere(Renderer* renderer);

// For the visual window's thread: the display configuration changed.
void noteDisplayChange(Renderer* renderer);

// The back buffer that the visual window's client area asks for now, within the device's
// limits, or in full screen the full-screen window's. An empty client area asks for the
// size the buffer has.
BufferSize wantedBackBufferSize(Renderer* renderer);

// For the visual window's thread: full screen presents into `window`, whose client area is
// `size` in its own pixels, from the next frame on; none puts the picture back into the
// visual window. The device's own back buffer takes that size, so nothing is made for it
// that a reset or a new device would have to make again.
void setFullScreenTarget(Renderer* renderer, HWND window, BufferSize size);

// The full-screen window to present into, or none; *size: its client size.
HWND fullScreenTarget(Renderer* renderer, BufferSize* size);

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
