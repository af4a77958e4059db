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

#include "tests/wine/captured_picture.h"
#include "tests/wine/child_process.h"
#include "tests/wine/message_box_watch.h"
#include "tools/host/plugin_library.h"
#include "tools/host/vis_session.h"

using namespace tarnevox::host;
using tarnevox::testing::BoxSeen;
using tarnevox::testing::BoxWatcher;
using tarnevox::testing::Picture;
using tarnevox::testing::besideThisProgram;
using tarnevox::testing::readPicture;

namespace {

constexpr RgbColor kForeground{255, 204, 0};
constexpr RgbColor kBackground{0, 32, 96};
constexpr RgbColor kNewForeground{40, 230, 120};
constexpr RgbColor kNewBackground{90, 0, 40};

bool sameColour(RgbColor a, RgbColor b) { return a.red == b.red && a.green == b.green && a.blue == b.blue; }

// The trails fade into the background in steps of 8-bit rounding.
bool nearColour(RgbColor a, RgbColor b, int tolerance = 3) {
  return std::abs(a.red - b.red) <= tolerance && std::abs(a.green - b.green) <= tolerance &&
         std::abs(a.blue - b.blue) <= tolerance;
}

std::string readTextFile(const std::wstring& path) {
  std::string text;
  if (FILE* file = _wfopen(path.c_str(), L"rb")) {
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) text.append(buffer, n);
    std::fclose(file);
  }
  return text;
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
    DeleteFileW((captureDir_ + L"\\faults.log").c_str());
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

  // A frame presented at least two presents after this call, while the host keeps
  // answering: a capture still being written when the call came is never the one read.
  Picture latestPicture(VisSession& session) {
    Picture picture;
    const unsigned seen = readPicture(latestPath(), &picture) ? picture.present : 0;
    for (int attempt = 0; attempt < 250; ++attempt) {
      if (readPicture(latestPath(), &picture) && picture.present >= seen + 2) return picture;
      session.pumpFor(20);
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
  SCOPED_TRACE("present " + std::to_string(p.present));
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
    // Columns stand on the centre line and reach at most 410 pixels either way.
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
      // Once, the first device fails its reset for good half a second into the run, as
      // after a driver update: a new device must take over and draw the same picture.
      const bool fault = round == 1 && module == 1;
      if (fault) SetEnvironmentVariableW(L"TARNEVOX_CAPTURE_FAULT", L"reset");
      SetEnvironmentVariableW(L"TARNEVOX_CAPTURE_FAULT_AT_MS", L"500");
      VisSession session;
      std::string error;
      ASSERT_TRUE(session.start(library_, options(module), &error)) << error;
      SetEnvironmentVariableW(L"TARNEVOX_CAPTURE_FAULT", nullptr);
      ASSERT_EQ(session.initResult(), 0);
      session.pumpFor(1500);
      const Picture picture = latestPicture(session);
      expectShape(picture, module == 0 ? Shape::kWaveform : Shape::kSpectrum, kForeground,
                  kBackground);
      if (fault) {
        const std::string course = readTextFile(captureDir_ + L"\\faults.log");
        EXPECT_NE(course.find("fault on device 1 begins"), std::string::npos) << course;
        EXPECT_NE(course.find("first frame after the fault, on device 2,"), std::string::npos)
            << course;
        EXPECT_EQ(course.find("device 3 made"), std::string::npos) << course;
      }

      if (round == 0) {
        // A new skin: the host tells the visual window the display changed.
        SkinSpec skin;
        skin.foreground = kNewForeground;
        skin.background = kNewBackground;
        session.setSkin(skin);
        SendMessageW(session.visualWindow(), WM_DISPLAYCHANGE, 32, MAKELPARAM(1024, 768));
        session.pumpFor(1500);
        expectShape(latestPicture(session), module == 0 ? Shape::kWaveform : Shape::kSpectrum,
                    kNewForeground, kNewBackground);
      } else {
        // A minimised frame costs no frames; restored, it draws again.
        ShowWindow(session.frameWindow(), SW_MINIMIZE);
        session.pumpFor(300);  // the pass under way may still present
        DeleteFileW(latestPath().c_str());
        session.pumpFor(1000);
        EXPECT_EQ(GetFileAttributesW(latestPath().c_str()), INVALID_FILE_ATTRIBUTES)
            << "frames were presented while the frame was minimised";
        ShowWindow(session.frameWindow(), SW_RESTORE);
        expectShape(latestPicture(session), module == 0 ? Shape::kWaveform : Shape::kSpectrum,
                    kForeground, kBackground);
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

TEST_F(EndToEndTest, AStartWhileTheOtherModuleRunsIsRefusedAndItsStopTouchesNothing) {
  VisSession session;
  std::string error;
  ASSERT_TRUE(session.start(library_, options(1), &error)) << error;
  ASSERT_EQ(session.initResult(), 0);
  const HWND frame = session.frameWindow();
  const HWND visual = session.visualWindow();
  VisModule* other = library_.module(0);
  other->parentWindow = session.hostWindow();
  other->dllInstance = library_.handle();
  const std::intptr_t slot = other->userData;
  EXPECT_EQ(other->onInit(other), 1);
  EXPECT_EQ(other->userData, slot);
  // A host stops a module whose start failed; that must leave the running one alone.
  other->onQuit(other);
  EXPECT_TRUE(IsWindow(frame));
  EXPECT_TRUE(IsWindow(visual));
  WNDCLASSW info;
  EXPECT_TRUE(GetClassInfoW(library_.handle(), L"Tarnevox", &info));
  session.pumpFor(1500);  // as long as the other pictures are given to settle
  expectShape(latestPicture(session), Shape::kSpectrum, kForeground, kBackground);
  session.requestStop();
  const SessionReport report = session.wait();
  EXPECT_EQ(report.embedRequests, 1) << "the refused start asked the host for a frame";
  EXPECT_EQ(report.framesMade, 1);
  EXPECT_EQ(report.withdrawals, 1) << "the refused module's stop withdrew the running window";
  EXPECT_EQ(report.skinRequests, 1);
}

struct FailedStart {
  SessionReport report;
  BoxSeen box;
  HWND host = nullptr;
};

FailedStart startExpectingBox(PluginLibrary& library, const SessionOptions& options,
                              const wchar_t* caption) {
  FailedStart result;
  VisSession session;
  BoxWatcher watcher(caption);
  std::string error;
  EXPECT_TRUE(session.start(library, options, &error)) << error;
  result.box = watcher.stop();
  result.host = session.hostWindow();
  result.report = session.wait();
  return result;
}

void expectWarningBox(const BoxSeen& box, const wchar_t* text, HWND owner) {
  EXPECT_TRUE(box.found) << "no box appeared";
  EXPECT_EQ(box.text, text);
  EXPECT_EQ(box.icon, LoadIconW(nullptr, IDI_WARNING));
  EXPECT_EQ(box.buttonCount, 1);
  EXPECT_TRUE(box.okButton);
  EXPECT_EQ(box.owner, owner);
}

// A host of the test's own, for starts the stand-in host cannot make fail: one window on
// this thread, so the plug-in's messages to it are direct calls, and onInit and onQuit
// are called here one by one.
HWND __cdecl brokenFrameService(void* record) {
  const HWND bogus = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x7FF0));
  *static_cast<HWND*>(record) = bogus;
  return bogus;
}

HWND(__cdecl* gFrameService)(void*) = nullptr;
int gWithdrawals = 0;

LRESULT CALLBACK ownHostProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_USER && lParam == 505) return reinterpret_cast<LRESULT>(gFrameService);
  if (message == WM_USER && lParam == 611 && wParam == 0) ++gWithdrawals;
  if (message == WM_USER) return 0;
  return DefWindowProcW(window, message, wParam, lParam);
}

class OwnHost {
 public:
  explicit OwnHost(HWND(__cdecl* frameService)(void*)) {
    gFrameService = frameService;
    gWithdrawals = 0;
    WNDCLASSW hostClass = {};
    hostClass.lpfnWndProc = ownHostProc;
    hostClass.hInstance = GetModuleHandleW(nullptr);
    hostClass.lpszClassName = L"OwnHost";
    RegisterClassW(&hostClass);
    window = CreateWindowExW(0, L"OwnHost", L"host", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                             nullptr, nullptr, hostClass.hInstance, nullptr);
  }
  ~OwnHost() {
    DestroyWindow(window);
    UnregisterClassW(L"OwnHost", GetModuleHandleW(nullptr));
  }
  OwnHost(const OwnHost&) = delete;
  OwnHost& operator=(const OwnHost&) = delete;

  BoxSeen start(VisModule* module, HMODULE dll, const wchar_t* caption, int* result) {
    module->parentWindow = window;
    module->dllInstance = dll;
    BoxWatcher watcher(caption);
    *result = module->onInit(module);
    return watcher.stop();
  }

  HWND window = nullptr;
};

TEST_F(EndToEndTest, AHostWithoutTheFrameServiceGetsTheVersionBox) {
  OwnHost host(nullptr);
  ASSERT_NE(host.window, nullptr);
  VisModule* module = library_.module(1);
  int result = -1;
  const BoxSeen box = host.start(module, library_.handle(), L"Invalid Winamp Version", &result);
  expectWarningBox(box, L"This plugin requires Winamp 2.90 or higher.", host.window);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(module->userData, 0);
  WNDCLASSW info;
  EXPECT_FALSE(GetClassInfoW(library_.handle(), L"Tarnevox", &info)) << "a class was registered";
  module->onQuit(module);
  EXPECT_EQ(gWithdrawals, 1) << "onQuit withdraws even after a failed start";
  module->parentWindow = nullptr;

  // The same through the stand-in host, whose report counts what reached it.
  SessionOptions o = options(1);
  o.embedService = false;
  const FailedStart start = startExpectingBox(library_, o, L"Invalid Winamp Version");
  expectWarningBox(start.box, L"This plugin requires Winamp 2.90 or higher.", start.host);
  EXPECT_EQ(start.report.initResult, 1);
  EXPECT_EQ(start.report.framesMade, 0);
  EXPECT_EQ(start.report.announcements, 0);
  EXPECT_EQ(start.report.withdrawals, 1);
}

TEST_F(EndToEndTest, AClassThatCannotBeRegisteredGetsItsBoxAndOnQuitCleansUp) {
  WNDCLASSW taken = {};
  taken.lpfnWndProc = DefWindowProcW;
  taken.hInstance = library_.handle();
  taken.lpszClassName = L"Tarnevox";
  ASSERT_NE(RegisterClassW(&taken), 0);
  const FailedStart start = startExpectingBox(library_, options(0), L"Error");
  expectWarningBox(start.box, L"Error registering window class.", start.host);
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

// A frame service handing out a handle that is no window: the child cannot be created.
TEST_F(EndToEndTest, AFrameThatIsNoWindowGetsTheWindowBox) {
  ASSERT_FALSE(IsWindow(reinterpret_cast<HWND>(static_cast<INT_PTR>(0x7FF0))));
  OwnHost host(brokenFrameService);
  ASSERT_NE(host.window, nullptr);
  VisModule* module = library_.module(1);
  int result = -1;
  const BoxSeen box = host.start(module, library_.handle(), L"Error", &result);
  expectWarningBox(box, L"Error creating window.", host.window);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(module->userData, 0);
  WNDCLASSW info;
  EXPECT_FALSE(GetClassInfoW(library_.handle(), L"Tarnevox", &info))
      << "a failed start left its class registered";
  module->onQuit(module);
  EXPECT_FALSE(GetClassInfoW(library_.handle(), L"Tarnevox", &info));
  EXPECT_EQ(gWithdrawals, 1);
  module->parentWindow = nullptr;
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
  expectWarningBox(start.box, L"Failed to initialize.", start.host);
  EXPECT_EQ(start.report.initResult, 1);
  EXPECT_EQ(start.report.announcements, 1);
  // The failed start withdraws what it announced; the host's stop withdraws again.
  EXPECT_EQ(start.report.withdrawals, 2);
  EXPECT_FALSE(start.report.frameShownAfterInit) << "a failed start showed the frame";
  EXPECT_FALSE(start.report.frameLeftAfterQuit);
  EXPECT_EQ(library.module(1)->userData, 0);
}

}  // namespace
