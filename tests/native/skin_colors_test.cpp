// The skin colour table's fallbacks and the conversion to drawing colours.
#include <gtest/gtest.h>

#include "plugin/skin_colors.h"

using namespace tarnevox;

namespace {

constexpr std::uint32_t kReference = 0x123456;

void allUnusable(std::uint32_t probes[kSkinColorCount]) {
  for (int i = 0; i < kSkinColorCount; ++i) probes[i] = kInvalidPixel;
}

TEST(SkinColorsTest, UnusableProbesFallBackToDefaultsAndDerivedEntries) {
  std::uint32_t probes[kSkinColorCount];
  allUnusable(probes);
  probes[3] = kExcludedSkinPixel;
  probes[5] = kReference;
  SkinColors colors{};
  resolveSkinColors(probes, kReference, colors);
  for (int i = 0; i < kDefaultSkinColorCount; ++i) EXPECT_EQ(colors.entries[i], defaultSkinColors[i]);
  EXPECT_EQ(colors.entries[18], 0xFFFFFFu);
  EXPECT_EQ(colors.entries[19], 0xC60000u);
  EXPECT_EQ(colors.entries[20], 0xFFFFFFu);
  EXPECT_EQ(colors.entries[21], 0x811212u) << "mean of 0x3C2424 and 0xC60000";
}

TEST(SkinColorsTest, DerivedEntriesUseThisPassesEntriesTwoFourAndSix) {
  std::uint32_t probes[kSkinColorCount];
  allUnusable(probes);
  probes[2] = 0x010101;
  probes[4] = 0xABCDEF;
  probes[6] = 0x010101;
  SkinColors colors{};
  resolveSkinColors(probes, kReference, colors);
  EXPECT_EQ(colors.entries[18], 0xABCDEFu);
  EXPECT_EQ(colors.entries[19], 0x010101u);
  EXPECT_EQ(colors.entries[20], 0xABCDEFu);
  EXPECT_EQ(colors.entries[21], 0u) << "each channel is halved before adding: 1 + 1 gives 0";
  // A usable probe wins over every fallback.
  probes[21] = 0x0A0B0C;
  resolveSkinColors(probes, kReference, colors);
  EXPECT_EQ(colors.entries[21], 0x0A0B0Cu);
}

TEST(SkinColorsTest, BeforeAnySkinTheTableShowsGreenOnBlack) {
  const SkinColors colors = fallbackSkinColors();
  EXPECT_EQ(colors.entries[0], 0x000000u);
  EXPECT_EQ(colors.entries[1], 0x00FF00u);
  EXPECT_EQ(colors.entries[21], 0x811212u);
}

TEST(SkinColorsTest, ConversionIsOpaqueAndExactPerChannel) {
  const ColorF c = skinColorToColorF(0x00FF8001);
  EXPECT_EQ(c.alpha, 1.0f);
  EXPECT_EQ(c.red, static_cast<float>(1 / 255.0));
  EXPECT_EQ(c.green, static_cast<float>(128 / 255.0));
  EXPECT_EQ(c.blue, 1.0f);
  for (std::uint32_t v = 0; v < 256; ++v) {
    const ColorF grey = skinColorToColorF(v | (v << 8) | (v << 16));
    EXPECT_EQ(static_cast<std::uint32_t>(static_cast<double>(grey.red) * 255.0), v);
    EXPECT_EQ(grey.red, grey.green);
    EXPECT_EQ(grey.green, grey.blue);
  }
}

}  // namespace
