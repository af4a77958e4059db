// The tarnevox-host program as a user runs it: its output and exit status.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/wine/child_process.h"

using tarnevox::testing::besideThisProgram;
using tarnevox::testing::ChildResult;
using tarnevox::testing::runChild;

namespace {

std::string withoutReturns(std::string text) {
  std::string result;
  for (char c : text) {
    if (c != '\r') result += c;
  }
  return result;
}

ChildResult runHost(const std::wstring& arguments) {
  ChildResult result = runChild(L"\"" + besideThisProgram(L"tarnevox-host.exe") + L"\" " + arguments);
  result.output = withoutReturns(result.output);
  return result;
}

std::wstring plugin() { return L"\"" + besideThisProgram(L"vis_tarnevox.dll") + L"\""; }

TEST(HostProgram, ListsTheModulesAndRunsOne) {
  ChildResult list = runHost(L"--list " + plugin());
  ASSERT_TRUE(list.started);
  EXPECT_EQ(list.exitCode, 0u);
  EXPECT_EQ(list.output, "0 Tarnevox Waveform\n1 Tarnevox Spectrum\n");

  ChildResult run = runHost(L"--module 1 --signal noise --renders 5 " + plugin());
  EXPECT_EQ(run.exitCode, 0u) << run.output;
  EXPECT_EQ(run.output,
            "module 1 (Tarnevox Spectrum): 5 render calls, stopped: render limit reached\n");

  ChildResult help = runHost(L"--help");
  EXPECT_EQ(help.exitCode, 0u);
  EXPECT_EQ(help.output.rfind("usage: tarnevox-host", 0), 0u) << help.output;
}

// Each mistake is one line on the error output and a non-zero status: 1 for what the
// plug-in or a file cannot do, 2 for a bad command line.
TEST(HostProgram, FailuresAreOneLineAndANonZeroStatus) {
  wchar_t system[MAX_PATH];
  GetSystemDirectoryW(system, MAX_PATH);
  const struct {
    std::wstring arguments;
    DWORD status;
    const char* says;
  } cases[] = {
      {L"--list missing.dll", 1, "cannot load plug-in 'missing.dll': no such file"},
      {L"--list \"" + std::wstring(system) + L"\\version.dll\"", 1, "no winampVisGetHeader export"},
      {L"--module 7 " + plugin(), 1, "module 7 is out of range: the plug-in has 2 modules"},
      {L"--wav missing.wav " + plugin(), 1, "cannot read WAV file 'missing.wav': no such file"},
      {L"--skin missing.bmp " + plugin(), 1, "cannot load skin bitmap 'missing.bmp'"},
      {L"--frobnicate " + plugin(), 2, "unknown option --frobnicate"},
      {L"", 2, "no plug-in DLL given"},
  };
  for (const auto& c : cases) {
    const ChildResult result = runHost(c.arguments);
    ASSERT_TRUE(result.started);
    EXPECT_EQ(result.exitCode, c.status) << result.output;
    EXPECT_EQ(result.output.rfind("tarnevox-host: ", 0), 0u) << result.output;
    EXPECT_NE(result.output.find(c.says), std::string::npos) << result.output;
    EXPECT_EQ(result.output.find('\n'), result.output.size() - 1) << result.output;
  }
}

}  // namespace
