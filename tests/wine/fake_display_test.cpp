// The Direct3D device, the quad batch and the frame drawing, called directly on the test's
// thread against the recording Direct3D 9 stand-in: the exact calls, what reaches the
// device, and every way a call can fail.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "display/direct3d_device.h"
#include "display/frame_drawing.h"
#include "display/quad_batch.h"
#include "engine/renderer.h"
#include "plugin/host_records.h"
#include "plugin/vis_window.h"
#include "tests/wine/fake_d3d9.h"
#include "tests/wine/fake_display_setup.h"

using namespace tarnevox;

// MonitorFromWindow answers this while it is set (see the end of the file), so that the
// window can seem to be on a monitor that this machine does not have.
HMONITOR gWindowMonitor = nullptr;

namespace {

using Calls = std::vector<std::string>;

const ColorF kBackground{1.0f, 0.2f, 0.4f, 0.6f};  // packs to 0xFF336699
const ColorF kForeground{1.0f, 1.0f, 0.8f, 0.0f};  // packs to 0xFFFFCC00

const Calls kStateTable = {
    "device1.SetRenderState(27, 1)",          "device1.SetRenderState(19, 5)",
    "device1.SetRenderState(20, 6)",          "device1.SetRenderState(15, 0)",
    "device1.SetTextureStageState(0, 1, 4)",  "device1.SetTextureStageState(0, 2, 2)",
    "device1.SetTextureStageState(0, 3, 0)",  "device1.SetTextureStageState(0, 4, 4)",
    "device1.SetTextureStageState(0, 5, 2)",  "device1.SetTextureStageState(0, 6, 0)",
    "device1.SetSamplerState(0, 6, 2)",       "device1.SetSamplerState(0, 5, 2)",
    "device1.SetRenderState(7, 0)",
};

// What a frame that draws `triangles` from buffer `vb` logs after TestCooperativeLevel.
Calls frameCalls(const std::string& vb, unsigned triangles) {
  return {"device1.BeginScene()",
          vb + ".Lock(0, 0xe0000, 0x2000)",
          vb + ".Unlock()",
          "device1.SetFVF(0x144)",
          "device1.SetTexture(0, null)",
          "device1.SetStreamSource(0, " + vb + ", 0, 28)",
          "device1.DrawPrimitive(4, 0, " + std::to_string(triangles) + ")",
          "device1.EndScene()",
          "device1.Present(null, null, null, null)"};
}

Calls resourceCalls(const std::string& clearColour) {
  Calls calls = {"device1.CreateVertexBuffer(0xe0000, 0x208, 0x144, 0, null)",
                 "device1.Clear(0, null, 0x3, " + clearColour + ", 1, 0)"};
  calls.insert(calls.end(), kStateTable.begin(), kStateTable.end());
  return calls;
}

Calls concat(Calls a, const Calls& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

double millisecondsSince(const LARGE_INTEGER& start) {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(now.QuadPart - start.QuadPart) * 1000.0 /
         static_cast<double>(frequency.QuadPart);
}

LARGE_INTEGER now() {
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  return counter;
}

// The vertices that draw `index` read from the device.
std::vector<QuadVertex> drawn(unsigned index) {
  std::vector<QuadVertex> vertices(kVertexBufferVertices);
  UINT stride = 0;
  const int count = fake_d3d9_drawn(index, vertices.data(),
                                    static_cast<unsigned>(vertices.size() * sizeof(QuadVertex)),
                                    &stride);
  EXPECT_EQ(stride, sizeof(QuadVertex));
  vertices.resize(count < 0 ? 0 : static_cast<size_t>(count));
  return vertices;
}

class FakeDisplayTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    window_ = tarnevox::testing::beginFakeDisplaySuite(L"TarnevoxFakeDisplayTest", L"fake display",
                                                       WS_POPUP);
  }
  static void TearDownTestSuite() { tarnevox::testing::endFakeDisplaySuite(window_); }

  void SetUp() override {
    ASSERT_NE(window_, nullptr);
    fake_d3d9_reset();
    fake_d3d9_set_dev_caps(0x00110000);  // pure device and hardware transform
    renderer_ = createRenderer();
    ASSERT_NE(renderer_, nullptr);
    ready_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    renderer_->window = window_;
    renderer_->readyEvent = ready_;
    setBackground(renderer_, kBackground);
    setForeground(renderer_, kForeground);
    fillArrays(9.0f);
  }

  void TearDown() override {
    gWindowMonitor = nullptr;
    resizeWindow(1024, 1024);
    releaseDisplay(renderer_);
    EXPECT_EQ(fake::liveObjects(), 0u);
    EXPECT_EQ(fake_d3d9_module_references(), 0);
    EXPECT_EQ(fake::errors(), "");
    delete renderer_;
    CloseHandle(ready_);
  }

  void fillArrays(float value) {
    for (int i = 0; i < kBandCount; ++i) {
      renderer_->shownSpectrum[i] = renderer_->targetSpectrum[i] = value;
      renderer_->peaks[i] = PeakState{value, value, value};
    }
    for (int i = 0; i < kWaveColumnCount; ++i) {
      renderer_->shownWave[i] = renderer_->targetWave[i] = value;
    }
  }
  bool arraysAre(float value) const {
    for (int i = 0; i < kBandCount; ++i) {
      const PeakState& p = renderer_->peaks[i];
      if (renderer_->shownSpectrum[i] != value || renderer_->targetSpectrum[i] != value ||
          p.value != value || p.velocity != value || p.hold != value) {
        return false;
      }
    }
    for (int i = 0; i < kWaveColumnCount; ++i) {
      if (renderer_->shownWave[i] != value || renderer_->targetWave[i] != value) return false;
    }
    return true;
  }

  static void resizeWindow(int width, int height) {
    SetWindowPos(window_, nullptr, 0, 0, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  // Starts the display afresh, as a new start of the module does.
  void restartDisplay() {
    resizeWindow(1024, 1024);
    releaseDisplay(renderer_);
    fake_d3d9_reset();
    fake_d3d9_set_dev_caps(0x00110000);
    renderer_->window = window_;
    startDisplay();
  }

  // What brings on a reset: the device reporting that it can be reset again, or the
  // window's new size, once a pass has seen it and it has held. Returns the reset call
  // that the next frame should make.
  enum class ResetCause { kLoss, kResize };
  std::string causeReset(ResetCause cause) {
    if (cause == ResetCause::kLoss) {
      fake_d3d9_script(FAKE_TEST_COOPERATIVE_LEVEL, tcl(1), tcl(1), fake::kDeviceNotReset);
      return "device1.Reset(1024x1024)";
    }
    resizeWindow(600, 400);
    EXPECT_EQ(drawFrame(renderer_).result, FrameResult::kDrawn);
    Sleep(std::max(kResizeSettleMs, kResizeIntervalMs) + 20);
    mark();
    return "device1.Reset(600x400)";
  }
  // The number of the n-th TestCooperativeLevel from now, for scripts.
  static unsigned tcl(unsigned n) { return fake_d3d9_count(FAKE_TEST_COOPERATIVE_LEVEL) + n; }

  // Starts the display and forgets the start's calls and output.
  void startDisplay() {
    ASSERT_EQ(initDisplay(renderer_), 0);
    mark();
  }
  void mark() {
    mark_ = fake_d3d9_log_size();
    debugMark_ = fake_debug_count();
  }
  Calls callsSinceMark() const { return fake::calls(mark_); }
  std::vector<std::wstring> debugSinceMark() const {
    const std::vector<std::wstring> all = fake::debugLines();
    return std::vector<std::wstring>(all.begin() + debugMark_, all.end());
  }

  void expectAllReleased() {
    EXPECT_EQ(renderer_->vertexBuffer, nullptr);
    EXPECT_EQ(renderer_->device, nullptr);
    EXPECT_EQ(renderer_->d3d, nullptr);
    EXPECT_EQ(renderer_->d3dModule, nullptr);
    EXPECT_EQ(renderer_->window, nullptr);
    EXPECT_EQ(renderer_->readyEvent, nullptr);
    EXPECT_EQ(fake::liveObjects(), 0u);
    EXPECT_EQ(fake_d3d9_module_references(), 0);
  }

  static HWND window_;
  Renderer* renderer_ = nullptr;
  HANDLE ready_ = nullptr;
  unsigned mark_ = 0;
  unsigned debugMark_ = 0;
};

HWND FakeDisplayTest::window_ = nullptr;

// ---- start ----

TEST_F(FakeDisplayTest, StartLoadsCreatesAndSetsTheFixedStateInOrder) {
  ASSERT_EQ(initDisplay(renderer_), 0);
  char createDevice[96];
  std::snprintf(createDevice, sizeof createDevice, "d3d1.CreateDevice(0, 1, 0x%llx, 0x50)",
                static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(window_)));
  EXPECT_EQ(fake::calls(), concat({"LoadLibrary(d3d9.dll)",
                                   "GetProcAddress(d3d9, Direct3DCreate9)",
                                   "Direct3DCreate9(32)", "d3d1.GetAdapterCount()",
                                   "d3d1.GetAdapterMonitor(0)", "d3d1.GetDeviceCaps(0, 1)",
                                   createDevice},
                                  resourceCalls("0xff336699")));
  EXPECT_EQ(renderer_->d3dModule, FAKE_D3D9_MODULE);
  EXPECT_NE(renderer_->d3d, nullptr);
  EXPECT_NE(renderer_->device, nullptr);
  EXPECT_NE(renderer_->vertexBuffer, nullptr);
  EXPECT_EQ(renderer_->window, window_);
  EXPECT_TRUE(arraysAre(0.0f));
  EXPECT_TRUE(fake::debugLines().empty());

  // The presentation parameters reach the device as stored: the fixed ones, with a back
  // buffer of the window's client size.
  D3DPRESENT_PARAMETERS given;
  ASSERT_TRUE(fake_d3d9_create_params(&given));
  EXPECT_EQ(std::memcmp(&given, &renderer_->presentParams, sizeof given), 0);
  D3DPRESENT_PARAMETERS expected;
  std::memset(&expected, 0, sizeof expected);
  expected.BackBufferWidth = 1024;
  expected.BackBufferHeight = 1024;
  expected.BackBufferFormat = D3DFMT_X8R8G8B8;
  expected.SwapEffect = D3DSWAPEFFECT_COPY;  // Present keeps the picture for the trails
  expected.Windowed = TRUE;
  expected.EnableAutoDepthStencil = TRUE;
  expected.AutoDepthStencilFormat = D3DFMT_D16;
  expected.PresentationInterval = D3DPRESENT_INTERVAL_ONE;  // Present waits for the blank
  EXPECT_EQ(std::memcmp(&given, &expected, sizeof given), 0);
}

TEST_F(FakeDisplayTest, BehaviourFlagsFollowTheDeviceCapabilities) {
  struct Case {
    DWORD devCaps;
    const char* flags;
  };
  for (const Case& c : {Case{0x00110000, "0x50"}, Case{0x00010000, "0x40"}, Case{0, "0x20"},
                        Case{0x00100000, "0x30"}, Case{0xFFFFFFFF, "0x50"}}) {
    SCOPED_TRACE(c.devCaps);
    releaseDisplay(renderer_);
    fake_d3d9_reset();
    fake_d3d9_set_dev_caps(c.devCaps);
    renderer_->window = window_;
    ASSERT_EQ(initDisplay(renderer_), 0);
    const Calls created = fake::calls(0, FAKE_D3D_CREATE_DEVICE);
    ASSERT_EQ(created.size(), 1u);
    EXPECT_NE(created[0].find(std::string(", ") + c.flags + ")"), std::string::npos)
        << created[0];
  }
  // Capabilities that cannot be read count as none, whatever the record held before.
  releaseDisplay(renderer_);
  fake_d3d9_reset();
  fake_d3d9_set_dev_caps(0xFFFFFFFF);
  fake_d3d9_script(FAKE_D3D_GET_DEVICE_CAPS, 1, 1, E_FAIL);
  std::memset(&renderer_->deviceCaps, 0xFF, sizeof renderer_->deviceCaps);
  renderer_->window = window_;
  ASSERT_EQ(initDisplay(renderer_), 0);
  EXPECT_EQ(renderer_->deviceCaps.DevCaps, 0u);
  const Calls created = fake::calls(0, FAKE_D3D_CREATE_DEVICE);
  ASSERT_EQ(created.size(), 1u);
  EXPECT_NE(created[0].find(", 0x20)"), std::string::npos) << created[0];
}

TEST_F(FakeDisplayTest, BackBufferIsTheClientAreaWithinTheDeviceLimits) {
  struct Case {
    int width, height;
    DWORD maxTextureWidth, maxTextureHeight;  // 0: the device names no limit
    UINT bufferWidth, bufferHeight;
  };
  for (const Case& c : {Case{275, 116, 0, 0, 275, 116}, Case{1600, 300, 16384, 16384, 1600, 300},
                        Case{5000, 300, 0, 0, 4096, 300}, Case{1600, 900, 1024, 512, 1024, 512},
                        Case{0, 0, 0, 0, 1, 1}}) {
    SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
    resizeWindow(c.width, c.height);
    releaseDisplay(renderer_);
    fake_d3d9_reset();
    fake_d3d9_set_max_texture(c.maxTextureWidth, c.maxTextureHeight);
    renderer_->window = window_;
    ASSERT_EQ(initDisplay(renderer_), 0);
    D3DPRESENT_PARAMETERS given;
    ASSERT_TRUE(fake_d3d9_create_params(&given));
    EXPECT_EQ(given.BackBufferWidth, c.bufferWidth);
    EXPECT_EQ(given.BackBufferHeight, c.bufferHeight);
    // A window at its size, or too large to follow further, or empty, asks for no reset.
    Sleep(kResizeIntervalMs + 20);
    mark();
    EXPECT_EQ(drawFrame(renderer_).result, FrameResult::kDrawn);
    Sleep(kResizeSettleMs + 20);
    EXPECT_EQ(drawFrame(renderer_).result, FrameResult::kDrawn);
    EXPECT_EQ(fake::calls(mark_, FAKE_RESET), Calls{});
  }
}

TEST_F(FakeDisplayTest, StartFailuresReturnFailAndLeaveWhatWasMadeForTheRelease) {
  // No window: nothing is loaded.
  renderer_->window = nullptr;
  EXPECT_EQ(initDisplay(renderer_), E_FAIL);
  EXPECT_EQ(fake_d3d9_log_size(), 0u);
  EXPECT_TRUE(arraysAre(9.0f));

  // The library cannot be loaded: one debugger line, the arrays untouched.
  renderer_->window = window_;
  fake_d3d9_script(FAKE_LOAD_LIBRARY, 1, 1, E_FAIL);
  EXPECT_EQ(initDisplay(renderer_), E_FAIL);
  EXPECT_EQ(renderer_->d3dModule, nullptr);
  EXPECT_EQ(fake::debugLines(), std::vector<std::wstring>{L"Error: Failed to load d3d9.dll.\n"});
  EXPECT_TRUE(arraysAre(9.0f));

  // The factory is missing: the library stays loaded until the release, quietly.
  fake_d3d9_reset();
  fake_d3d9_script(FAKE_GET_PROC_ADDRESS, 1, 1, E_FAIL);
  EXPECT_EQ(initDisplay(renderer_), E_FAIL);
  EXPECT_EQ(renderer_->d3dModule, FAKE_D3D9_MODULE);
  EXPECT_EQ(fake_d3d9_module_references(), 1);
  EXPECT_TRUE(arraysAre(9.0f));
  EXPECT_TRUE(fake::debugLines().empty());
  releaseDisplay(renderer_);
  EXPECT_EQ(fake_d3d9_module_references(), 0);

  // The factory returns nothing: the arrays have been zeroed by then.
  fake_d3d9_reset();
  renderer_->window = window_;
  fake_d3d9_script(FAKE_DIRECT3D_CREATE9, 1, 1, E_FAIL);
  EXPECT_EQ(initDisplay(renderer_), E_FAIL);
  EXPECT_EQ(renderer_->d3d, nullptr);
  EXPECT_TRUE(arraysAre(0.0f));
  releaseDisplay(renderer_);
  EXPECT_EQ(fake_d3d9_module_references(), 0);
}

TEST_F(FakeDisplayTest, FailedDeviceOrBufferCreationStopsTheStartThere) {
  fake_d3d9_script(FAKE_D3D_CREATE_DEVICE, 1, 1, fake::kOutOfVideoMemory);
  EXPECT_EQ(initDisplay(renderer_), E_FAIL);
  EXPECT_EQ(renderer_->device, nullptr);  // the failed call's out-parameter is not kept
  EXPECT_NE(renderer_->d3d, nullptr);
  EXPECT_EQ(fake_d3d9_count(FAKE_CREATE_VERTEX_BUFFER), 0u);
  releaseDisplay(renderer_);  // frees the Direct3D object and the library
  EXPECT_EQ(fake::liveObjects(), 0u);
  EXPECT_EQ(fake_d3d9_module_references(), 0);

  fake_d3d9_reset();
  renderer_->window = window_;
  fake_d3d9_script(FAKE_CREATE_VERTEX_BUFFER, 1, 1, fake::kOutOfVideoMemory);
  EXPECT_EQ(initDisplay(renderer_), E_FAIL);
  EXPECT_EQ(renderer_->vertexBuffer, nullptr);
  EXPECT_NE(renderer_->device, nullptr);
  EXPECT_EQ(fake_d3d9_count(FAKE_CLEAR), 0u);
  EXPECT_EQ(fake_d3d9_count(FAKE_SET_RENDER_STATE), 0u);
}

TEST_F(FakeDisplayTest, ReleaseFreesInOrderAndIsHarmlessTwice) {
  startDisplay();
  EXPECT_EQ(releaseDisplay(renderer_), 0);
  EXPECT_EQ(callsSinceMark(), (Calls{"vb1.Release()", "device1.Release()", "d3d1.Release()",
                                     "FreeLibrary(d3d9)"}));
  expectAllReleased();
  mark();
  EXPECT_EQ(releaseDisplay(renderer_), 0);
  EXPECT_TRUE(callsSinceMark().empty());
}

// ---- frames ----

TEST_F(FakeDisplayTest, WaveformFrameIsOneDrawOfTheBackgroundAndTheColumns) {
  startDisplay();
  for (int i = 0; i < kWaveColumnCount; ++i) renderer_->shownWave[i] = static_cast<float>(i % 64);
  renderer_->frameDelta = 2.0;
  EXPECT_EQ(drawFrame(renderer_).result, FrameResult::kDrawn);
  EXPECT_EQ(callsSinceMark(),
            concat({"device1.TestCooperativeLevel()"}, frameCalls("vb1", 3462 / 3)));
  EXPECT_EQ(renderer_->vertexCount, 0u);

  const std::vector<QuadVertex> v = drawn(0);
  ASSERT_EQ(v.size(), 3462u);
  // The background: the whole canvas in the background colour at alpha 0.5.
  EXPECT_EQ(v[0].x, -0.5f);
  EXPECT_EQ(v[0].y, -0.5f);
  EXPECT_EQ(v[2].x, 1023.5f);
  EXPECT_EQ(v[2].y, 1023.5f);
  for (int k = 0; k < 6; ++k) EXPECT_EQ(v[k].colour, 0x7F336699u);
  // Then the columns, left to right, in the foreground colour, each about the centre line.
  for (int i = 0; i < kWaveColumnCount; ++i) {
    const QuadVertex* q = &v[6 * (i + 1)];
    SCOPED_TRACE(i);
    EXPECT_EQ(q[0].colour, 0xFFFFCC00u);
    EXPECT_NEAR((q[0].x + q[1].x) / 2 + 0.5, i * 1024.0 / 576.0 - 1024.0 / 576.0 / 4, 1e-3);
    EXPECT_NEAR(q[2].y - q[0].y, (i % 64) * 8.0, 1e-3);
    EXPECT_EQ((q[0].y + q[2].y) / 2, 511.5f);
  }
}

TEST_F(FakeDisplayTest, SpectrumFrameIsOneDrawOfTheBackgroundBarsAndMarkers) {
  for (std::int32_t mode : {kModeSpectrum, 7}) {  // any non-zero mode draws the spectrum
    SCOPED_TRACE(mode);
    releaseDisplay(renderer_);
    fake_d3d9_reset();
    fake_d3d9_set_dev_caps(0x00110000);
    renderer_->window = window_;
    startDisplay();
    renderer_->mode = mode;
    for (int i = 0; i < kBandCount; ++i) {
      renderer_->shownSpectrum[i] = static_cast<float>(2 * i);
      renderer_->peaks[i].value = static_cast<float>(2 * i + 20);
    }
    renderer_->frameDelta = 1.0;
    EXPECT_EQ(drawFrame(renderer_).result, FrameResult::kDrawn);
    EXPECT_EQ(callsSinceMark(),
              concat({"device1.TestCooperativeLevel()"}, frameCalls("vb1", 774 / 3)));

    const std::vector<QuadVertex> v = drawn(0);
    ASSERT_EQ(v.size(), 774u);
    EXPECT_EQ(v[0].colour, 0x3F336699u);  // alpha 0.25 at one sixtieth of a second
    for (int i = 0; i < kBandCount; ++i) {
      SCOPED_TRACE(i);
      const QuadVertex* bar = &v[6 * (1 + i)];
      const QuadVertex* marker = &v[6 * (1 + kBandCount + i)];
      EXPECT_EQ(bar[2].y, 1023.5f);  // standing on the bottom edge
      EXPECT_NEAR(bar[2].y - bar[0].y, 8.0 * i, 1e-3);
      EXPECT_NEAR((bar[0].x + bar[1].x) / 2 + 0.5, 16.0 * i, 1e-3);
      EXPECT_NEAR((marker[0].y + marker[2].y) / 2 + 0.5, 1024.0 - 4.0 * (2 * i + 20), 1e-3);
      EXPECT_EQ(marker[0].colour, 0xFFFFCC00u);
    }
  }
}

TEST_F(FakeDisplayTest, BackgroundAlphaGrowsWithTheFrameTime) {
  startDisplay();
  struct Case {
    double frameDelta;
    std::uint32_t alpha;
  };
  const Case cases[] = {{0.0, 0x00}, {-2.0, 0x00}, {1.0, 0x3F}, {2.0, 0x7F}, {4.0, 0xFF},
                        {30.0, 0xFF}};
  unsigned index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.frameDelta);
    renderer_->frameDelta = c.frameDelta;
    EXPECT_EQ(drawFrame(renderer_).result, FrameResult::kDrawn);
    const std::vector<QuadVertex> v = drawn(index++);
    ASSERT_EQ(v.size(), 3462u);
    EXPECT_EQ(v[0].colour, (c.alpha << 24) | 0x336699u);
  }
  EXPECT_EQ(fake_d3d9_count(FAKE_CLEAR), 1u);  // frames never clear
}

TEST_F(FakeDisplayTest, NoDeviceMeansNoFrame) {
  EXPECT_EQ(drawFrame(renderer_).result, FrameResult::kNothingDrawn);
  EXPECT_EQ(fake_d3d9_log_size(), 0u);
}

TEST_F(FakeDisplayTest, LostDeviceSkipsTheFrame) {
  startDisplay();
  fake_d3d9_script(FAKE_TEST_COOPERATIVE_LEVEL, 1, 1, fake::kDeviceLost);
  EXPECT_EQ(drawFrame(renderer_).result, FrameResult::kDeviceLost);
  EXPECT_EQ(callsSinceMark(), Calls{"device1.TestCooperativeLevel()"});
  EXPECT_NE(renderer_->vertexBuffer, nullptr);

  // An answer that names no loss and no lasting fault is no reason to skip the frame.
  mark();
  fake_d3d9_script(FAKE_TEST_COOPERATIVE_LEVEL, 2, 2, D3DERR_INVALIDCALL);
  EXPECT_EQ(drawFrame(renderer_).result, FrameResult::kFailed);
  EXPECT_EQ(callsSinceMark(),
            concat({"device1.TestCooperativeLevel()"}, frameCalls("vb1", 3462 / 3)));
}

TEST_F(FakeDisplayTest, DeviceReadyForResetIsResetAndDrawnInTheSameFrame) {
  startDisplay();
  fake_d3d9_script(FAKE_TEST_COOPERATIVE_LEVEL, 1, 1, fake::kDeviceNotReset);
  setBackground(renderer_, ColorF{1.0f, 0.0f, 0.0f, 1.0f});  // the clear takes the current one
  resizeWindow(640, 480);  // the reset takes the window's size as it is now, at once
  EXPECT_EQ(drawFrame(renderer_).result, FrameResult::kDrawn);
  EXPECT_EQ(callsSinceMark(),
            concat(concat({"device1.TestCooperativeLevel()", "vb1.Release()", "device1.Reset(640x480)"},
                          resourceCalls("0xff0000ff")),
                   frameCalls("vb2", 3462 / 3)));
  D3DPRESENT_PARAMETERS reset;
  ASSERT_TRUE(fake_d3d9_reset_params(1, &reset));
  EXPECT_EQ(std::memcmp(&reset, &renderer_->presentParams, sizeof reset), 0);
  EXPECT_TRUE(debugSinceMark().empty());
}

// A resize: the pass that first sees it presents the old buffer (scaled into the window);
// once the size has held, one reset with the new size, a new buffer, the clear that
// restarts the trails, and the frame drawn at the new size in the same pass.
TEST_F(FakeDisplayTest, AResizeResetsTheDeviceOnceToTheNewSize) {
  startDisplay();
  Sleep(kResizeIntervalMs + 20);
  resizeWindow(275, 116);
  EXPECT_EQ(drawFrame(renderer_).result, FrameResult::kDrawn);
  EXPECT_EQ(callsSinceMark(), concat({"device1.TestCooperativeLevel()"}, frameCalls("vb1", 3462 / 3)));
  mark();
  Sleep(kResizeSettleMs + 20);
  EXPECT_EQ(drawFrame(renderer_).result, FrameResult::kDrawn);
  EXPECT_EQ(callsSinceMark(),
            concat(concat({"device1.TestCooperativeLevel()", "vb1.Release()", "device1.Reset(275x116)"},
                          resourceCalls("0xff336699")),
                   frameCalls("vb2", 3462 / 3)));
  const std::vector<QuadVertex> v = drawn(1);
  ASSERT_EQ(v.size(), 3462u);
  EXPECT_EQ(v[2].x, 274.5f);
  EXPECT_EQ(v[2].y, 115.5f);
  EXPECT_EQ((v[6].y + v[8].y) / 2, 57.5f);  // the columns stand about the new centre line
  EXPECT_TRUE(debugSinceMark().empty());

  mark();
  Sleep(kResizeIntervalMs + 20);
  EXPECT_EQ(drawFrame(renderer_).result, FrameResult::kDrawn);  // the same size: no further reset
  EXPECT_EQ(callsSinceMark(), concat({"device1.TestCooperativeLevel()"}, frameCalls("vb2", 3462 / 3)));
}

// A drag: while the size changes on every pass, nothing is reset and every pass presents
// (the old buffer scaled into the window). Sizes that each hold a while are taken, but at
// most one per interval; the size the drag ends at is taken, and that is all.
TEST_F(FakeDisplayTest, ResizesThatKeepComingArePacedAndEndAtTheFinalSize) {
  startDisplay();
  for (int pass = 0; pass < 20; ++pass) {
    resizeWindow(400 + 7 * pass, 300 + 3 * pass);
    EXPECT_EQ(drawFrame(renderer_).result, FrameResult::kDrawn);
    Sleep(10);
  }
  EXPECT_EQ(fake_d3d9_count(FAKE_RESET), 0u);
  EXPECT_EQ(fake_d3d9_count(FAKE_PRESENT), 20u);

  const LARGE_INTEGER start = now();
  for (int step = 0; step < 8; ++step) {
    resizeWindow(600 + 11 * step, 400 + 5 * step);
    EXPECT_EQ(drawFrame(renderer_).result, FrameResult::kDrawn);
    Sleep(kResizeSettleMs + 10);
    EXPECT_EQ(drawFrame(renderer_).result, FrameResult::kDrawn);
  }
  const double elapsed = millisecondsSince(start);
  const unsigned resets = fake_d3d9_count(FAKE_RESET);
  EXPECT_GE(resets, 2u);
  EXPECT_LE(resets, static_cast<unsigned>(elapsed / kResizeIntervalMs) + 1) << elapsed << " ms";

  Sleep(kResizeIntervalMs + 20);
  EXPECT_EQ(drawFrame(renderer_).result, FrameResult::kDrawn);
  EXPECT_EQ(drawFrame(renderer_).result, FrameResult::kDrawn);
  const unsigned total = fake_d3d9_count(FAKE_RESET);
  EXPECT_LE(total, resets + 1);
  D3DPRESENT_PARAMETERS last;
  ASSERT_TRUE(fake_d3d9_reset_params(total, &last));
  EXPECT_EQ(last.BackBufferWidth, 600u + 11 * 7);
  EXPECT_EQ(last.BackBufferHeight, 400u + 5 * 7);
  EXPECT_EQ(fake_d3d9_created(FAKE_KIND_VERTEX_BUFFER), total + 1);
  EXPECT_EQ(fake_d3d9_count(FAKE_CLEAR), total + 1);
}

// Refuses every window the thread tries to make while it is installed.
LRESULT CALLBACK refuseWindows(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_CREATEWND) return 1;
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

// Full screen moves the visual window out of its frame into a window over the monitor,
// and back: each way the device is reset once, to the size it is drawn at now. The
// frame's resize while the picture is away changes nothing until it comes back, and then
// the frame's new size is taken. A full-screen window that cannot be made changes nothing.
TEST_F(FakeDisplayTest, EachTripToFullScreenAndBackResetsOnceToTheNewSize) {
  WNDCLASSW visualClass = {};
  visualClass.style = CS_DBLCLKS;
  visualClass.lpfnWndProc = visWindowProc;
  visualClass.lpszClassName = L"TarnevoxFakeVisual";
  RegisterClassW(&visualClass);
  RECT bounds = {0, 0, 400, 300};
  AdjustWindowRect(&bounds, WS_OVERLAPPEDWINDOW, FALSE);
  const HWND frame = CreateWindowExW(0, L"TarnevoxFakeDisplayTest", L"frame",
                                     WS_OVERLAPPEDWINDOW | WS_VISIBLE, 30, 40,
                                     bounds.right - bounds.left, bounds.bottom - bounds.top,
                                     nullptr, nullptr, nullptr, nullptr);
  const HWND visual = CreateWindowExW(0, L"TarnevoxFakeVisual", nullptr, WS_CHILD | WS_VISIBLE,
                                      0, 0, 400, 300, frame, nullptr, nullptr, nullptr);
  ASSERT_NE(visual, nullptr);
  VisModule module = {};
  module.parentWindow = window_;
  SetWindowLongPtrW(visual, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&module));
  MONITORINFO monitor = {};
  monitor.cbSize = sizeof monitor;
  ASSERT_TRUE(GetMonitorInfoW(MonitorFromWindow(frame, MONITOR_DEFAULTTONEAREST), &monitor));
  const RECT& screen = monitor.rcMonitor;

  renderer_->window = visual;
  startDisplay();
  // Passes as the render thread makes them, until every size has held and been taken.
  auto drawUntilSettled = [this] {
    for (int pass = 0; pass < 4; ++pass) {
      EXPECT_EQ(drawFrame(renderer_).result, FrameResult::kDrawn);
      Sleep(std::max(kResizeSettleMs, kResizeIntervalMs) + 10);
    }
  };
  auto resets = [] { return fake_d3d9_count(FAKE_RESET); };
  auto lastReset = [](unsigned number) {
    D3DPRESENT_PARAMETERS params = {};
    EXPECT_TRUE(fake_d3d9_reset_params(number, &params));
    return std::to_string(params.BackBufferWidth) + "x" + std::to_string(params.BackBufferHeight);
  };

  const HHOOK refusing = SetWindowsHookExW(WH_CBT, refuseWindows, nullptr, GetCurrentThreadId());
  ASSERT_NE(refusing, nullptr);
  SendMessageW(visual, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(5, 5));
  UnhookWindowsHookEx(refusing);
  EXPECT_EQ(GetParent(visual), frame) << "no full-screen window, yet the picture left its frame";
  drawUntilSettled();
  EXPECT_EQ(resets(), 0u);

  SendMessageW(visual, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(5, 5));
  const HWND fullScreen = GetParent(visual);
  ASSERT_NE(fullScreen, frame);
  RECT covered;
  GetWindowRect(fullScreen, &covered);
  EXPECT_TRUE(EqualRect(&covered, &screen));
  drawUntilSettled();
  ASSERT_EQ(resets(), 1u);
  EXPECT_EQ(lastReset(1), std::to_string(screen.right - screen.left) + "x" +
                              std::to_string(screen.bottom - screen.top));

  // The host resizes its frame meanwhile.
  bounds = RECT{0, 0, 520, 200};
  AdjustWindowRect(&bounds, WS_OVERLAPPEDWINDOW, FALSE);
  SetWindowPos(frame, nullptr, 0, 0, bounds.right - bounds.left, bounds.bottom - bounds.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  drawUntilSettled();
  EXPECT_EQ(resets(), 1u);

  SendMessageW(visual, WM_SYSKEYDOWN, VK_RETURN, 0x201C0001);  // Alt+Enter
  EXPECT_EQ(GetParent(visual), frame);
  EXPECT_FALSE(IsWindow(fullScreen));
  drawUntilSettled();
  ASSERT_EQ(resets(), 2u);
  EXPECT_EQ(lastReset(2), "520x200");
  EXPECT_EQ(fake::errors(), "");
  DestroyWindow(frame);
  UnregisterClassW(L"TarnevoxFakeVisual", nullptr);
}

// A reset comes after a loss or after a resize; either way it fails the same ways.
TEST_F(FakeDisplayTest, ResetThatFindsTheDeviceLostKeepsItForALaterAttempt) {
  for (const ResetCause cause : {ResetCause::kLoss, ResetCause::kResize}) {
    SCOPED_TRACE(cause == ResetCause::kLoss ? "after a loss" : "after a resize");
    restartDisplay();
    const std::string reset = causeReset(cause);
    fake_d3d9_script(FAKE_RESET, 1, 1, fake::kDeviceLost);
    EXPECT_EQ(drawFrame(renderer_).result, FrameResult::kDeviceLost);
    EXPECT_EQ(callsSinceMark(), (Calls{"device1.TestCooperativeLevel()", "vb1.Release()", reset}));
    EXPECT_EQ(renderer_->vertexBuffer, nullptr);
    EXPECT_NE(renderer_->device, nullptr);
    EXPECT_NE(renderer_->d3d, nullptr);
    EXPECT_EQ(renderer_->d3dModule, FAKE_D3D9_MODULE);
    EXPECT_TRUE(debugSinceMark().empty());

    // Another kind of failure now lets the frame go on, but there is no buffer to lock.
    mark();
    fake_d3d9_script(FAKE_TEST_COOPERATIVE_LEVEL, tcl(1), tcl(1), D3DERR_INVALIDCALL);
    EXPECT_EQ(drawFrame(renderer_).result, FrameResult::kFailed);
    EXPECT_EQ(fake::calls(mark_, FAKE_LOCK), Calls{});
    EXPECT_EQ(fake::calls(mark_, FAKE_DRAW_PRIMITIVE), Calls{});
    EXPECT_EQ(fake_d3d9_draw_count(), cause == ResetCause::kLoss ? 0u : 1u);

    // The next reset succeeds: a new buffer, the clear and the state, and a normal frame.
    mark();
    fake_d3d9_script(FAKE_TEST_COOPERATIVE_LEVEL, tcl(1), tcl(1), fake::kDeviceNotReset);
    EXPECT_EQ(drawFrame(renderer_).result, FrameResult::kDrawn);
    EXPECT_EQ(callsSinceMark(),
              concat(concat({"device1.TestCooperativeLevel()", reset}, resourceCalls("0xff336699")),
                     frameCalls("vb2", 3462 / 3)));
  }
}

// The last logged call of a method.
std::string lastCall(FakeMethod method) {
  const Calls calls = fake::calls(0, method);
  return calls.empty() ? "" : calls.back();
}

// A device that cannot be brought back is released with its Direct3D object, and the
// next frame makes both again at the window's size and draws with them; the window, the
// library and the shown values stay. A reset that failed outright is quiet; one whose
// resources failed afterwards is reported.
TEST_F(FakeDisplayTest, DeviceThatCannotBeResetIsMadeAgainByTheNextFrame) {
  for (const ResetCause cause : {ResetCause::kLoss, ResetCause::kResize}) {
    for (const bool resourcesFail : {false, true}) {
      SCOPED_TRACE(std::string(cause == ResetCause::kLoss ? "after a loss" : "after a resize") +
                   (resourcesFail ? ", resources fail" : ", reset fails"));
      restartDisplay();
      const std::string reset = causeReset(cause);
      if (resourcesFail) {
        fake_d3d9_script(FAKE_CREATE_VERTEX_BUFFER, 2, 2, fake::kOutOfVideoMemory);
      } else {
        fake_d3d9_script(FAKE_RESET, 1, 1, fake::kOutOfVideoMemory);
      }
      fillArrays(7.0f);
      EXPECT_EQ(drawFrame(renderer_).result, FrameResult::kDeviceGone);
      EXPECT_EQ(lastCall(FAKE_RESET), reset);
      EXPECT_EQ(fake::liveObjects(), 0u);
      EXPECT_EQ(fake_d3d9_module_references(), 1);
      EXPECT_EQ(renderer_->window, window_);
      EXPECT_EQ(debugSinceMark(),
                resourcesFail ? std::vector<std::wstring>{L"Error: Failed to reset device.\n"}
                              : std::vector<std::wstring>{});

      EXPECT_EQ(drawFrame(renderer_).result, FrameResult::kDrawn);
      EXPECT_EQ(lastCall(FAKE_PRESENT), "device2.Present(null, null, null, null)");
      EXPECT_EQ(fake_d3d9_created(FAKE_KIND_D3D), 2u);
      D3DPRESENT_PARAMETERS made;
      ASSERT_TRUE(fake_d3d9_create_params(&made));
      EXPECT_EQ(reset, "device1.Reset(" + std::to_string(made.BackBufferWidth) + "x" +
                           std::to_string(made.BackBufferHeight) + ")");
      EXPECT_TRUE(arraysAre(7.0f));
    }
  }
}

// The driver's own word that the device is gone (from TestCooperativeLevel or Present)
// leads to a new device, never to the same device tried again; while none can be made,
// each frame says so and tries once more, with nothing half made left behind.
TEST_F(FakeDisplayTest, DriverErrorLeadsToANewDeviceAndFailedTriesLeaveNothing) {
  for (const FakeMethod answering : {FAKE_TEST_COOPERATIVE_LEVEL, FAKE_PRESENT}) {
    SCOPED_TRACE(answering == FAKE_PRESENT ? "Present" : "TestCooperativeLevel");
    restartDisplay();
    fake_d3d9_script(answering, 1, 1, fake::kDriverInternalError);
    fake_d3d9_script(FAKE_DIRECT3D_CREATE9, 2, 2, E_FAIL);
    fake_d3d9_script(FAKE_D3D_CREATE_DEVICE, 2, 2, D3DERR_NOTAVAILABLE);
    for (int attempt = 0; attempt < 3; ++attempt) {
      EXPECT_EQ(drawFrame(renderer_).result, FrameResult::kDeviceGone);
      EXPECT_EQ(fake::liveObjects(), 0u);
    }
    EXPECT_EQ(fake_d3d9_count(FAKE_PRESENT), answering == FAKE_PRESENT ? 1u : 0u);
    EXPECT_EQ(drawFrame(renderer_).result, FrameResult::kDrawn);
    EXPECT_EQ(lastCall(FAKE_PRESENT), "device2.Present(null, null, null, null)");
    EXPECT_EQ(fake_d3d9_live(FAKE_KIND_DEVICE), 1u);
  }
}

// On two adapters the device goes to the one that drives the window's monitor and
// follows the window to the other. A changed display configuration is looked at with a
// new Direct3D object; the device stays while its adapter still drives the window's
// monitor, and goes where the window is when its monitor has gone.
TEST_F(FakeDisplayTest, DeviceLivesOnTheAdapterOfTheWindowsMonitor) {
  const POINT origin = {0, 0};
  const HMONITOR primary = MonitorFromPoint(origin, MONITOR_DEFAULTTOPRIMARY);
  const HMONITOR other = reinterpret_cast<HMONITOR>(static_cast<ULONG_PTR>(0x5EC0));
  const HMONITOR two[] = {other, primary};
  fake_d3d9_set_adapter_monitors(2, two);
  ASSERT_EQ(initDisplay(renderer_), 0);
  EXPECT_EQ(lastCall(FAKE_D3D_GET_DEVICE_CAPS), "d3d1.GetDeviceCaps(1, 1)");
  EXPECT_EQ(lastCall(FAKE_D3D_CREATE_DEVICE).substr(0, 21), "d3d1.CreateDevice(1, ");

  gWindowMonitor = other;
  EXPECT_EQ(drawFrame(renderer_).result, FrameResult::kDrawn);
  EXPECT_EQ(lastCall(FAKE_D3D_CREATE_DEVICE).substr(0, 21), "d3d2.CreateDevice(0, ");
  EXPECT_EQ(lastCall(FAKE_PRESENT), "device2.Present(null, null, null, null)");

  // A change that leaves the adapter where it was (hosts announce a new skin the same
  // way): a new object, the same device.
  noteDisplayChange(renderer_);
  EXPECT_EQ(drawFrame(renderer_).result, FrameResult::kDrawn);
  EXPECT_EQ(fake_d3d9_created(FAKE_KIND_D3D), 3u);
  EXPECT_EQ(fake_d3d9_created(FAKE_KIND_DEVICE), 2u);
  EXPECT_EQ(lastCall(FAKE_PRESENT), "device2.Present(null, null, null, null)");

  // The other monitor is unplugged, and the window is back on the primary one.
  const HMONITOR one[] = {primary};
  fake_d3d9_set_adapter_monitors(1, one);
  gWindowMonitor = nullptr;
  noteDisplayChange(renderer_);
  EXPECT_EQ(drawFrame(renderer_).result, FrameResult::kDrawn);
  EXPECT_EQ(lastCall(FAKE_D3D_CREATE_DEVICE).substr(0, 21), "d3d5.CreateDevice(0, ");
  EXPECT_EQ(lastCall(FAKE_PRESENT), "device3.Present(null, null, null, null)");
  EXPECT_EQ(fake::liveObjects(), 3u);  // one object, one device, one buffer
}

TEST_F(FakeDisplayTest, FailedBeginSceneSkipsTheSceneButStillPresents) {
  startDisplay();
  fake_d3d9_script(FAKE_BEGIN_SCENE, 1, 1, E_FAIL);
  EXPECT_EQ(drawFrame(renderer_).result, FrameResult::kFailed);
  EXPECT_EQ(callsSinceMark(), (Calls{"device1.TestCooperativeLevel()", "device1.BeginScene()",
                                     "device1.Present(null, null, null, null)"}));
}

TEST_F(FakeDisplayTest, FailedLockEndsTheSceneWithNothingDrawn) {
  startDisplay();
  fake_d3d9_script(FAKE_LOCK, 1, 1, E_FAIL);
  EXPECT_EQ(drawFrame(renderer_).result, FrameResult::kDrawn);
  EXPECT_EQ(callsSinceMark(),
            (Calls{"device1.TestCooperativeLevel()", "device1.BeginScene()",
                   "vb1.Lock(0, 0xe0000, 0x2000)", "device1.EndScene()",
                   "device1.Present(null, null, null, null)"}));
  EXPECT_EQ(renderer_->lockedVertices, nullptr);

  // The next frame locks afresh and draws as usual.
  mark();
  EXPECT_EQ(drawFrame(renderer_).result, FrameResult::kDrawn);
  EXPECT_EQ(callsSinceMark(),
            concat({"device1.TestCooperativeLevel()"}, frameCalls("vb1", 3462 / 3)));
}

// The frame's last draw leaves the buffer unlocked for the next frame's own lock.
TEST_F(FakeDisplayTest, EachFrameLocksTheBufferOnce) {
  startDisplay();
  for (int frame = 0; frame < 3; ++frame) {
    mark();
    EXPECT_EQ(drawFrame(renderer_).result, FrameResult::kDrawn);
    EXPECT_EQ(fake::calls(mark_, FAKE_LOCK), Calls{"vb1.Lock(0, 0xe0000, 0x2000)"});
    EXPECT_EQ(fake::calls(mark_, FAKE_UNLOCK), Calls{"vb1.Unlock()"});
    EXPECT_EQ(renderer_->lockedVertices, nullptr);
    EXPECT_EQ(renderer_->vertexCount, 0u);
  }
}

TEST_F(FakeDisplayTest, FailedPresentIsReportedAfterAWholeFrame) {
  startDisplay();
  fake_d3d9_script(FAKE_PRESENT, 1, 1, fake::kDeviceLost);
  EXPECT_EQ(drawFrame(renderer_).result, FrameResult::kFailed);  // presented all the same
  EXPECT_EQ(callsSinceMark(),
            concat({"device1.TestCooperativeLevel()"}, frameCalls("vb1", 3462 / 3)));
}

// ---- the batch on the device ----

class FakeBatchTest : public FakeDisplayTest {
 protected:
  // Opens a scene and the batch as a frame does.
  void openBatch() {
    startDisplay();
    ASSERT_EQ(renderer_->device->BeginScene(), D3D_OK);
    ASSERT_EQ(lockBatch(renderer_), 0);
    mark();
  }
  void closeBatch() {
    finishBatch(renderer_);
    renderer_->device->EndScene();
  }
  Status emitOne(float x) {
    return emitRect(renderer_, PointF{x, 100.0f}, 2.0f, 3.0f, PointF{0, 0}, PointF{1, 1},
                    kForeground);
  }
};

TEST_F(FakeBatchTest, FlushesBeforeTheEmitThatWouldPassTheLimit) {
  openBatch();
  for (int i = 0; i < 5461; ++i) ASSERT_EQ(emitOne(static_cast<float>(i % 1000)), 0);
  EXPECT_EQ(renderer_->vertexCount, 32766u);
  EXPECT_TRUE(callsSinceMark().empty());  // still one open batch

  EXPECT_EQ(emitOne(77.0f), 0);
  EXPECT_EQ(callsSinceMark(),
            (Calls{"vb1.Unlock()", "device1.SetFVF(0x144)", "device1.SetTexture(0, null)",
                   "device1.SetStreamSource(0, vb1, 0, 28)", "device1.DrawPrimitive(4, 0, 10922)",
                   "vb1.Lock(0, 0xe0000, 0x2000)"}));
  EXPECT_EQ(renderer_->vertexCount, 6u);
  closeBatch();
  ASSERT_EQ(fake_d3d9_draw_count(), 2u);
  const std::vector<QuadVertex> first = drawn(0);
  ASSERT_EQ(first.size(), 32766u);
  EXPECT_EQ(first[32765].x, static_cast<float>(5460 % 1000) - 2.0f - 0.5f);
  const std::vector<QuadVertex> second = drawn(1);
  ASSERT_EQ(second.size(), 6u);
  EXPECT_EQ(second[0].x, 77.0f - 2.0f - 0.5f);  // the fresh lock's first vertex
}

TEST_F(FakeBatchTest, FailedRelockStopsEveryEmitUntilTheNextFrame) {
  openBatch();
  for (int i = 0; i < 5461; ++i) ASSERT_EQ(emitOne(1.0f), 0);
  fake_d3d9_script(FAKE_LOCK, 2, 0, E_FAIL);
  EXPECT_EQ(emitOne(2.0f), E_FAIL);
  EXPECT_EQ(renderer_->lockedVertices, nullptr);
  EXPECT_EQ(renderer_->vertexCount, 0u);
  const unsigned afterFlush = fake_d3d9_log_size();
  EXPECT_EQ(emitOne(3.0f), E_FAIL);
  EXPECT_EQ(emitQuad(renderer_, PointF{0, 0}, PointF{1, 0}, PointF{1, 1}, PointF{0, 1},
                     PointF{0, 0}, PointF{1, 1}, kForeground),
            E_FAIL);
  EXPECT_EQ(flushBatch(renderer_), 1);  // nothing pending: no device call at all
  EXPECT_EQ(finishBatch(renderer_), 1);  // nor an unlock of the buffer that is not locked
  EXPECT_EQ(fake_d3d9_log_size(), afterFlush);
  EXPECT_EQ(fake_d3d9_draw_count(), 1u);
  renderer_->device->EndScene();
}

TEST_F(FakeBatchTest, FlushWithNothingPendingKeepsTheBufferLocked) {
  openBatch();
  QuadVertex* locked = renderer_->lockedVertices;
  ASSERT_NE(locked, nullptr);
  EXPECT_EQ(flushBatch(renderer_), 1);
  EXPECT_TRUE(callsSinceMark().empty());
  EXPECT_EQ(renderer_->lockedVertices, locked);
  EXPECT_EQ(emitOne(5.0f), 0);
  EXPECT_EQ(flushBatch(renderer_), 0);
  EXPECT_EQ(fake::calls(mark_, FAKE_DRAW_PRIMITIVE), Calls{"device1.DrawPrimitive(4, 0, 2)"});
  closeBatch();
}

// ---- the stand-in itself ----

// The checks in every TearDown above mean something only if the fake notices misuse.
TEST(FakeSelfCheck, NoticesMisuseOfItsObjects) {
  fake_d3d9_reset();
  HMODULE module = fake_d3d9_load_library(L"d3d9.dll");
  using Create = IDirect3D9*(WINAPI*)(UINT);
  auto create = reinterpret_cast<Create>(
      reinterpret_cast<void*>(fake_d3d9_get_proc_address(module, "Direct3DCreate9")));
  ASSERT_NE(create, nullptr);
  IDirect3D9* d3d = create(D3D_SDK_VERSION);
  D3DPRESENT_PARAMETERS params = {};
  IDirect3DDevice9* device = nullptr;
  ASSERT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, nullptr, 0, &params, &device), D3D_OK);
  IDirect3DVertexBuffer9* buffer = nullptr;
  ASSERT_EQ(device->CreateVertexBuffer(28 * 6, 0, 0x144, D3DPOOL_DEFAULT, &buffer, nullptr),
            D3D_OK);
  ASSERT_EQ(fake_d3d9_error_count(), 0u);

  unsigned errors = 0;
  auto noticed = [&errors] {
    const unsigned now = fake_d3d9_error_count();
    const bool more = now > errors;
    errors = now;
    return more;
  };
  device->Reset(&params);  // with a default-pool buffer alive
  EXPECT_TRUE(noticed());
  device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 2);  // outside a scene, without a stream
  EXPECT_TRUE(noticed());
  IDirect3DSurface9* surface = nullptr;
  device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &surface);  // not a method we use
  EXPECT_TRUE(noticed());
  device->BeginScene();
  device->Present(nullptr, nullptr, nullptr, nullptr);  // inside the scene
  EXPECT_TRUE(noticed());
  device->EndScene();
  buffer->Release();
  void* data = nullptr;
  buffer->Lock(0, 0, &data, 0);  // after its release
  EXPECT_TRUE(noticed());
  buffer->Release();
  EXPECT_TRUE(noticed());
  fake_d3d9_free_library(module);
  fake_d3d9_free_library(module);  // one more free than loads
  EXPECT_TRUE(noticed());
  device->Release();
  d3d->Release();
  fake_d3d9_reset();
}

}  // namespace

// The linker takes this slot instead of user32's, for every call in the program.
#if defined(__i386__)
#define IMPORT_SLOT(name, argumentBytes) __asm__("__imp__" #name "@" #argumentBytes)
#else
#define IMPORT_SLOT(name, argumentBytes) __asm__("__imp_" #name)
#endif
HMONITOR WINAPI monitorOfWindow(HWND window, DWORD flags) {
  static const auto system = reinterpret_cast<HMONITOR(WINAPI*)(HWND, DWORD)>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "MonitorFromWindow")));
  return gWindowMonitor != nullptr ? gWindowMonitor : system(window, flags);
}
extern "C" {
HMONITOR(WINAPI* slotMonitorFromWindow)(HWND, DWORD) IMPORT_SLOT(MonitorFromWindow, 8) =
    monitorOfWindow;
}
