// The skin bitmap that the host hands out for WM_USER 503: a fresh one for every request,
// since the plug-in deletes each bitmap it is given.
#pragma once

#include <windows.h>

#include <string>

#include "tools/host/host_options.h"

namespace tarnevox::host {

enum class SkinKind {
  kColors,      // a bitmap made from the two colours
  kBitmapFile,  // a .bmp file, loaded anew for every request
  kNone,        // the host answers 0: no skin
};

struct SkinSpec {
  SkinKind kind = SkinKind::kColors;
  RgbColor foreground = kDefaultForeground;
  RgbColor background = kDefaultBackground;
  std::wstring bitmapPath;
};

// Where a plug-in probes the top row of the bitmap: the background at x 48, the
// foreground at x 50, further colours every two pixels up to x 90, and a reference at
// x 111 that marks a probe equal to it as unset.
inline constexpr int kSkinBackgroundX = 48;
inline constexpr int kSkinForegroundX = 50;
inline constexpr int kSkinReferenceX = 111;
inline constexpr int kSkinBitmapWidth = 128;
inline constexpr int kSkinBitmapHeight = 8;

// For kColors: a 32-bit bitmap whose top row holds the background at x 48, the
// foreground at x 50, and everywhere else (the reference pixel included) a filler colour
// unlike both, so every other probe falls back to the plug-in's own colours.
// For kBitmapFile: the file. Null for kNone or when the file cannot be loaded.
HBITMAP makeSkinBitmap(const SkinSpec& skin);

// The filler of the colour bitmap: a grey that is neither of the two colours.
RgbColor skinFillerColor(const RgbColor& foreground, const RgbColor& background);

}  // namespace tarnevox::host
