#include "tools/host/skin_bitmap.h"

#include <cstdint>

namespace tarnevox::host {

namespace {

// A pixel of a 32-bit DIB: blue in the low byte.
std::uint32_t dibPixel(const RgbColor& c) {
  return (static_cast<std::uint32_t>(c.red) << 16) | (static_cast<std::uint32_t>(c.green) << 8) |
         c.blue;
}

HBITMAP makeColorBitmap(const RgbColor& foreground, const RgbColor& background) {
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = kSkinBitmapWidth;
  info.bmiHeader.biHeight = -kSkinBitmapHeight;  // top-down: row 0 first in memory
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bitmap == nullptr || bits == nullptr) return bitmap;
  auto* pixels = static_cast<std::uint32_t*>(bits);
  const std::uint32_t filler = dibPixel(skinFillerColor(foreground, background));
  for (int i = 0; i < kSkinBitmapWidth * kSkinBitmapHeight; ++i) pixels[i] = filler;
  pixels[kSkinBackgroundX] = dibPixel(background);
  pixels[kSkinForegroundX] = dibPixel(foreground);
  GdiFlush();
  return bitmap;
}

}  // namespace

RgbColor skinFillerColor(const RgbColor& foreground, const RgbColor& background) {
  for (int level = 128;; ++level) {
    const auto channel = static_cast<std::uint8_t>(level & 0xFF);
    const RgbColor grey{channel, channel, channel};
    if (!(grey == foreground) && !(grey == background)) return grey;
  }
}

HBITMAP makeSkinBitmap(const SkinSpec& skin) {
  switch (skin.kind) {
    case SkinKind::kColors:
      return makeColorBitmap(skin.foreground, skin.background);
    case SkinKind::kBitmapFile:
      return static_cast<HBITMAP>(LoadImageW(nullptr, skin.bitmapPath.c_str(), IMAGE_BITMAP, 0, 0,
                                             LR_LOADFROMFILE | LR_CREATEDIBSECTION));
    case SkinKind::kNone:
      return nullptr;
  }
  return nullptr;
}

}  // namespace tarnevox::host
