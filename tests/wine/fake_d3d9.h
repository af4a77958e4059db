/* A recording stand-in for d3d9.dll: the loader calls, Direct3DCreate9, and the
 * IDirect3D9, IDirect3DDevice9 and IDirect3DVertexBuffer9 objects it hands out.
 *
 * Every call is logged in order with the arguments that matter, as text such as
 * "device1.SetRenderState(27, 1)" or "device1.Reset(600x400)" (the new back buffer). Results are scripted per method and call number.
 * Objects are reference counted for real, vertex buffers hand out real memory, and
 * misuse (a call on a released object, a reset with a live default-pool buffer, a draw
 * outside a scene or from a locked buffer, any method the plug-in is not meant to call)
 * is collected as an error for the test to assert on.
 *
 * Debugger output lines are recorded too, so that a test can check what the display
 * code reports.
 *
 * Written in C against d3d9.h's C interface, so the tables are filled by member name.
 * The unexpected-call stubs rely on the x64 calling convention (the caller removes the
 * arguments), so this file is for the 64-bit test build only. */
#pragma once

#include <windows.h>
#include <d3d9.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef enum FakeMethod {
  FAKE_LOAD_LIBRARY,        /* a negative script result makes it return null */
  FAKE_GET_PROC_ADDRESS,    /* likewise: "Direct3DCreate9" is then missing */
  FAKE_FREE_LIBRARY,
  FAKE_DIRECT3D_CREATE9,    /* a negative script result makes it return null */
  FAKE_D3D_GET_DEVICE_CAPS,
  FAKE_D3D_CREATE_DEVICE,
  FAKE_D3D_GET_ADAPTER_COUNT,
  FAKE_D3D_GET_ADAPTER_MONITOR,
  FAKE_D3D_GET_ADAPTER_DISPLAY_MODE,
  FAKE_TEST_COOPERATIVE_LEVEL,
  FAKE_RESET,
  FAKE_PRESENT,
  FAKE_CREATE_VERTEX_BUFFER,
  FAKE_BEGIN_SCENE,
  FAKE_END_SCENE,
  FAKE_CLEAR,
  FAKE_SET_RENDER_STATE,
  FAKE_SET_TEXTURE,
  FAKE_SET_TEXTURE_STAGE_STATE,
  FAKE_SET_SAMPLER_STATE,
  FAKE_SET_FVF,
  FAKE_SET_STREAM_SOURCE,
  FAKE_DRAW_PRIMITIVE,
  FAKE_LOCK,
  FAKE_UNLOCK,
  FAKE_ADD_REF,             /* any of the three kinds */
  FAKE_RELEASE,             /* any of the three kinds */
  FAKE_UNEXPECTED,          /* a slot the plug-in has no business calling */
  FAKE_METHOD_COUNT
} FakeMethod;

typedef enum FakeKind {
  FAKE_KIND_D3D,
  FAKE_KIND_DEVICE,
  FAKE_KIND_VERTEX_BUFFER,
  FAKE_KIND_COUNT
} FakeKind;

#define FAKE_TEXT_LENGTH 192

typedef struct FakeCall {
  FakeMethod method;
  DWORD thread;                  /* the calling thread's identifier */
  char text[FAKE_TEXT_LENGTH];   /* e.g. "vb1.Lock(0, 0xe0000, 0x2000)" */
} FakeCall;

/* The module handle that the fake loader hands out. */
#define FAKE_D3D9_MODULE ((HMODULE)(ULONG_PTR)0x7D3D0000u)

/* Forgets every call, script, error, capture and object (objects still referenced
 * are freed too) and restores the defaults: everything succeeds, DevCaps 0. */
void fake_d3d9_reset(void);

/* Calls first to last of method (counted from 1 since the reset; last 0 means every
 * call from first on) return result. Later scripts win over earlier ones. */
void fake_d3d9_script(FakeMethod method, unsigned first, unsigned last, HRESULT result);

/* The DevCaps, MaxTextureWidth and MaxTextureHeight that IDirect3D9::GetDeviceCaps
 * reports (0 after a reset). */
void fake_d3d9_set_dev_caps(DWORD devCaps);
void fake_d3d9_set_max_texture(DWORD width, DWORD height);

/* The refresh rate that IDirect3D9::GetAdapterDisplayMode reports for the one adapter,
 * whose monitor is the primary one (0 after a reset, as Wine reports under Xvfb). */
void fake_d3d9_set_refresh_rate(UINT hz);

/* Adapters 0 to count - 1 (at most 4) drive these monitors, instead of the one default
 * adapter on the primary monitor (a count of 0 restores that, as a reset does). */
void fake_d3d9_set_adapter_monitors(UINT count, const HMONITOR* monitors);

/* After recording a call of method (and before any notify and block below), call hook
 * with context on the calling thread; a null hook clears. */
typedef void (*FakeCallHook)(void* context);
void fake_d3d9_hook(FakeMethod method, FakeCallHook hook, void* context);

/* After recording a call of method, set notifyEvent (if any), then wait on blockEvent
 * (if any) before returning. Null clears. */
void fake_d3d9_notify(FakeMethod method, HANDLE notifyEvent);
void fake_d3d9_block(FakeMethod method, HANDLE blockEvent);

unsigned fake_d3d9_count(FakeMethod method);

/* The log; entries past its capacity are counted as dropped, not kept. */
unsigned fake_d3d9_log_size(void);
BOOL fake_d3d9_log_entry(unsigned index, FakeCall* out);
unsigned fake_d3d9_log_dropped(void);

unsigned fake_d3d9_error_count(void);
BOOL fake_d3d9_error(unsigned index, char* text, unsigned size);

/* Objects of a kind made so far, and those whose reference count is above zero. */
unsigned fake_d3d9_created(FakeKind kind);
unsigned fake_d3d9_live(FakeKind kind);
/* Successful loads of the fake module minus its frees. */
int fake_d3d9_module_references(void);

/* The parameters of the last CreateDevice, and of the n-th Reset (from 1). */
BOOL fake_d3d9_create_params(D3DPRESENT_PARAMETERS* out);
BOOL fake_d3d9_reset_params(unsigned n, D3DPRESENT_PARAMETERS* out);

/* Memory of vertex buffer number id (from 1, in creation order) and its length. Every
 * Lock with D3DLOCK_DISCARD fills it with 0xCD first, as fresh memory would be. */
const void* fake_d3d9_buffer_memory(unsigned id, UINT* length);

/* The vertices that each triangle-list DrawPrimitive read from its stream source,
 * captured at the call: the first FAKE_CAPTURED_DRAWS draws and always the latest.
 * Returns the vertex count and copies up to maxBytes; -1 when not captured. */
#define FAKE_CAPTURED_DRAWS 8
unsigned fake_d3d9_draw_count(void);
int fake_d3d9_drawn(unsigned drawIndex, void* out, unsigned maxBytes, UINT* stride);

/* Debugger output (OutputDebugStringW) of every thread, caught first-chance by a
 * vectored handler while the capture is on. Reset empties it but leaves it on.
 * GoogleTest writes its failure reports there too, so after a failure more lines show. */
void fake_debug_capture(BOOL on);
unsigned fake_debug_count(void);
BOOL fake_debug_line(unsigned index, wchar_t* text, unsigned size);

/* The loader entries for setDirect3DLoader. */
HMODULE WINAPI fake_d3d9_load_library(LPCWSTR name);
FARPROC WINAPI fake_d3d9_get_proc_address(HMODULE module, LPCSTR name);
BOOL WINAPI fake_d3d9_free_library(HMODULE module);

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
/* C++ conveniences for the tests. */
#include <string>
#include <vector>

namespace fake {

inline constexpr HRESULT kDeviceLost = static_cast<HRESULT>(0x88760868u);
inline constexpr HRESULT kDeviceNotReset = static_cast<HRESULT>(0x88760869u);
inline constexpr HRESULT kDriverInternalError = static_cast<HRESULT>(0x88760827u);
inline constexpr HRESULT kOutOfVideoMemory = static_cast<HRESULT>(0x8876017Cu);

/* The texts of the logged calls from entry `from` on, optionally of one method only. */
inline std::vector<std::string> calls(unsigned from = 0, int onlyMethod = -1) {
  std::vector<std::string> texts;
  FakeCall call;
  for (unsigned i = from; fake_d3d9_log_entry(i, &call); ++i) {
    if (onlyMethod < 0 || call.method == onlyMethod) texts.emplace_back(call.text);
  }
  return texts;
}

/* Identifiers of the threads that made the logged calls. */
inline std::vector<DWORD> callingThreads() {
  std::vector<DWORD> threads;
  FakeCall call;
  for (unsigned i = 0; fake_d3d9_log_entry(i, &call); ++i) threads.push_back(call.thread);
  return threads;
}

/* Every misuse the fake noticed, one per line; empty when there was none. */
inline std::string errors() {
  std::string all;
  char text[FAKE_TEXT_LENGTH];
  for (unsigned i = 0; fake_d3d9_error(i, text, sizeof text); ++i) all += std::string(text) + "\n";
  return all;
}

inline std::vector<std::wstring> debugLines() {
  std::vector<std::wstring> lines;
  wchar_t text[256];
  for (unsigned i = 0; fake_debug_line(i, text, 256); ++i) lines.emplace_back(text);
  return lines;
}

inline unsigned liveObjects() {
  return fake_d3d9_live(FAKE_KIND_D3D) + fake_d3d9_live(FAKE_KIND_DEVICE) +
         fake_d3d9_live(FAKE_KIND_VERTEX_BUFFER);
}

}  // namespace fake
#endif
