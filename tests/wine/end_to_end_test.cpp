// The real plug-in DLL in the stand-in host, drawing through Wine's real Direct3D 9.
// The pictures come from the capturing d3d9.dll that sits beside this program: it copies
// each presented back buffer to a file, because a child window's frames never reach the
// X screen under Wine.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/wine/message_box_watch.h"
#include "tools/host/plugin_library.h"
#include "tools/host/vis_session.h"

using namespace tarnevox::host;
using tarnevox::testing::BoxSeen;
using tarnevox::testing::BoxWatcher;

namespace {

constexpr RgbColor kForeground{255, 204, 0};
constexpr RgbColor kBackground{0, 32, 96};
constexpr RgbColor kNewForeground{40, 230, 120};
constexpr RgbColor kNewBackground{90, 0, 40};

std::wstring besideThisProgram(const wchar_t* name) {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring dir(path, length);
  return dir.substr(0, dir.find_last_of(L"\\/") + 1) + name;
}

struct Picture {
  int width = 0;
  int height = 0;
  std::vector<unsigned char> rgb;

  RgbColor at(int x, int y) const {
    const unsigned char* p = &rgb[3 * (static_cast<size_t>(y) * width + x)];
    return RgbColor{p[0], p[1], p[2]};
  }
};

// Binary PPM with comment lines in its header.
bool readPpm(const std::wstring& path, Picture* picture) {
  FILE* file = _wfopen(path.c_str(), L"rb");
  if (file == nullptr) return false;
  auto token = [file]() {
    std::string text;
    int c;
    while ((c = std::fgetc(file)) != EOF) {
      if (c == '#') {
        while ((c = std::fgetc(file)) != EOF && c != '\n') {
        }
        continue;
      }
      if (std::isspace(c)) {
        if (!text.empty()) break;
        continue;
      }
      text += static_cast<char>(c);
    }
    return text;
  };
  const bool header = token() == "P6";
  picture->width = std::atoi(token().c_str());
  picture->height = std::atoi(token().c_str());
  const bool depth = token() == "255";
  picture->rgb.resize(static_cast<size_t>(picture->width) * picture->height * 3);
  const size_t read = std::fread(picture->rgb.data(), 1, picture->rgb.size(), file);
  std::fclose(file);
  return header && depth && picture->width > 0 && read == picture->rgb.size();
}

bool sameColour(RgbColor a, RgbColor b) { return a.red == b.red && a.green == b.green && a.blue == b.blue; }

// The trails fade into the background in steps of 8-bit rounding.
bool nearColour(RgbColor a, RgbColor b, int tolerance = 3) {
  return std::abs(a.red - b.red) <= tolerance && std::abs(a.green - b.green) <= tolerance &&
         std::abs(a.blue - b.blue) <= tolerance;
}

std::string describe(RgbColor c) {
  char text[32];
  std::snprintf(text, sizeof text, "(%d, %d, %d)", c.red, c.green, c.blue);
  return text;
}

class EndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(library_.load(besideThisProgram(L"vis_tarnevox.dll"), &error)) << error;
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    captureDir_ = std::wstring(temp) + L"tarnevox-e2e-" + std::to_wstring(GetCurrentProcessId());
    SetEnvironmentVariableW(L"TARNEVOX_CAPTURE_DIR", captureDir_.c_str());
    SetEnvironmentVariableW(L"TARNEVOX_CAPTURE_MODE", L"latest");
    SetEnvironmentVariableW(L"TARNEVOX_CAPTURE_EVERY", L"1");
  }

  void TearDown() override {
    DeleteFileW(latestPath().c_str());
    RemoveDirectoryW(captureDir_.c_str());
  }

  std::wstring latestPath() const { return captureDir_ + L"\\latest.ppm"; }

  SessionOptions options(int module) const {
    SessionOptions o;
    o.module = module;
    o.signal = SignalKind::kBeat;
    o.skin.foreground = kForeground;
    o.skin.background = kBackground;
    return o;
  }

  // Runs until enough frames have been presented for the trails to settle, then takes
  // the latest one.
  Picture latestPicture() {
    DeleteFileW(latestPath().c_str());
    Picture picture;
    for (int attempt = 0; attempt < 100; ++attempt) {
      if (readPpm(latestPath(), &picture)) return picture;
      Sleep(20);
    }
    ADD_FAILURE() << "no frame was captured";
    return picture;
  }

  PluginLibrary library_;
  std::wstring captureDir_;
};

// What a user sees of each mode, checked where the geometry leaves no doubt.
enum class Shape { kWaveform, kSpectrum };

void expectShape(const Picture& p, Shape shape, RgbColor fg, RgbColor bg) {
  ASSERT_EQ(p.width, 1024);
  ASSERT_EQ(p.height, 1024);
  // Most of the canvas is background; what is drawn now is exactly the foreground.
  int foregroundPixels = 0;
  int backgroundPixels = 0;
  for (int y = 0; y < p.height; ++y) {
    for (int x = 0; x < p.width; ++x) {
      const RgbColor c = p.at(x, y);
      if (sameColour(c, fg)) ++foregroundPixels;
      else if (nearColour(c, bg)) ++backgroundPixels;
    }
  }
  EXPECT_GT(foregroundPixels, 500) << "too little is drawn in the foreground colour";
  EXPECT_GT(backgroundPixels, p.width * p.height / 8) << "the background is not the skin's";
  if (shape == Shape::kSpectrum) {
    // Bars are 14 pixels wide on a 16-pixel pitch: the pixel column between two bars is
    // never drawn, and each band's column holds at least its peak marker (unless the
    // peak is above the top edge, which loud bands may reach).
    int bandsWithMarks = 0;
    for (int band = 1; band < 64; ++band) {
      bool marked = false;
      for (int y = 0; y < p.height && !marked; ++y) marked = sameColour(p.at(16 * band, y), fg);
      bandsWithMarks += marked ? 1 : 0;
      const int gap = 16 * band - 9;
      for (int y = 0; y < p.height; y += 3) {
        if (!nearColour(p.at(gap, y), bg)) {
          ADD_FAILURE() << "gap before band " << band << " drawn at y " << y << ": "
                        << describe(p.at(gap, y));
          break;
        }
      }
    }
    EXPECT_GE(bandsWithMarks, 56);
    // Nothing is drawn in the right-most pixel columns beyond the last bar.
    for (int y = 0; y < p.height; y += 7) EXPECT_TRUE(nearColour(p.at(1023, y), bg)) << y;
  } else {
    // Columns stand on the centre line and reach at most 408 pixels either way.
    int centre = 0;
    for (int x = 0; x < 1024; ++x) centre += sameColour(p.at(x, 511), fg) ? 1 : 0;
    EXPECT_GT(centre, 200) << "few columns cross the centre line";
    for (int x = 0; x < 1024; x += 37) {
      EXPECT_TRUE(nearColour(p.at(x, 40), bg)) << "top at " << x << " " << describe(p.at(x, 40));
      EXPECT_TRUE(nearColour(p.at(x, 1023), bg)) << "bottom at " << x;
      // Symmetric about the centre line, up to the trails of the last frames.
      int above = 0, below = 0;
      for (int d = 1; d < 420; ++d) {
        above += sameColour(p.at(x, 512 - d), fg) ? 1 : 0;
        below += sameColour(p.at(x, 511 + d), fg) ? 1 : 0;
      }
      EXPECT_LE(std::abs(above - below), 2) << "column at " << x;
    }
  }
}

TEST_F(EndToEndTest, EachModuleDrawsInTheSkinColoursAndStartsAgainInItsOwnMode) {
  for (int round = 0; round < 2; ++round) {
    for (int module = 0; module < 2; ++module) {
      SCOPED_TRACE("module " + std::to_string(module) + " round " + std::to_string(round));
      VisSession session;
      std::string error;
      ASSERT_TRUE(session.start(library_, options(module), &error)) << error;
      ASSERT_EQ(session.initResult(), 0);
      session.pumpFor(1500);
      const Picture picture = latestPicture();
      expectShape(picture, module == 0 ? Shape::kWaveform : Shape::kSpectrum, kForeground,
                  kBackground);

      if (round == 0) {
        // A new skin: the host tells the visual window the display changed.
        SkinSpec skin;
        skin.foreground = kNewForeground;
        skin.background = kNewBackground;
        session.setSkin(skin);
        SendMessageW(session.visualWindow(), WM_DISPLAYCHANGE, 32, MAKELPARAM(1024, 768));
        session.pumpFor(1500);
        expectShape(latestPicture(), module == 0 ? Shape::kWaveform : Shape::kSpectrum,
                    kNewForeground, kNewBackground);
      }
      session.requestStop();
      const SessionReport report = session.wait();
      EXPECT_EQ(report.initResult, 0);
      EXPECT_GT(report.renderCalls, 10);
      EXPECT_EQ(report.renderNonZero, 0);
      EXPECT_EQ(report.withdrawals, 1);
      EXPECT_FALSE(report.frameLeftAfterQuit) << "onQuit left the frame window";
      EXPECT_EQ(library_.module(module)->userData, 0);
    }
  }
}

TEST_F(EndToEndTest, AStartWhileTheOtherModuleRunsIsRefused) {
  VisSession session;
  std::string error;
  ASSERT_TRUE(session.start(library_, options(1), &error)) << error;
  ASSERT_EQ(session.initResult(), 0);
  VisModule* other = library_.module(0);
  other->parentWindow = session.hostWindow();
  const std::intptr_t slot = other->userData;
  EXPECT_EQ(other->onInit(other), 1);
  EXPECT_EQ(other->userData, slot);
  session.pumpFor(500);
  const Picture picture = latestPicture();
  expectShape(picture, Shape::kSpectrum, kForeground, kBackground);
  session.requestStop();
  const SessionReport report = session.wait();
  EXPECT_EQ(report.embedRequests, 1) << "the refused start asked the host for a frame";
  EXPECT_EQ(report.framesMade, 1);
}

struct FailedStart {
  SessionReport report;
  BoxSeen box;
};

FailedStart startExpectingBox(PluginLibrary& library, const SessionOptions& options,
                              const wchar_t* caption) {
  FailedStart result;
  BoxWatcher watcher(caption);
  std::string error;
  EXPECT_TRUE(runModule(library, options, &result.report, &error)) << error;
  result.box = watcher.stop();
  return result;
}

void expectWarningBox(const FailedStart& start, const wchar_t* text, HWND owner) {
  EXPECT_TRUE(start.box.found) << "no box appeared";
  EXPECT_EQ(start.box.text, text);
  EXPECT_EQ(start.box.icon, LoadIconW(nullptr, IDI_WARNING));
  EXPECT_EQ(start.box.buttonCount, 1);
  EXPECT_TRUE(start.box.okButton);
  if (owner != nullptr) EXPECT_EQ(start.box.owner, owner);
}

TEST_F(EndToEndTest, AHostWithoutTheFrameServiceGetsTheVersionBox) {
  SessionOptions o = options(1);
  o.embedService = false;
  const FailedStart start = startExpectingBox(library_, o, L"Invalid Winamp Version");
  expectWarningBox(start, L"This plugin requires Winamp 2.90 or higher.", nullptr);
  EXPECT_EQ(start.report.initResult, 1);
  EXPECT_EQ(start.report.framesMade, 0);
  EXPECT_EQ(start.report.announcements, 0);
  EXPECT_EQ(start.report.withdrawals, 1) << "onQuit withdraws even after a failed start";
  EXPECT_EQ(library_.module(1)->userData, 0);
  // No class was left registered.
  WNDCLASSW info;
  EXPECT_FALSE(GetClassInfoW(library_.handle(), L"Tarnevox", &info));
}

TEST_F(EndToEndTest, AClassThatCannotBeRegisteredGetsItsBoxAndOnQuitCleansUp) {
  WNDCLASSW taken = {};
  taken.lpfnWndProc = DefWindowProcW;
  taken.hInstance = library_.handle();
  taken.lpszClassName = L"Tarnevox";
  ASSERT_NE(RegisterClassW(&taken), 0);
  const FailedStart start = startExpectingBox(library_, options(0), L"Error");
  expectWarningBox(start, L"Error registering window class.", nullptr);
  EXPECT_EQ(start.report.initResult, 1);
  EXPECT_EQ(start.report.framesMade, 1);
  EXPECT_EQ(start.report.announcements, 0);
  EXPECT_FALSE(start.report.frameLeftAfterQuit) << "onQuit left the frame window";
  EXPECT_EQ(library_.module(0)->userData, 0);
  // onQuit unregistered the class for the library's instance, whoever registered it.
  WNDCLASSW info;
  EXPECT_FALSE(GetClassInfoW(library_.handle(), L"Tarnevox", &info));

  // And the module starts normally afterwards.
  SessionOptions o = options(0);
  o.renderLimit = 5;
  SessionReport report;
  std::string error;
  ASSERT_TRUE(runModule(library_, o, &report, &error)) << error;
  EXPECT_EQ(report.initResult, 0);
}

// A host whose frame service hands out a window that does not exist: the child window
// cannot be created. The stand-in host always makes a real frame, so this host is the
// test's own: one window on this thread, whose messages are therefore direct calls.
HWND __cdecl brokenFrameService(void* record) {
  const HWND bogus = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x7FF0));
  *static_cast<HWND*>(record) = bogus;
  return bogus;
}

LRESULT CALLBACK brokenHostProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_USER && lParam == 505) return reinterpret_cast<LRESULT>(brokenFrameService);
  if (message == WM_USER) return 0;
  return DefWindowProcW(window, message, wParam, lParam);
}

TEST_F(EndToEndTest, AFrameThatIsNoWindowGetsTheWindowBox) {
  WNDCLASSW hostClass = {};
  hostClass.lpfnWndProc = brokenHostProc;
  hostClass.hInstance = GetModuleHandleW(nullptr);
  hostClass.lpszClassName = L"BrokenHost";
  ASSERT_NE(RegisterClassW(&hostClass), 0);
  HWND host = CreateWindowExW(0, L"BrokenHost", L"host", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                              nullptr, nullptr, hostClass.hInstance, nullptr);
  ASSERT_NE(host, nullptr);
  ASSERT_FALSE(IsWindow(reinterpret_cast<HWND>(static_cast<INT_PTR>(0x7FF0))));

  VisModule* module = library_.module(1);
  module->parentWindow = host;
  module->dllInstance = library_.handle();
  FailedStart start;
  {
    BoxWatcher watcher(L"Error");
    EXPECT_EQ(module->onInit(module), 1);
    start.box = watcher.stop();
  }
  expectWarningBox(start, L"Error creating window.", host);
  EXPECT_EQ(module->userData, 0);
  WNDCLASSW info;
  EXPECT_TRUE(GetClassInfoW(library_.handle(), L"Tarnevox", &info))
      << "a failed start leaves the class for onQuit";
  module->onQuit(module);
  EXPECT_FALSE(GetClassInfoW(library_.handle(), L"Tarnevox", &info));
  module->parentWindow = nullptr;
  DestroyWindow(host);
  UnregisterClassW(L"BrokenHost", hostClass.hInstance);
}

// Run only with Direct3D switched off (WINEDLLOVERRIDES=d3d9=d); see the CTest entry.
TEST(NoDirect3D, TheStartFailsWithItsBoxAndOnQuitCleansUp) {
  ASSERT_EQ(LoadLibraryW(L"d3d9.dll"), nullptr) << "this test needs d3d9.dll disabled";
  PluginLibrary library;
  std::string error;
  ASSERT_TRUE(library.load(besideThisProgram(L"vis_tarnevox.dll"), &error)) << error;
  SessionOptions o;
  o.module = 1;
  const FailedStart start = startExpectingBox(library, o, L"Error");
  expectWarningBox(start, L"Failed to initialize.", nullptr);
  EXPECT_EQ(start.report.initResult, 1);
  EXPECT_EQ(start.report.announcements, 1);
  EXPECT_EQ(start.report.withdrawals, 1);
  EXPECT_FALSE(start.report.frameShownAfterInit) << "a failed start showed the frame";
  EXPECT_FALSE(start.report.frameLeftAfterQuit);
  EXPECT_EQ(library.module(1)->userData, 0);
}

}  // namespace
