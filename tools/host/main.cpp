// tarnevox-host: loads a visualization plug-in and runs one of its modules.
#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/host/host_options.h"
#include "tools/host/plugin_library.h"
#include "tools/host/vis_session.h"
#include "tools/host/wav_file.h"

using namespace tarnevox::host;

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

int fail(int status, const std::string& message) {
  std::fprintf(stderr, "tarnevox-host: %s\n", message.c_str());
  return status;
}

std::vector<std::string> commandLineArguments() {
  int count = 0;
  wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> result;
  for (int i = 1; i < count; ++i) result.push_back(narrowText(arguments[i]));
  LocalFree(arguments);
  return result;
}

void listModules(const PluginLibrary& library) {
  for (int i = 0; i < library.moduleCount(); ++i) {
    const char* description = library.module(i)->description;
    std::printf("%d %s\n", i, description != nullptr ? description : "");
  }
}

// The configure callback runs on a thread with a main window, as a player calls it.
int configureModule(PluginLibrary& library, const HostOptions& options) {
  VisModule* module = library.module(options.module);
  if (module == nullptr) {
    return fail(kExitFailure, "module " + std::to_string(options.module) +
                                  " is out of range: the plug-in has " +
                                  std::to_string(library.moduleCount()) + " modules");
  }
  HWND owner = CreateWindowExW(0, L"STATIC", L"Tarnevox host", WS_OVERLAPPED, 0, 0, 100, 100,
                               nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  module->parentWindow = owner;
  module->dllInstance = library.handle();
  module->onConfigure(module);
  DestroyWindow(owner);
  return 0;
}

bool sessionOptionsFrom(const HostOptions& options, const WavData* wav, SessionOptions* session,
                        std::string* error) {
  session->module = options.module;
  session->signal = options.signal;
  session->wav = wav;
  session->skin.foreground = options.foreground;
  session->skin.background = options.background;
  if (!options.skinPath.empty()) {
    session->skin.kind = SkinKind::kBitmapFile;
    session->skin.bitmapPath = wideText(options.skinPath);
    HBITMAP probe = makeSkinBitmap(session->skin);
    if (probe == nullptr) {
      *error = "cannot load skin bitmap '" + options.skinPath + "': " +
               systemErrorText(GetLastError());
      return false;
    }
    DeleteObject(probe);
  }
  session->renderLimit = options.renderLimit;
  session->timeLimitMs = static_cast<DWORD>(options.seconds * 1000.0 + 0.5);
  session->frameWidth = options.frameWidth;
  session->frameHeight = options.frameHeight;
  return true;
}

}  // namespace

int main() {
  HostOptions options;
  std::string error;
  if (!parseHostOptions(commandLineArguments(), &options, &error)) return fail(kExitUsage, error);
  if (options.help) {
    std::fputs(hostUsage(), stdout);
    return 0;
  }

  PluginLibrary library;
  if (!library.load(wideText(options.pluginPath), &error)) return fail(kExitFailure, error);
  if (options.list) {
    listModules(library);
    return 0;
  }
  if (options.configure) return configureModule(library, options);

  WavData wav;
  if (!options.wavPath.empty() && !readWavFile(wideText(options.wavPath), &wav, &error)) {
    return fail(kExitFailure, error);
  }
  SessionOptions sessionOptions;
  if (!sessionOptionsFrom(options, options.wavPath.empty() ? nullptr : &wav, &sessionOptions,
                          &error)) {
    return fail(kExitFailure, error);
  }

  VisSession session;
  if (!session.start(library, sessionOptions, &error)) return fail(kExitFailure, error);
  // The resize and the double-click, each at its time after the start, the earlier first.
  struct TimedStep {
    double atMs;
    bool resize;
  };
  std::vector<TimedStep> steps;
  if (options.resizeWidth != 0) steps.push_back({options.resizeAfterSeconds * 1000.0, true});
  if (options.fullScreenAfterSeconds > 0) {
    steps.push_back({options.fullScreenAfterSeconds * 1000.0, false});
  }
  std::sort(steps.begin(), steps.end(),
            [](const TimedStep& a, const TimedStep& b) { return a.atMs < b.atMs; });
  const double started = nowMs();
  for (const TimedStep& step : steps) {
    const double wait = started + step.atMs - nowMs();
    if (session.pumpFor(wait > 0 ? static_cast<DWORD>(wait + 0.5) : 0)) break;
    if (!step.resize) {
      PostMessageW(session.visualWindow(), WM_LBUTTONDBLCLK, MK_LBUTTON, 0);
      continue;
    }
    const double when = nowMs();
    session.resizeFrame(options.resizeWidth, options.resizeHeight);
    std::printf("resized the frame to %dx%d at %.3f ms\n", options.resizeWidth,
                options.resizeHeight, when);
    std::fflush(stdout);
  }
  const SessionReport report = session.wait();
  const char* description = library.module(options.module)->description;
  if (report.initResult != 0) {
    return fail(kExitFailure, "module " + std::to_string(options.module) + " (" +
                                  (description != nullptr ? description : "") +
                                  ") did not start: onInit answered " +
                                  std::to_string(report.initResult));
  }
  std::printf("module %d (%s): %ld render calls, stopped: %s\n", options.module,
              description != nullptr ? description : "", report.renderCalls,
              stopReasonText(report.stopReason));
  return 0;
}
