#include "display/direct3d_device.h"

#include <cstring>

#include "common/color_access.h"
#include "common/debug_log.h"
#include "display/quad_batch.h"
#include "engine/renderer.h"

namespace tarnevox {
namespace {

using Direct3DCreate9Function = IDirect3D9*(WINAPI*)(UINT sdkVersion);

const Direct3DLoader kSystemLoader = {LoadLibraryW, GetProcAddress, FreeLibrary};
const Direct3DLoader* gLoader = &kSystemLoader;

constexpr wchar_t kLibraryName[] = L"d3d9.dll";
constexpr DWORD kBufferUsage = D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY;

void zeroAnalysisArrays(Renderer* renderer) {
  std::memset(renderer->shownSpectrum, 0, sizeof renderer->shownSpectrum);
  std::memset(renderer->targetSpectrum, 0, sizeof renderer->targetSpectrum);
  std::memset(renderer->shownWave, 0, sizeof renderer->shownWave);
  std::memset(renderer->targetWave, 0, sizeof renderer->targetWave);
  std::memset(renderer->peaks, 0, sizeof renderer->peaks);
}

void fillPresentParams(D3DPRESENT_PARAMETERS& params, BufferSize size) {
  std::memset(&params, 0, sizeof params);
  // The window's own size: every pixel drawn is shown, and none is resampled.
  params.BackBufferWidth = size.width;
  params.BackBufferHeight = size.height;
  params.BackBufferFormat = D3DFMT_X8R8G8B8;
  params.BackBufferCount = 0;
  params.MultiSampleType = D3DMULTISAMPLE_NONE;
  params.MultiSampleQuality = 0;
  // The trails need the previous picture in the back buffer; only the copy effect
  // promises that Present leaves it there.
  params.SwapEffect = D3DSWAPEFFECT_COPY;
  params.hDeviceWindow = nullptr;  // the focus window given to CreateDevice
  params.Windowed = TRUE;
  params.EnableAutoDepthStencil = TRUE;
  params.AutoDepthStencilFormat = D3DFMT_D16;
  params.Flags = 0;
  params.FullScreen_RefreshRateInHz = 0;
  // Present waits for the vertical blank with a fine timer; the default interval waits on
  // the system's coarse tick and can miss the blank after it.
  params.PresentationInterval = D3DPRESENT_INTERVAL_ONE;
}

DWORD behaviourFlags(const D3DCAPS9& caps) {
  DWORD flags = (caps.DevCaps & D3DDEVCAPS_PUREDEVICE) != 0 ? D3DCREATE_PUREDEVICE : 0;
  flags |= (caps.DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT) != 0
               ? D3DCREATE_HARDWARE_VERTEXPROCESSING
               : D3DCREATE_SOFTWARE_VERTEXPROCESSING;
  return flags;
}

// Every frame relies on this state: vertex colour only, alpha blended, no depth test.
void setFixedState(IDirect3DDevice9* device) {
  device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
  device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
  device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
  device->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
  device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
  device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
  device->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
  device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
  device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
  device->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
  device->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
  device->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
  device->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
}

BufferSize clientBufferSize(const Renderer* renderer, const RECT& client) {
  return backBufferSizeFor(client.right, client.bottom, renderer->deviceCaps.MaxTextureWidth,
                           renderer->deviceCaps.MaxTextureHeight);
}

template <class T>
void releaseAndClear(T*& object) {
  if (object != nullptr) {
    object->Release();
    object = nullptr;
  }
}

Direct3DCreate9Function findCreateFunction(Renderer* renderer) {
  return reinterpret_cast<Direct3DCreate9Function>(
      reinterpret_cast<void*>(gLoader->getProcAddress(renderer->d3dModule, "Direct3DCreate9")));
}

// The adapter that drives the monitor: its vertical blank paces the frames, and nothing
// has to be copied to another adapter's output. The default one when none is found (a
// monitor that came after the object). *driven: the monitor of the adapter returned.
UINT adapterOfMonitor(IDirect3D9* d3d, HMONITOR monitor, HMONITOR* driven) {
  const UINT adapters = d3d->GetAdapterCount();
  for (UINT adapter = 0; adapter < adapters; ++adapter) {
    if (d3d->GetAdapterMonitor(adapter) == monitor) {
      *driven = monitor;
      return adapter;
    }
  }
  *driven = d3d->GetAdapterMonitor(D3DADAPTER_DEFAULT);
  return D3DADAPTER_DEFAULT;
}

// A new Direct3D object and, on the adapter of the window's monitor, a device at the
// window's size with its resources. What fails is left for the caller to release.
Status createDisplayObjects(Renderer* renderer, Direct3DCreate9Function create) {
  renderer->d3d = create(D3D_SDK_VERSION);
  if (renderer->d3d == nullptr) return E_FAIL;
  renderer->deviceMonitor = MonitorFromWindow(renderer->window, MONITOR_DEFAULTTONEAREST);
  renderer->adapter =
      adapterOfMonitor(renderer->d3d, renderer->deviceMonitor, &renderer->adapterMonitor);

  // Without capabilities the device is made with the least it may ask for.
  if (FAILED(renderer->d3d->GetDeviceCaps(renderer->adapter, D3DDEVTYPE_HAL,
                                          &renderer->deviceCaps))) {
    std::memset(&renderer->deviceCaps, 0, sizeof renderer->deviceCaps);
  }
  RECT client = {};
  GetClientRect(renderer->window, &client);  // a window without a size gets 1 x 1 for now
  const BufferSize size = clientBufferSize(renderer, client);
  fillPresentParams(renderer->presentParams, size);
  renderer->resetTick = resizeClockMs();
  renderer->sizeWatch = SizeWatch{size, renderer->resetTick};
  const HRESULT created = renderer->d3d->CreateDevice(
      renderer->adapter, D3DDEVTYPE_HAL, renderer->window, behaviourFlags(renderer->deviceCaps),
      &renderer->presentParams, &renderer->device);
  if (FAILED(created)) {
    renderer->device = nullptr;  // a failed call may leave anything in its out-parameter
    return E_FAIL;
  }
  return failed(createDeviceResources(renderer)) ? E_FAIL : S_OK;
}

}  // namespace

void setDirect3DLoader(const Direct3DLoader* loader) {
  gLoader = loader != nullptr ? loader : &kSystemLoader;
}

Status initDisplay(Renderer* renderer) {
  if (renderer->window == nullptr) return E_FAIL;
  if (renderer->d3dModule == nullptr) {
    renderer->d3dModule = gLoader->loadLibrary(kLibraryName);
    if (renderer->d3dModule == nullptr) {
      DebugLog(L"Error: Failed to load %s.\n", kLibraryName);
      return E_FAIL;
    }
  }
  const Direct3DCreate9Function create = findCreateFunction(renderer);
  if (create == nullptr) return E_FAIL;
  zeroAnalysisArrays(renderer);
  return createDisplayObjects(renderer, create);
}

Status recreateDisplay(Renderer* renderer) {
  releaseDevice(renderer);
  if (renderer->window == nullptr || renderer->d3dModule == nullptr) return E_FAIL;
  const Direct3DCreate9Function create = findCreateFunction(renderer);
  if (create == nullptr) return E_FAIL;
  // The new object enumerates the adapters as they are now.
  InterlockedExchange(&renderer->displayChanged, 0);
  if (failed(createDisplayObjects(renderer, create))) {
    releaseDevice(renderer);  // every try starts from nothing
    return E_FAIL;
  }
  return S_OK;
}

bool deviceBelongsElsewhere(Renderer* renderer) {
  const bool changed = InterlockedExchange(&renderer->displayChanged, 0) != 0;
  const HMONITOR monitor = MonitorFromWindow(renderer->window, MONITOR_DEFAULTTONEAREST);
  if (!changed && monitor == renderer->deviceMonitor) return false;
  if (changed) {
    // The old object knows only the adapters that existed when it was made. One that
    // cannot be made now means a display in trouble: the device is made again too.
    const Direct3DCreate9Function create = findCreateFunction(renderer);
    IDirect3D9* fresh = create != nullptr ? create(D3D_SDK_VERSION) : nullptr;
    if (fresh == nullptr) return true;
    renderer->d3d->Release();  // the device keeps its own reference to it
    renderer->d3d = fresh;
  }
  renderer->deviceMonitor = monitor;
  HMONITOR driven = nullptr;
  const UINT adapter = adapterOfMonitor(renderer->d3d, monitor, &driven);
  if (driven != renderer->adapterMonitor) return true;
  renderer->adapter = adapter;  // the same adapter, perhaps under another number
  return false;
}

void noteDisplayChange(Renderer* renderer) { InterlockedExchange(&renderer->displayChanged, 1); }

Status createDeviceResources(Renderer* renderer) {
  IDirect3DDevice9* device = renderer->device;
  const HRESULT created = device->CreateVertexBuffer(kVertexBufferBytes, kBufferUsage,
                                                     kQuadVertexFormat, D3DPOOL_DEFAULT,
                                                     &renderer->vertexBuffer, nullptr);
  if (FAILED(created)) {
    renderer->vertexBuffer = nullptr;
    return E_FAIL;
  }
  // The only clear: frames draw over the previous picture to leave trails.
  device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, packColor(loadColor(renderer->background)),
                1.0f, 0);
  setFixedState(device);
  return S_OK;
}

Status resetDevice(Renderer* renderer) {
  // A default-pool buffer must be gone before the device can be reset.
  releaseAndClear(renderer->vertexBuffer);
  renderer->resetTick = resizeClockMs();
  const HRESULT result = renderer->device->Reset(&renderer->presentParams);
  if (result == D3DERR_DEVICELOST) return kStatusNothingDone;  // the device stays for later
  // Anything else (a new driver, another adapter, too little video memory) leaves no use
  // for this device: it goes, and the next pass makes a new one.
  if (FAILED(result)) {
    releaseDevice(renderer);
    return kStatusNothingDone;
  }
  if (failed(createDeviceResources(renderer))) {
    releaseDevice(renderer);
    return E_FAIL;
  }
  return S_OK;
}

void setFullScreenTarget(Renderer* renderer, HWND window, BufferSize size) {
  EnterCriticalSection(&renderer->lock);
  renderer->fullScreenWindow = window;
  renderer->fullScreenSize = size;
  LeaveCriticalSection(&renderer->lock);
}

HWND fullScreenTarget(Renderer* renderer, BufferSize* size) {
  EnterCriticalSection(&renderer->lock);
  const HWND window = renderer->fullScreenWindow;
  *size = renderer->fullScreenSize;
  LeaveCriticalSection(&renderer->lock);
  return window;
}

BufferSize wantedBackBufferSize(Renderer* renderer) {
  const D3DPRESENT_PARAMETERS& params = renderer->presentParams;
  BufferSize fullScreen;
  if (fullScreenTarget(renderer, &fullScreen) != nullptr) {
    return backBufferSizeFor(static_cast<std::int32_t>(fullScreen.width),
                             static_cast<std::int32_t>(fullScreen.height),
                             renderer->deviceCaps.MaxTextureWidth,
                             renderer->deviceCaps.MaxTextureHeight);
  }
  RECT client = {};
  if (!GetClientRect(renderer->window, &client) || IsRectEmpty(&client)) {
    return BufferSize{params.BackBufferWidth, params.BackBufferHeight};
  }
  return clientBufferSize(renderer, client);
}

Status resizeBackBuffer(Renderer* renderer, BufferSize size) {
  renderer->presentParams.BackBufferWidth = size.width;
  renderer->presentParams.BackBufferHeight = size.height;
  return resetDevice(renderer);
}

std::uint32_t resizeClockMs() {
  LARGE_INTEGER now, frequency;
  if (!QueryPerformanceCounter(&now) || !QueryPerformanceFrequency(&frequency) ||
      frequency.QuadPart < 1000) {
    return GetTickCount();
  }
  return static_cast<std::uint32_t>(now.QuadPart / (frequency.QuadPart / 1000));
}

std::uint32_t monitorRefreshRate(Renderer* renderer, HMONITOR monitor) {
  IDirect3D9* d3d = renderer->d3d;
  if (d3d == nullptr || monitor == nullptr) return 0;
  HMONITOR driven = nullptr;
  const UINT adapter = adapterOfMonitor(d3d, monitor, &driven);
  if (driven != monitor) return 0;  // no adapter drives it
  D3DDISPLAYMODE mode = {};
  return SUCCEEDED(d3d->GetAdapterDisplayMode(adapter, &mode)) ? mode.RefreshRate : 0;
}

void releaseDevice(Renderer* renderer) {
  releaseAndClear(renderer->vertexBuffer);
  releaseAndClear(renderer->device);
  releaseAndClear(renderer->d3d);
}

Status releaseDisplay(Renderer* renderer) {
  releaseDevice(renderer);
  renderer->window = nullptr;      // owned by the module lifecycle, only forgotten here
  renderer->readyEvent = nullptr;
  if (renderer->d3dModule != nullptr) {
    gLoader->freeLibrary(renderer->d3dModule);
    renderer->d3dModule = nullptr;
  }
  return S_OK;
}

}  // namespace tarnevox
