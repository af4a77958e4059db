// What a user sees: the real plug-in in the stand-in host, its frame's client area read
// from a screenshot of the X screen. Run by tools/private-wine.sh, whose Wine shows a child
// window's Direct3D frames on the screen (Debian's own sends them nowhere).
//
// The host hands over the same block on every render call, so the shown values settle on
// the block's targets, the peaks rest on their bars, and every frame is the same picture,
// drawn at the client area's own size: each position and height is the drawing formula's
// at that width and height, to the pixel.
#include <windows.h>

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <memory>
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

// Five quiet tones: a dozen bars of heights from a few pixels to most of the frame, and
// about fifty silent bands, where only the peak marker shows, on the bottom edge.
SampleBlock tonesBlock() {
  SampleBlock block;
  for (int i = 0; i < kBlockSamples; ++i) {
    double value = 0.0;
    int n = 1;
    for (const double bin : {5.0, 23.0, 61.0, 140.0, 200.0}) {
      value += n++ * std::sin(2.0 * 3.14159265358979 * bin * i / 512.0);
    }
    const long sample = std::lround(value);
    block.samples[0][i] = block.samples[1][i] = static_cast<unsigned char>(sample & 0xFF);
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

// The client area of the frame, cut out of a screenshot. Pixel (x, y) has its centre at
// (x + 0.5, y + 0.5) in drawing space, and is drawn by a rectangle that holds its centre.
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
};

// Every edge within a pixel of where the formulas put it at the client area's size.
constexpr double kTolerance = 1.0;
// Screenshots taken, 1.5 s apart, before a picture that is not right counts.
constexpr int kLooks = 3;

void expectSpectrum(const ClientArea& area, const float* levels) {
  const double step = area.width / 64.0;
  const double halfWidth = std::max(step / 2.28, 0.5);
  const double scale = area.height / 256.0;
  const double markerHalf = std::max(area.height / 384.0, 0.5);  // at least a pixel tall
  int tallest = 0;
  for (int band = 0; band < tarnevox::kBandCount; ++band) {
    SCOPED_TRACE("band " + std::to_string(band) + ", level " + std::to_string(levels[band]));
    if (levels[band] > levels[tallest]) tallest = band;
    const int x = static_cast<int>(step * band);
    // The peak marker rests on the bar; on a silent band it alone shows, on the bottom edge.
    const double top = area.height - scale * levels[band] - markerHalf;
    EXPECT_NEAR(area.firstDrawnRow(x), top, kTolerance);
    EXPECT_EQ(area.lastDrawnRow(x), area.height - 1) << "nothing stands on the bottom";
  }
  // The tallest bar in the foreground colour, its sides where the formula puts them.
  const double centre = step * tallest;
  const int middle = static_cast<int>(area.height - scale * levels[tallest] / 2);
  EXPECT_TRUE(looksLike(area.at(static_cast<int>(centre), middle), kFg, 4));
  if (step - 2 * halfWidth >= 1.0) {  // otherwise neighbouring bars may touch
    int left = static_cast<int>(centre), right = static_cast<int>(centre);
    while (left > 0 && area.drawn(left - 1, middle)) --left;
    while (right + 1 < area.width && area.drawn(right + 1, middle)) ++right;
    EXPECT_NEAR(left, centre - halfWidth, kTolerance);
    EXPECT_NEAR(right + 1, centre + halfWidth, kTolerance);
  }
  EXPECT_TRUE(looksLike(area.at(area.width - 1, 0), kBg, 4)) << "the background is not the skin's";
}

void expectWaveform(const ClientArea& area, const float* targets) {
  const double step = area.width / 576.0;
  const double scale = area.height / 256.0;
  const double centreLine = area.height / 2.0;
  for (int x = 2; x < area.width - 2; x += area.width / 37) {
    SCOPED_TRACE("x " + std::to_string(x));
    // Column i reaches from three quarters of a step left of i x step to a quarter right.
    const int i = static_cast<int>(std::floor((x + 0.5) / step + 0.75));
    const double half = scale * targets[i < 576 ? i : 575];
    EXPECT_NEAR(area.firstDrawnRow(x), centreLine - half, kTolerance);
    EXPECT_NEAR(area.lastDrawnRow(x) + 1, centreLine + half, kTolerance);
  }
  EXPECT_TRUE(looksLike(area.at(area.width / 2, area.height / 2), kFg, 4));
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
      // Settled values and faded trails at the start. After a resize the device is reset,
      // for which Wine builds its OpenGL context and shaders afresh; on a busy machine its
      // first frame may reach the screen a second or more later, so a picture that is not
      // yet right is looked at again, twice at most, before it counts.
      for (int look = 1; look <= kLooks; ++look) {
        session.pumpFor(1500);
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
        ::testing::TestPartResultArray early;
        {
          // Only the last look reports what it finds.
          std::unique_ptr<::testing::ScopedFakeTestPartResultReporter> quiet;
          if (look < kLooks) {
            quiet = std::make_unique<::testing::ScopedFakeTestPartResultReporter>(
                ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD,
                &early);
          }
          if (module == 1) {
            expectSpectrum(area, levels);
          } else {
            expectWaveform(area, targets);
          }
        }
        if (early.size() == 0) break;
        std::printf("%ld x %ld: not yet right on look %d\n", sizes[n].cx, sizes[n].cy, look);
      }
    }
    session.requestStop();
    EXPECT_EQ(session.wait().renderNonZero, 0);
  }

  PluginLibrary library_;
};

TEST_F(ScreenTest, TheWaveformIsDrawnAtEveryFramesSize) {
  runThroughSizes(0, archBlock(), {{275, 116}, {600, 400}, {1024, 1024}, {1600, 300}});
}

TEST_F(ScreenTest, TheSpectrumIsDrawnAtEveryFramesSize) {
  runThroughSizes(1, tonesBlock(), {{1600, 300}, {1024, 1024}, {600, 400}, {275, 116}});
}

}  // namespace
