// Message boxes are modal: a watcher thread finds one by its caption, reads what it
// shows and presses OK, so the call that raised it can return.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>
#include <thread>

namespace tarnevox::testing {

struct BoxSeen {
  bool found = false;
  HWND owner = nullptr;
  HICON icon = nullptr;
  int buttonCount = 0;
  bool okButton = false;
  std::wstring text;
};

inline BOOL CALLBACK inspectBoxChild(HWND child, LPARAM param) {
  auto* seen = reinterpret_cast<BoxSeen*>(param);
  wchar_t className[64] = {};
  GetClassNameW(child, className, 64);
  if (lstrcmpiW(className, L"Button") == 0) {
    ++seen->buttonCount;
    if (GetDlgCtrlID(child) == IDOK) seen->okButton = true;
  } else if (lstrcmpiW(className, L"Static") == 0) {
    if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
      seen->icon = reinterpret_cast<HICON>(SendMessageW(child, STM_GETICON, 0, 0));
    } else if (seen->text.empty()) {
      wchar_t text[512] = {};
      GetWindowTextW(child, text, 512);
      seen->text = text;
    }
  }
  return TRUE;
}

// Watches for a visible dialog-class window with the caption until stop() or a find.
class BoxWatcher {
 public:
  explicit BoxWatcher(std::wstring caption) : caption_(std::move(caption)) {
    thread_ = std::thread([this] { watch(); });
  }
  ~BoxWatcher() { stop(); }
  BoxWatcher(const BoxWatcher&) = delete;
  BoxWatcher& operator=(const BoxWatcher&) = delete;

  // Ends the watch and returns what was seen.
  const BoxSeen& stop() {
    stopping_ = true;
    if (thread_.joinable()) thread_.join();
    return seen_;
  }

 private:
  void watch() {
    for (int attempt = 0; attempt < 600 && !stopping_; ++attempt) {
      HWND box = FindWindowW(L"#32770", caption_.c_str());
      if (box != nullptr && IsWindowVisible(box)) {
        seen_.found = true;
        seen_.owner = GetWindow(box, GW_OWNER);
        EnumChildWindows(box, inspectBoxChild, reinterpret_cast<LPARAM>(&seen_));
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        return;
      }
      Sleep(25);
    }
  }

  std::wstring caption_;
  BoxSeen seen_;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

}  // namespace tarnevox::testing
