// Screenshots of the X screen, taken by ImageMagick's import (a Linux program started
// through Wine), for the tests that check what a user sees.
#pragma once

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace tarnevox::testing {

struct Rgb {
  int r, g, b;
};

// A screen grab, read from the binary PPM that import writes.
class ScreenShot {
 public:
  bool load(const wchar_t* windowsPath) {
    FILE* file = _wfopen(windowsPath, L"rb");
    if (file == nullptr) return false;
    int maxValue = 0;
    const bool header = std::fscanf(file, "P6 %d %d %d", &width_, &height_, &maxValue) == 3 &&
                        maxValue == 255 && std::fgetc(file) != EOF;
    pixels_.resize(header ? static_cast<size_t>(width_) * height_ * 3 : 0);
    const bool body = header && std::fread(pixels_.data(), 1, pixels_.size(), file) == pixels_.size();
    std::fclose(file);
    return body;
  }
  Rgb at(int x, int y) const {
    const unsigned char* p = &pixels_[(static_cast<size_t>(y) * width_ + x) * 3];
    return Rgb{p[0], p[1], p[2]};
  }
  int width() const { return width_; }
  int height() const { return height_; }

 private:
  int width_ = 0;
  int height_ = 0;
  std::vector<unsigned char> pixels_;
};

inline bool looksLike(const Rgb& actual, const Rgb& expected, int tolerance = 2) {
  return std::abs(actual.r - expected.r) <= tolerance &&
         std::abs(actual.g - expected.g) <= tolerance && std::abs(actual.b - expected.b) <= tolerance;
}

// Grabs the whole X screen (the root window).
inline bool grabScreen(ScreenShot& shot) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring windowsPath =
      std::wstring(temp) + L"tarnevox-screen-" + std::to_wstring(GetCurrentProcessId()) + L".ppm";
  // Wine maps the Windows temp folder into the prefix; ask it for the Unix name.
  using ToUnix = char*(CDECL*)(const WCHAR*);
  auto wineGetUnixFileName = reinterpret_cast<ToUnix>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (wineGetUnixFileName == nullptr) return false;
  char* converted = wineGetUnixFileName(windowsPath.c_str());
  if (converted == nullptr) return false;
  std::wstring unixName;
  for (const char* c = converted; *c != 0; ++c) unixName += static_cast<wchar_t>(*c);
  HeapFree(GetProcessHeap(), 0, converted);

  // Wine does not wait for a Linux program to end, so the grab is written under another
  // name and renamed when complete; the rename is what this waits for.
  std::wstring command = L"Z:\\bin\\sh -c \"/usr/bin/import -window root -depth 8 " + unixName +
                         L".part.ppm && mv " + unixName + L".part.ppm " + unixName + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  DeleteFileW(windowsPath.c_str());
  if (!CreateProcessW(L"Z:\\bin\\sh", command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &startup, &process)) {
    std::fprintf(stderr, "cannot start import: error %lu\n", GetLastError());
    return false;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  for (int waited = 0; waited < 300; ++waited) {
    if (GetFileAttributesW(windowsPath.c_str()) != INVALID_FILE_ATTRIBUTES) break;
    Sleep(100);
  }
  const bool loaded = shot.load(windowsPath.c_str());
  if (!loaded) std::fprintf(stderr, "cannot read the screen grab %ls\n", unixName.c_str());
  DeleteFileW(windowsPath.c_str());
  return loaded;
}

}  // namespace tarnevox::testing
