// What a host sees when it loads the plug-in DLL.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "plugin/host_records.h"
#include "tests/wine/message_box_watch.h"

using tarnevox::PluginHeader;
using tarnevox::VisModule;

namespace {

class PluginHeaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    library_ = LoadLibraryW(L"vis_tarnevox.dll");
    ASSERT_NE(library_, nullptr) << "error " << GetLastError();
    auto getHeader = reinterpret_cast<PluginHeader*(__cdecl*)()>(
        reinterpret_cast<void*>(GetProcAddress(library_, "winampVisGetHeader")));
    ASSERT_NE(getHeader, nullptr);
    header_ = getHeader();
    ASSERT_NE(header_, nullptr);
    EXPECT_EQ(getHeader(), header_) << "every call hands out the same header";
  }
  void TearDown() override {
    if (library_ != nullptr) FreeLibrary(library_);
  }

  HMODULE library_ = nullptr;
  PluginHeader* header_ = nullptr;
};

TEST_F(PluginHeaderTest, HeaderCarriesVersionAndNarrowDescription) {
  EXPECT_EQ(header_->version, 0x101);
  ASSERT_NE(header_->description, nullptr);
  EXPECT_STREQ(header_->description, "Tarnevox v0.2b");
  ASSERT_NE(header_->lookupModule, nullptr);
}

TEST_F(PluginHeaderTest, LookupReturnsTwoModulesAndNothingElse) {
  VisModule* waveform = header_->lookupModule(0);
  VisModule* spectrum = header_->lookupModule(1);
  ASSERT_NE(waveform, nullptr);
  ASSERT_NE(spectrum, nullptr);
  EXPECT_NE(waveform, spectrum);
  EXPECT_EQ(header_->lookupModule(0), waveform);
  EXPECT_EQ(header_->lookupModule(2), nullptr);
  EXPECT_EQ(header_->lookupModule(-1), nullptr);
  EXPECT_EQ(header_->lookupModule(0x7fffffff), nullptr);
  EXPECT_EQ(header_->lookupModule(static_cast<int>(0x80000000u)), nullptr);
}

TEST_F(PluginHeaderTest, ModuleRecordsHoldTheirLoadTimeValues) {
  VisModule* modules[2] = {header_->lookupModule(0), header_->lookupModule(1)};
  ASSERT_NE(modules[0], nullptr);
  ASSERT_NE(modules[1], nullptr);
  EXPECT_STREQ(modules[0]->description, "Tarnevox Waveform");
  EXPECT_STREQ(modules[1]->description, "Tarnevox Spectrum");

  static const unsigned char zeros[2][576] = {};
  for (int index = 0; index < 2; ++index) {
    const VisModule& m = *modules[index];
    SCOPED_TRACE(index);
    EXPECT_EQ(m.parentWindow, nullptr);
    EXPECT_EQ(m.dllInstance, nullptr);
    EXPECT_EQ(m.sampleRate, 0);
    EXPECT_EQ(m.channels, 0);
    EXPECT_EQ(m.latencyMs, 20);
    EXPECT_EQ(m.delayMs, 20);
    EXPECT_EQ(m.spectrumChannels, 2);
    EXPECT_EQ(m.waveformChannels, 2);
    EXPECT_EQ(std::memcmp(m.spectrumData, zeros, sizeof zeros), 0);
    EXPECT_EQ(std::memcmp(m.waveformData, zeros, sizeof zeros), 0);
    EXPECT_EQ(m.userData, index);
    ASSERT_NE(m.onConfigure, nullptr);
    ASSERT_NE(m.onInit, nullptr);
    ASSERT_NE(m.onRender, nullptr);
    ASSERT_NE(m.onQuit, nullptr);
  }
  EXPECT_EQ(modules[0]->onConfigure, modules[1]->onConfigure);
  EXPECT_EQ(modules[0]->onInit, modules[1]->onInit);
  EXPECT_EQ(modules[0]->onRender, modules[1]->onRender);
  EXPECT_EQ(modules[0]->onQuit, modules[1]->onQuit);
}

// What the file's properties show, read the way Explorer reads them.
TEST_F(PluginHeaderTest, VersionResourceNamesTheRelease) {
  wchar_t path[MAX_PATH];
  ASSERT_NE(GetModuleFileNameW(library_, path, MAX_PATH), 0u);
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
  ASSERT_NE(size, 0u) << "no version resource";
  std::vector<char> data(size);
  ASSERT_TRUE(GetFileVersionInfoW(path, 0, size, data.data()));
  auto text = [&](const std::wstring& name) {
    void* value = nullptr;
    UINT length = 0;
    const std::wstring key = L"\\StringFileInfo\\040904B0\\" + name;
    if (!VerQueryValueW(data.data(), key.c_str(), &value, &length) || length == 0) return std::wstring();
    return std::wstring(static_cast<const wchar_t*>(value));
  };
  void* value = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", &value, &length));
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
  EXPECT_EQ(fixed->dwFileVersionMS, static_cast<DWORD>(MAKELONG(TARNEVOX_VERSION_MINOR, TARNEVOX_VERSION_MAJOR)));
  EXPECT_EQ(fixed->dwFileVersionLS, static_cast<DWORD>(MAKELONG(0, TARNEVOX_VERSION_PATCH)));
  EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
  EXPECT_EQ(text(L"FileVersion"), TARNEVOX_VERSION);
  EXPECT_EQ(text(L"ProductVersion"), TARNEVOX_VERSION);
  EXPECT_EQ(text(L"ProductName"), L"Tarnevox");
  EXPECT_EQ(text(L"OriginalFilename"), L"vis_tarnevox.dll");
  EXPECT_NE(text(L"FileDescription").find(L"visualization"), std::wstring::npos);
  EXPECT_EQ(text(L"LegalCopyright").rfind(L"Copyright", 0), 0u);
}

TEST_F(PluginHeaderTest, ConfigureShowsInformationBoxOwnedByTheHostWindow) {
  HWND host = CreateWindowExW(0, L"STATIC", L"host", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100,
                              nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(host, nullptr);
  VisModule* module = header_->lookupModule(1);
  module->parentWindow = host;

  // The box is modal: a second thread inspects it and closes it.
  tarnevox::testing::BoxWatcher watcher(L"Configuration");
  module->onConfigure(module);  // returns only once the box is closed
  const tarnevox::testing::BoxSeen& report = watcher.stop();
  module->parentWindow = nullptr;
  DestroyWindow(host);

  ASSERT_TRUE(report.found) << "no visible box captioned Configuration appeared";
  EXPECT_EQ(report.owner, host);
  EXPECT_EQ(report.icon, LoadIconW(nullptr, IDI_INFORMATION));
  EXPECT_EQ(report.buttonCount, 1);
  EXPECT_TRUE(report.okButton);
  EXPECT_FALSE(report.text.empty()) << "the box carries a notice";
  EXPECT_EQ(FindWindowW(L"#32770", L"Configuration"), nullptr);
}

}  // namespace
