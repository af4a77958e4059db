// Many starts and stops of a module in one process, in each kind of host, and many
// resizes of one running module's frame and trips to full screen: whatever a cycle, a
// resize or a trip takes, it gives back. Longer runs, for measurements
// (tools/reliability.sh), come from the environment:
// TARNEVOX_ENDURANCE_CYCLES cycles instead of 200, and with TARNEVOX_LONG_RUN_MINUTES
// set, each module drawing that many minutes in a player.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>

#include "tests/wine/child_process.h"
#include "tests/wine/resource_counts.h"
#include "tools/host/plugin_library.h"
#include "tools/host/vis_session.h"

using namespace tarnevox::host;
using tarnevox::testing::ResourceCounts;
using tarnevox::testing::besideThisProgram;
using tarnevox::testing::countResources;

namespace {

constexpr int kWarmUpCycles = 9;

long environmentCount(const wchar_t* name, long fallback) {
  wchar_t text[32];
  const DWORD length = GetEnvironmentVariableW(name, text, 32);
  if (length == 0 || length >= 32) return fallback;
  const long value = std::wcstol(text, nullptr, 10);
  return value > 0 ? value : fallback;
}

// One start, a recolouring (so the skin is read twice and the first bitmap deleted), a
// few render calls, and the stop; the kinds of host take turns with the modules.
void runCycle(PluginLibrary& library, int cycle) {
  static constexpr HostKind kKinds[] = {HostKind::kRecordFilling, HostKind::kOwnThreadPlayer,
                                        HostKind::kUiThread};
  const int module = cycle % 2;
  SessionOptions options;
  options.hostKind = kKinds[cycle % 3];
  options.module = module;
  options.signal = SignalKind::kNoise;
  options.renderLimit = 6;
  VisSession session;
  std::string error;
  ASSERT_TRUE(session.start(library, options, &error)) << error;
  ASSERT_EQ(session.initResult(), 0);
  PostMessageW(session.visualWindow(), WM_DISPLAYCHANGE, 32, MAKELPARAM(1024, 768));
  const SessionReport report = session.wait();
  ASSERT_EQ(report.renderCalls, 6);
  ASSERT_EQ(report.renderNonZero, 0);
  ASSERT_EQ(report.skinRequests, 2);
  ASSERT_EQ(library.module(module)->userData, 0);
}

// Lets posted clean-up messages of this thread run before anything is counted.
ResourceCounts settledCounts() {
  for (int i = 0; i < 5; ++i) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    Sleep(20);
  }
  return countResources();
}

void print(const std::string& when, const ResourceCounts& c) {
  std::printf("%-16s threads %u, handles %u, GDI objects %u, windows %u, private KiB %lu, "
              "GetGuiResources %lu/%lu, GetProcessHandleCount %lu\n",
              when.c_str(), c.threads, c.kernelHandles, c.gdiObjects, c.windows,
              static_cast<unsigned long>(c.privateBytes / 1024), c.guiGdi, c.guiUser,
              c.processHandles);
  std::fflush(stdout);
}

TEST(Endurance, ManyStartsAndStopsInEachKindOfHostLeaveNothingBehind) {
  const long cycles = environmentCount(L"TARNEVOX_ENDURANCE_CYCLES", 200);
  PluginLibrary library;
  std::string error;
  ASSERT_TRUE(library.load(besideThisProgram(L"vis_tarnevox.dll"), &error)) << error;

  runCycle(library, 1);
  if (HasFatalFailure()) return;
  const ResourceCounts first = settledCounts();
  print("after one", first);
  // Later cycles may still fill Wine's cache of window device contexts (a DC and a few
  // regions, which it keeps after the windows are gone) when two threads happened to hold
  // window DCs at once; that cache is bounded, a leak is not.
  for (int cycle = 0; cycle < kWarmUpCycles; ++cycle) {
    runCycle(library, cycle);
    if (HasFatalFailure()) return;
  }
  print("after warm-up", settledCounts());

  ResourceCounts middle;
  ResourceCounts last;
  for (int cycle = 0; cycle < cycles; ++cycle) {
    runCycle(library, cycle);
    if (HasFatalFailure()) {
      ADD_FAILURE() << "cycle " << cycle;
      return;
    }
    if ((cycle + 1) % 100 == 0 || cycle + 1 == cycles) {
      last = settledCounts();
      print("after " + std::to_string(cycle + 1), last);
    }
    if (cycle + 1 == std::max(1L, cycles / 2)) middle = settledCounts();
  }

  // What a cycle kept would show many times over between the middle and the end.
  EXPECT_LE(last.gdiObjects, middle.gdiObjects + 2);
  EXPECT_EQ(last.kernelHandles, middle.kernelHandles);
  EXPECT_EQ(last.threads, first.threads);
  EXPECT_EQ(last.kernelHandles, first.kernelHandles);
  EXPECT_EQ(last.windows, first.windows);
  EXPECT_GE(last.gdiObjects, first.gdiObjects);
  EXPECT_LE(last.gdiObjects, first.gdiObjects + 4);
  // Zero under Wine, which answers these two with stubs; meaningful on Windows.
  EXPECT_EQ(last.guiGdi, first.guiGdi);
  EXPECT_EQ(last.guiUser, first.guiUser);
  EXPECT_EQ(last.processHandles, first.processHandles);
  // The counts are real: this process holds at least its own threads and handles, and a
  // running module shows its windows (host, frame, visual window) and its render thread.
  {
    VisSession session;
    SessionOptions options;
    options.module = 0;
    ASSERT_TRUE(session.start(library, options, &error)) << error;
    session.pumpFor(200);
    const ResourceCounts running = countResources();
    print("while running", running);
    EXPECT_GE(running.windows, last.windows + 3);
    EXPECT_GT(running.threads, last.threads);
    session.requestStop();
    session.wait();
  }
  EXPECT_GE(first.threads, 1u);
  EXPECT_GT(first.kernelHandles, 0u);
  EXPECT_GT(first.gdiObjects, 0u);
}

// Each module drawing for TARNEVOX_LONG_RUN_MINUTES in a player, with the counts taken
// every minute: from the second minute on, nothing may grow.
TEST(Endurance, LongRunInAPlayer) {
  const long minutes = environmentCount(L"TARNEVOX_LONG_RUN_MINUTES", 0);
  if (minutes < 3) GTEST_SKIP() << "a measurement: set TARNEVOX_LONG_RUN_MINUTES to 3 or more";
  PluginLibrary library;
  std::string error;
  ASSERT_TRUE(library.load(besideThisProgram(L"vis_tarnevox.dll"), &error)) << error;
  for (const int module : {0, 1}) {
    SessionOptions options;
    options.hostKind = HostKind::kOwnThreadPlayer;
    options.module = module;
    options.signal = module == 0 ? SignalKind::kBeat : SignalKind::kSineSweep;
    VisSession session;
    ASSERT_TRUE(session.start(library, options, &error)) << error;
    ASSERT_EQ(session.initResult(), 0);
    ResourceCounts second;
    ResourceCounts now;
    for (long minute = 1; minute <= minutes; ++minute) {
      session.pumpFor(60000);
      now = countResources();
      print("module " + std::to_string(module) + " min " + std::to_string(minute), now);
      if (minute == 2) second = now;
    }
    const long renderCalls = session.renderCalls();
    session.requestStop();
    const SessionReport report = session.wait();
    std::printf("module %d: %ld render calls; from minute 2 to %ld: threads %+d, handles %+d, "
                "GDI objects %+d, windows %+d, private KiB %+lld\n",
                module, renderCalls, minutes, static_cast<int>(now.threads - second.threads),
                static_cast<int>(now.kernelHandles - second.kernelHandles),
                static_cast<int>(now.gdiObjects - second.gdiObjects),
                static_cast<int>(now.windows - second.windows),
                (static_cast<long long>(now.privateBytes) -
                 static_cast<long long>(second.privateBytes)) / 1024);
    EXPECT_EQ(report.renderNonZero, 0);
    EXPECT_EQ(now.threads, second.threads);
    EXPECT_EQ(now.kernelHandles, second.kernelHandles);
    EXPECT_EQ(now.windows, second.windows);
    EXPECT_LE(now.gdiObjects, second.gdiObjects + 2);  // Wine's window-DC cache
  }
}

// A frame dragged through 200 sizes while the module draws: the back buffer follows
// with device resets (each releasing and re-creating its buffer), none of which may fail
// the module or leave anything behind. Run under the private Wine (see CMakeLists.txt).
TEST(Endurance, TwoHundredResizesWhileDrawingLeaveNothingBehind) {
  PluginLibrary library;
  std::string error;
  ASSERT_TRUE(library.load(besideThisProgram(L"vis_tarnevox.dll"), &error)) << error;
  VisSession session;
  SessionOptions options;
  options.module = 1;
  options.signal = SignalKind::kNoise;
  options.frameWidth = 400;
  options.frameHeight = 200;
  ASSERT_TRUE(session.start(library, options, &error)) << error;
  ASSERT_EQ(session.initResult(), 0);

  // Quick steps, as a drag makes them, and every fourth a pause long enough for a reset.
  auto resize = [&session](int step) {
    session.resizeFrame(240 + step * 37 % 900, 120 + step * 53 % 600);
    return !session.pumpFor(step % 4 == 3 ? 150 : 20);
  };
  for (int step = 0; step < 10; ++step) ASSERT_TRUE(resize(step)) << "the session ended";
  const ResourceCounts first = countResources();
  print("after 10", first);
  ResourceCounts middle;
  for (int step = 10; step < 210; ++step) {
    ASSERT_TRUE(resize(step)) << "the session ended at resize " << step;
    if (step == 109) {
      middle = countResources();
      print("after 110", middle);
    }
  }
  const ResourceCounts last = countResources();
  print("after 210", last);
  session.requestStop();
  const SessionReport report = session.wait();
  EXPECT_EQ(report.stopReason, StopReason::kRequested);
  EXPECT_GT(report.renderCalls, 200);
  EXPECT_EQ(report.renderNonZero, 0);

  EXPECT_EQ(last.threads, first.threads);
  EXPECT_EQ(last.kernelHandles, middle.kernelHandles);
  EXPECT_LE(last.kernelHandles, first.kernelHandles + 2);
  EXPECT_LE(last.gdiObjects, middle.gdiObjects + 2);
  EXPECT_LE(last.gdiObjects, first.gdiObjects + 4);
  EXPECT_EQ(last.windows, first.windows);
}

// Full screen entered and left 60 times while the module draws, the monitor's size and
// the frame's each long enough for the device to be reset to it: the full-screen window,
// the pointer's timer and the resets give back all they take. Under the private Wine, as
// every pass resizes a window that Direct3D draws in.
TEST(Endurance, FullScreenEnteredAndLeftWhileDrawingLeavesNothingBehind) {
  PluginLibrary library;
  std::string error;
  ASSERT_TRUE(library.load(besideThisProgram(L"vis_tarnevox.dll"), &error)) << error;
  VisSession session;
  SessionOptions options;
  options.module = 0;
  options.signal = SignalKind::kBeat;
  options.frameWidth = 500;
  options.frameHeight = 250;
  ASSERT_TRUE(session.start(library, options, &error)) << error;
  ASSERT_EQ(session.initResult(), 0);
  const HWND visual = session.visualWindow();
  const HWND frame = session.frameWindow();

  // Alternately a double-click and Alt+Enter, in and out.
  // Full screen is a top-level window of the plug-in's class, hidden again on leaving.
  const auto inFrame = [] {
    const HWND window = FindWindowW(L"Tarnevox", nullptr);
    return window == nullptr || !IsWindowVisible(window);
  };
  auto toggle = [&session, visual, inFrame](int step) {
    const bool entering = inFrame();
    if (step % 2 == 0) {
      PostMessageW(visual, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(10, 10));
    } else {
      PostMessageW(visual, WM_SYSKEYDOWN, VK_RETURN, 0x201C0001);
    }
    for (int wait = 0; wait < 50 && inFrame() == entering; ++wait) {
      if (session.pumpFor(10)) return false;
    }
    return inFrame() != entering && !session.pumpFor(180);
  };
  for (int step = 0; step < 20; ++step) ASSERT_TRUE(toggle(step)) << "step " << step;
  const ResourceCounts first = countResources();
  print("after 10 cycles", first);
  ResourceCounts middle;
  for (int step = 20; step < 120; ++step) {
    ASSERT_TRUE(toggle(step)) << "the session ended or did not toggle at step " << step;
    if (step == 69) {
      middle = countResources();
      print("after 35 cycles", middle);
    }
  }
  const ResourceCounts last = countResources();
  print("after 60 cycles", last);
  EXPECT_TRUE(inFrame());
  EXPECT_EQ(GetParent(visual), frame);
  session.requestStop();
  const SessionReport report = session.wait();
  EXPECT_EQ(report.stopReason, StopReason::kRequested);
  EXPECT_EQ(report.renderNonZero, 0);

  EXPECT_EQ(last.threads, first.threads);
  EXPECT_EQ(last.kernelHandles, middle.kernelHandles);
  EXPECT_LE(last.kernelHandles, first.kernelHandles + 2);
  EXPECT_LE(last.gdiObjects, middle.gdiObjects + 2);
  EXPECT_LE(last.gdiObjects, first.gdiObjects + 4);
  EXPECT_EQ(last.windows, first.windows);
}

}  // namespace
