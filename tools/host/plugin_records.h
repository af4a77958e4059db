// The records a visualization plug-in shares with its host, from the host's side. The
// host reads and writes them in place. In a 32-bit process every pointer and handle is
// 4 bytes and the offsets are those checked below; a 64-bit build uses the same fields
// at their natural 64-bit offsets.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "tools/host/signals.h"

namespace tarnevox::host {

struct VisModule;

using ModuleCallback = void(__cdecl*)(VisModule* module);
using ModuleStatusCallback = int(__cdecl*)(VisModule* module);

struct VisModule {
  const char* description;  // 8-bit text
  HWND parentWindow;        // written by the host before onInit
  HINSTANCE dllInstance;    // written by the host before onInit
  int sampleRate;           // written by the host
  int channels;             // written by the host
  int latencyMs;            // the module's requests, read by the host
  int delayMs;
  int spectrumChannels;
  int waveformChannels;
  unsigned char spectrumData[kBlockChannels][kBlockSamples];
  unsigned char waveformData[kBlockChannels][kBlockSamples];  // before each render call
  ModuleCallback onConfigure;
  ModuleStatusCallback onInit;    // 0: the module runs
  ModuleStatusCallback onRender;
  ModuleCallback onQuit;
  std::intptr_t userData;         // the module's own
};

using ModuleLookup = VisModule*(__cdecl*)(int index);

struct PluginHeader {
  int version;
  const char* description;
  ModuleLookup lookupModule;
};

using HeaderExport = PluginHeader*(__cdecl*)();
inline constexpr char kHeaderExportName[] = "winampVisGetHeader";

// Host messages: WM_USER with these values in lParam, sent to the host's main window.
inline constexpr LPARAM kEmbedServiceRequest = 505;  // answer: the frame-window service
inline constexpr LPARAM kVisualAnnouncement = 611;   // wParam: the visual window, or 0
inline constexpr LPARAM kSkinBitmapRequest = 503;    // answer: a bitmap the plug-in owns

// The frame-window service. The record belongs to the host; this host uses only its
// first word, where it puts the frame window, and the plug-in reads nothing else.
using EmbedService = HWND(__cdecl*)(void* frameRecord);

#if defined(_M_IX86) || defined(__i386__)
static_assert(sizeof(PluginHeader) == 12, "PluginHeader is 12 bytes");
static_assert(offsetof(PluginHeader, lookupModule) == 8, "lookupModule");
static_assert(sizeof(VisModule) == 2360, "VisModule is 2360 bytes");
static_assert(offsetof(VisModule, parentWindow) == 4, "parentWindow");
static_assert(offsetof(VisModule, dllInstance) == 8, "dllInstance");
static_assert(offsetof(VisModule, delayMs) == 24, "delayMs");
static_assert(offsetof(VisModule, spectrumData) == 36, "spectrumData");
static_assert(offsetof(VisModule, waveformData) == 1188, "waveformData");
static_assert(offsetof(VisModule, onConfigure) == 2340, "onConfigure");
static_assert(offsetof(VisModule, onInit) == 2344, "onInit");
static_assert(offsetof(VisModule, onRender) == 2348, "onRender");
static_assert(offsetof(VisModule, onQuit) == 2352, "onQuit");
static_assert(offsetof(VisModule, userData) == 2356, "userData");
#endif

}  // namespace tarnevox::host
