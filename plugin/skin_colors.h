// The skin's colour table: 22 colours laid out 0x00BBGGRR, probed from one row of the
// host's skin bitmap, with compiled-in fallbacks where a probe gives no usable colour.
#pragma once

#include <cstdint>

#include "common/color.h"

namespace tarnevox {

inline constexpr int kSkinColorCount = 22;
inline constexpr int kDefaultSkinColorCount = 18;

struct SkinColors {
  std::uint32_t entries[kSkinColorCount];
};

// Where the probes lie in the bitmap's top row.
inline constexpr int kSkinProbeFirstX = 48;
inline constexpr int kSkinProbeStepX = 2;
inline constexpr int kSkinReferenceX = 111;

// A probe is unusable when it is this (outside the bitmap), the excluded colour, or
// the reference pixel.
inline constexpr std::uint32_t kInvalidPixel = 0xFFFFFFFFu;
inline constexpr std::uint32_t kExcludedSkinPixel = 0x00FFC600u;

extern const std::uint32_t defaultSkinColors[kDefaultSkinColorCount];

// Fills all 22 entries from the probed pixels, in ascending order, so that the fallbacks
// of entries 18 to 21 see entries 2, 4 and 6 of this same pass.
void resolveSkinColors(const std::uint32_t probes[kSkinColorCount], std::uint32_t reference,
                       SkinColors& colors);

// What a skin with no usable probe at all resolves to.
SkinColors fallbackSkinColors();

// Opaque, each channel c as the single-precision c / 255.
ColorF skinColorToColorF(std::uint32_t colour);

}  // namespace tarnevox
