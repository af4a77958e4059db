#include "plugin/skin_colors.h"

namespace tarnevox {

const std::uint32_t defaultSkinColors[kDefaultSkinColorCount] = {
    0x000000, 0x00FF00, 0x3C2424, 0x423839, 0xFFFFFF, 0xA59484, 0xC60000, 0x784848, 0xFFFFFF,
    0xB46C6C, 0x3C2424, 0x1E1212, 0x3C2424, 0x3C2424, 0x3C2424, 0x968279, 0x6E584E, 0x3C2424,
};

namespace {

bool usable(std::uint32_t pixel, std::uint32_t reference) {
  return pixel != kInvalidPixel && pixel != kExcludedSkinPixel && pixel != reference;
}

// Channel-wise mean with each channel halved first, so no carry crosses a channel.
std::uint32_t halfMean(std::uint32_t a, std::uint32_t b) {
  return ((a >> 1) & 0x7F7F7Fu) + ((b >> 1) & 0x7F7F7Fu);
}

std::uint32_t fallbackFor(int entry, const SkinColors& colors) {
  switch (entry) {
    case 18:
    case 20:
      return colors.entries[4];
    case 19:
      return colors.entries[6];
    case 21:
      return halfMean(colors.entries[2], colors.entries[6]);
    default:
      return defaultSkinColors[entry];
  }
}

}  // namespace

void resolveSkinColors(const std::uint32_t probes[kSkinColorCount], std::uint32_t reference,
                       SkinColors& colors) {
  for (int i = 0; i < kSkinColorCount; ++i) {
    colors.entries[i] = usable(probes[i], reference) ? probes[i] : fallbackFor(i, colors);
  }
}

SkinColors fallbackSkinColors() {
  std::uint32_t probes[kSkinColorCount];
  for (std::uint32_t& probe : probes) probe = kInvalidPixel;
  SkinColors colors{};
  resolveSkinColors(probes, kInvalidPixel, colors);
  return colors;
}

ColorF skinColorToColorF(std::uint32_t colour) {
  return ColorF{1.0f, static_cast<float>((colour & 0xFF) / 255.0),
                static_cast<float>(((colour >> 8) & 0xFF) / 255.0),
                static_cast<float>(((colour >> 16) & 0xFF) / 255.0)};
}

}  // namespace tarnevox
