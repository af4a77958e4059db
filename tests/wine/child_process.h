// Runs a Windows program of the build and collects its exit code and its output.
#pragma once

#include <windows.h>

#include <string>

namespace tarnevox::testing {

struct ChildResult {
  bool started = false;
  DWORD exitCode = 0;
  std::string output;  // standard output and standard error together
};

inline std::wstring besideThisProgram(const wchar_t* name) {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring dir(path, length);
  return dir.substr(0, dir.find_last_of(L"\\/") + 1) + name;
}

// commandLine holds the program and its arguments, quoted as needed.
inline ChildResult runChild(std::wstring commandLine, DWORD timeoutMs = 60000) {
  ChildResult result;
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return result;
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = writeEnd;
  startup.hStdError = writeEnd;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION process = {};
  result.started = CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                  nullptr, &startup, &process) != FALSE;
  CloseHandle(writeEnd);
  if (result.started) {
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got > 0) {
      result.output.append(buffer, got);
    }
    WaitForSingleObject(process.hProcess, timeoutMs);
    GetExitCodeProcess(process.hProcess, &result.exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  CloseHandle(readEnd);
  return result;
}

}  // namespace tarnevox::testing
