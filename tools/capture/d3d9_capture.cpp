// A test-only d3d9.dll that writes presented frames to files.
//
// Put beside a program and loaded in place of the system's Direct3D 9 (under Wine with
// WINEDLLOVERRIDES="d3d9=n,b"), it forwards Direct3DCreate9 to the system's d3d9.dll and
// replaces entries of the virtual tables it gets back: IDirect3D9::CreateDevice, so
// that each new device's Present can be replaced in turn, and that Present, which copies
// every Nth frame's back buffer to a file before the real Present shows it, or, in the
// count mode, only logs when Presents happen and at which back-buffer size (for
// measuring frame rates and how soon a resized window gets frames of its size) and the
// display mode that the system reports when asked for it. The
// program and the DLLs it loads are unchanged and unaware. Settings come from the environment
// when a device is created (see capture_settings.h); some of them stand in for a broken
// system, for the tests of hosts and plug-ins under faults: no Direct3D, a stalled driver,
// and a device that turns bad (a reset that fails for good, a driver error, a loss),
// whose course "faults.log" in the capture folder records.
#include <windows.h>
#include <d3d9.h>

#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <vector>

#include "tools/capture/back_buffer_copy.h"
#include "tools/capture/capture_settings.h"
#include "tools/capture/frame_file_writer.h"
#include "tools/capture/vtable_patch.h"

namespace tarnevox {

namespace {

constexpr unsigned kAdapterDisplayModeSlot = 8;  // IDirect3D9::GetAdapterDisplayMode
constexpr unsigned kCreateDeviceSlot = 16;       // IDirect3D9::CreateDevice
constexpr unsigned kTestCooperativeLevelSlot = 3;  // IDirect3DDevice9::TestCooperativeLevel
constexpr unsigned kResetSlot = 16;                // IDirect3DDevice9::Reset
constexpr unsigned kPresentSlot = 17;       // IDirect3DDevice9::Present

using Direct3DCreate9Function = IDirect3D9*(WINAPI*)(UINT sdkVersion);
using CreateDeviceFunction = HRESULT(STDMETHODCALLTYPE*)(IDirect3D9* self, UINT adapter,
                                                         D3DDEVTYPE type, HWND focusWindow,
                                                         DWORD flags,
                                                         D3DPRESENT_PARAMETERS* parameters,
                                                         IDirect3DDevice9** device);
using AdapterDisplayModeFunction = HRESULT(STDMETHODCALLTYPE*)(IDirect3D9* self, UINT adapter,
                                                               D3DDISPLAYMODE* mode);
using TestCooperativeLevelFunction = HRESULT(STDMETHODCALLTYPE*)(IDirect3DDevice9* self);
using ResetFunction = HRESULT(STDMETHODCALLTYPE*)(IDirect3DDevice9* self,
                                                  D3DPRESENT_PARAMETERS* parameters);
using PresentFunction = HRESULT(STDMETHODCALLTYPE*)(IDirect3DDevice9* self, const RECT* source,
                                                    const RECT* destination, HWND window,
                                                    const RGNDATA* dirtyRegion);

// The device created last, which is the one captured. It is created and presented on
// one render thread, so the record needs no lock.
struct DeviceCapture {
  IDirect3DDevice9* device = nullptr;
  CaptureSettings settings;
  unsigned presents = 0;
  unsigned files = 0;
  HANDLE log = INVALID_HANDLE_VALUE;  // presents.log in the count mode
  UINT lastWidth = 0;
  UINT lastHeight = 0;
};

DeviceCapture gCapture;
unsigned gFilesWritten = 0;  // numbers the files of the whole process
std::vector<BYTE> gPixels;
bool gReportedFailure = false;

INIT_ONCE gSystemOnce = INIT_ONCE_STATIC_INIT;
Direct3DCreate9Function gSystemCreate = nullptr;

// The system's own d3d9.dll, by full path, since a bare name would find this file again.
// It stays loaded, and so does this DLL: the patched tables point into both.
BOOL CALLBACK loadSystemDirect3D(INIT_ONCE*, void*, void**) {
  HMODULE self = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                     reinterpret_cast<LPCWSTR>(&loadSystemDirect3D), &self);
  wchar_t path[MAX_PATH + 16];
  const UINT length = GetSystemDirectoryW(path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return TRUE;
  lstrcatW(path, L"\\d3d9.dll");
  HMODULE system = LoadLibraryW(path);
  if (system == nullptr) {
    OutputDebugStringW(L"capture: cannot load the system's d3d9.dll\n");
    return TRUE;
  }
  gSystemCreate = reinterpret_cast<Direct3DCreate9Function>(
      reinterpret_cast<void*>(GetProcAddress(system, "Direct3DCreate9")));
  return TRUE;
}

void captureFrame(IDirect3DDevice9* device) {
  UINT width = 0;
  UINT height = 0;
  bool ok = copyBackBuffer(device, &gPixels, &width, &height);
  if (ok) {
    const FramePicture picture = {gPixels.data(), width, height, gFilesWritten + 1,
                                  gCapture.presents};
    ok = writeFrameFile(gCapture.settings, picture);
  }
  if (ok) {
    ++gFilesWritten;
    ++gCapture.files;
  } else if (!gReportedFailure) {
    OutputDebugStringW(L"capture: a frame could not be copied or written\n");
    gReportedFailure = true;
  }
}

double counterMilliseconds() {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

// One formatted line appended to a log; nothing where the log is not open.
__attribute__((format(printf, 2, 3))) void writeLine(HANDLE log, const char* format, ...) {
  if (log == INVALID_HANDLE_VALUE) return;
  char line[128];
  va_list arguments;
  va_start(arguments, format);
  const int length = std::vsnprintf(line, sizeof line, format, arguments);
  va_end(arguments);
  DWORD written = 0;
  if (length > 0) WriteFile(log, line, static_cast<DWORD>(length), &written, nullptr);
}

void openPresentLog() {
  wchar_t path[MAX_PATH + 16];
  std::swprintf(path, MAX_PATH + 16, L"%ls\\presents.log", gCapture.settings.directory);
  gCapture.log = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// "present N at T ms, WxH", T on the performance counter, which the host's own
// reports use too.
void countPresent(IDirect3DDevice9* device) {
  UINT width = 0;
  UINT height = 0;
  IDirect3DSurface9* backBuffer = nullptr;
  if (SUCCEEDED(device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &backBuffer))) {
    D3DSURFACE_DESC desc = {};
    if (SUCCEEDED(backBuffer->GetDesc(&desc))) {
      width = desc.Width;
      height = desc.Height;
    }
    backBuffer->Release();
  }
  const bool resized = width != gCapture.lastWidth || height != gCapture.lastHeight;
  gCapture.lastWidth = width;
  gCapture.lastHeight = height;
  if (!resized && gCapture.presents % gCapture.settings.every != 0) return;
  writeLine(gCapture.log, "present %u at %.3f ms, %ux%u\n", gCapture.presents,
            counterMilliseconds(), width, height);
}

// "display mode WxH at R Hz" in the count mode's log, for the rate the system reports.
HRESULT STDMETHODCALLTYPE logAdapterDisplayMode(IDirect3D9* self, UINT adapter,
                                                D3DDISPLAYMODE* mode) {
  auto get =
      reinterpret_cast<AdapterDisplayModeFunction>(originalSlot(self, kAdapterDisplayModeSlot));
  const HRESULT result = get(self, adapter, mode);
  if (SUCCEEDED(result) && mode != nullptr) {
    writeLine(gCapture.log, "display mode %ux%u at %u Hz\n", mode->Width, mode->Height,
              mode->RefreshRate);
  }
  return result;
}

// The device that turns bad and when; one per process, so that the devices made after
// it are sound.
struct FaultCourse {
  DeviceFault mode = DeviceFault::kNone;
  IDirect3DDevice9* device = nullptr;
  double beginMs = 0;
  double lossEndMs = 0;
  bool begun = false;
  bool over = false;          // a loss whose reset went through
  bool framePresented = false;  // the first frame after the fault was logged
  bool used = false;
  unsigned devices = 0;       // devices made since the fault was armed
  HANDLE log = INVALID_HANDLE_VALUE;
};
FaultCourse gFault;


// What the bad device answers now instead of the real call; S_OK: the real call goes on.
HRESULT faultAnswer(IDirect3DDevice9* self, bool reset) {
  if (gFault.mode == DeviceFault::kNone || self != gFault.device || gFault.over) return S_OK;
  const double now = counterMilliseconds();
  if (now < gFault.beginMs) return S_OK;
  if (!gFault.begun) {
    gFault.begun = true;
    writeLine(gFault.log, "fault on device %u begins at %.3f ms\n",
              gFault.devices, counterMilliseconds());
  }
  switch (gFault.mode) {
    case DeviceFault::kDriverError:
      return D3DERR_DRIVERINTERNALERROR;
    case DeviceFault::kResetFails:
      return reset ? D3DERR_DRIVERINTERNALERROR : D3DERR_DEVICENOTRESET;
    case DeviceFault::kLoss:
      if (now < gFault.lossEndMs) return D3DERR_DEVICELOST;
      return reset ? S_OK : D3DERR_DEVICENOTRESET;
    case DeviceFault::kNone:
      break;
  }
  return S_OK;
}

HRESULT STDMETHODCALLTYPE testCooperativeLevelWithFault(IDirect3DDevice9* self) {
  const HRESULT fault = faultAnswer(self, false);
  if (FAILED(fault)) return fault;
  auto test = reinterpret_cast<TestCooperativeLevelFunction>(
      originalSlot(self, kTestCooperativeLevelSlot));
  return test(self);
}

HRESULT STDMETHODCALLTYPE resetWithFault(IDirect3DDevice9* self,
                                         D3DPRESENT_PARAMETERS* parameters) {
  const bool faulty = gFault.begun && self == gFault.device && !gFault.over;
  const HRESULT fault = faultAnswer(self, true);
  if (FAILED(fault)) return fault;
  auto reset = reinterpret_cast<ResetFunction>(originalSlot(self, kResetSlot));
  const HRESULT result = reset(self, parameters);
  if (faulty && SUCCEEDED(result)) {
    gFault.over = true;
    writeLine(gFault.log, "device %u reset at %.3f ms\n",
              gFault.devices, counterMilliseconds());
  }
  return result;
}

HRESULT STDMETHODCALLTYPE presentAndCapture(IDirect3DDevice9* self, const RECT* source,
                                            const RECT* destination, HWND window,
                                            const RGNDATA* dirtyRegion) {
  if (self == gCapture.device && gCapture.settings.stallMs > 0) Sleep(gCapture.settings.stallMs);
  // A lost device presents nothing; one whose driver failed answers that.
  const HRESULT fault = faultAnswer(self, false);
  if (FAILED(fault)) {
    return fault == D3DERR_DRIVERINTERNALERROR ? fault : D3DERR_DEVICELOST;
  }
  if (gFault.begun && !gFault.framePresented) {
    gFault.framePresented = true;
    writeLine(gFault.log, "first frame after the fault, on device %u, at %.3f ms\n",
              gFault.devices, counterMilliseconds());
  }
  if (self == gCapture.device && gCapture.settings.enabled &&
      gCapture.settings.mode == CaptureMode::kCount) {
    ++gCapture.presents;
    countPresent(self);
  } else if (self == gCapture.device && gCapture.settings.enabled) {
    ++gCapture.presents;
    const bool due = gCapture.presents % gCapture.settings.every == 0;
    const bool room = gCapture.settings.limit == 0 || gCapture.files < gCapture.settings.limit;
    if (due && room) captureFrame(self);
  }
  auto present = reinterpret_cast<PresentFunction>(originalSlot(self, kPresentSlot));
  return present(self, source, destination, window, dirtyRegion);
}

void armFault(IDirect3DDevice9* device) {
  if (gFault.used) {
    // A new device where the bad one was: that one is gone, and its address taken again.
    if (device == gFault.device) gFault.device = nullptr;
    ++gFault.devices;
    writeLine(gFault.log, "device %u made at %.3f ms\n",
              gFault.devices, counterMilliseconds());
    return;
  }
  if (gCapture.settings.fault == DeviceFault::kNone || !gCapture.settings.enabled) return;
  wchar_t path[MAX_PATH + 16];
  std::swprintf(path, MAX_PATH + 16, L"%ls\\faults.log", gCapture.settings.directory);
  // A new log for each armed fault; others may read it, and delete it meanwhile.
  gFault.log = CreateFileW(path, GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  gFault.used = true;
  gFault.mode = gCapture.settings.fault;
  gFault.device = device;
  gFault.devices = 1;
  gFault.beginMs = counterMilliseconds() + gCapture.settings.faultAtMs;
  gFault.lossEndMs = gFault.beginMs + gCapture.settings.faultMs;
  writeLine(gFault.log, "device %u made at %.3f ms\n",
            gFault.devices, counterMilliseconds());
}

HRESULT STDMETHODCALLTYPE createDeviceAndPatch(IDirect3D9* self, UINT adapter, D3DDEVTYPE type,
                                               HWND focusWindow, DWORD flags,
                                               D3DPRESENT_PARAMETERS* parameters,
                                               IDirect3DDevice9** device) {
  auto create = reinterpret_cast<CreateDeviceFunction>(originalSlot(self, kCreateDeviceSlot));
  const HRESULT result = create(self, adapter, type, focusWindow, flags, parameters, device);
  if (SUCCEEDED(result) && device != nullptr && *device != nullptr) {
    if (gCapture.log != INVALID_HANDLE_VALUE) CloseHandle(gCapture.log);
    gCapture = DeviceCapture();
    gCapture.device = *device;
    gCapture.settings = readCaptureSettings();
    ensureCaptureDirectory(gCapture.settings);
    if (gCapture.settings.enabled && gCapture.settings.mode == CaptureMode::kCount) {
      openPresentLog();
      writeLine(gCapture.log, "device made on adapter %u\n", adapter);
    }
    patchSlot(*device, kPresentSlot, reinterpret_cast<void*>(&presentAndCapture));
    patchSlot(*device, kTestCooperativeLevelSlot,
              reinterpret_cast<void*>(&testCooperativeLevelWithFault));
    patchSlot(*device, kResetSlot, reinterpret_cast<void*>(&resetWithFault));
    armFault(*device);
  }
  return result;
}

}  // namespace

}  // namespace tarnevox

extern "C" IDirect3D9* WINAPI Direct3DCreate9(UINT sdkVersion) {
  using namespace tarnevox;
  InitOnceExecuteOnce(&gSystemOnce, loadSystemDirect3D, nullptr, nullptr);
  if (gSystemCreate == nullptr || direct3DRefused()) return nullptr;
  IDirect3D9* d3d = gSystemCreate(sdkVersion);
  if (d3d != nullptr) {
    patchSlot(d3d, kCreateDeviceSlot, reinterpret_cast<void*>(&createDeviceAndPatch));
    patchSlot(d3d, kAdapterDisplayModeSlot, reinterpret_cast<void*>(&logAdapterDisplayMode));
  }
  return d3d;
}
