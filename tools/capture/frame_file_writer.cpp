#include "tools/capture/frame_file_writer.h"

#include <cstdio>
#include <cwchar>

namespace tarnevox {

namespace {

bool joinPath(const wchar_t* directory, const wchar_t* name, wchar_t* path,
              size_t capacity) {
  size_t length = std::wcslen(directory);
  bool hasSeparator = length > 0 && (directory[length - 1] == L'\\' || directory[length - 1] == L'/');
  int written = std::swprintf(path, capacity, L"%ls%ls%ls", directory,
                              hasSeparator ? L"" : L"\\", name);
  return written > 0 && static_cast<size_t>(written) < capacity;
}

bool writeAll(HANDLE file, const void* data, size_t size) {
  const BYTE* bytes = static_cast<const BYTE*>(data);
  while (size > 0) {
    DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(file, bytes, chunk, &written, nullptr) || written == 0) return false;
    bytes += written;
    size -= written;
  }
  return true;
}

bool writePpm(const wchar_t* path, const FramePicture& picture) {
  HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  char header[96];
  int headerLength = std::snprintf(header, sizeof header, "P6\n# frame %u\n# present %u\n%u %u\n255\n",
                                   picture.frame, picture.present, picture.width, picture.height);
  size_t pixelBytes = static_cast<size_t>(picture.width) * picture.height * 3;
  bool ok = headerLength > 0 && writeAll(file, header, static_cast<size_t>(headerLength)) &&
            writeAll(file, picture.rgb, pixelBytes);
  CloseHandle(file);
  return ok;
}

// A reader that opened the old file without FILE_SHARE_DELETE blocks the rename for a
// moment; a few short retries ride that out without stalling the caller's frame.
bool replaceFile(const wchar_t* from, const wchar_t* to) {
  for (int attempt = 0; attempt < 4; ++attempt) {
    if (MoveFileExW(from, to, MOVEFILE_REPLACE_EXISTING)) return true;
    Sleep(1);
  }
  return false;
}

}  // namespace

bool frameFilePath(const CaptureSettings& settings, unsigned frame, wchar_t* path,
                   size_t capacity) {
  wchar_t name[32];
  if (settings.mode == CaptureMode::kLatest) {
    std::swprintf(name, 32, L"latest.ppm");
  } else {
    std::swprintf(name, 32, L"frame-%05u.ppm", frame);
  }
  return joinPath(settings.directory, name, path, capacity);
}

void ensureCaptureDirectory(const CaptureSettings& settings) {
  if (settings.enabled) CreateDirectoryW(settings.directory, nullptr);
}

bool writeFrameFile(const CaptureSettings& settings, const FramePicture& picture) {
  wchar_t finalPath[MAX_PATH + 32];
  wchar_t temporaryPath[MAX_PATH + 32];
  if (!frameFilePath(settings, picture.frame, finalPath, MAX_PATH + 32)) return false;
  // Named after the process, so two programs capturing into one folder do not collide.
  wchar_t temporaryName[32];
  std::swprintf(temporaryName, 32, L"capture-%lu.tmp", GetCurrentProcessId());
  if (!joinPath(settings.directory, temporaryName, temporaryPath, MAX_PATH + 32)) return false;
  if (!writePpm(temporaryPath, picture)) {
    DeleteFileW(temporaryPath);
    return false;
  }
  return replaceFile(temporaryPath, finalPath);
}

}  // namespace tarnevox
