// What a user sees: the real plug-in in the stand-in host, its frame's client area read
// from a screenshot of the X screen. Run by tools/private-wine.sh, whose Wine shows a child
// window's Direct3D frames on the screen (Debian's own sends them nowhere).
//
// The host hands over the same block on every render call, so the shown values settle on
// the block's targets, the peaks rest on their bars, and every frame is the same picture:
// the 1024 x 1024 canvas scaled into the client area, whatever its size.
#include <windows.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>

#include "analysis/frame_analysis.h"
#include "tests/wine/child_process.h"
#include "tests/wine/screen_grab.h"
#include "tools/host/plugin_library.h"
#include "tools/host/vis_session.h"
#include "tools/host/wav_file.h"

using namespace tarnevox::host;
using tarnevox::testing::besideThisProgram;
using tarnevox::testing::grabScreen;
using tarnevox::testing::looksLike;
using tarnevox::testing::Rgb;
using tarnevox::testing::ScreenShot;

namespace {

constexpr RgbColor kForeground{255, 204, 0};
constexpr RgbColor kBackground{0, 32, 96};
// The same colours as the screenshot reader holds them.
constexpr Rgb kFg{kForeground.red, kForeground.green, kForeground.blue};
constexpr Rgb kBg{kBackground.red, kBackground.green, kBackground.blue};
constexpr double kCanvas = 1024.0;

// Quiet noise, the same on every run: levels from 0 to about 250, a different one in
// almost every band.
SampleBlock noiseBlock() {
  SampleBlock block;
  std::uint32_t state = 12345;
  for (auto& channel : block.samples) {
    for (unsigned char& sample : channel) {
      state = state * 1664525u + 1013904223u;
      sample = static_cast<unsigned char>(static_cast<int>(state >> 24) % 41 - 20);
    }
  }
  return block;
}

// Samples of alternating sign under a smooth arch: a reading of the bytes as unsigned
// would draw every other column near full height.
SampleBlock archBlock() {
  SampleBlock block;
  for (int i = 0; i < kBlockSamples; ++i) {
    const long size = std::lround(100.0 * std::sin(3.14159265358979 * (i + 0.5) / kBlockSamples));
    const long value = i % 2 == 0 ? size : -size;
    block.samples[0][i] = block.samples[1][i] = static_cast<unsigned char>(value & 0xFF);
  }
  return block;
}

// The client area of the frame, cut out of a screenshot.
struct ClientArea {
  const ScreenShot* shot = nullptr;
  POINT origin{};
  int width = 0;
  int height = 0;

  Rgb at(int x, int y) const { return shot->at(origin.x + x, origin.y + y); }
  // Nearer the foreground than the background.
  bool drawn(int x, int y) const {
    const Rgb c = at(x, y);
    auto distance = [&c](const Rgb& d) {
      return (c.r - d.r) * (c.r - d.r) + (c.g - d.g) * (c.g - d.g) + (c.b - d.b) * (c.b - d.b);
    };
    return distance(kFg) < distance(kBg);
  }
  int firstDrawnRow(int x) const {
    for (int y = 0; y < height; ++y) {
      if (drawn(x, y)) return y;
    }
    return -1;
  }
  int lastDrawnRow(int x) const {
    for (int y = height - 1; y >= 0; --y) {
      if (drawn(x, y)) return y;
    }
    return -1;
  }
  // The client pixel column whose centre shows canvas column cx.
  int column(double cx) const { return static_cast<int>(cx * width / kCanvas); }
  double scaleY(double cy) const { return cy * height / kCanvas; }
};

// A few pixels either way: scaling rounds, and a scaled edge may blend two rows.
constexpr double kTolerance = 2.5;

void expectSpectrum(const ClientArea& area, const float* levels) {
  int tallest = 1;
  for (int band = 1; band < tarnevox::kBandCount; ++band) {
    SCOPED_TRACE("band " + std::to_string(band));
    if (levels[band] > levels[tallest]) tallest = band;
    const int x = area.column(16.0 * band + 0.5);
    // The peak marker rests on the bar, reaching 8/3 canvas pixels above its top.
    const double top = area.scaleY(kCanvas - 4.0 * levels[band] - 8.0 / 3.0);
    if (top > area.height - 3) {
      // Only the marker's upper half shows, if anything does at this scale.
      const int row = area.firstDrawnRow(x);
      EXPECT_TRUE(row == -1 || row >= area.height - 3) << "drawn at row " << row;
      continue;
    }
    EXPECT_NEAR(area.firstDrawnRow(x), top, kTolerance);
    EXPECT_EQ(area.lastDrawnRow(x), area.height - 1) << "the bar does not stand on the bottom";
  }
  // The tallest bar in the foreground colour, 14 canvas pixels wide, background beside it.
  const int middle = static_cast<int>(area.scaleY(kCanvas - 2.0 * levels[tallest]));
  const int centre = area.column(16.0 * tallest + 0.5);
  EXPECT_TRUE(looksLike(area.at(centre, middle), kFg, 4));
  if (area.width >= 600) {
    int left = centre, right = centre;
    while (left > 0 && area.drawn(left - 1, middle)) --left;
    while (right + 1 < area.width && area.drawn(right + 1, middle)) ++right;
    const double halfWidth = 16.0 / 2.28;
    EXPECT_NEAR(left, (16.0 * tallest - halfWidth) * area.width / kCanvas, kTolerance);
    EXPECT_NEAR(right + 1, (16.0 * tallest + halfWidth) * area.width / kCanvas, kTolerance);
  }
  EXPECT_TRUE(looksLike(area.at(area.width - 1, 0), kBg, 4)) << "the background is not the skin's";
}

void expectWaveform(const ClientArea& area, const float* targets) {
  const double step = kCanvas / 576.0;
  for (int x = 2; x < area.width - 2; x += area.width / 37) {
    SCOPED_TRACE("x " + std::to_string(x));
    const double cx = (x + 0.5) * kCanvas / area.width;
    const int i = static_cast<int>(std::lround((cx + step / 4) / step));
    const double half = 4.0 * targets[i < 576 ? i : 575];
    EXPECT_NEAR(area.firstDrawnRow(x), area.scaleY(512.0 - half), kTolerance);
    EXPECT_NEAR(area.lastDrawnRow(x) + 1, area.scaleY(512.0 + half), kTolerance);
  }
  const int centreRow = area.height / 2;
  EXPECT_TRUE(looksLike(area.at(area.width / 2, centreRow), kFg, 4));
  EXPECT_TRUE(looksLike(area.at(area.width / 2, 0), kBg, 4)) << "the background is not the skin's";
}

class ScreenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(library_.load(besideThisProgram(L"vis_tarnevox.dll"), &error)) << error;
  }

  // Starts the module in a frame of the first size, then resizes the frame through the
  // others while it runs, checking the screen at each.
  void runThroughSizes(int module, const SampleBlock& block, const std::vector<SIZE>& sizes) {
    float levels[tarnevox::kBandCount];
    float targets[tarnevox::kWaveColumnCount];
    tarnevox::analyseBlock(block.samples, levels, targets);
    const WavData wav = wavOfBlock(block);

    SessionOptions options;
    options.module = module;
    options.wav = &wav;
    options.skin.foreground = kForeground;
    options.skin.background = kBackground;
    options.frameWidth = sizes[0].cx;
    options.frameHeight = sizes[0].cy;
    VisSession session;
    std::string error;
    ASSERT_TRUE(session.start(library_, options, &error)) << error;
    ASSERT_EQ(session.initResult(), 0);
    const HWND frame = session.frameWindow();
    for (size_t n = 0; n < sizes.size(); ++n) {
      SCOPED_TRACE(std::to_string(sizes[n].cx) + " x " + std::to_string(sizes[n].cy));
      session.resizeFrame(sizes[n].cx, sizes[n].cy);
      session.pumpFor(n == 0 ? 1500 : 600);  // settled values, earlier pictures faded

      ScreenShot shot;
      ASSERT_TRUE(grabScreen(shot));
      ClientArea area;
      area.shot = &shot;
      RECT client;
      GetClientRect(frame, &client);
      ClientToScreen(frame, &area.origin);
      area.width = client.right;
      area.height = client.bottom;
      ASSERT_EQ(area.width, sizes[n].cx);
      ASSERT_EQ(area.height, sizes[n].cy);
      ASSERT_LE(area.origin.x + area.width, shot.width()) << "the frame is off the screen";
      ASSERT_LE(area.origin.y + area.height, shot.height()) << "the frame is off the screen";
      if (module == 1) {
        expectSpectrum(area, levels);
      } else {
        expectWaveform(area, targets);
      }
    }
    session.requestStop();
    EXPECT_EQ(session.wait().renderNonZero, 0);
  }

  PluginLibrary library_;
};

TEST_F(ScreenTest, TheWaveformFillsEveryFrameScaled) {
  runThroughSizes(0, archBlock(), {{275, 116}, {600, 400}, {1024, 1024}, {1600, 300}});
}

TEST_F(ScreenTest, TheSpectrumFillsEveryFrameScaled) {
  runThroughSizes(1, noiseBlock(), {{1600, 300}, {1024, 1024}, {600, 400}, {275, 116}});
}

}  // namespace
