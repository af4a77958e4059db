// The object that a started module, the host's thread and the render thread share.
#pragma once

#include <windows.h>
#include <d3d9.h>

#include <cstdint>

#include "common/color.h"
#include "common/sizes.h"
#include "common/status.h"
#include "display/back_buffer_size.h"
#include "display/quad_vertex.h"
#include "engine/peak_state.h"

namespace tarnevox {

inline constexpr int kModeWaveform = 0;
inline constexpr int kModeSpectrum = 1;

class RendererBase {
 public:
  RendererBase();
  virtual ~RendererBase();

  RendererBase(const RendererBase&) = delete;
  RendererBase& operator=(const RendererBase&) = delete;

  // Guards the five analysis arrays and the full-screen target; never taken recursively.
  CRITICAL_SECTION lock;
};

class Renderer : public RendererBase {
 public:
  Renderer();
  ~Renderer() override;

  // Renderers live on the process heap only; the deleting destructor returns the memory.
  static void* operator new(std::size_t, void* memory) noexcept { return memory; }
  static void operator delete(void* memory) noexcept;
  static void operator delete(void*, void*) noexcept {}

  D3DPRESENT_PARAMETERS presentParams;
  D3DCAPS9 deviceCaps;
  HMODULE d3dModule;
  HANDLE thread;
  HWND window;
  HANDLE readyEvent;
  Status initResult;
  IDirect3D9* d3d;
  IDirect3DDevice9* device;
  IDirect3DVertexBuffer9* vertexBuffer;
  // The adapter the device was made on and the monitor it drives, and the window's
  // monitor as last looked at.
  UINT adapter;
  HMONITOR adapterMonitor;
  HMONITOR deviceMonitor;
  // Raised by the visual window's thread when the display configuration changes.
  volatile LONG displayChanged;
  // The window that full screen presents into and its client size in its own pixels, or
  // none: written by the visual window's thread and read by the render thread, under `lock`.
  HWND fullScreenWindow;
  BufferSize fullScreenSize;
  IDirect3DBaseTexture9* texture;
  QuadVertex* lockedVertices;
  std::uint32_t vertexCount;
  std::int64_t counterFrequency;
  std::int64_t lastCounter;
  double frameDelta;
  // When the device was created or last reset (resizeClockMs), and the window's size as
  // last seen: resizes are paced from them.
  std::uint32_t resetTick;
  SizeWatch sizeWatch;
  float targetSpectrum[kBandCount];
  float shownSpectrum[kBandCount];
  float targetWave[kWaveColumnCount];
  float shownWave[kWaveColumnCount];
  PeakState peaks[kBandCount];
  float peakHold;
  float peakGravity;
  float smoothing;
  std::int32_t mode;
  ColorF background;
  ColorF foreground;
  volatile LONG running;
  // Set by stopThread to wake the render thread from its pauses at once.
  HANDLE stopEvent;
  // The render thread had to be terminated. Whatever it may have held (this object, its
  // lock, the Direct3D objects) is left untouched for good: the object is not freed.
  bool abandoned;
};

// Allocates from the process heap (not zeroed) and constructs; null when the heap is out.
Renderer* createRenderer();

// Colour setters for the host thread; each channel is written whole.
void setBackground(Renderer* renderer, const ColorF& colour);
void setForeground(Renderer* renderer, const ColorF& colour);

}  // namespace tarnevox
