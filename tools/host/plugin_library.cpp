#include "tools/host/plugin_library.h"

namespace tarnevox::host {

namespace {

// A plug-in that answers for ever more indices is broken; stop counting somewhere.
constexpr int kMaxModules = 256;

std::wstring fullPath(const std::wstring& path) {
  wchar_t buffer[MAX_PATH * 4];
  const DWORD length = GetFullPathNameW(path.c_str(), MAX_PATH * 4, buffer, nullptr);
  if (length == 0 || length >= MAX_PATH * 4) return path;
  return std::wstring(buffer, length);
}

}  // namespace

PluginLibrary::~PluginLibrary() { unload(); }

bool PluginLibrary::load(const std::wstring& path, std::string* error) {
  unload();
  std::string shown = narrowText(path);
  shown.insert(shown.begin(), '\'');
  shown.push_back('\'');
  // By full path, so that a bare file name means the current folder, not the search path.
  const std::wstring file = fullPath(path);
  const DWORD attributes = GetFileAttributesW(file.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    *error = "cannot load plug-in " + shown + ": no such file";
    return false;
  }
  module_ = LoadLibraryW(file.c_str());
  if (module_ == nullptr) {
    const DWORD code = GetLastError();
    *error = "cannot load plug-in " + shown + ": " + systemErrorText(code);
    if (code == ERROR_BAD_EXE_FORMAT) error->append(" (a DLL for another processor?)");
    return false;
  }
  auto getHeader = reinterpret_cast<HeaderExport>(
      reinterpret_cast<void*>(GetProcAddress(module_, kHeaderExportName)));
  if (getHeader == nullptr) {
    *error = shown + " is not a visualization plug-in: it has no " + kHeaderExportName +
             " export";
    unload();
    return false;
  }
  header_ = getHeader();
  if (header_ == nullptr || header_->lookupModule == nullptr) {
    *error = shown + ": " + kHeaderExportName + " returned no usable header";
    unload();
    return false;
  }
  while (moduleCount_ < kMaxModules && header_->lookupModule(moduleCount_) != nullptr) {
    ++moduleCount_;
  }
  return true;
}

void PluginLibrary::unload() {
  if (module_ != nullptr) FreeLibrary(module_);
  module_ = nullptr;
  header_ = nullptr;
  moduleCount_ = 0;
}

VisModule* PluginLibrary::module(int index) const {
  if (header_ == nullptr || index < 0 || index >= moduleCount_) return nullptr;
  return header_->lookupModule(index);
}

std::string narrowText(const std::wstring& text) {
  if (text.empty()) return {};
  const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
  std::string result(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(),
                      length, nullptr, nullptr);
  return result;
}

std::wstring wideText(const std::string& text) {
  if (text.empty()) return {};
  const int length =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring result(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(),
                      length);
  return result;
}

std::string systemErrorText(DWORD code) {
  wchar_t* buffer = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text = length > 0 ? std::wstring(buffer, length) : std::wstring();
  if (buffer != nullptr) LocalFree(buffer);
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ' ||
                           text.back() == L'.')) {
    text.pop_back();
  }
  for (wchar_t& c : text) {
    if (c == L'\r' || c == L'\n') c = L' ';
  }
  std::string result = narrowText(text);
  char number[32];
  wsprintfA(number, "error %lu", code);
  return result.empty() ? std::string(number) : result + " (" + number + ")";
}

}  // namespace tarnevox::host
