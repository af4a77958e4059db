// The stand-in host, the plug-in and the capturing d3d9.dll together: the frames that the
// plug-in presents into its child window come out as files. This program runs from
// bin/capture, beside that d3d9.dll, with WINEDLLOVERRIDES="d3d9=n,b".
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/wine/captured_picture.h"
#include "tests/wine/child_process.h"
#include "tools/host/plugin_library.h"
#include "tools/host/vis_session.h"

using namespace tarnevox::host;
using tarnevox::testing::besideThisProgram;
using tarnevox::testing::ChildResult;
using tarnevox::testing::Picture;
using tarnevox::testing::readPicture;
using tarnevox::testing::runChild;

namespace {

constexpr RgbColor kForeground{40, 230, 120};
constexpr RgbColor kBackground{90, 0, 40};

::testing::AssertionResult looksLike(const Picture& p, int x, int y, RgbColor expected) {
  const RgbColor c = p.at(x, y);
  if (std::abs(c.red - expected.red) <= 2 && std::abs(c.green - expected.green) <= 2 &&
      std::abs(c.blue - expected.blue) <= 2) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "pixel (" << x << ", " << y << ") is " << int{c.red}
                                       << "," << int{c.green} << "," << int{c.blue};
}

class CaptureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    dir_ = std::wstring(temp) + L"tarnevox-capture-" + std::to_wstring(GetCurrentProcessId());
    SetEnvironmentVariableW(L"TARNEVOX_CAPTURE_DIR", dir_.c_str());
  }
  void TearDown() override {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((dir_ + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        DeleteFileW((dir_ + L"\\" + found.cFileName).c_str());
      } while (FindNextFileW(search, &found));
      FindClose(search);
    }
    RemoveDirectoryW(dir_.c_str());
  }
  std::wstring dir_;
};

// In silence every band and peak is at level 0: only the upper halves of the 64 peak
// markers show, along the bottom edge, one every 16 pixels and 14 wide.
TEST_F(CaptureTest, TheLatestFrameShowsTheForegroundOverTheBackground) {
  SetEnvironmentVariableW(L"TARNEVOX_CAPTURE_MODE", L"latest");
  SetEnvironmentVariableW(L"TARNEVOX_CAPTURE_EVERY", L"4");
  SetEnvironmentVariableW(L"TARNEVOX_CAPTURE_LIMIT", nullptr);
  PluginLibrary library;
  std::string error;
  ASSERT_TRUE(library.load(besideThisProgram(L"vis_tarnevox.dll"), &error)) << error;
  SessionOptions options;
  options.module = 1;
  options.signal = SignalKind::kSilence;
  options.skin.foreground = kForeground;
  options.skin.background = kBackground;
  options.timeLimitMs = 1500;  // long enough for the first frames' colours to fade out
  SessionReport report;
  ASSERT_TRUE(runModule(library, options, &report, &error)) << error;
  ASSERT_EQ(report.initResult, 0);

  Picture picture;
  ASSERT_TRUE(readPicture(dir_ + L"\\latest.ppm", &picture)) << "no frame was captured";
  ASSERT_EQ(picture.width, 1024);
  ASSERT_EQ(picture.height, 1024);
  EXPECT_EQ(picture.present % 4, 0u);
  for (int band : {0, 1, 31, 63}) {
    const int centre = 16 * band;
    EXPECT_TRUE(looksLike(picture, centre + 3, 1023, kForeground)) << "band " << band;
    EXPECT_TRUE(looksLike(picture, centre + 3, 1022, kForeground)) << "band " << band;
    EXPECT_TRUE(looksLike(picture, centre + 8, 1023, kBackground)) << "gap after " << band;
    EXPECT_TRUE(looksLike(picture, centre + 3, 1015, kBackground)) << "above band " << band;
  }
  for (int y : {0, 300, 700}) {
    for (int x : {0, 333, 1023}) EXPECT_TRUE(looksLike(picture, x, y, kBackground));
  }
}

// The program from this folder, keeping a numbered sequence: every third Present, four
// files at most, none half written.
TEST_F(CaptureTest, TheProgramKeepsANumberedSequenceWithinItsLimit) {
  SetEnvironmentVariableW(L"TARNEVOX_CAPTURE_MODE", L"sequence");
  SetEnvironmentVariableW(L"TARNEVOX_CAPTURE_EVERY", L"3");
  SetEnvironmentVariableW(L"TARNEVOX_CAPTURE_LIMIT", L"4");
  const ChildResult run = runChild(L"\"" + besideThisProgram(L"tarnevox-host.exe") +
                                   L"\" --module 1 --seconds 3 \"" +
                                   besideThisProgram(L"vis_tarnevox.dll") + L"\"");
  ASSERT_TRUE(run.started);
  ASSERT_EQ(run.exitCode, 0u) << run.output;

  for (unsigned n = 1; n <= 4; ++n) {
    wchar_t name[32];
    swprintf(name, 32, L"\\frame-%05u.ppm", n);
    Picture picture;
    ASSERT_TRUE(readPicture(dir_ + name, &picture)) << "frame " << n;
    EXPECT_EQ(picture.present, 3 * n);
    EXPECT_EQ(picture.width, 1024);
  }
  EXPECT_EQ(GetFileAttributesW((dir_ + L"\\frame-00005.ppm").c_str()), INVALID_FILE_ATTRIBUTES);
  WIN32_FIND_DATAW found;
  HANDLE leftover = FindFirstFileW((dir_ + L"\\*.tmp").c_str(), &found);
  EXPECT_EQ(leftover, INVALID_HANDLE_VALUE) << "a temporary file was left behind";
  if (leftover != INVALID_HANDLE_VALUE) FindClose(leftover);
}

}  // namespace
