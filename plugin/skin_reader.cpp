#include "plugin/skin_reader.h"

#include "engine/renderer.h"
#include "plugin/host_records.h"
#include "plugin/module_slot.h"

namespace tarnevox {

constexpr LPARAM kSkinBitmapRequest = 503;

// Until a skin has been read, draw in the built-in colours rather than black on black.
SkinColors gSkinColors = fallbackSkinColors();
HBITMAP skinBitmap = nullptr;

void releaseSkinBitmap() {
  if (skinBitmap != nullptr) {
    DeleteObject(skinBitmap);
    skinBitmap = nullptr;
  }
}

void readSkinColors(HWND hostWindow) {
  releaseSkinBitmap();
  skinBitmap = reinterpret_cast<HBITMAP>(SendMessageW(hostWindow, WM_USER, 0, kSkinBitmapRequest));
  if (skinBitmap == nullptr) return;  // no skin now: the colours stay what they were

  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ previous = SelectObject(dc, skinBitmap);
  const std::uint32_t reference = GetPixel(dc, kSkinReferenceX, 0);
  std::uint32_t probes[kSkinColorCount];
  for (int i = 0; i < kSkinColorCount; ++i) {
    probes[i] = GetPixel(dc, kSkinProbeFirstX + kSkinProbeStepX * i, 0);
  }
  SelectObject(dc, previous);
  DeleteDC(dc);
  resolveSkinColors(probes, reference, gSkinColors);
}

void applySkinColors(VisModule* module) {
  Renderer* renderer = rendererOf(module);
  if (renderer == nullptr) return;
  readSkinColors(module->parentWindow);
  setForeground(renderer, skinColorToColorF(gSkinColors.entries[1]));
  setBackground(renderer, skinColorToColorF(gSkinColors.entries[0]));
}

}  // namespace tarnevox
