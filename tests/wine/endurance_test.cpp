// Many starts and stops of a module in one process, and many resizes of one running
// module's frame: whatever a cycle or a resize takes, it gives back.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
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

constexpr int kCycles = 200;
constexpr int kWarmUpCycles = 9;

// One start, a recolouring (so the skin is read twice and the first bitmap deleted), a
// few render calls, and the stop.
void runCycle(PluginLibrary& library, int module) {
  SessionOptions options;
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

void print(const char* when, const ResourceCounts& c) {
  std::printf("%-14s threads %u, handles %u, GDI objects %u, windows %u, "
              "GetGuiResources %lu/%lu, GetProcessHandleCount %lu\n",
              when, c.threads, c.kernelHandles, c.gdiObjects, c.windows, c.guiGdi, c.guiUser,
              c.processHandles);
}

TEST(Endurance, TwoHundredStartsAndStopsLeaveNothingBehind) {
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
    runCycle(library, cycle % 2);
    if (HasFatalFailure()) return;
  }
  print("after warm-up", settledCounts());

  ResourceCounts middle;
  for (int cycle = 0; cycle < kCycles; ++cycle) {
    runCycle(library, cycle % 2);
    if (HasFatalFailure()) {
      ADD_FAILURE() << "cycle " << cycle;
      return;
    }
    if (cycle + 1 == kCycles / 2) {
      middle = settledCounts();
      print("after 100", middle);
    }
  }
  const ResourceCounts last = settledCounts();
  print("after 200", last);

  // What a cycle kept would show 100 times over between the middle and the end.
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

}  // namespace
