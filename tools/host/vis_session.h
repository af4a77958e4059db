// The stand-in host: one module of a loaded plug-in run as a media player runs it.
//
// The program tarnevox-host and the Windows tests drive the same code:
//
//   PluginLibrary library;
//   std::string error;
//   if (!library.load(L"vis_tarnevox.dll", &error)) ...   // error is one line
//   SessionOptions options;              // module 0, sine sweep, default skin colours
//   options.module = 1;
//   options.signal = SignalKind::kSilence;
//   options.skin.foreground = {255, 204, 0};
//   options.renderLimit = 50;            // stop after 50 render calls
//   SessionReport report;
//   if (!runModule(library, options, &report, &error)) ...  // could not even start
//   report.initResult == 0, report.renderCalls == 50, report.withdrawals == 1, ...
//
// or step by step, to act on the windows while the module runs:
//
//   VisSession session;
//   session.start(library, options, &error);  // returns once onInit has returned
//   session.initResult();                     // onInit's answer
//   session.pumpFor(500);                     // let it run for half a second
//   session.setSkin(otherSkin);               // what later skin requests get
//   PostMessageW(session.visualWindow(), WM_KEYDOWN, VK_ESCAPE, 0);
//   SessionReport report = session.wait();    // report.stopReason == kEscapeKey
//
// What happens: start() creates the host's (hidden) main window on the calling thread
// and a visualization thread, which fills in the module's parentWindow, dllInstance,
// sampleRate and channels and calls onInit. The main window answers WM_USER 505 with the
// frame-window service (which makes a resizable top-level frame on the visualization
// thread and puts its handle in the first word of the plug-in's record), records 611,
// answers 503 with a freshly made skin bitmap, and takes Escape from the forwarded key
// messages as a stop. After a successful onInit the visualization thread calls onRender
// every delayMs with waveformData from the signal or WAV file, running a message loop
// for the frame and the plug-in's windows in between, until a stop: the render or time
// limit, Escape, closing the frame, the plug-in's windows ending the loop, or
// requestStop(). Then it calls onQuit (also after a failed onInit, which leaves windows
// for onQuit to remove) and destroys the frame if the plug-in left it. That is the
// default kind of host; HostKind names the others the stand-in can play.
//
// Threads: start(), pumpFor() and wait() belong to one thread, which owns the main window
// and must keep pumping its messages while the module runs (these three do), because the
// plug-in sends its host messages there. requestStop() may be called from any thread.
// One session at a time per process: the frame-window service has no context argument.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "tools/host/plugin_library.h"
#include "tools/host/signals.h"
#include "tools/host/skin_bitmap.h"
#include "tools/host/wav_file.h"

namespace tarnevox::host {

enum class StopReason {
  kNone,
  kInitFailed,       // onInit answered non-zero
  kRenderLimit,
  kTimeLimit,
  kEscapeKey,        // Escape reached the main window (forwarded) or the frame
  kFrameClosed,      // the user closed the frame window
  kWindowDestroyed,  // the visualization thread's message loop was told to quit
  kRequested,        // requestStop()
};

const char* stopReasonText(StopReason reason);

// The performance counter in milliseconds: the clock of the reports, and the one the
// capturing d3d9.dll logs its Presents on.
double nowMs();

// How the host drives the module's callbacks.
enum class HostKind {
  // start, render calls and stop on a visualization thread, which ends after the stop;
  // the frame service puts its frame into the plug-in's record.
  kRecordFilling,
  // as a player that runs start, render calls (every 25 ms) and stop on a visualization
  // thread whose message loop ends only on a quit message, rendering on after the stop
  // until it does; its frame service makes a frame on that thread and leaves the record
  // empty. The frame is the host's: it destroys it once the loop has ended.
  kOwnThreadPlayer,
  // start and stop on the thread that owns the main window, whose message loop ends on
  // a quit message as a program's main loop does; render calls from another thread.
  kUiThread,
};

struct SessionOptions {
  HostKind hostKind = HostKind::kRecordFilling;
  int module = 0;
  SignalKind signal = SignalKind::kSineSweep;
  const WavData* wav = nullptr;  // played instead of the signal when set; must outlive the run
  SkinSpec skin;
  bool embedService = true;      // false: answer 0 to 505, as a host too old for the plug-in
  long renderLimit = 0;          // stop after this many render calls; 0: no limit
  DWORD timeLimitMs = 0;         // stop this long after onInit returned; 0: no limit
  int frameWidth = 1024;         // client area of the frame window
  int frameHeight = 1024;
  // Keep the announced visual window over the frame's client area, on the announcement
  // and on every resize of the frame, as some hosts do themselves.
  bool sizeVisualWindow = false;

  // Hosts that behave unlike the player the plug-in was written for:
  // floating-point exceptions (FE_* bits) unmasked around each render call, as programs
  // built with Delphi run (FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW);
  int unmaskedExceptions = 0;
  // with the x87 unit at 64-bit precision as well, as Delphi's runtime sets it (its x87
  // control word is 0x1332 with those three unmasked);
  bool extendedPrecision = false;
  // in a 32-bit process, render calls made with the stack this many bytes off 16-byte
  // alignment, as code from compilers that keep only Windows' 4-byte alignment calls;
  int stackOffset = 0;
  // a frame service that hands out a handle that is no window;
  bool bogusFrame = false;
  // how often onQuit is called at the end, also after a failed start (0: never).
  int quitCalls = 1;
  // called on the main window's thread when the withdrawal (611 with 0) arrives, before
  // it is answered, as by a host busy with something else.
  std::function<void()> onWithdrawal;
};

struct SessionReport {
  bool started = false;        // the visualization thread called onInit
  int initResult = -1;         // onInit's answer; 0 means the module ran
  long renderCalls = 0;
  long renderNonZero = 0;      // render calls that answered non-zero
  StopReason stopReason = StopReason::kNone;
  int embedRequests = 0;       // WM_USER 505
  int framesMade = 0;          // calls of the frame-window service
  int announcements = 0;       // WM_USER 611 with a window
  int withdrawals = 0;         // WM_USER 611 with 0
  int skinRequests = 0;        // WM_USER 503
  int keyMessages = 0;         // WM_KEYDOWN and WM_KEYUP that reached the main window
  std::vector<WPARAM> keysDown;  // the keys of those WM_KEYDOWN, in order
  HWND announcedWindow = nullptr;  // the last window announced through 611
  HWND frameWindow = nullptr;      // the last frame made (destroyed by now)
  std::wstring frameTitle;         // the frame's title when onInit returned
  bool frameShownAfterInit = false;
  bool frameLeftAfterQuit = false;  // onQuit did not destroy the frame; the host did
  // Render calls after which the floating-point control or status differed from before.
  long floatingPointChanged = 0;
  double longestQuitMs = 0.0;  // the longest onQuit call
  // The thread that ran onQuit found a quit message in its queue right after it
  // (kRecordFilling, kOwnThreadPlayer).
  bool quitReachedStoppingThread = false;
  // kOwnThreadPlayer: from the stop's return to the end of the visualization loop on a
  // quit message, and to the announced window's end, in ms; -1 when not seen within 2 s.
  double loopEndedAfterStopMs = -1.0;
  double visualGoneAfterStopMs = -1.0;
  // kUiThread: the main loop ended on a quit message; a message posted to the main
  // window after the stop was answered.
  bool hostLoopEnded = false;
  bool hostAnsweredAfterStop = false;
};

class VisSession {
 public:
  VisSession() = default;
  ~VisSession();  // stops and waits for a session still running
  VisSession(const VisSession&) = delete;
  VisSession& operator=(const VisSession&) = delete;

  // Starts options.module of the library on a new visualization thread and returns once
  // onInit has returned. False, with a one-line reason, when the module index is out of
  // range, another session runs, or the window or thread cannot be made.
  bool start(PluginLibrary& library, const SessionOptions& options, std::string* error);

  // Pumps the main window's messages for up to the given time; true once the session
  // has ended.
  bool pumpFor(DWORD milliseconds);

  // Pumps until the visualization thread has ended, then tidies up and reports.
  SessionReport wait();

  // Asks the visualization thread to stop; the first reason given is the one reported.
  void requestStop(StopReason reason = StopReason::kRequested);

  // Resizes the frame to this client size, as a user or a host does; its top-left corner
  // stays where it is.
  void resizeFrame(int clientWidth, int clientHeight);

  // The skin that later 503 requests get; on the session's own thread, which answers
  // them. (A plug-in reads the skin again when its window sees WM_DISPLAYCHANGE.)
  void setSkin(const SkinSpec& skin) { options_.skin = skin; }

  int initResult() const { return initResult_.load(); }
  long renderCalls() const { return renderCalls_.load(); }
  HWND hostWindow() const { return hostWindow_; }
  HWND frameWindow() const { return frameWindow_.load(); }
  HWND visualWindow() const { return visualWindow_.load(); }  // announced, not withdrawn

 private:
  static DWORD WINAPI visThreadMain(void* self);
  static LRESULT CALLBACK hostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK frameWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  static HWND __cdecl embedService(void* frameRecord);

  void runVisThread();
  void callInit();
  void callQuit();
  void renderUntilLoopEnds();
  void probeHostLoop();
  void destroyLeftFrame();
  void pumpMainThread();
  void renderLoop();
  int render();
  int callRender();
  void fillWaveform(long call);
  LRESULT answerHostMessage(WPARAM wParam, LPARAM lParam);
  HWND makeFrame();
  bool pumpUntil(HANDLE handle, DWORD milliseconds);
  void release();

  SessionOptions options_;
  PluginLibrary* library_ = nullptr;
  VisModule* module_ = nullptr;
  HWND hostWindow_ = nullptr;
  HANDLE thread_ = nullptr;
  HANDLE initDone_ = nullptr;
  HANDLE stopEvent_ = nullptr;
  std::atomic<int> stopReason_{static_cast<int>(StopReason::kNone)};
  std::atomic<int> initResult_{-1};
  std::atomic<long> renderCalls_{0};
  std::atomic<HWND> frameWindow_{nullptr};
  std::atomic<HWND> visualWindow_{nullptr};
  bool hostLoopEnded_ = false;  // kUiThread: the main window's thread saw a quit message
  SessionReport report_;
};

// start() and wait() in one. False, with a one-line reason, only when start() fails;
// a failed onInit is reported in *report.
bool runModule(PluginLibrary& library, const SessionOptions& options, SessionReport* report,
               std::string* error);

}  // namespace tarnevox::host
