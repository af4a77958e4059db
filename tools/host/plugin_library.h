// A visualization plug-in DLL loaded by path, with its header and module records.
#pragma once

#include <windows.h>

#include <string>

#include "tools/host/plugin_records.h"

namespace tarnevox::host {

class PluginLibrary {
 public:
  PluginLibrary() = default;
  ~PluginLibrary();
  PluginLibrary(const PluginLibrary&) = delete;
  PluginLibrary& operator=(const PluginLibrary&) = delete;

  // Loads the DLL and asks it for its header. On failure returns false and puts a
  // one-line reason into *error: no such file, not loadable, no export, no header.
  bool load(const std::wstring& path, std::string* error);
  void unload();

  HMODULE handle() const { return module_; }
  const PluginHeader* header() const { return header_; }

  // The modules the header's lookup function hands out for 0, 1, ... up to the first
  // null answer.
  int moduleCount() const { return moduleCount_; }
  VisModule* module(int index) const;

 private:
  HMODULE module_ = nullptr;
  PluginHeader* header_ = nullptr;
  int moduleCount_ = 0;
};

// UTF-8 for messages, and back for paths given on the command line.
std::string narrowText(const std::wstring& text);
std::wstring wideText(const std::string& text);

// The system's text for a Windows error code, on one line.
std::string systemErrorText(DWORD code);

}  // namespace tarnevox::host
