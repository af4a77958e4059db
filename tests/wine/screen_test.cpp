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
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

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

// What one module shows for one block, by the drawing formulas at any size.
struct Expected {
  int module = 0;
  float levels[tarnevox::kBandCount];
  float targets[tarnevox::kWaveColumnCount];

  Expected(int shownModule, const SampleBlock& block) : module(shownModule) {
    tarnevox::analyseBlock(block.samples, levels, targets);
  }
  void check(const ClientArea& area) const {
    if (module == 1) {
      expectSpectrum(area, levels);
    } else {
      expectWaveform(area, targets);
    }
  }
};

// The screen's rectangle at `area` (screen coordinates) holds the expected picture at its
// size. After a resize the device is reset, for which Wine builds its OpenGL context and
// shaders afresh; on a busy machine its first frame may reach the screen a second or more
// later, so a picture that is not yet right is looked at again, twice at most, before it
// counts. `area` is asked again at each look, as windows may still be moving.
void expectOnScreen(VisSession& session, const Expected& expected,
                    const std::function<RECT()>& area, ScreenShot* lastShot = nullptr) {
  for (int look = 1; look <= kLooks; ++look) {
    session.pumpFor(1500);
    ScreenShot shot;
    ASSERT_TRUE(grabScreen(shot));
    const RECT rect = area();
    ClientArea client;
    client.shot = &shot;
    client.origin = POINT{rect.left, rect.top};
    client.width = rect.right - rect.left;
    client.height = rect.bottom - rect.top;
    ASSERT_GT(client.width, 0);
    ASSERT_LE(rect.right, shot.width()) << "off the screen";
    ASSERT_LE(rect.bottom, shot.height()) << "off the screen";
    ::testing::TestPartResultArray early;
    {
      // Only the last look reports what it finds.
      std::unique_ptr<::testing::ScopedFakeTestPartResultReporter> quiet;
      if (look < kLooks) {
        quiet = std::make_unique<::testing::ScopedFakeTestPartResultReporter>(
            ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &early);
      }
      expected.check(client);
    }
    if (lastShot != nullptr) *lastShot = std::move(shot);
    if (early.size() == 0) return;
    std::printf("%d x %d: not yet right on look %d\n", client.width, client.height, look);
  }
}

// The client area of a window, in screen coordinates.
RECT clientOnScreen(HWND window) {
  RECT client = {};
  GetClientRect(window, &client);
  MapWindowPoints(window, HWND_DESKTOP, reinterpret_cast<POINT*>(&client), 2);
  return client;
}

class ScreenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(library_.load(besideThisProgram(L"vis_tarnevox.dll"), &error)) << error;
  }

  SessionOptions optionsFor(int module, const WavData& wav, SIZE frame) const {
    SessionOptions options;
    options.module = module;
    options.wav = &wav;
    options.skin.foreground = kForeground;
    options.skin.background = kBackground;
    options.frameWidth = frame.cx;
    options.frameHeight = frame.cy;
    return options;
  }

  // Starts the module in a frame of the first size, then resizes the frame through the
  // others while it runs, checking the screen at each.
  void runThroughSizes(int module, const SampleBlock& block, const std::vector<SIZE>& sizes) {
    const Expected expected(module, block);
    const WavData wav = wavOfBlock(block);
    VisSession session;
    std::string error;
    ASSERT_TRUE(session.start(library_, optionsFor(module, wav, sizes[0]), &error)) << error;
    ASSERT_EQ(session.initResult(), 0);
    const HWND frame = session.frameWindow();
    for (size_t n = 0; n < sizes.size(); ++n) {
      SCOPED_TRACE(std::to_string(sizes[n].cx) + " x " + std::to_string(sizes[n].cy));
      session.resizeFrame(sizes[n].cx, sizes[n].cy);
      RECT client;
      GetClientRect(frame, &client);
      ASSERT_EQ(client.right, sizes[n].cx);
      ASSERT_EQ(client.bottom, sizes[n].cy);
      expectOnScreen(session, expected, [frame] { return clientOnScreen(frame); });
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

// Input as the user makes it, through the system's queue: a double-click reaches the
// visual window as one only when its class asks for double-clicks.
void doubleClickAt(POINT point) {
  SetCursorPos(point.x, point.y);
  INPUT clicks[4] = {};
  for (int i = 0; i < 4; ++i) {
    clicks[i].type = INPUT_MOUSE;
    clicks[i].mi.dwFlags = i % 2 == 0 ? MOUSEEVENTF_LEFTDOWN : MOUSEEVENTF_LEFTUP;
  }
  SendInput(4, clicks, sizeof(INPUT));
}

void pressKeys(std::initializer_list<WORD> keys) {
  std::vector<INPUT> input;
  for (const WORD key : keys) {
    INPUT down = {};
    down.type = INPUT_KEYBOARD;
    down.ki.wVk = key;
    input.push_back(down);
  }
  for (auto key = keys.end(); key != keys.begin();) {
    INPUT up = {};
    up.type = INPUT_KEYBOARD;
    up.ki.wVk = *--key;
    up.ki.dwFlags = KEYEVENTF_KEYUP;
    input.push_back(up);
  }
  SendInput(static_cast<UINT>(input.size()), input.data(), sizeof(INPUT));
}

POINT centreOf(const RECT& rect) {
  return POINT{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

BOOL CALLBACK addMonitorRect(HMONITOR, HDC, LPRECT rect, LPARAM list) {
  reinterpret_cast<std::vector<RECT>*>(list)->push_back(*rect);
  return TRUE;
}

std::vector<RECT> monitorRects() {
  std::vector<RECT> rects;
  EnumDisplayMonitors(nullptr, nullptr, addMonitorRect, reinterpret_cast<LPARAM>(&rects));
  return rects;
}

// Pixels of `rect` that differ between two screenshots.
long differingPixels(const ScreenShot& a, const ScreenShot& b, const RECT& rect) {
  long differing = 0;
  for (int y = rect.top; y < rect.bottom; ++y) {
    for (int x = rect.left; x < rect.right; ++x) {
      if (!looksLike(a.at(x, y), b.at(x, y), 0)) ++differing;
    }
  }
  return differing;
}

// Full screen is a visible top-level window of the plug-in's class (one that an earlier
// trip left hidden does not count). Waits until it is there (or gone), pumping meanwhile.
HWND fullScreenWindow() {
  for (HWND w = FindWindowExW(nullptr, nullptr, L"Tarnevox", nullptr); w != nullptr;
       w = FindWindowExW(nullptr, w, L"Tarnevox", nullptr)) {
    if (IsWindowVisible(w)) return w;
  }
  return nullptr;
}
bool waitForFullScreen(VisSession& session, bool wanted) {
  for (int i = 0; i < 100; ++i) {
    if ((fullScreenWindow() != nullptr) == wanted) return true;
    session.pumpFor(20);
  }
  return false;
}

// `measure` with the calling thread per-monitor DPI aware: rectangles in the monitors' own
// pixels, those of the X screen. This host declares no awareness, so at a system DPI above
// 96 its own rectangles are scaled.
template <class Measure>
auto inOwnPixels(Measure measure) {
  using SetContext = HANDLE(WINAPI*)(HANDLE);
  const auto set = reinterpret_cast<SetContext>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetThreadDpiAwarenessContext")));
  const HANDLE previous = set != nullptr ? set(reinterpret_cast<HANDLE>(-4)) : nullptr;
  const auto result = measure();
  if (previous != nullptr) set(previous);
  return result;
}

RECT windowRectInOwnPixels(HWND window) {
  return inOwnPixels([window] {
    RECT rect = {};
    GetWindowRect(window, &rect);
    return rect;
  });
}

// Two monitors side by side (TARNEVOX_PRIVATE_MONITORS of tools/private-wine.sh or
// tools/wine32-root.sh), the frame on the second, smaller one. Full screen draws at the
// monitor's own pixels, also when the system DPI scales the host's windows (LogPixels
// 144 under Wine 10: the frame's picture is then stretched, and only full screen is
// checked to the pixel).
TEST_F(ScreenTest, FullScreenFillsTheFramesMonitorAtItsSizeAndGoesBackToTheFrame) {
  const std::vector<RECT> monitors = monitorRects();
  const std::vector<RECT> ownPixels = inOwnPixels(monitorRects);
  // Wine 10 puts every monitor of one X screen at the screen's first one: it gets one.
  ASSERT_EQ(monitors.size(), ownPixels.size());
  ASSERT_TRUE(monitors.size() == 1 || monitors.size() == 2) << "one or two monitors";
  const size_t last = monitors.size() - 1;
  const RECT first = monitors[0].left == 0 ? monitors[0] : monitors[last];
  const RECT second = monitors[0].left == 0 ? monitors[last] : monitors[0];
  const RECT firstOwn = ownPixels[0].left == 0 ? ownPixels[0] : ownPixels[last];
  const RECT secondOwn = ownPixels[0].left == 0 ? ownPixels[last] : ownPixels[0];
  const bool twoMonitors = last == 1;
  const bool scaled = !EqualRect(&second, &secondOwn);
  for (const RECT& rect : {first, second, firstOwn, secondOwn}) {
    std::printf("monitor %ld x %ld at %ld, %ld\n", rect.right - rect.left, rect.bottom - rect.top,
                rect.left, rect.top);  // as the host sees them, then in their own pixels
  }
  ScreenShot empty;
  ASSERT_TRUE(grabScreen(empty));

  const Expected expected(1, tonesBlock());
  const WavData wav = wavOfBlock(tonesBlock());
  VisSession session;
  std::string error;
  ASSERT_TRUE(session.start(library_, optionsFor(1, wav, SIZE{600, 400}), &error)) << error;
  ASSERT_EQ(session.initResult(), 0);
  const HWND frame = session.frameWindow();
  const HWND visual = session.visualWindow();
  // Mostly on the second monitor, a little over the first.
  SetWindowPos(frame, nullptr, second.left + (twoMonitors ? -40 : 40), second.top + 120, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  RECT frameRect;
  GetWindowRect(frame, &frameRect);
  const RECT frameOwn = windowRectInOwnPixels(frame);
  const auto inFrame = [frame] { return clientOnScreen(frame); };
  ScreenShot framed;
  if (scaled) {
    session.pumpFor(1500);
    ASSERT_TRUE(grabScreen(framed));
  } else {
    expectOnScreen(session, expected, inFrame, &framed);
  }

  SCOPED_TRACE("entered by a double-click");
  doubleClickAt(centreOf(clientOnScreen(frame)));
  ASSERT_TRUE(waitForFullScreen(session, true)) << "no full screen";
  const HWND fullScreen = fullScreenWindow();
  const RECT covered = windowRectInOwnPixels(fullScreen);
  EXPECT_TRUE(EqualRect(&covered, &secondOwn)) << "not exactly the frame's monitor";
  EXPECT_NE(GetWindowLongPtrW(fullScreen, GWL_EXSTYLE) & WS_EX_TOPMOST, 0);
  EXPECT_EQ(GetWindowLongPtrW(fullScreen, GWL_STYLE) & (WS_CAPTION | WS_THICKFRAME), 0);
  ScreenShot full;
  expectOnScreen(session, expected, [secondOwn] { return secondOwn; }, &full);
  RECT firstExceptFrame = firstOwn;
  firstExceptFrame.right = frameOwn.left;  // where the frame overlaps it, it still shows
  if (twoMonitors) {
    EXPECT_EQ(differingPixels(framed, full, firstExceptFrame), 0) << "the first monitor changed";
  }

  // The pointer has rested over the picture since the double-click, over 2 s by now.
  session.pumpFor(700);
  CURSORINFO pointer = {};
  pointer.cbSize = sizeof pointer;
  ASSERT_TRUE(GetCursorInfo(&pointer));
  EXPECT_EQ(pointer.hCursor, nullptr) << "the resting pointer still shows";
  INPUT move = {};
  move.type = INPUT_MOUSE;
  move.mi.dx = 7;
  move.mi.dwFlags = MOUSEEVENTF_MOVE;
  SendInput(1, &move, sizeof move);
  session.pumpFor(200);
  ASSERT_TRUE(GetCursorInfo(&pointer));
  EXPECT_NE(pointer.hCursor, nullptr) << "the moved pointer does not show";

  SCOPED_TRACE("left by Alt+Enter");
  pressKeys({VK_MENU, VK_RETURN});
  ASSERT_TRUE(waitForFullScreen(session, false)) << "still in full screen";
  EXPECT_EQ(GetParent(visual), frame);
  if (!scaled) expectOnScreen(session, expected, inFrame);
  RECT frameAfter;
  GetWindowRect(frame, &frameAfter);
  EXPECT_TRUE(EqualRect(&frameAfter, &frameRect)) << "the frame moved";

  SCOPED_TRACE("left by Escape, which the host does not get");
  doubleClickAt(centreOf(clientOnScreen(frame)));
  ASSERT_TRUE(waitForFullScreen(session, true)) << "no full screen";
  session.pumpFor(300);
  pressKeys({VK_ESCAPE});
  ASSERT_TRUE(waitForFullScreen(session, false)) << "still in full screen";
  ASSERT_FALSE(session.pumpFor(500)) << "the host stopped on the Escape";

  SCOPED_TRACE("stopped in full screen");
  doubleClickAt(centreOf(clientOnScreen(frame)));
  ASSERT_TRUE(waitForFullScreen(session, true)) << "no full screen";
  session.pumpFor(1000);
  session.requestStop();
  const SessionReport report = session.wait();
  std::printf("the stop in full screen took %.0f ms\n", report.longestQuitMs);
  // Beyond the bound the render thread would have been terminated, not ended.
  EXPECT_LT(report.longestQuitMs, 2000.0) << "the render thread did not end";
  EXPECT_EQ(report.stopReason, StopReason::kRequested);
  EXPECT_EQ(report.renderNonZero, 0);
  // Alt's own release is a plain key-up, which goes to the host as every other key does.
  EXPECT_TRUE(report.keysDown.empty()) << "Alt+Enter or Escape went to the host";
  std::printf("keys the host got: %d messages\n", report.keyMessages);
  EXPECT_FALSE(IsWindow(fullScreen));
  EXPECT_EQ(FindWindowW(L"Tarnevox", nullptr), nullptr);
  ScreenShot after;
  ASSERT_TRUE(grabScreen(after));
  if (twoMonitors) {
    EXPECT_EQ(differingPixels(empty, after, firstOwn), 0) << "something stayed on the first monitor";
  }
  EXPECT_EQ(differingPixels(empty, after, secondOwn), 0) << "something stayed on the second monitor";
}

}  // namespace
