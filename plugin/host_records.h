// The records that cross the library's boundary. The host reads and writes them in
// place, so the field order and widths are fixed; in a 32-bit process every pointer
// and handle is 4 bytes wide and the offsets are those checked below.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "common/sizes.h"

namespace tarnevox {

struct VisModule;

using ConfigureCallback = void(__cdecl*)(VisModule* module);
using StatusCallback = int(__cdecl*)(VisModule* module);

struct VisModule {
  const char* description;
  HWND parentWindow;       // host
  HINSTANCE dllInstance;   // host
  int sampleRate;          // host, never read
  int channels;            // host, never read
  int latencyMs;
  int delayMs;
  int spectrumChannels;
  int waveformChannels;
  unsigned char spectrumData[kHostChannels][kSamplesPerChannel];  // host, never read
  unsigned char waveformData[kHostChannels][kSamplesPerChannel];  // host, before each render call
  ConfigureCallback onConfigure;
  StatusCallback onInit;
  StatusCallback onRender;
  ConfigureCallback onQuit;
  std::intptr_t userData;  // mode value, then the running Renderer, then empty
};

using ModuleLookup = VisModule*(__cdecl*)(int index);

struct PluginHeader {
  int version;
  const char* description;
  ModuleLookup lookupModule;
};

#if defined(_M_IX86) || defined(__i386__)
static_assert(sizeof(PluginHeader) == 12, "PluginHeader is 12 bytes");
static_assert(offsetof(PluginHeader, version) == 0, "version");
static_assert(offsetof(PluginHeader, description) == 4, "description");
static_assert(offsetof(PluginHeader, lookupModule) == 8, "lookupModule");

static_assert(sizeof(VisModule) == 2360, "VisModule is 2360 bytes");
static_assert(offsetof(VisModule, description) == 0, "description");
static_assert(offsetof(VisModule, parentWindow) == 4, "parentWindow");
static_assert(offsetof(VisModule, dllInstance) == 8, "dllInstance");
static_assert(offsetof(VisModule, sampleRate) == 12, "sampleRate");
static_assert(offsetof(VisModule, channels) == 16, "channels");
static_assert(offsetof(VisModule, latencyMs) == 20, "latencyMs");
static_assert(offsetof(VisModule, delayMs) == 24, "delayMs");
static_assert(offsetof(VisModule, spectrumChannels) == 28, "spectrumChannels");
static_assert(offsetof(VisModule, waveformChannels) == 32, "waveformChannels");
static_assert(offsetof(VisModule, spectrumData) == 36, "spectrumData");
static_assert(offsetof(VisModule, waveformData) == 1188, "waveformData");
static_assert(offsetof(VisModule, onConfigure) == 2340, "onConfigure");
static_assert(offsetof(VisModule, onInit) == 2344, "onInit");
static_assert(offsetof(VisModule, onRender) == 2348, "onRender");
static_assert(offsetof(VisModule, onQuit) == 2352, "onQuit");
static_assert(offsetof(VisModule, userData) == 2356, "userData");
#endif

// The export and the callbacks behind the records.
extern "C" PluginHeader* __cdecl winampVisGetHeader();
VisModule* __cdecl lookupModule(int index);
void __cdecl onConfigure(VisModule* module);
int __cdecl onInit(VisModule* module);
int __cdecl onRender(VisModule* module);
void __cdecl onQuit(VisModule* module);

}  // namespace tarnevox
