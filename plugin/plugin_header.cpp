// The library's face to the host: the entry point, the export and the module records.
#include <windows.h>

#include "plugin/host_records.h"

namespace tarnevox {
namespace {

constexpr int kHeaderVersion = 0x101;

PluginHeader gHeader = {kHeaderVersion, "Tarnevox v0.2b", lookupModule};

// Both records share the callbacks; the load-time user slot selects the drawing mode.
VisModule gModules[2] = {
    {"Tarnevox Waveform", nullptr, nullptr, 0, 0, 20, 20, 2, 2, {}, {}, onConfigure, onInit,
     onRender, onQuit, 0},
    {"Tarnevox Spectrum", nullptr, nullptr, 0, 0, 20, 20, 2, 2, {}, {}, onConfigure, onInit,
     onRender, onQuit, 1},
};

}  // namespace

VisModule* __cdecl lookupModule(int index) {
  if (index < 0 || index > 1) return nullptr;
  return &gModules[index];
}

void __cdecl onConfigure(VisModule* module) {
  MessageBoxW(module->parentWindow, L"Tarnevox visualization, written by the Tarnevox developers.",
              L"Configuration", MB_OK | MB_ICONINFORMATION);
}

extern "C" PluginHeader* __cdecl winampVisGetHeader() { return &gHeader; }

}  // namespace tarnevox

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
  if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
  return TRUE;
}
