// The real render thread drawing through Wine's Direct3D 9 onto a top-level window,
// checked on the X screen as a user would see it.
#include <windows.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/render_thread.h"
#include "engine/renderer.h"
#include "tests/wine/screen_grab.h"

using namespace tarnevox;
using tarnevox::testing::grabScreen;
using tarnevox::testing::looksLike;
using tarnevox::testing::Rgb;
using tarnevox::testing::ScreenShot;

namespace {

void pumpMessages(DWORD milliseconds) {
  const DWORD end = GetTickCount() + milliseconds;
  while (static_cast<LONG>(end - GetTickCount()) > 0) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    Sleep(10);
  }
}

::testing::AssertionResult pixelIs(const ScreenShot& shot, int x, int y, const Rgb& expected) {
  const Rgb actual = shot.at(x, y);
  if (looksLike(actual, expected)) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "pixel (" << x << ", " << y << ") is " << actual.r
                                       << "," << actual.g << "," << actual.b << ", expected "
                                       << expected.r << "," << expected.g << "," << expected.b;
}

// Colours that pack back to exact bytes.
constexpr Rgb kForeground{255, 204, 0};
constexpr Rgb kBackground{0, 51, 102};

ColorF toColor(const Rgb& c) {
  return ColorF{1.0f, static_cast<float>(c.r / 255.0), static_cast<float>(c.g / 255.0),
                static_cast<float>(c.b / 255.0)};
}

class RealDisplayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.lpszClassName = L"TarnevoxRealDisplayTest";
    RegisterClassW(&windowClass);
    window_ = CreateWindowExW(WS_EX_TOPMOST, windowClass.lpszClassName, L"display test",
                              WS_POPUP | WS_VISIBLE, 0, 0, 1024, 1024, nullptr, nullptr,
                              nullptr, nullptr);
    ASSERT_NE(window_, nullptr);
    pumpMessages(200);
  }
  void TearDown() override {
    if (renderer_ != nullptr) delete renderer_;
    if (window_ != nullptr) DestroyWindow(window_);
  }

  // Starts the real render thread in the given mode with the known colours.
  void start(int mode) {
    renderer_ = createRenderer();
    ASSERT_NE(renderer_, nullptr);
    renderer_->mode = mode;
    setForeground(renderer_, toColor(kForeground));
    setBackground(renderer_, toColor(kBackground));
    renderer_->window = window_;
    HANDLE ready = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    renderer_->readyEvent = ready;
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    renderer_->counterFrequency = frequency.QuadPart;
    ASSERT_EQ(startThread(renderer_), 0);
    ASSERT_EQ(WaitForSingleObject(ready, 20000), WAIT_OBJECT_0);
    CloseHandle(ready);
    ASSERT_EQ(renderer_->initResult, 0) << "Direct3D did not start";
  }

  // Shown values equal to their targets stay put; held markers never fall.
  void show(const float* spectrum, const float* peakLevels, const float* wave) {
    EnterCriticalSection(&renderer_->lock);
    for (int i = 0; i < kBandCount; ++i) {
      renderer_->targetSpectrum[i] = renderer_->shownSpectrum[i] = spectrum[i];
      renderer_->peaks[i] = PeakState{peakLevels[i], 0.0f, 1.0e9f};
    }
    for (int i = 0; i < kWaveColumnCount; ++i) {
      renderer_->targetWave[i] = renderer_->shownWave[i] = wave[i];
    }
    LeaveCriticalSection(&renderer_->lock);
    pumpMessages(1200);  // long enough for earlier pictures to fade out
  }

  void stop() {
    EXPECT_EQ(stopThread(renderer_), 0);
    EXPECT_EQ(renderer_->device, nullptr);
    EXPECT_EQ(renderer_->d3d, nullptr);
    EXPECT_EQ(renderer_->d3dModule, nullptr);
    delete renderer_;
    renderer_ = nullptr;
  }

  HWND window_ = nullptr;
  Renderer* renderer_ = nullptr;
};

// First row, scanning down from the top, that shows the foreground in column x.
int firstForegroundRow(const ScreenShot& shot, int x, int fromY) {
  for (int y = fromY; y < 1024; ++y) {
    if (looksLike(shot.at(x, y), kForeground)) return y;
  }
  return -1;
}

TEST_F(RealDisplayTest, SpectrumBarsAndPeakMarkersAsAUserSeesThem) {
  float spectrum[kBandCount];
  float peaks[kBandCount];
  float wave[kWaveColumnCount] = {};
  for (int i = 0; i < kBandCount; ++i) {
    spectrum[i] = static_cast<float>(20 + 3 * i);  // 80 to 836 pixels tall
    peaks[i] = spectrum[i] + 15.0f;                 // 60 pixels above the bar's top
  }
  start(kModeSpectrum);
  show(spectrum, peaks, wave);
  ScreenShot shot;
  ASSERT_TRUE(grabScreen(shot));
  ASSERT_GE(shot.width(), 1024);
  ASSERT_GE(shot.height(), 1024);

  for (int band = 1; band < kBandCount; band += 7) {
    SCOPED_TRACE(band);
    const int centre = 16 * band;
    const int top = 1024 - 4 * static_cast<int>(spectrum[band]);
    // The bar: from its top edge down to the bottom of the canvas, 14 pixels wide.
    EXPECT_EQ(firstForegroundRow(shot, centre, top - 40), top);
    EXPECT_TRUE(pixelIs(shot, centre, 1023, kForeground));
    EXPECT_TRUE(pixelIs(shot, centre - 6, top + 2, kForeground));
    EXPECT_TRUE(pixelIs(shot, centre + 6, top + 2, kForeground));
    // The gap between bars shows the background.
    EXPECT_TRUE(pixelIs(shot, centre + 8, 1020, kBackground));
    EXPECT_TRUE(pixelIs(shot, centre, top - 1, kBackground));
    // The marker: 5.33 pixels tall, centred 60 pixels above the bar's top, so it covers
    // the six pixel rows whose centres lie within 2.67 of that line.
    const int marker = top - 60;
    EXPECT_EQ(firstForegroundRow(shot, centre, 0), marker - 3);
    EXPECT_TRUE(pixelIs(shot, centre, marker + 2, kForeground));
    EXPECT_TRUE(pixelIs(shot, centre, marker + 3, kBackground));
    EXPECT_TRUE(pixelIs(shot, centre, marker - 4, kBackground));
  }
  EXPECT_TRUE(pixelIs(shot, 1020, 10, kBackground));
  stop();
}

TEST_F(RealDisplayTest, WaveformColumnsAreSymmetricAboutTheCentreLine) {
  float spectrum[kBandCount] = {};
  float peaks[kBandCount] = {};
  float wave[kWaveColumnCount];
  for (int i = 0; i < kWaveColumnCount; ++i) wave[i] = static_cast<float>(10 + (i % 90));
  start(kModeWaveform);
  show(spectrum, peaks, wave);
  ScreenShot shot;
  ASSERT_TRUE(grabScreen(shot));

  for (int column = 9; column < kWaveColumnCount; column += 50) {
    SCOPED_TRACE(column);
    // The first pixel column whose centre lies inside this waveform column, which reaches
    // from three quarters of a step left of column x step to a quarter step right of it.
    const double left = column * (1024.0 / 576.0) - 0.75 * (1024.0 / 576.0);
    const int x = static_cast<int>(std::ceil(left - 0.5));
    const int halfHeight = 4 * static_cast<int>(wave[column]);
    const int top = firstForegroundRow(shot, x, 0);
    ASSERT_GE(top, 0);
    int bottom = top;
    while (bottom + 1 < 1024 && looksLike(shot.at(x, bottom + 1), kForeground)) ++bottom;
    EXPECT_EQ(top, 512 - halfHeight);
    EXPECT_EQ(bottom, 512 + halfHeight - 1);
    EXPECT_TRUE(pixelIs(shot, x, top - 1, kBackground));
    EXPECT_TRUE(pixelIs(shot, x, bottom + 1, kBackground));
  }
  stop();
}

TEST_F(RealDisplayTest, StoppingReleasesTheDeviceSoASecondStartWorks) {
  float spectrum[kBandCount];
  float peaks[kBandCount];
  float wave[kWaveColumnCount] = {};
  for (int i = 0; i < kBandCount; ++i) spectrum[i] = peaks[i] = 100.0f;
  start(kModeSpectrum);
  stop();
  start(kModeSpectrum);  // the same window takes a new device
  show(spectrum, peaks, wave);
  ScreenShot shot;
  ASSERT_TRUE(grabScreen(shot));
  EXPECT_TRUE(pixelIs(shot, 16 * 10, 1024 - 200, kForeground));
  EXPECT_TRUE(pixelIs(shot, 16 * 10, 1024 - 420, kBackground));
  stop();
}

}  // namespace
