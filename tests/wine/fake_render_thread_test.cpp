// The render thread against the recording Direct3D 9 stand-in: the start hand-over, the
// loop and its visibility test, the frame clock, the pace of frames, the failed start and
// the stop, including a thread that hangs inside Present.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "display/direct3d_device.h"
#include "engine/render_thread.h"
#include "engine/renderer.h"
#include "tests/wine/fake_d3d9.h"
#include "tests/wine/fake_display_setup.h"

using namespace tarnevox;

namespace {

constexpr DWORD kPatienceMs = 10000;  // far beyond any wait that should succeed

double millisecondsSince(const LARGE_INTEGER& start) {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(now.QuadPart - start.QuadPart) * 1000.0 /
         static_cast<double>(frequency.QuadPart);
}

// Kernel32 calls whose failures or timing the system never produces on demand. This
// program defines its own import slots for them (see the end of the file), so every call
// in the program, the render thread's included, comes here first.
template <class Function>
Function systemFunction(const char* name) {
  return reinterpret_cast<Function>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), name)));
}

// When the render thread signals this event, it pauses for a moment afterwards, so that a
// stop issued as soon as the starter wakes is sure to come before anything else it does.
HANDLE gPausingEvent = nullptr;
// Counter reads on this thread fail.
std::atomic<DWORD> gCounterFailsOnThread{0};
std::atomic<bool> gThreadCreationFails{false};

BOOL WINAPI setEventThenPause(HANDLE event) {
  static const auto system = systemFunction<BOOL(WINAPI*)(HANDLE)>("SetEvent");
  const BOOL result = system(event);
  if (event != nullptr && event == gPausingEvent) Sleep(300);
  return result;
}

// A display simulated on a clock of the test's own. While it is on, the counter reads
// that clock, which moves only when a frame is drawn (a millisecond from its BeginScene),
// when Present waits for the next blank (if it does) and when the render thread waits on
// its stop event, each wait being recorded: so the pace is counted exactly, whatever the
// machine's load.
struct SimulatedDisplay {
  std::atomic<bool> on{false};
  std::atomic<std::int64_t> now{0};
  std::int64_t ticksPerSecond = 0;
  std::int64_t period = 0;
  bool presentWaits = false;
  Renderer* renderer = nullptr;
  // Written by the render thread, read once it has ended.
  std::vector<std::int64_t> presents;  // when each Present returned
  std::vector<DWORD> waits;            // the milliseconds of each wait on the stop event
};
SimulatedDisplay gDisplay;

void drawOnSimulatedDisplay(void*) { gDisplay.now += gDisplay.ticksPerSecond / 1000; }

void presentOnSimulatedDisplay(void*) {
  const std::int64_t now = gDisplay.now.load();
  if (gDisplay.presentWaits) gDisplay.now = (now / gDisplay.period + 1) * gDisplay.period;
  gDisplay.presents.push_back(gDisplay.now.load());
}

BOOL WINAPI readCounterUnlessFailing(LARGE_INTEGER* counter) {
  static const auto system =
      systemFunction<BOOL(WINAPI*)(LARGE_INTEGER*)>("QueryPerformanceCounter");
  if (GetCurrentThreadId() == gCounterFailsOnThread.load()) return FALSE;
  if (gDisplay.on) {
    counter->QuadPart = gDisplay.now.load();
    return TRUE;
  }
  return system(counter);
}

DWORD WINAPI waitOnSimulatedClock(HANDLE handle, DWORD milliseconds) {
  static const auto system =
      systemFunction<DWORD(WINAPI*)(HANDLE, DWORD)>("WaitForSingleObject");
  if (gDisplay.on && milliseconds != 0 && handle == gDisplay.renderer->stopEvent) {
    gDisplay.waits.push_back(milliseconds);
    gDisplay.now += milliseconds * gDisplay.ticksPerSecond / 1000;
    return system(handle, 0);  // a stop still ends it
  }
  return system(handle, milliseconds);
}

HANDLE WINAPI createThreadUnlessFailing(LPSECURITY_ATTRIBUTES security, SIZE_T stack,
                                        LPTHREAD_START_ROUTINE start, LPVOID parameter,
                                        DWORD flags, LPDWORD id) {
  static const auto system =
      systemFunction<HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE,
                                     LPVOID, DWORD, LPDWORD)>("CreateThread");
  if (gThreadCreationFails.load()) return nullptr;
  return system(security, stack, start, parameter, flags, id);
}

LONG readRunning(Renderer* renderer) {
  return InterlockedCompareExchange(&renderer->running, 0x7FFFFFFF, 0x7FFFFFFF);
}

class FakeRenderThreadTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Visible, enabled and not empty, so that every pass draws.
    window_ = tarnevox::testing::beginFakeDisplaySuite(L"TarnevoxFakeRenderThreadTest",
                                                       L"fake render thread", WS_POPUP | WS_VISIBLE);
  }
  static void TearDownTestSuite() { tarnevox::testing::endFakeDisplaySuite(window_); }

  void SetUp() override {
    ASSERT_NE(window_, nullptr);
    fake_d3d9_reset();
    presented_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    fake_d3d9_notify(FAKE_PRESENT, presented_);
    makeRenderer();
  }

  void TearDown() override {
    if (renderer_ != nullptr) {
      stopThread(renderer_);
      delete renderer_;
    }
    EXPECT_EQ(fake::liveObjects(), 0u);
    EXPECT_EQ(fake_d3d9_module_references(), 0);
    EXPECT_EQ(fake::errors(), "");
    fake_d3d9_reset();  // before the events that the fake may still refer to go
    closeHandles();
    CloseHandle(presented_);
  }

  void makeRenderer() {
    renderer_ = createRenderer();
    ASSERT_NE(renderer_, nullptr);
    ready_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    renderer_->window = window_;
    renderer_->readyEvent = ready_;
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    renderer_->counterFrequency = frequency.QuadPart;
  }
  void closeHandles() {
    if (threadCopy_ != nullptr) CloseHandle(threadCopy_);
    if (ready_ != nullptr) CloseHandle(ready_);
    threadCopy_ = ready_ = nullptr;
  }

  // Starts the thread and waits for the hand-over; keeps a handle of the thread's own.
  void start() {
    ASSERT_EQ(startThread(renderer_), 0);
    ASSERT_NE(renderer_->thread, nullptr);
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), renderer_->thread, GetCurrentProcess(),
                                &threadCopy_, 0, FALSE, DUPLICATE_SAME_ACCESS));
    ASSERT_EQ(WaitForSingleObject(ready_, kPatienceMs), WAIT_OBJECT_0);
  }

  DWORD exitCode() {
    EXPECT_EQ(WaitForSingleObject(threadCopy_, kPatienceMs), WAIT_OBJECT_0);
    DWORD code = 0x12345678;
    GetExitCodeThread(threadCopy_, &code);
    return code;
  }

  void expectStoppedClean() {
    EXPECT_EQ(renderer_->thread, nullptr);
    EXPECT_EQ(readRunning(renderer_), 0);
    EXPECT_EQ(renderer_->counterFrequency, 0);
    EXPECT_EQ(renderer_->lastCounter, 0);
    EXPECT_EQ(renderer_->frameDelta, 0.0);
  }

  // Sets a target and its shown value apart, under the lock as the analysis does.
  void setTargets(float spectrum, float wave) {
    EnterCriticalSection(&renderer_->lock);
    renderer_->targetSpectrum[5] = spectrum;
    renderer_->targetWave[100] = wave;
    LeaveCriticalSection(&renderer_->lock);
  }
  bool shownReachedTargets(float spectrum, float wave) {
    EnterCriticalSection(&renderer_->lock);
    const bool reached =
        renderer_->shownSpectrum[5] == spectrum && renderer_->shownWave[100] == wave;
    LeaveCriticalSection(&renderer_->lock);
    return reached;
  }

  // Frames from now on are counted on the simulated display's clock.
  void simulateDisplay(int hz, bool presentWaits) {
    fake_d3d9_hook(FAKE_BEGIN_SCENE, drawOnSimulatedDisplay, nullptr);
    fake_d3d9_hook(FAKE_PRESENT, presentOnSimulatedDisplay, nullptr);
    gDisplay.ticksPerSecond = renderer_->counterFrequency;
    gDisplay.period = renderer_->counterFrequency / hz;
    gDisplay.presentWaits = presentWaits;
    gDisplay.renderer = renderer_;
    gDisplay.presents.clear();
    gDisplay.waits.clear();
    gDisplay.now = 1000 * gDisplay.period;
    gDisplay.on = true;
  }

  // Waits until no further device call arrives for a while; returns the settled count.
  unsigned settledLogSize() {
    unsigned size = fake_d3d9_log_size();
    for (int tries = 0; tries < 50; ++tries) {
      Sleep(200);
      const unsigned later = fake_d3d9_log_size();
      if (later == size) return size;
      size = later;
    }
    return size;
  }

  static HWND window_;
  Renderer* renderer_ = nullptr;
  HANDLE ready_ = nullptr;
  HANDLE threadCopy_ = nullptr;
  HANDLE presented_ = nullptr;
};

HWND FakeRenderThreadTest::window_ = nullptr;

TEST_F(FakeRenderThreadTest, DrawsOnItsOwnThreadAndStopsCleanly) {
  start();
  EXPECT_EQ(renderer_->initResult, 0);
  EXPECT_EQ(readRunning(renderer_), 1);  // raised before the signal
  EXPECT_EQ(WaitForSingleObject(ready_, 0), WAIT_TIMEOUT);  // signalled exactly once
  for (int frame = 0; frame < 3; ++frame) {
    ASSERT_EQ(WaitForSingleObject(presented_, kPatienceMs), WAIT_OBJECT_0) << frame;
  }
  EXPECT_EQ(renderer_->readyEvent, nullptr);
  const HANDLE first = renderer_->thread;
  EXPECT_EQ(startThread(renderer_), 1);  // no second thread
  EXPECT_EQ(renderer_->thread, first);

  const DWORD renderThreadId = GetThreadId(threadCopy_);
  EXPECT_EQ(stopThread(renderer_), 0);
  expectStoppedClean();
  EXPECT_EQ(exitCode(), 0u);
  EXPECT_EQ(fake::liveObjects(), 0u);
  EXPECT_EQ(fake_d3d9_module_references(), 0);
  EXPECT_EQ(fake_d3d9_count(FAKE_DRAW_PRIMITIVE), fake_d3d9_count(FAKE_PRESENT));

  // Direct3D is created, used and released on the render thread alone.
  for (DWORD caller : fake::callingThreads()) EXPECT_EQ(caller, renderThreadId);
  const std::vector<std::string> calls = fake::calls();
  ASSERT_GE(calls.size(), 4u);
  EXPECT_EQ(std::vector<std::string>(calls.end() - 4, calls.end()),
            (std::vector<std::string>{"vb1.Release()", "device1.Release()", "d3d1.Release()",
                                      "FreeLibrary(d3d9)"}));
  EXPECT_EQ(fake::debugLines(),
            std::vector<std::wstring>{L"Info: Display initialized successfully.\n"});
  EXPECT_TRUE(SetEvent(ready_));  // the event was never closed by the thread
  EXPECT_EQ(stopThread(renderer_), 1);
}

TEST_F(FakeRenderThreadTest, StartFailsWithoutACounterOrAThread) {
  renderer_->lastCounter = 1234;
  renderer_->frameDelta = 5.0;
  gCounterFailsOnThread = GetCurrentThreadId();
  EXPECT_EQ(startThread(renderer_), E_FAIL);
  gCounterFailsOnThread = 0;
  EXPECT_EQ(renderer_->thread, nullptr);
  EXPECT_EQ(renderer_->lastCounter, 1234);  // nothing else is changed
  EXPECT_EQ(renderer_->frameDelta, 5.0);

  gThreadCreationFails = true;
  EXPECT_EQ(startThread(renderer_), E_FAIL);
  gThreadCreationFails = false;
  EXPECT_EQ(renderer_->thread, nullptr);
  EXPECT_NE(renderer_->lastCounter, 1234);  // the counter was read first
  EXPECT_EQ(renderer_->frameDelta, 0.0);
  EXPECT_EQ(fake_d3d9_log_size(), 0u);

  start();  // and the same renderer starts once the thread can be made
  EXPECT_EQ(renderer_->initResult, 0);
  EXPECT_EQ(stopThread(renderer_), 0);
  EXPECT_EQ(exitCode(), 0u);
}

TEST_F(FakeRenderThreadTest, CounterFailureDuringPassesKeepsThePreviousDelta) {
  start();
  auto waitFrames = [this](int frames) {
    for (int i = 0; i < frames; ++i) {
      ASSERT_EQ(WaitForSingleObject(presented_, kPatienceMs), WAIT_OBJECT_0);
    }
  };
  waitFrames(2);
  gCounterFailsOnThread = GetThreadId(threadCopy_);
  waitFrames(2);  // the pass under way may have read the counter already
  const double delta = renderer_->frameDelta;
  const std::int64_t counter = renderer_->lastCounter;
  EXPECT_GT(delta, 0.0);
  waitFrames(3);  // frames go on
  EXPECT_EQ(renderer_->frameDelta, delta);
  EXPECT_EQ(renderer_->lastCounter, counter);
  gCounterFailsOnThread = 0;
  waitFrames(2);
  EXPECT_NE(renderer_->lastCounter, counter);
  EXPECT_EQ(stopThread(renderer_), 0);
}

TEST_F(FakeRenderThreadTest, FirstPassIsMeasuredFromTheStartIncludingTheDisplayStart) {
  // Hold the device creation for 300 ms, then catch the first pass at its device check.
  HANDLE creating = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  HANDLE creationGate = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE testing = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  HANDLE testGate = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  fake_d3d9_notify(FAKE_D3D_CREATE_DEVICE, creating);
  fake_d3d9_block(FAKE_D3D_CREATE_DEVICE, creationGate);
  fake_d3d9_notify(FAKE_TEST_COOPERATIVE_LEVEL, testing);
  fake_d3d9_block(FAKE_TEST_COOPERATIVE_LEVEL, testGate);

  ASSERT_EQ(startThread(renderer_), 0);
  ASSERT_EQ(WaitForSingleObject(creating, kPatienceMs), WAIT_OBJECT_0);
  Sleep(300);
  SetEvent(creationGate);
  ASSERT_EQ(WaitForSingleObject(ready_, kPatienceMs), WAIT_OBJECT_0);
  ASSERT_EQ(WaitForSingleObject(testing, kPatienceMs), WAIT_OBJECT_0);
  EXPECT_GE(renderer_->frameDelta, 0.29 * 60.0);  // sixtieths of a second

  fake_d3d9_block(FAKE_TEST_COOPERATIVE_LEVEL, nullptr);
  SetEvent(testGate);
  for (int frame = 0; frame < 3; ++frame) {
    ASSERT_EQ(WaitForSingleObject(presented_, kPatienceMs), WAIT_OBJECT_0);
  }
  EXPECT_LT(renderer_->frameDelta, 0.29 * 60.0);  // later passes measure one pass each
  EXPECT_EQ(stopThread(renderer_), 0);
  fake_d3d9_reset();
  for (HANDLE h : {creating, creationGate, testing, testGate}) CloseHandle(h);
}

TEST_F(FakeRenderThreadTest, WindowThatCannotBeSeenIsAnimatedButNotDrawn) {
  start();
  ASSERT_EQ(WaitForSingleObject(presented_, kPatienceMs), WAIT_OBJECT_0);
  struct Obstacle {
    const char* name;
    void (*apply)(HWND);
    void (*undo)(HWND);
  };
  const Obstacle obstacles[] = {
      {"hidden", [](HWND w) { ShowWindow(w, SW_HIDE); },
       [](HWND w) { ShowWindow(w, SW_SHOWNA); }},
      {"minimised", [](HWND w) { ShowWindow(w, SW_MINIMIZE); },
       [](HWND w) { ShowWindow(w, SW_RESTORE); }},
      {"disabled", [](HWND w) { EnableWindow(w, FALSE); },
       [](HWND w) { EnableWindow(w, TRUE); }},
      {"empty", [](HWND w) { SetWindowPos(w, nullptr, 0, 0, 0, 0, SWP_NOZORDER | SWP_NOACTIVATE); },
       [](HWND w) {
         SetWindowPos(w, nullptr, 0, 0, 1024, 1024, SWP_NOZORDER | SWP_NOACTIVATE);
       }},
  };
  float level = 40.0f;
  for (const Obstacle& o : obstacles) {
    SCOPED_TRACE(o.name);
    o.apply(window_);
    const unsigned settled = settledLogSize();
    level += 1.0f;
    setTargets(level, -level);
    Sleep(400);
    EXPECT_EQ(fake_d3d9_log_size(), settled);  // no device call at all
    // Passes of about 60 ms close the whole gap in one step.
    EXPECT_TRUE(shownReachedTargets(level, -level));
    EXPECT_GE(renderer_->frameDelta, 3.5);
    o.undo(window_);
    ResetEvent(presented_);
    EXPECT_EQ(WaitForSingleObject(presented_, kPatienceMs), WAIT_OBJECT_0);
  }
  EXPECT_EQ(stopThread(renderer_), 0);
  EXPECT_EQ(exitCode(), 0u);
}

TEST_F(FakeRenderThreadTest, FailedStartSignalsReleasesWhatWasMadeAndEnds) {
  struct Case {
    FakeMethod method;
    std::vector<std::wstring> lines;
  };
  const std::wstring failed = L"Error: Failed to initialize display.\n";
  const Case cases[] = {
      {FAKE_LOAD_LIBRARY, {L"Error: Failed to load d3d9.dll.\n", failed}},
      {FAKE_GET_PROC_ADDRESS, {failed}},
      {FAKE_DIRECT3D_CREATE9, {failed}},
      {FAKE_D3D_CREATE_DEVICE, {failed}},
      {FAKE_CREATE_VERTEX_BUFFER, {failed}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.method);
    fake_d3d9_reset();
    fake_d3d9_script(c.method, 1, 1, E_FAIL);
    InterlockedExchange(&renderer_->running, 7);  // a value that no exchange of the thread gives
    start();
    // By the time the starter resumes, nothing of the failed start is left.
    EXPECT_EQ(renderer_->initResult, E_FAIL);
    EXPECT_EQ(fake::liveObjects(), 0u);
    EXPECT_EQ(fake_d3d9_module_references(), 0);
    EXPECT_EQ(renderer_->d3dModule, nullptr);
    EXPECT_EQ(renderer_->device, nullptr);
    EXPECT_EQ(renderer_->readyEvent, nullptr);
    EXPECT_EQ(exitCode(), 1u);
    EXPECT_EQ(readRunning(renderer_), 7);  // the loop was never entered
    EXPECT_EQ(fake::debugLines(), c.lines);
    EXPECT_EQ(fake_d3d9_count(FAKE_TEST_COOPERATIVE_LEVEL), 0u);
    // The ended thread's handle is still recorded until the stop closes it.
    EXPECT_NE(renderer_->thread, nullptr);
    EXPECT_EQ(stopThread(renderer_), 0);
    EXPECT_EQ(renderer_->thread, nullptr);
    EXPECT_EQ(fake::errors(), "");
    delete renderer_;
    closeHandles();
    makeRenderer();
  }
}

TEST_F(FakeRenderThreadTest, StopRightAfterTheStartIsNeverLost) {
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    fake_d3d9_reset();
    gPausingEvent = ready_;
    start();
    EXPECT_EQ(stopThread(renderer_), 0);  // while the thread still pauses after its signal
    gPausingEvent = nullptr;
    EXPECT_EQ(exitCode(), 0u);  // ended by itself, not terminated after the time-out
    EXPECT_EQ(fake_d3d9_count(FAKE_PRESENT), 0u);  // the stop came before the first pass
    EXPECT_EQ(fake::liveObjects(), 0u);
    delete renderer_;
    closeHandles();
    makeRenderer();
  }
}

TEST_F(FakeRenderThreadTest, ThreadHungInPresentIsTerminatedAfterTwoSeconds) {
  HANDLE presenting = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  HANDLE never = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  fake_d3d9_notify(FAKE_PRESENT, presenting);
  fake_d3d9_block(FAKE_PRESENT, never);
  start();
  ASSERT_EQ(WaitForSingleObject(presenting, kPatienceMs), WAIT_OBJECT_0);

  LARGE_INTEGER before;
  QueryPerformanceCounter(&before);
  // Terminated, it may have died holding anything: the renderer is not freed.
  EXPECT_FALSE(retireRenderer(renderer_));
  const double waited = millisecondsSince(before);
  EXPECT_GE(waited, 1950.0);
  EXPECT_LT(waited, 8000.0);
  EXPECT_EQ(exitCode(), 255u);
  EXPECT_TRUE(renderer_->abandoned);
  expectStoppedClean();

  // The terminated thread released nothing; tidy up for the next test.
  EXPECT_NE(renderer_->device, nullptr);
  fake_d3d9_block(FAKE_PRESENT, nullptr);
  releaseDisplay(renderer_);
  CloseHandle(presenting);
  CloseHandle(never);
}

// Frames at the pace of a 144 Hz display: after a Present that waits for the blank the
// loop waits no more, and every refresh gets a frame; after one that returns at once the
// loop waits out the rest of each period itself, no faster than the display.
TEST_F(FakeRenderThreadTest, FramesComeAtTheDisplaysPace) {
  for (const bool presentWaits : {true, false}) {
    SCOPED_TRACE(presentWaits ? "Present waits for the blank" : "Present returns at once");
    fake_d3d9_reset();
    fake_d3d9_set_refresh_rate(144);
    simulateDisplay(144, presentWaits);
    start();
    for (int tries = 0; tries < 1000 && fake_d3d9_count(FAKE_PRESENT) < 200; ++tries) Sleep(10);
    EXPECT_EQ(stopThread(renderer_), 0);
    gDisplay.on = false;
    EXPECT_EQ(exitCode(), 0u);

    const std::vector<std::int64_t>& presents = gDisplay.presents;
    const std::vector<DWORD>& waits = gDisplay.waits;
    ASSERT_GE(presents.size(), 200u);
    EXPECT_EQ(fake_d3d9_count(FAKE_D3D_GET_ADAPTER_DISPLAY_MODE), 1u);  // read once, not per frame
    const std::int64_t span = presents.back() - presents.front();
    const auto frames = static_cast<std::int64_t>(presents.size()) - 1;
    if (presentWaits) {
      EXPECT_EQ(waits, std::vector<DWORD>{});
      EXPECT_EQ(span, frames * gDisplay.period) << "a refresh went without a frame";
    } else {
      ASSERT_GE(waits.size(), presents.size() - 1) << "a frame was not followed by a wait";
      EXPECT_LE(*std::max_element(waits.begin(), waits.end()), 7u);  // the rest of 6.9 ms
      EXPECT_LE(frames, span / gDisplay.period + 1) << "faster than the display";
      EXPECT_GE(frames * 100, span / gDisplay.period * 98) << "well below the display's rate";
    }
    delete renderer_;
    closeHandles();
    makeRenderer();
  }
}

// Every pause of the render thread (after a frame, a lost device, a failure) is this one:
// a stop request ends it at once, whatever its length.
DWORD WINAPI pauseForAMinute(LPVOID renderer) {
  pauseRenderThread(static_cast<Renderer*>(renderer), 60000);
  return 0;
}

TEST_F(FakeRenderThreadTest, AStopRequestEndsAPauseAtOnce) {
  renderer_->stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  renderer_->thread = CreateThread(nullptr, 0, pauseForAMinute, renderer_, 0, nullptr);
  ASSERT_NE(renderer_->thread, nullptr);
  ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), renderer_->thread, GetCurrentProcess(),
                              &threadCopy_, 0, FALSE, DUPLICATE_SAME_ACCESS));
  Sleep(50);
  LARGE_INTEGER before;
  QueryPerformanceCounter(&before);
  EXPECT_EQ(stopThread(renderer_), 0);
  EXPECT_LT(millisecondsSince(before), 1000.0);
  EXPECT_EQ(exitCode(), 0u) << "the pause did not end, the thread was terminated";
  EXPECT_FALSE(renderer_->abandoned);
  EXPECT_EQ(renderer_->stopEvent, nullptr);
}

// A reset that fails for good leads to a new device after a pause; while none can be
// made the pauses grow (counted on the simulated clock), and the new device draws on.
// Where no device can be made at all, a stop in the middle of a long pause still ends
// the thread at once rather than by termination.
TEST_F(FakeRenderThreadTest, DeviceThatFailsItsResetIsMadeAgainAfterPausesThatGrow) {
  fake_d3d9_script(FAKE_TEST_COOPERATIVE_LEVEL, 3, 3, fake::kDeviceNotReset);
  fake_d3d9_script(FAKE_RESET, 1, 1, fake::kOutOfVideoMemory);
  fake_d3d9_script(FAKE_D3D_CREATE_DEVICE, 2, 3, D3DERR_NOTAVAILABLE);
  simulateDisplay(60, false);
  start();
  for (int tries = 0; tries < 1000 && fake_d3d9_count(FAKE_PRESENT) < 10; ++tries) Sleep(10);
  EXPECT_EQ(stopThread(renderer_), 0);
  gDisplay.on = false;
  EXPECT_EQ(exitCode(), 0u);
  EXPECT_EQ(fake_d3d9_count(FAKE_D3D_CREATE_DEVICE), 4u);
  EXPECT_EQ(fake::calls(0, FAKE_PRESENT).back(), "device2.Present(null, null, null, null)");
  const std::vector<DWORD>& waits = gDisplay.waits;
  const auto recovery = std::find(waits.begin(), waits.end(), 250u);
  ASSERT_LE(recovery + 3, waits.end());
  EXPECT_EQ(std::vector<DWORD>(recovery, recovery + 3), (std::vector<DWORD>{250, 500, 1000}));
  EXPECT_LT(*std::max_element(recovery + 3, waits.end()), 20u) << "the new device is paced as usual";

  delete renderer_;
  closeHandles();
  fake_d3d9_reset();
  makeRenderer();
  fake_d3d9_script(FAKE_TEST_COOPERATIVE_LEVEL, 2, 2, fake::kDriverInternalError);
  fake_d3d9_script(FAKE_D3D_CREATE_DEVICE, 2, 0, D3DERR_NOTAVAILABLE);
  start();
  // Tries after 250, 500 and 1000 ms: the thread is now in its pause of 2 s.
  for (int tries = 0; tries < 1000 && fake_d3d9_count(FAKE_D3D_CREATE_DEVICE) < 4; ++tries) Sleep(10);
  Sleep(100);
  EXPECT_EQ(stopThread(renderer_), 0);
  EXPECT_EQ(exitCode(), 0u) << "the stop waited out the pause and terminated the thread";
  EXPECT_EQ(fake_d3d9_count(FAKE_D3D_CREATE_DEVICE), 4u);
}

}  // namespace

// The linker takes these slots instead of kernel32's. A 32-bit slot's name carries the
// underscore and the argument bytes of a __stdcall function.
#if defined(__i386__)
#define IMPORT_SLOT(name, argumentBytes) __asm__("__imp__" #name "@" #argumentBytes)
#else
#define IMPORT_SLOT(name, argumentBytes) __asm__("__imp_" #name)
#endif
extern "C" {
BOOL(WINAPI* slotSetEvent)(HANDLE) IMPORT_SLOT(SetEvent, 4) = setEventThenPause;
BOOL(WINAPI* slotQueryPerformanceCounter)(LARGE_INTEGER*)
    IMPORT_SLOT(QueryPerformanceCounter, 4) = readCounterUnlessFailing;
DWORD(WINAPI* slotWaitForSingleObject)(HANDLE, DWORD) IMPORT_SLOT(WaitForSingleObject, 8) =
    waitOnSimulatedClock;
HANDLE(WINAPI* slotCreateThread)(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID,
                                 DWORD, LPDWORD) IMPORT_SLOT(CreateThread, 24) =
    createThreadUnlessFailing;
}
