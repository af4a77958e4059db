// The real plug-in in hosts that behave unlike the player it was written for: floating-
// point exceptions unmasked, render calls from other threads while modules start and
// stop, failed starts that get no stop, stops that come twice, a render thread that
// will not stop, a player that leaves the frame record empty and renders until its loop
// ends, and a host that starts and stops modules on its main thread. The stand-in host
// plays each host; this program runs from bin/capture, whose d3d9.dll also stands in for
// a system without Direct3D and for a stalled driver.
#include <windows.h>

#include <gtest/gtest.h>
#include <xmmintrin.h>

#include <algorithm>
#include <atomic>
#include <cfenv>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tests/wine/captured_picture.h"
#include "tests/wine/child_process.h"
#include "tests/wine/message_box_watch.h"
#include "tests/wine/resource_counts.h"
#include "tools/host/plugin_library.h"
#include "tools/host/vis_session.h"
#include "tools/host/wav_file.h"

using namespace tarnevox::host;
using tarnevox::testing::besideThisProgram;
using tarnevox::testing::BoxSeen;
using tarnevox::testing::BoxWatcher;
using tarnevox::testing::countThreads;

namespace {

// Frames that the capturing d3d9.dll takes of the devices made while it lives.
class CapturedFrames {
 public:
  CapturedFrames() {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    dir_ = std::wstring(temp) + L"tarnevox-hostile-" + std::to_wstring(GetCurrentProcessId());
    SetEnvironmentVariableW(L"TARNEVOX_CAPTURE_DIR", dir_.c_str());
    SetEnvironmentVariableW(L"TARNEVOX_CAPTURE_MODE", L"latest");
  }
  ~CapturedFrames() {
    SetEnvironmentVariableW(L"TARNEVOX_CAPTURE_DIR", nullptr);
    DeleteFileW(latest().c_str());
    RemoveDirectoryW(dir_.c_str());
  }
  // Something was presented since the last call.
  bool presented() {
    tarnevox::testing::Picture picture;
    const bool read = tarnevox::testing::readPicture(latest(), &picture);
    DeleteFileW(latest().c_str());
    return read;
  }

 private:
  std::wstring latest() const { return dir_ + L"\\latest.ppm"; }
  std::wstring dir_;
};

// Floating-point traps anywhere in the process are counted, then masked and the
// instruction retried, so that a run reports them instead of ending.
std::atomic<int> gTraps{0};

// Masks every exception and clears the flags, x87 and SSE alike, in a trapped context.
void maskEverything(CONTEXT* context) {
#if defined(__i386__)
  // A 32-bit context keeps the x87 state twice, as fnsave and as fxsave lay it out;
  // MXCSR is only in the latter.
  context->FloatSave.ControlWord |= 0x3F;
  context->FloatSave.StatusWord &= ~0xBFu;
  auto* extended = reinterpret_cast<XSAVE_FORMAT*>(context->ExtendedRegisters);
#else
  context->MxCsr = (context->MxCsr | 0x1F80) & ~0x3Fu;
  XMM_SAVE_AREA32* extended = &context->FltSave;
#endif
  extended->ControlWord |= 0x3F;
  extended->StatusWord &= ~0xBF;
  extended->MxCsr = (extended->MxCsr | 0x1F80) & ~0x3Fu;
}

LONG CALLBACK countFloatingPointTrap(EXCEPTION_POINTERS* info) {
  switch (info->ExceptionRecord->ExceptionCode) {
    case STATUS_FLOAT_DENORMAL_OPERAND:
    case STATUS_FLOAT_DIVIDE_BY_ZERO:
    case STATUS_FLOAT_INEXACT_RESULT:
    case STATUS_FLOAT_INVALID_OPERATION:
    case STATUS_FLOAT_OVERFLOW:
    case STATUS_FLOAT_STACK_CHECK:
    case STATUS_FLOAT_UNDERFLOW:
    case STATUS_FLOAT_MULTIPLE_FAULTS:
    case STATUS_FLOAT_MULTIPLE_TRAPS:
      ++gTraps;
      maskEverything(info->ContextRecord);
      return EXCEPTION_CONTINUE_EXECUTION;
    default:
      return EXCEPTION_CONTINUE_SEARCH;
  }
}

class HostileHostTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { handler_ = AddVectoredExceptionHandler(1, countFloatingPointTrap); }
  static void TearDownTestSuite() { RemoveVectoredExceptionHandler(handler_); }

  void SetUp() override {
    std::string error;
    ASSERT_TRUE(library_.load(besideThisProgram(L"vis_tarnevox.dll"), &error)) << error;
    SetEnvironmentVariableW(L"TARNEVOX_CAPTURE_DIR", nullptr);
    SetEnvironmentVariableW(L"TARNEVOX_CAPTURE_REFUSE", nullptr);
    SetEnvironmentVariableW(L"TARNEVOX_CAPTURE_STALL_MS", nullptr);
    gTraps = 0;
  }

  // A start, run and stop of module 1 that must work; the host stops it twice, which
  // must do no harm either.
  void expectANormalRun() {
    SessionOptions options;
    options.module = 1;
    options.renderLimit = 10;
    options.quitCalls = 2;
    SessionReport report;
    std::string error;
    ASSERT_TRUE(runModule(library_, options, &report, &error)) << error;
    EXPECT_EQ(report.initResult, 0) << "the next start did not work";
    EXPECT_EQ(report.renderCalls, 10);
    EXPECT_EQ(report.renderNonZero, 0);
    EXPECT_EQ(report.withdrawals, 2);
    EXPECT_FALSE(report.frameLeftAfterQuit);
    EXPECT_TRUE(report.quitReachedStoppingThread) << "the visualization thread's loop goes on";
    EXPECT_FALSE(classRegistered());
  }

  // A start, run and stop of the module in a player with a visualization thread of its
  // own. The stop must remove the plug-in's window, which ends the player's loop, and
  // leave the player's own frame alone.
  void expectAPlayerRun(int module, const std::function<void()>& onWithdrawal = {}) {
    SessionOptions options;
    options.hostKind = HostKind::kOwnThreadPlayer;
    options.module = module;
    options.onWithdrawal = onWithdrawal;
    VisSession session;
    std::string error;
    ASSERT_TRUE(session.start(library_, options, &error)) << error;
    ASSERT_EQ(session.initResult(), 0);
    session.pumpFor(300);
    threadsWhileRunning_ = countThreads();
    session.requestStop();
    const SessionReport report = session.wait();
    EXPECT_GE(report.renderCalls, 5);
    EXPECT_EQ(report.renderNonZero, 0);
    EXPECT_GE(report.visualGoneAfterStopMs, 0.0) << "the stop left the visual window";
    EXPECT_LT(report.visualGoneAfterStopMs, 1000.0);
    EXPECT_GE(report.loopEndedAfterStopMs, 0.0) << "the player's loop never ended";
    EXPECT_LT(report.loopEndedAfterStopMs, 1000.0);
    EXPECT_TRUE(report.frameLeftAfterQuit) << "the stop destroyed a window it had not made";
    // A class left registered would refuse the next start with a box that nobody closes.
    ASSERT_FALSE(classRegistered());
    EXPECT_EQ(library_.module(module)->userData, 0);
  }

  bool classRegistered() {
    WNDCLASSW info;
    return GetClassInfoW(library_.handle(), L"Tarnevox", &info) != FALSE;
  }

  static PVOID handler_;
  PluginLibrary library_;
  unsigned threadsWhileRunning_ = 0;
};

PVOID HostileHostTest::handler_ = nullptr;

// Hosts built with Delphi trap invalid operations, division by zero and overflow, their
// x87 unit computes at 64-bit precision, and in a 32-bit process they call with the stack
// aligned to 4 bytes only; the render callback must raise none of those exceptions, nor
// any other a host may unmask, and leave the host's x87 and SSE settings exactly as they
// were. Silence used to divide by zero at once.
TEST_F(HostileHostTest, FloatingPointExceptionsUnmaskedOnTheHostsRenderThread) {
  // The handler sees traps on this platform: 1 / 0 with division by zero unmasked.
  const unsigned saved = _mm_getcsr();
  _mm_setcsr(saved & ~(FE_DIVBYZERO << 7));
  volatile double zero = 0.0;
  volatile double quotient = 1.0 / zero;
  _mm_setcsr(saved);
  ASSERT_EQ(gTraps.exchange(0), 1) << "a trap would go unnoticed here";
#if defined(__i386__)
  // And in the x87 unit, which 32-bit runtime libraries compute with.
  unsigned short control = 0;
  __asm__ __volatile__("fnstcw %0" : "=m"(control));
  const unsigned short unmasked = static_cast<unsigned short>(control & ~FE_DIVBYZERO);
  __asm__ __volatile__("fldcw %0" : : "m"(unmasked));
  __asm__ __volatile__("fld1\n\tfdivl %1\n\tfstpl %0\n\tfwait" : "=m"(quotient) : "m"(zero));
  __asm__ __volatile__("fnclex\n\tfldcw %0" : : "m"(control));
  ASSERT_EQ(gTraps.exchange(0), 1) << "an x87 trap would go unnoticed here";
#endif
  (void)quotient;

  SampleBlock fullScale;
  for (int i = 0; i < kBlockSamples; ++i) {
    fullScale.samples[0][i] = fullScale.samples[1][i] = (i / 8) % 2 == 0 ? 0x80 : 0x7F;
  }
  const WavData square = wavOfBlock(fullScale);
  struct Block {
    const char* name;
    SignalKind signal;
    const WavData* wav;
  };
  for (const Block& block : {Block{"silence", SignalKind::kSilence, nullptr},
                             Block{"full scale", SignalKind::kSilence, &square},
                             Block{"noise", SignalKind::kNoise, nullptr}}) {
    for (const int unmasked : {FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW, FE_ALL_EXCEPT}) {
      const bool delphi = unmasked != FE_ALL_EXCEPT;
      SCOPED_TRACE(std::string(block.name) + (delphi ? ", Delphi's" : ", all"));
      SessionOptions options;
      options.module = 1;
      options.signal = block.signal;
      options.wav = block.wav;
      options.unmaskedExceptions = unmasked;
      options.extendedPrecision = delphi;
      options.stackOffset = delphi ? 4 : 0;  // its code keeps the stack 4-byte aligned
      options.renderLimit = 20;
      SessionReport report;
      std::string error;
      ASSERT_TRUE(runModule(library_, options, &report, &error)) << error;
      EXPECT_EQ(report.initResult, 0);
      EXPECT_EQ(report.renderCalls, 20);
      EXPECT_EQ(report.renderNonZero, 0);
      EXPECT_EQ(report.floatingPointChanged, 0) << "render calls changed the host's settings";
      EXPECT_EQ(gTraps.exchange(0), 0) << "floating-point exceptions were raised";
    }
  }
}

// Handles of the threads that are not among `known`, to read how they ended.
std::vector<HANDLE> openThreadsBesides(const std::vector<DWORD>& known) {
  std::vector<HANDLE> opened;
  for (DWORD id : tarnevox::testing::threadIds()) {
    if (std::find(known.begin(), known.end(), id) != known.end()) continue;
    const HANDLE thread = OpenThread(SYNCHRONIZE | THREAD_QUERY_INFORMATION, FALSE, id);
    if (thread != nullptr) opened.push_back(thread);
  }
  return opened;
}

// One host renders on its decode thread while its main thread starts and stops the
// module; here two threads render without pause through twenty starts and stops. However
// slow a stop is on a loaded machine, none may come to terminating the render thread.
TEST_F(HostileHostTest, TwoThreadsRenderWithoutPauseThroughStartsAndStops) {
  std::atomic<bool> done{false};
  std::atomic<long> analysed{0};
  std::vector<std::thread> storms;
  for (int t = 0; t < 2; ++t) {
    storms.emplace_back([&] {
      while (!done) {
        for (int index = 0; index < 2; ++index) {
          VisModule* module = library_.module(index);
          if (module->onRender(module) == 0) ++analysed;
        }
      }
    });
  }
  double slowest = 0.0;
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    SessionOptions options;
    options.module = round % 2;
    VisSession session;
    std::string error;
    const std::vector<DWORD> before = tarnevox::testing::threadIds();
    ASSERT_TRUE(session.start(library_, options, &error)) << error;
    EXPECT_EQ(session.initResult(), 0) << "a start failed";
    session.pumpFor(100);
    // The render thread is among them; a stop that terminates it gives it exit code 255.
    const std::vector<HANDLE> started = openThreadsBesides(before);
    session.requestStop();
    const SessionReport report = session.wait();
    slowest = std::max(slowest, report.longestQuitMs);
    int ended = 0;
    for (HANDLE thread : started) {
      DWORD code = STILL_ACTIVE;
      GetExitCodeThread(thread, &code);
      if (code != STILL_ACTIVE) ++ended;
      EXPECT_NE(code, 255u) << "a stop terminated the render thread after "
                            << report.longestQuitMs << " ms";
      CloseHandle(thread);
    }
    EXPECT_GE(ended, 1) << "the render thread runs on after the stop";
    EXPECT_EQ(report.renderNonZero, 0);
  }
  done = true;
  for (std::thread& storm : storms) storm.join();
  EXPECT_GT(analysed.load(), 20) << "the storms never reached a running module";
  std::printf("slowest stop (onQuit) under two render storms: %.0f ms\n", slowest);
}

// A host that does not stop a module whose start failed: the next start works all the
// same (and is stopped twice), and a stop that does come after the failure, twice, does
// nothing harmful.
TEST_F(HostileHostTest, AFailedStartWithoutAStopIsFollowedByAStartThatWorks) {
  struct Failure {
    const char* name;
    const wchar_t* text;
    bool bogusFrame;
    bool noDirect3D;
    int quitCalls;
  };
  for (const Failure& failure :
       {Failure{"no window", L"Error creating window.", true, false, 0},
        Failure{"no Direct3D", L"Failed to initialize.", false, true, 0},
        Failure{"no window, stopped twice", L"Error creating window.", true, false, 2},
        Failure{"no Direct3D, stopped twice", L"Failed to initialize.", false, true, 2}}) {
    SCOPED_TRACE(failure.name);
    SetEnvironmentVariableW(L"TARNEVOX_CAPTURE_REFUSE", failure.noDirect3D ? L"1" : nullptr);
    SessionOptions options;
    options.module = 0;
    options.bogusFrame = failure.bogusFrame;
    options.quitCalls = failure.quitCalls;
    VisSession session;
    BoxWatcher watcher(L"Error");
    std::string error;
    ASSERT_TRUE(session.start(library_, options, &error)) << error;
    const BoxSeen box = watcher.stop();
    EXPECT_EQ(box.text, failure.text);
    EXPECT_EQ(session.initResult(), 1);
    // Undone before onInit returned: no class, no frame, no slot, the announcement gone.
    EXPECT_FALSE(classRegistered()) << "the failed start left its window class";
    const HWND frame = session.frameWindow();
    EXPECT_TRUE(frame == nullptr || !IsWindow(frame)) << "the failed start left its frame";
    EXPECT_EQ(library_.module(0)->userData, 0);
    EXPECT_EQ(session.visualWindow(), nullptr);
    const SessionReport report = session.wait();
    EXPECT_FALSE(report.frameLeftAfterQuit);
    SetEnvironmentVariableW(L"TARNEVOX_CAPTURE_REFUSE", nullptr);
    expectANormalRun();
  }
}

// A driver stalled in Present keeps the render thread past the stop's two seconds; it is
// terminated, everything it may have held is left alone, and the next start works.
TEST_F(HostileHostTest, ARenderThreadThatWillNotStopIsLeftBehindAndTheNextStartWorks) {
  SetEnvironmentVariableW(L"TARNEVOX_CAPTURE_STALL_MS", L"6000");
  const unsigned threadsBefore = tarnevox::testing::countThreads();
  SessionOptions options;
  options.module = 1;
  VisSession session;
  std::string error;
  ASSERT_TRUE(session.start(library_, options, &error)) << error;
  ASSERT_EQ(session.initResult(), 0);
  session.pumpFor(500);  // the render thread is in its first Present by now
  SetEnvironmentVariableW(L"TARNEVOX_CAPTURE_STALL_MS", nullptr);
  session.requestStop();
  const SessionReport report = session.wait();
  EXPECT_GE(report.longestQuitMs, 1900.0) << "the stalled thread stopped by itself";
  EXPECT_LT(report.longestQuitMs, 4000.0);
  EXPECT_FALSE(report.frameLeftAfterQuit);
  EXPECT_EQ(library_.module(1)->userData, 0);
  // The terminated thread is gone; the device left to it keeps Wine's worker for it.
  const unsigned threadsAfter = tarnevox::testing::countThreads();
  EXPECT_LE(threadsAfter, threadsBefore + 1) << "the terminated thread still runs";

  // The next start draws: its frames reach Present.
  CapturedFrames frames;
  expectANormalRun();
  EXPECT_EQ(countThreads(), threadsAfter) << "the next start left a thread";
  EXPECT_TRUE(frames.presented()) << "the next start presented nothing";
}

// A player that runs start, render calls and stop on a visualization thread of its own,
// whose frame service leaves the record empty and whose loop ends only on a quit message:
// each module stops there, starts again and draws, and the library can then be unloaded.
TEST_F(HostileHostTest, APlayerWithAVisualizationThreadOfItsOwnStopsRestartsAndUnloads) {
  unsigned threadsAfterAStop = 0;  // once the process has made its first device
  for (const int module : {0, 1}) {
    SCOPED_TRACE("module " + std::to_string(module));
    // The render thread ends while the player's main thread still holds up the stop's
    // withdrawal, so that a player ending its process meanwhile finds nothing drawing.
    // (Releasing Direct3D may take a while on a busy machine; a stop allows it 2 s.)
    bool renderThreadEnded = false;
    expectAPlayerRun(module, [&] {
      for (int wait = 0; wait < 300 && countThreads() >= threadsWhileRunning_; ++wait) Sleep(10);
      renderThreadEnded = countThreads() < threadsWhileRunning_;
    });
    if (HasFatalFailure()) return;
    EXPECT_TRUE(renderThreadEnded) << "the render thread ran on through the withdrawal";
    if (threadsAfterAStop == 0) threadsAfterAStop = countThreads();
    CapturedFrames frames;
    expectAPlayerRun(module);
    EXPECT_TRUE(frames.presented()) << "the second start presented nothing";
    EXPECT_EQ(countThreads(), threadsAfterAStop) << "a stop left a thread";
  }
  library_.unload();
  EXPECT_EQ(GetModuleHandleW(L"vis_tarnevox.dll"), nullptr) << "the library stayed loaded";
  // Anything of the plug-in's still running or called now would fault in freed code.
  MSG message;
  for (int tick = 0; tick < 100; ++tick) {
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    Sleep(10);
  }
  EXPECT_EQ(countThreads(), threadsAfterAStop);
}

// A host that starts and stops modules on its main thread: the stop's end of the visual
// window must not post the quit message that would end the host's main loop.
TEST_F(HostileHostTest, AHostThatStartsAndStopsOnItsMainThreadKeepsItsMainLoop) {
  for (const int module : {0, 1}) {
    SCOPED_TRACE("module " + std::to_string(module));
    SessionOptions options;
    options.hostKind = HostKind::kUiThread;
    options.module = module;
    options.renderLimit = 10;
    SessionReport report;
    std::string error;
    ASSERT_TRUE(runModule(library_, options, &report, &error)) << error;
    EXPECT_EQ(report.initResult, 0);
    EXPECT_EQ(report.renderCalls, 10);
    EXPECT_EQ(report.renderNonZero, 0);
    EXPECT_FALSE(report.hostLoopEnded) << "the stop ended the host's main loop";
    EXPECT_TRUE(report.hostAnsweredAfterStop);
    EXPECT_FALSE(report.frameLeftAfterQuit);
    EXPECT_FALSE(classRegistered());
  }
  expectANormalRun();
}

}  // namespace
