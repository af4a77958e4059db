#include "tools/capture/back_buffer_copy.h"

namespace tarnevox {

namespace {

// A 32-bit pixel lies in memory as blue, green, red, then alpha or padding.
void convertRows(const D3DLOCKED_RECT& locked, UINT width, UINT height, BYTE* rgb) {
  for (UINT y = 0; y < height; ++y) {
    const BYTE* source = static_cast<const BYTE*>(locked.pBits) + static_cast<size_t>(y) * locked.Pitch;
    BYTE* target = rgb + static_cast<size_t>(y) * width * 3;
    for (UINT x = 0; x < width; ++x) {
      target[3 * x] = source[4 * x + 2];
      target[3 * x + 1] = source[4 * x + 1];
      target[3 * x + 2] = source[4 * x];
    }
  }
}

}  // namespace

bool copyBackBuffer(IDirect3DDevice9* device, std::vector<BYTE>* rgb, UINT* width, UINT* height) {
  IDirect3DSurface9* backBuffer = nullptr;
  IDirect3DSurface9* copy = nullptr;
  D3DSURFACE_DESC desc = {};
  D3DLOCKED_RECT locked = {};
  bool ok = false;

  if (FAILED(device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &backBuffer))) goto done;
  if (FAILED(backBuffer->GetDesc(&desc))) goto done;
  if (desc.Format != D3DFMT_X8R8G8B8 && desc.Format != D3DFMT_A8R8G8B8) goto done;
  // A render target cannot be locked; its pixels come over to system memory first.
  if (FAILED(device->CreateOffscreenPlainSurface(desc.Width, desc.Height, desc.Format,
                                                 D3DPOOL_SYSTEMMEM, &copy, nullptr))) {
    goto done;
  }
  if (FAILED(device->GetRenderTargetData(backBuffer, copy))) goto done;
  if (FAILED(copy->LockRect(&locked, nullptr, D3DLOCK_READONLY))) goto done;
  rgb->resize(static_cast<size_t>(desc.Width) * desc.Height * 3);
  convertRows(locked, desc.Width, desc.Height, rgb->data());
  copy->UnlockRect();
  *width = desc.Width;
  *height = desc.Height;
  ok = true;

done:
  if (copy != nullptr) copy->Release();
  if (backBuffer != nullptr) backBuffer->Release();
  return ok;
}

}  // namespace tarnevox
