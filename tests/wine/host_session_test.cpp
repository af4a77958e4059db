// The stand-in host's library with the real plug-in: how it loads a DLL, what it hands
// the module, and each way a run ends.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tests/wine/child_process.h"
#include "tools/host/plugin_library.h"
#include "tools/host/vis_session.h"
#include "tools/host/wav_file.h"

using namespace tarnevox::host;
using tarnevox::testing::besideThisProgram;

namespace {

std::wstring tempFile(const wchar_t* name) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  return std::wstring(temp) + std::to_wstring(GetCurrentProcessId()) + L"-" + name;
}

void writeFile(const std::wstring& path, const std::vector<unsigned char>& bytes) {
  FILE* file = _wfopen(path.c_str(), L"wb");
  ASSERT_NE(file, nullptr);
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
}

void put(std::vector<unsigned char>& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

// A RIFF WAVE file with a plain PCM format chunk.
std::vector<unsigned char> wavBytes(int channels, int bits, int rate,
                                    const std::vector<unsigned char>& data) {
  std::vector<unsigned char> out;
  const int blockAlign = channels * bits / 8;
  out.insert(out.end(), {'R', 'I', 'F', 'F'});
  put(out, static_cast<std::uint32_t>(36 + data.size()), 4);
  out.insert(out.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  put(out, 16, 4);
  put(out, 1, 2);
  put(out, static_cast<std::uint32_t>(channels), 2);
  put(out, static_cast<std::uint32_t>(rate), 4);
  put(out, static_cast<std::uint32_t>(rate * blockAlign), 4);
  put(out, static_cast<std::uint32_t>(blockAlign), 2);
  put(out, static_cast<std::uint32_t>(bits), 2);
  out.insert(out.end(), {'d', 'a', 't', 'a'});
  put(out, static_cast<std::uint32_t>(data.size()), 4);
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

class HostSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(library_.load(besideThisProgram(L"vis_tarnevox.dll"), &error)) << error;
  }

  // Starts a module that runs until told otherwise.
  void start(VisSession& session, int module) {
    SessionOptions options;
    options.module = module;
    std::string error;
    ASSERT_TRUE(session.start(library_, options, &error)) << error;
    ASSERT_EQ(session.initResult(), 0);
    ASSERT_NE(session.visualWindow(), nullptr);
  }

  PluginLibrary library_;
};

TEST(HostLibrary, LoadsAPluginAndRefusesWhatIsNone) {
  PluginLibrary library;
  std::string error;
  ASSERT_TRUE(library.load(besideThisProgram(L"vis_tarnevox.dll"), &error)) << error;
  ASSERT_EQ(library.moduleCount(), 2);
  EXPECT_STREQ(library.module(0)->description, "Tarnevox Waveform");
  EXPECT_STREQ(library.module(1)->description, "Tarnevox Spectrum");
  EXPECT_EQ(library.module(2), nullptr);
  EXPECT_EQ(library.module(-1), nullptr);

  EXPECT_FALSE(library.load(besideThisProgram(L"no_such_plugin.dll"), &error));
  EXPECT_NE(error.find("no such file"), std::string::npos) << error;
  EXPECT_EQ(library.moduleCount(), 0);

  wchar_t system[MAX_PATH];
  GetSystemDirectoryW(system, MAX_PATH);
  EXPECT_FALSE(library.load(std::wstring(system) + L"\\version.dll", &error));
  EXPECT_NE(error.find("no winampVisGetHeader export"), std::string::npos) << error;
  EXPECT_EQ(error.find('\n'), std::string::npos) << error;
}

double nowMs() {
  LARGE_INTEGER counter, frequency;
  QueryPerformanceCounter(&counter);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(counter.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

// The visual window lies exactly over the frame's client area within 100 ms.
::testing::AssertionResult coversTheFrameSoon(VisSession& session) {
  const HWND frame = session.frameWindow();
  const HWND visual = session.visualWindow();
  const double start = nowMs();
  RECT client = {}, covered = {};
  for (;;) {
    GetClientRect(frame, &client);
    GetWindowRect(visual, &covered);
    MapWindowPoints(HWND_DESKTOP, frame, reinterpret_cast<POINT*>(&covered), 2);
    if (EqualRect(&client, &covered)) return ::testing::AssertionSuccess();
    if (nowMs() - start > 100.0) break;
    session.pumpFor(5);
  }
  return ::testing::AssertionFailure()
         << "the frame's client area is " << client.right << " x " << client.bottom
         << ", the visual window covers (" << covered.left << ", " << covered.top << ") to ("
         << covered.right << ", " << covered.bottom << ") after 100 ms";
}

// The whole canvas shows in any frame, because the visual window covers the frame's
// client area and follows it, also in a host that sizes the announced window itself.
TEST_F(HostSessionTest, TheVisualWindowCoversTheFrameAndFollowsItsResizes) {
  for (const bool hostSizesIt : {false, true}) {
    SCOPED_TRACE(hostSizesIt ? "host sizes the visual window" : "plug-in alone");
    SessionOptions options;
    options.module = 1;
    options.frameWidth = 640;
    options.frameHeight = 480;
    options.sizeVisualWindow = hostSizesIt;
    VisSession session;
    std::string error;
    ASSERT_TRUE(session.start(library_, options, &error)) << error;
    ASSERT_EQ(session.initResult(), 0);
    RECT client;
    GetClientRect(session.visualWindow(), &client);
    EXPECT_EQ(client.right, 640);
    EXPECT_EQ(client.bottom, 480);
    for (const SIZE size : {SIZE{300, 150}, SIZE{1200, 320}, SIZE{275, 116}, SIZE{1024, 1024}}) {
      session.resizeFrame(size.cx, size.cy);
      EXPECT_TRUE(coversTheFrameSoon(session)) << size.cx << " x " << size.cy;
    }
    session.requestStop();
    EXPECT_EQ(session.wait().withdrawals, 1);
  }
}

// What the module finds in its record, and the frame it was given, while it runs.
TEST_F(HostSessionTest, HandsTheModuleItsSignalInAFrameOfTheChosenSize) {
  SessionOptions options;
  options.module = 1;
  options.signal = SignalKind::kBeat;
  options.renderLimit = 12;
  options.frameWidth = 640;
  options.frameHeight = 480;
  VisSession session;
  std::string error;
  ASSERT_TRUE(session.start(library_, options, &error)) << error;
  ASSERT_EQ(session.initResult(), 0);

  const HWND frame = session.frameWindow();
  const HWND visual = session.visualWindow();
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(GetParent(visual), frame);
  EXPECT_EQ(GetAncestor(frame, GA_PARENT), GetDesktopWindow());
  EXPECT_NE(GetWindowLongW(frame, GWL_STYLE) & WS_THICKFRAME, 0) << "the frame is not resizable";
  RECT client;
  GetClientRect(frame, &client);
  EXPECT_EQ(client.right, 640);
  EXPECT_EQ(client.bottom, 480);

  const SessionReport report = session.wait();
  EXPECT_EQ(report.stopReason, StopReason::kRenderLimit);
  EXPECT_EQ(report.renderCalls, 12);
  EXPECT_EQ(report.embedRequests, 1);
  EXPECT_EQ(report.framesMade, 1);
  EXPECT_EQ(report.frameWindow, frame);
  EXPECT_EQ(report.announcedWindow, visual);
  EXPECT_EQ(report.announcements, 1);
  EXPECT_EQ(report.withdrawals, 1);
  EXPECT_GE(report.skinRequests, 1);
  EXPECT_EQ(report.frameTitle, L"Tarnevox");
  EXPECT_TRUE(report.frameShownAfterInit);
  EXPECT_FALSE(IsWindow(frame));

  const VisModule* module = library_.module(1);
  EXPECT_EQ(module->dllInstance, library_.handle());
  EXPECT_EQ(module->sampleRate, kSignalSampleRate);
  EXPECT_EQ(module->channels, 2);
  // The last call saw the stream 11 delays of 20 ms in, 882 samples each at 44.1 kHz.
  ASSERT_EQ(module->delayMs, 20);
  SampleBlock expected;
  fillSignalBlock(SignalKind::kBeat, 11 * 882, kSignalSampleRate, &expected);
  EXPECT_EQ(std::memcmp(module->waveformData, expected.samples, sizeof expected.samples), 0);
}

TEST_F(HostSessionTest, EscapeThatTheVisualWindowPassesOnStopsTheModule) {
  VisSession session;
  start(session, 0);
  PostMessageW(session.visualWindow(), WM_KEYDOWN, 'A', 0x001E0001);
  PostMessageW(session.visualWindow(), WM_KEYUP, 'A', 0xC01E0001);
  EXPECT_FALSE(session.pumpFor(300)) << "a key other than Escape stopped the module";
  PostMessageW(session.visualWindow(), WM_KEYDOWN, VK_ESCAPE, 0x00010001);
  EXPECT_TRUE(session.pumpFor(10000)) << "Escape did not stop the module";
  const SessionReport report = session.wait();
  EXPECT_EQ(report.stopReason, StopReason::kEscapeKey);
  EXPECT_EQ(report.keyMessages, 3);
  EXPECT_EQ(report.withdrawals, 1);
}

TEST_F(HostSessionTest, ClosingTheFrameStopsTheModuleWhichDestroysIt) {
  VisSession session;
  start(session, 1);
  PostMessageW(session.frameWindow(), WM_CLOSE, 0, 0);
  EXPECT_TRUE(session.pumpFor(10000));
  const SessionReport report = session.wait();
  EXPECT_EQ(report.stopReason, StopReason::kFrameClosed);
  EXPECT_FALSE(report.frameLeftAfterQuit);
}

TEST_F(HostSessionTest, ATimeLimitEndsTheRunAndOneSessionRunsAtATime) {
  SessionOptions options;
  options.timeLimitMs = 300;
  VisSession session;
  std::string error;
  ASSERT_TRUE(session.start(library_, options, &error)) << error;

  VisSession second;
  EXPECT_FALSE(second.start(library_, options, &error));
  EXPECT_NE(error.find("another module"), std::string::npos) << error;

  const SessionReport report = session.wait();
  EXPECT_EQ(report.stopReason, StopReason::kTimeLimit);
  EXPECT_GE(report.renderCalls, 1);
  EXPECT_LE(report.renderCalls, 300 / 20 + 1);

  options.module = 2;
  EXPECT_FALSE(second.start(library_, options, &error));
  EXPECT_NE(error.find("out of range"), std::string::npos) << error;
}

TEST_F(HostSessionTest, PlaysAWavFileFromWhereTheRenderCallsHaveGot) {
  // Mono 16-bit at 22.05 kHz: frame f has the top byte f & 0xFF.
  constexpr int kFrames = 3000;
  std::vector<unsigned char> data;
  for (int f = 0; f < kFrames; ++f) put(data, static_cast<std::uint32_t>((f & 0xFF) << 8), 2);
  const std::wstring path = tempFile(L"ramp.wav");
  writeFile(path, wavBytes(1, 16, 22050, data));

  WavData wav;
  std::string error;
  ASSERT_TRUE(readWavFile(path, &wav, &error)) << error;
  DeleteFileW(path.c_str());
  EXPECT_EQ(wav.format.channels, 1);
  EXPECT_EQ(wav.format.bitsPerSample, 16);
  EXPECT_EQ(wav.format.sampleRate, 22050);
  EXPECT_EQ(wav.frameCount, static_cast<size_t>(kFrames));

  SessionOptions options;
  options.wav = &wav;
  options.renderLimit = 4;
  SessionReport report;
  ASSERT_TRUE(runModule(library_, options, &report, &error)) << error;
  EXPECT_EQ(report.renderCalls, 4);
  const VisModule* module = library_.module(0);
  EXPECT_EQ(module->sampleRate, 22050);
  // The fourth call starts 3 x 441 frames in.
  for (int i = 0; i < kBlockSamples; ++i) {
    ASSERT_EQ(module->waveformData[0][i], (3 * 441 + i) & 0xFF) << i;
    ASSERT_EQ(module->waveformData[1][i], (3 * 441 + i) & 0xFF) << i;
  }
}

TEST(HostWav, UnreadableFilesAreRefusedWithTheirReason) {
  const struct {
    const char* name;
    std::vector<unsigned char> bytes;
    const char* reason;
  } cases[] = {
      {"text.wav", {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '\n'}, "not a RIFF WAVE"},
      {"twelve.wav", wavBytes(2, 12, 44100, std::vector<unsigned char>(48, 0)), "supported"},
      {"empty.wav", wavBytes(2, 16, 44100, {}), "no audio"},
  };
  for (const auto& c : cases) {
    const std::wstring path = tempFile(wideText(c.name).c_str());
    writeFile(path, c.bytes);
    WavData wav;
    std::string error;
    EXPECT_FALSE(readWavFile(path, &wav, &error)) << c.name;
    EXPECT_NE(error.find(c.reason), std::string::npos) << c.name << ": " << error;
    DeleteFileW(path.c_str());
  }
  WavData wav;
  std::string error;
  EXPECT_FALSE(readWavFile(tempFile(L"missing.wav"), &wav, &error));
  EXPECT_NE(error.find("no such file"), std::string::npos) << error;
}

COLORREF pixelOf(HBITMAP bitmap, int x, int y) {
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ previous = SelectObject(dc, bitmap);
  const COLORREF colour = GetPixel(dc, x, y);
  SelectObject(dc, previous);
  DeleteDC(dc);
  return colour;
}

TEST(HostSkin, TheTopRowCarriesBothColoursAndAFillerLikeNeither) {
  SkinSpec skin;
  skin.foreground = {128, 128, 128};  // the filler's first choice
  skin.background = {1, 2, 3};
  HBITMAP bitmap = makeSkinBitmap(skin);
  ASSERT_NE(bitmap, nullptr);
  EXPECT_EQ(pixelOf(bitmap, 48, 0), RGB(1, 2, 3));
  EXPECT_EQ(pixelOf(bitmap, 50, 0), RGB(128, 128, 128));
  const COLORREF filler = pixelOf(bitmap, 111, 0);
  EXPECT_NE(filler, RGB(128, 128, 128));
  EXPECT_NE(filler, RGB(1, 2, 3));
  for (int x = 52; x <= 90; x += 2) EXPECT_EQ(pixelOf(bitmap, x, 0), filler) << x;

  // Saved as a 24-bit file, the same bitmap comes back from it.
  BITMAP info;
  GetObjectW(bitmap, sizeof info, &info);
  const int rowBytes = (info.bmWidth * 3 + 3) / 4 * 4;
  std::vector<unsigned char> file;
  file.insert(file.end(), {'B', 'M'});
  put(file, static_cast<std::uint32_t>(54 + rowBytes * info.bmHeight), 4);
  put(file, 0, 4);
  put(file, 54, 4);
  put(file, 40, 4);
  put(file, static_cast<std::uint32_t>(info.bmWidth), 4);
  put(file, static_cast<std::uint32_t>(info.bmHeight), 4);  // bottom row first
  put(file, 1, 2);
  put(file, 24, 2);
  for (int i = 0; i < 6; ++i) put(file, 0, 4);
  for (int y = info.bmHeight - 1; y >= 0; --y) {
    for (int x = 0; x < info.bmWidth; ++x) {
      const COLORREF c = pixelOf(bitmap, x, y);
      file.insert(file.end(), {GetBValue(c), GetGValue(c), GetRValue(c)});
    }
    file.resize(file.size() + static_cast<size_t>(rowBytes - info.bmWidth * 3), 0);
  }
  DeleteObject(bitmap);

  SkinSpec fromFile;
  fromFile.kind = SkinKind::kBitmapFile;
  fromFile.bitmapPath = tempFile(L"skin.bmp");
  writeFile(fromFile.bitmapPath, file);
  bitmap = makeSkinBitmap(fromFile);
  ASSERT_NE(bitmap, nullptr);
  EXPECT_EQ(pixelOf(bitmap, 50, 0), RGB(128, 128, 128));
  EXPECT_EQ(pixelOf(bitmap, 111, 0), filler);
  DeleteObject(bitmap);
  DeleteFileW(fromFile.bitmapPath.c_str());

  EXPECT_EQ(makeSkinBitmap(fromFile), nullptr) << "a missing file gives no bitmap";
  SkinSpec none;
  none.kind = SkinKind::kNone;
  EXPECT_EQ(makeSkinBitmap(none), nullptr);
}

}  // namespace
