/* The recording Direct3D 9 stand-in; see fake_d3d9.h. */
#include "fake_d3d9.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#define LOG_CAPACITY 16384
#define ERROR_CAPACITY 64
#define SCRIPT_CAPACITY 16
#define OBJECT_CAPACITY 64
#define RESET_CAPACITY 16
#define STUB_COUNT 120
#define DEBUG_LINE_CAPACITY 64
#define DEBUG_LINE_LENGTH 256

typedef struct FakeObject {
  const void* vtbl; /* first, as every COM object */
  FakeKind kind;
  unsigned id;
  LONG refs;
  /* vertex buffer */
  unsigned char* memory;
  UINT length;
  DWORD usage;
  DWORD fvf;
  D3DPOOL pool;
  LONG locks;
  struct FakeObject* owner;
  /* device */
  struct FakeObject* stream;
  UINT streamOffset;
  UINT streamStride;
  DWORD currentFvf;
  BOOL inScene;
} FakeObject;

typedef struct Script {
  unsigned first;
  unsigned last;
  HRESULT result;
} Script;

typedef struct Capture {
  BOOL present;
  unsigned char* bytes;
  unsigned vertices;
  UINT stride;
} Capture;

static SRWLOCK gLock = SRWLOCK_INIT;
static FakeCall gLog[LOG_CAPACITY];
static unsigned gLogSize;
static unsigned gLogDropped;
static char gErrors[ERROR_CAPACITY][FAKE_TEXT_LENGTH];
static unsigned gErrorCount;
static unsigned gCounts[FAKE_METHOD_COUNT];
static Script gScripts[FAKE_METHOD_COUNT][SCRIPT_CAPACITY];
static unsigned gScriptCounts[FAKE_METHOD_COUNT];
static HANDLE gNotify[FAKE_METHOD_COUNT];
static HANDLE gBlock[FAKE_METHOD_COUNT];
static DWORD gDevCaps;
static DWORD gMaxTextureWidth;
static DWORD gMaxTextureHeight;
static UINT gRefreshRate;
#define ADAPTER_CAPACITY 4
static UINT gAdapterCount;                       /* 0: the one default adapter */
static HMONITOR gAdapterMonitors[ADAPTER_CAPACITY];
static FakeCallHook gHooks[FAKE_METHOD_COUNT];
static void* gHookContexts[FAKE_METHOD_COUNT];
static FakeObject* gObjects[OBJECT_CAPACITY];
static unsigned gObjectCount;
static unsigned gCreated[FAKE_KIND_COUNT];
static int gModuleReferences;
static D3DPRESENT_PARAMETERS gCreateParams;
static BOOL gHaveCreateParams;
static D3DPRESENT_PARAMETERS gResetParams[RESET_CAPACITY];
static unsigned gResetCount;
static Capture gCaptures[FAKE_CAPTURED_DRAWS + 1]; /* the last slot holds the latest */
static unsigned gDrawCount;
static unsigned gLatestDraw;

static IDirect3D9Vtbl gD3dVtbl;
static IDirect3DDevice9Vtbl gDeviceVtbl;
static IDirect3DVertexBuffer9Vtbl gBufferVtbl;
typedef HRESULT(WINAPI* StubFunction)(void*);
_Static_assert(sizeof(IDirect3DDevice9Vtbl) / sizeof(void*) <= STUB_COUNT,
               "a stub for every device slot");
/* Wide enough to stand in for any of the three interfaces. */
static StubFunction gPoisonVtbl[STUB_COUNT];
static FakeObject gPoison = {.vtbl = gPoisonVtbl, .kind = FAKE_KIND_COUNT, .refs = 1};
static INIT_ONCE gTablesOnce = INIT_ONCE_STATIC_INIT;
static wchar_t gDebugLines[DEBUG_LINE_CAPACITY][DEBUG_LINE_LENGTH];
static unsigned gDebugCount;
static PVOID gDebugHandler;

/* ---- recording, all under gLock ---- */

static void lockFake(void) { AcquireSRWLockExclusive(&gLock); }
static void unlockFake(void) { ReleaseSRWLockExclusive(&gLock); }

static void addError(const char* format, ...) {
  va_list args;
  if (gErrorCount >= ERROR_CAPACITY) return;
  va_start(args, format);
  vsnprintf(gErrors[gErrorCount], FAKE_TEXT_LENGTH, format, args);
  va_end(args);
  ++gErrorCount;
}

static const char* kindName(FakeKind kind) {
  switch (kind) {
    case FAKE_KIND_D3D: return "d3d";
    case FAKE_KIND_DEVICE: return "device";
    case FAKE_KIND_VERTEX_BUFFER: return "vb";
    default: return "poison";
  }
}

/* "device1" for a fake object, "null" or the address for anything else. */
static void objectName(const void* object, char* out, size_t size) {
  unsigned i;
  if (object == NULL) {
    snprintf(out, size, "null");
    return;
  }
  for (i = 0; i < gObjectCount; ++i) {
    if (gObjects[i] == object) {
      snprintf(out, size, "%s%u", kindName(gObjects[i]->kind), gObjects[i]->id);
      return;
    }
  }
  snprintf(out, size, "0x%llx", (unsigned long long)(ULONG_PTR)object);
}

/* Counts and logs one call and returns its scripted result (or fallback). */
static HRESULT record(FakeMethod method, HRESULT fallback, const char* format, ...) {
  va_list args;
  unsigned call;
  unsigned i;
  HRESULT result = fallback;
  call = ++gCounts[method];
  for (i = 0; i < gScriptCounts[method]; ++i) {
    const Script* s = &gScripts[method][i];
    if (call >= s->first && (s->last == 0 || call <= s->last)) result = s->result;
  }
  if (gLogSize < LOG_CAPACITY) {
    FakeCall* entry = &gLog[gLogSize++];
    entry->method = method;
    entry->thread = GetCurrentThreadId();
    va_start(args, format);
    vsnprintf(entry->text, FAKE_TEXT_LENGTH, format, args);
    va_end(args);
  } else {
    ++gLogDropped;
  }
  return result;
}

/* Leaves the lock, then signals and blocks as the test asked. */
static HRESULT finish(FakeMethod method, HRESULT result) {
  HANDLE notify = gNotify[method];
  HANDLE block = gBlock[method];
  FakeCallHook hook = gHooks[method];
  void* context = gHookContexts[method];
  unlockFake();
  if (hook != NULL) hook(context);
  if (notify != NULL) SetEvent(notify);
  if (block != NULL) WaitForSingleObject(block, INFINITE);
  return result;
}

/* A method on an object whose last reference is gone is a use after release. */
static void checkAlive(const FakeObject* object, const char* method) {
  if (object->refs <= 0) {
    addError("%s%u.%s after its release", kindName(object->kind), object->id, method);
  }
}

static FakeObject* newObject(FakeKind kind, const void* vtbl) {
  FakeObject* object;
  if (gObjectCount >= OBJECT_CAPACITY) {
    addError("more than %d objects", OBJECT_CAPACITY);
    return NULL;
  }
  object = (FakeObject*)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof *object);
  if (object == NULL) return NULL;
  object->vtbl = vtbl;
  object->kind = kind;
  object->id = ++gCreated[kind];
  object->refs = 1;
  gObjects[gObjectCount++] = object;
  return object;
}

/* ---- stubs for every slot that the plug-in must not call ---- */

static HRESULT unexpected(void* self, unsigned slot) {
  const FakeObject* object = (const FakeObject*)self;
  HRESULT result;
  lockFake();
  result = record(FAKE_UNEXPECTED, D3DERR_INVALIDCALL, "%s%u.unexpected call %u",
                  kindName(object->kind), object->id, slot);
  addError("unexpected call of slot %u on %s%u", slot, kindName(object->kind), object->id);
  return finish(FAKE_UNEXPECTED, result);
}

#define STUB(n) \
  static HRESULT WINAPI unexpected##n(void* self) { return unexpected(self, n); }
#define STUB10(t) \
  STUB(t##0) STUB(t##1) STUB(t##2) STUB(t##3) STUB(t##4) \
  STUB(t##5) STUB(t##6) STUB(t##7) STUB(t##8) STUB(t##9)
STUB10() STUB10(1) STUB10(2) STUB10(3) STUB10(4) STUB10(5)
STUB10(6) STUB10(7) STUB10(8) STUB10(9) STUB10(10) STUB10(11)
#undef STUB

#define STUB(n) unexpected##n,
static const StubFunction kStubs[STUB_COUNT] = {
    STUB10() STUB10(1) STUB10(2) STUB10(3) STUB10(4) STUB10(5)
    STUB10(6) STUB10(7) STUB10(8) STUB10(9) STUB10(10) STUB10(11)};
#undef STUB
#undef STUB10

static void fillWithStubs(void* table, size_t bytes) {
  StubFunction* slots = (StubFunction*)table;
  size_t count = bytes / sizeof(StubFunction);
  size_t i;
  for (i = 0; i < count && i < STUB_COUNT; ++i) slots[i] = kStubs[i];
}

/* ---- reference counting, shared by the three kinds ---- */

static ULONG addRef(FakeObject* object) {
  ULONG refs;
  char name[32];
  lockFake();
  objectName(object, name, sizeof name);
  checkAlive(object, "AddRef");
  refs = (ULONG)++object->refs;
  record(FAKE_ADD_REF, S_OK, "%s.AddRef()", name);
  finish(FAKE_ADD_REF, S_OK);
  return refs;
}

static ULONG release(FakeObject* object) {
  LONG refs;
  char name[32];
  lockFake();
  objectName(object, name, sizeof name);
  if (object->refs <= 0) addError("%s released once too often", name);
  refs = --object->refs;
  record(FAKE_RELEASE, S_OK, "%s.Release()", name);
  finish(FAKE_RELEASE, S_OK);
  return refs < 0 ? 0 : (ULONG)refs;
}

static ULONG WINAPI d3dAddRef(IDirect3D9* self) { return addRef((FakeObject*)self); }
static ULONG WINAPI d3dRelease(IDirect3D9* self) { return release((FakeObject*)self); }
static ULONG WINAPI deviceAddRef(IDirect3DDevice9* self) { return addRef((FakeObject*)self); }
static ULONG WINAPI deviceRelease(IDirect3DDevice9* self) { return release((FakeObject*)self); }
static ULONG WINAPI bufferAddRef(IDirect3DVertexBuffer9* self) {
  return addRef((FakeObject*)self);
}
static ULONG WINAPI bufferRelease(IDirect3DVertexBuffer9* self) {
  return release((FakeObject*)self);
}

/* ---- IDirect3D9 ---- */

static HRESULT WINAPI d3dGetDeviceCaps(IDirect3D9* self, UINT adapter, D3DDEVTYPE type,
                                       D3DCAPS9* caps) {
  FakeObject* object = (FakeObject*)self;
  HRESULT result;
  lockFake();
  checkAlive(object, "GetDeviceCaps");
  result = record(FAKE_D3D_GET_DEVICE_CAPS, D3D_OK, "d3d%u.GetDeviceCaps(%u, %d)", object->id,
                  adapter, (int)type);
  /* A failed call leaves the record as it was, as a real one may. */
  if (caps != NULL && SUCCEEDED(result)) {
    memset(caps, 0, sizeof *caps);
    caps->DeviceType = type;
    caps->AdapterOrdinal = adapter;
    caps->DevCaps = gDevCaps;
    caps->MaxTextureWidth = gMaxTextureWidth;
    caps->MaxTextureHeight = gMaxTextureHeight;
  }
  return finish(FAKE_D3D_GET_DEVICE_CAPS, result);
}

static UINT WINAPI d3dGetAdapterCount(IDirect3D9* self) {
  FakeObject* object = (FakeObject*)self;
  lockFake();
  checkAlive(object, "GetAdapterCount");
  record(FAKE_D3D_GET_ADAPTER_COUNT, D3D_OK, "d3d%u.GetAdapterCount()", object->id);
  finish(FAKE_D3D_GET_ADAPTER_COUNT, D3D_OK);
  return gAdapterCount == 0 ? 1 : gAdapterCount;
}

static HMONITOR WINAPI d3dGetAdapterMonitor(IDirect3D9* self, UINT adapter) {
  const POINT origin = {0, 0};
  FakeObject* object = (FakeObject*)self;
  lockFake();
  checkAlive(object, "GetAdapterMonitor");
  record(FAKE_D3D_GET_ADAPTER_MONITOR, D3D_OK, "d3d%u.GetAdapterMonitor(%u)", object->id,
         adapter);
  finish(FAKE_D3D_GET_ADAPTER_MONITOR, D3D_OK);
  if (gAdapterCount != 0) return adapter < gAdapterCount ? gAdapterMonitors[adapter] : NULL;
  return adapter == 0 ? MonitorFromPoint(origin, MONITOR_DEFAULTTOPRIMARY) : NULL;
}

static HRESULT WINAPI d3dGetAdapterDisplayMode(IDirect3D9* self, UINT adapter,
                                               D3DDISPLAYMODE* mode) {
  FakeObject* object = (FakeObject*)self;
  HRESULT result;
  lockFake();
  checkAlive(object, "GetAdapterDisplayMode");
  result = record(FAKE_D3D_GET_ADAPTER_DISPLAY_MODE, D3D_OK, "d3d%u.GetAdapterDisplayMode(%u)",
                  object->id, adapter);
  if (adapter >= (gAdapterCount == 0 ? 1 : gAdapterCount)) result = D3DERR_INVALIDCALL;
  if (mode != NULL && SUCCEEDED(result)) {
    mode->Width = 1280;
    mode->Height = 1024;
    mode->RefreshRate = gRefreshRate;
    mode->Format = D3DFMT_X8R8G8B8;
  }
  return finish(FAKE_D3D_GET_ADAPTER_DISPLAY_MODE, result);
}

static HRESULT WINAPI d3dCreateDevice(IDirect3D9* self, UINT adapter, D3DDEVTYPE type,
                                      HWND focus, DWORD flags, D3DPRESENT_PARAMETERS* params,
                                      IDirect3DDevice9** out) {
  FakeObject* object = (FakeObject*)self;
  HRESULT result;
  lockFake();
  checkAlive(object, "CreateDevice");
  result = record(FAKE_D3D_CREATE_DEVICE, D3D_OK, "d3d%u.CreateDevice(%u, %d, 0x%llx, 0x%lx)",
                  object->id, adapter, (int)type, (unsigned long long)(ULONG_PTR)focus,
                  (unsigned long)flags);
  if (params != NULL) {
    gCreateParams = *params;
    gHaveCreateParams = TRUE;
  }
  if (out != NULL) {
    /* A failed call leaves something that must not be used in the out-parameter. */
    FakeObject* device = SUCCEEDED(result) ? newObject(FAKE_KIND_DEVICE, &gDeviceVtbl) : &gPoison;
    *out = (IDirect3DDevice9*)device;
  }
  return finish(FAKE_D3D_CREATE_DEVICE, result);
}

/* ---- IDirect3DDevice9 ---- */

#define DEVICE_CALL(method, name, format, ...)                                       \
  FakeObject* object = (FakeObject*)self;                                            \
  HRESULT result;                                                                    \
  lockFake();                                                                        \
  checkAlive(object, name);                                                          \
  result = record(method, D3D_OK, "device%u." name format, object->id, ##__VA_ARGS__)

static HRESULT WINAPI deviceTestCooperativeLevel(IDirect3DDevice9* self) {
  DEVICE_CALL(FAKE_TEST_COOPERATIVE_LEVEL, "TestCooperativeLevel", "()");
  return finish(FAKE_TEST_COOPERATIVE_LEVEL, result);
}

static HRESULT WINAPI deviceReset(IDirect3DDevice9* self, D3DPRESENT_PARAMETERS* params) {
  unsigned i;
  DEVICE_CALL(FAKE_RESET, "Reset", "(%ux%u)", params ? params->BackBufferWidth : 0u,
              params ? params->BackBufferHeight : 0u);
  if (params != NULL && gResetCount < RESET_CAPACITY) gResetParams[gResetCount] = *params;
  ++gResetCount;
  /* Direct3D refuses a reset while default-pool resources still exist. */
  for (i = 0; i < gObjectCount; ++i) {
    const FakeObject* other = gObjects[i];
    if (other->kind == FAKE_KIND_VERTEX_BUFFER && other->owner == object && other->refs > 0 &&
        other->pool == D3DPOOL_DEFAULT) {
      addError("device%u.Reset with vb%u still alive", object->id, other->id);
    }
  }
  if (object->inScene) addError("device%u.Reset inside a scene", object->id);
  object->inScene = FALSE;
  return finish(FAKE_RESET, result);
}

static HRESULT WINAPI devicePresent(IDirect3DDevice9* self, const RECT* source,
                                    const RECT* destination, HWND window,
                                    const RGNDATA* dirty) {
  DEVICE_CALL(FAKE_PRESENT, "Present", "(%s, %s, %s, %s)", source ? "rect" : "null",
              destination ? "rect" : "null", window ? "window" : "null",
              dirty ? "region" : "null");
  if (object->inScene) addError("device%u.Present inside a scene", object->id);
  return finish(FAKE_PRESENT, result);
}

static HRESULT WINAPI deviceCreateVertexBuffer(IDirect3DDevice9* self, UINT length, DWORD usage,
                                               DWORD fvf, D3DPOOL pool,
                                               IDirect3DVertexBuffer9** out, HANDLE* shared) {
  FakeObject* buffer = NULL;
  DEVICE_CALL(FAKE_CREATE_VERTEX_BUFFER, "CreateVertexBuffer", "(0x%x, 0x%lx, 0x%lx, %d, %s)",
              length, (unsigned long)usage, (unsigned long)fvf, (int)pool,
              shared ? "shared" : "null");
  if (SUCCEEDED(result)) {
    buffer = newObject(FAKE_KIND_VERTEX_BUFFER, &gBufferVtbl);
    if (buffer != NULL) {
      buffer->memory = (unsigned char*)HeapAlloc(GetProcessHeap(), 0, length ? length : 1);
      if (buffer->memory == NULL) length = 0;
      if (length != 0) memset(buffer->memory, 0xCD, length);
      buffer->length = length;
      buffer->usage = usage;
      buffer->fvf = fvf;
      buffer->pool = pool;
      buffer->owner = object;
    }
  }
  if (out != NULL) *out = (IDirect3DVertexBuffer9*)(buffer != NULL ? buffer : &gPoison);
  return finish(FAKE_CREATE_VERTEX_BUFFER, result);
}

static HRESULT WINAPI deviceBeginScene(IDirect3DDevice9* self) {
  DEVICE_CALL(FAKE_BEGIN_SCENE, "BeginScene", "()");
  if (object->inScene) addError("device%u.BeginScene inside a scene", object->id);
  if (SUCCEEDED(result)) object->inScene = TRUE;
  return finish(FAKE_BEGIN_SCENE, result);
}

static HRESULT WINAPI deviceEndScene(IDirect3DDevice9* self) {
  DEVICE_CALL(FAKE_END_SCENE, "EndScene", "()");
  if (!object->inScene) addError("device%u.EndScene without a scene", object->id);
  object->inScene = FALSE;
  return finish(FAKE_END_SCENE, result);
}

static HRESULT WINAPI deviceClear(IDirect3DDevice9* self, DWORD count, const D3DRECT* rects,
                                  DWORD flags, D3DCOLOR colour, float z, DWORD stencil) {
  DEVICE_CALL(FAKE_CLEAR, "Clear", "(%lu, %s, 0x%lx, 0x%08lx, %g, %lu)", (unsigned long)count,
              rects ? "rects" : "null", (unsigned long)flags, (unsigned long)colour, (double)z,
              (unsigned long)stencil);
  return finish(FAKE_CLEAR, result);
}

static HRESULT WINAPI deviceSetRenderState(IDirect3DDevice9* self, D3DRENDERSTATETYPE state,
                                           DWORD value) {
  DEVICE_CALL(FAKE_SET_RENDER_STATE, "SetRenderState", "(%d, %lu)", (int)state,
              (unsigned long)value);
  return finish(FAKE_SET_RENDER_STATE, result);
}

static HRESULT WINAPI deviceSetTexture(IDirect3DDevice9* self, DWORD stage,
                                       IDirect3DBaseTexture9* texture) {
  char name[32];
  FakeObject* object = (FakeObject*)self;
  HRESULT result;
  lockFake();
  checkAlive(object, "SetTexture");
  objectName(texture, name, sizeof name);
  result = record(FAKE_SET_TEXTURE, D3D_OK, "device%u.SetTexture(%lu, %s)", object->id,
                  (unsigned long)stage, name);
  return finish(FAKE_SET_TEXTURE, result);
}

static HRESULT WINAPI deviceSetTextureStageState(IDirect3DDevice9* self, DWORD stage,
                                                 D3DTEXTURESTAGESTATETYPE type, DWORD value) {
  DEVICE_CALL(FAKE_SET_TEXTURE_STAGE_STATE, "SetTextureStageState", "(%lu, %d, %lu)",
              (unsigned long)stage, (int)type, (unsigned long)value);
  return finish(FAKE_SET_TEXTURE_STAGE_STATE, result);
}

static HRESULT WINAPI deviceSetSamplerState(IDirect3DDevice9* self, DWORD sampler,
                                            D3DSAMPLERSTATETYPE type, DWORD value) {
  DEVICE_CALL(FAKE_SET_SAMPLER_STATE, "SetSamplerState", "(%lu, %d, %lu)",
              (unsigned long)sampler, (int)type, (unsigned long)value);
  return finish(FAKE_SET_SAMPLER_STATE, result);
}

static HRESULT WINAPI deviceSetFVF(IDirect3DDevice9* self, DWORD fvf) {
  DEVICE_CALL(FAKE_SET_FVF, "SetFVF", "(0x%lx)", (unsigned long)fvf);
  object->currentFvf = fvf;
  return finish(FAKE_SET_FVF, result);
}

static HRESULT WINAPI deviceSetStreamSource(IDirect3DDevice9* self, UINT stream,
                                            IDirect3DVertexBuffer9* buffer, UINT offset,
                                            UINT stride) {
  char name[32];
  FakeObject* object = (FakeObject*)self;
  HRESULT result;
  lockFake();
  checkAlive(object, "SetStreamSource");
  objectName(buffer, name, sizeof name);
  result = record(FAKE_SET_STREAM_SOURCE, D3D_OK, "device%u.SetStreamSource(%u, %s, %u, %u)",
                  object->id, stream, name, offset, stride);
  if (stream == 0) {
    object->stream = (FakeObject*)buffer;
    object->streamOffset = offset;
    object->streamStride = stride;
  }
  return finish(FAKE_SET_STREAM_SOURCE, result);
}

static void freeCapture(Capture* capture) {
  if (capture->bytes != NULL) HeapFree(GetProcessHeap(), 0, capture->bytes);
  memset(capture, 0, sizeof *capture);
}

/* Copies what the draw reads, so a test sees what reached the device. */
static void captureDraw(FakeObject* device, UINT start, UINT vertices) {
  const FakeObject* buffer = device->stream;
  const unsigned index = gDrawCount++;
  Capture* capture;
  size_t first;
  size_t bytes;
  gLatestDraw = index;
  capture = &gCaptures[index < FAKE_CAPTURED_DRAWS ? index : FAKE_CAPTURED_DRAWS];
  freeCapture(capture);
  if (buffer == NULL || buffer->memory == NULL) return;
  first = (size_t)device->streamOffset + (size_t)start * device->streamStride;
  bytes = (size_t)vertices * device->streamStride;
  if (first + bytes > buffer->length) {
    addError("draw reads past the end of vb%u", buffer->id);
    return;
  }
  capture->bytes = (unsigned char*)HeapAlloc(GetProcessHeap(), 0, bytes ? bytes : 1);
  memcpy(capture->bytes, buffer->memory + first, bytes);
  capture->present = TRUE;
  capture->vertices = vertices;
  capture->stride = device->streamStride;
}

static HRESULT WINAPI deviceDrawPrimitive(IDirect3DDevice9* self, D3DPRIMITIVETYPE type,
                                          UINT start, UINT count) {
  DEVICE_CALL(FAKE_DRAW_PRIMITIVE, "DrawPrimitive", "(%d, %u, %u)", (int)type, start, count);
  if (!object->inScene) addError("device%u.DrawPrimitive outside a scene", object->id);
  if (object->stream == NULL) {
    addError("device%u.DrawPrimitive without a stream source", object->id);
  } else if (object->stream == &gPoison || object->stream->refs <= 0) {
    addError("device%u.DrawPrimitive from a released buffer", object->id);
  } else if (object->stream->locks > 0) {
    addError("device%u.DrawPrimitive from locked vb%u", object->id, object->stream->id);
  }
  if (type == D3DPT_TRIANGLELIST) {
    captureDraw(object, start, count * 3);
  } else {
    addError("device%u.DrawPrimitive of type %d", object->id, (int)type);
  }
  return finish(FAKE_DRAW_PRIMITIVE, result);
}

/* ---- IDirect3DVertexBuffer9 ---- */

static HRESULT WINAPI bufferLock(IDirect3DVertexBuffer9* self, UINT offset, UINT size,
                                 void** data, DWORD flags) {
  FakeObject* object = (FakeObject*)self;
  HRESULT result;
  lockFake();
  checkAlive(object, "Lock");
  result = record(FAKE_LOCK, D3D_OK, "vb%u.Lock(%u, 0x%x, 0x%lx)", object->id, offset, size,
                  (unsigned long)flags);
  if (size == 0) size = object->length - offset;
  if ((size_t)offset + size > object->length) addError("vb%u.Lock past its end", object->id);
  if (FAILED(result)) {
    if (data != NULL) *data = NULL;
  } else {
    if ((flags & D3DLOCK_DISCARD) != 0) memset(object->memory, 0xCD, object->length);
    ++object->locks;
    if (data != NULL) *data = object->memory + offset;
  }
  return finish(FAKE_LOCK, result);
}

static HRESULT WINAPI bufferUnlock(IDirect3DVertexBuffer9* self) {
  FakeObject* object = (FakeObject*)self;
  HRESULT result;
  lockFake();
  checkAlive(object, "Unlock");
  result = record(FAKE_UNLOCK, D3D_OK, "vb%u.Unlock()", object->id);
  if (object->locks > 0) --object->locks;
  return finish(FAKE_UNLOCK, result);
}

/* ---- the tables ---- */

static BOOL CALLBACK fillTables(PINIT_ONCE once, PVOID parameter, PVOID* context) {
  (void)once;
  (void)parameter;
  (void)context;
  fillWithStubs(&gD3dVtbl, sizeof gD3dVtbl);
  gD3dVtbl.AddRef = d3dAddRef;
  gD3dVtbl.Release = d3dRelease;
  gD3dVtbl.GetDeviceCaps = d3dGetDeviceCaps;
  gD3dVtbl.GetAdapterCount = d3dGetAdapterCount;
  gD3dVtbl.GetAdapterMonitor = d3dGetAdapterMonitor;
  gD3dVtbl.GetAdapterDisplayMode = d3dGetAdapterDisplayMode;
  gD3dVtbl.CreateDevice = d3dCreateDevice;

  fillWithStubs(&gDeviceVtbl, sizeof gDeviceVtbl);
  gDeviceVtbl.AddRef = deviceAddRef;
  gDeviceVtbl.Release = deviceRelease;
  gDeviceVtbl.TestCooperativeLevel = deviceTestCooperativeLevel;
  gDeviceVtbl.Reset = deviceReset;
  gDeviceVtbl.Present = devicePresent;
  gDeviceVtbl.CreateVertexBuffer = deviceCreateVertexBuffer;
  gDeviceVtbl.BeginScene = deviceBeginScene;
  gDeviceVtbl.EndScene = deviceEndScene;
  gDeviceVtbl.Clear = deviceClear;
  gDeviceVtbl.SetRenderState = deviceSetRenderState;
  gDeviceVtbl.SetTexture = deviceSetTexture;
  gDeviceVtbl.SetTextureStageState = deviceSetTextureStageState;
  gDeviceVtbl.SetSamplerState = deviceSetSamplerState;
  gDeviceVtbl.SetFVF = deviceSetFVF;
  gDeviceVtbl.SetStreamSource = deviceSetStreamSource;
  gDeviceVtbl.DrawPrimitive = deviceDrawPrimitive;

  fillWithStubs(&gBufferVtbl, sizeof gBufferVtbl);
  gBufferVtbl.AddRef = bufferAddRef;
  gBufferVtbl.Release = bufferRelease;
  gBufferVtbl.Lock = bufferLock;
  gBufferVtbl.Unlock = bufferUnlock;

  /* The poison object answers every slot, of whatever interface, as unexpected. */
  fillWithStubs(gPoisonVtbl, sizeof gPoisonVtbl);
  return TRUE;
}

/* ---- the factory and the loader ---- */

static IDirect3D9* WINAPI fakeDirect3DCreate9(UINT version) {
  FakeObject* d3d = NULL;
  HRESULT result;
  lockFake();
  result = record(FAKE_DIRECT3D_CREATE9, D3D_OK, "Direct3DCreate9(%u)", version);
  if (SUCCEEDED(result)) d3d = newObject(FAKE_KIND_D3D, &gD3dVtbl);
  finish(FAKE_DIRECT3D_CREATE9, result);
  return (IDirect3D9*)d3d;
}

HMODULE WINAPI fake_d3d9_load_library(LPCWSTR name) {
  char narrow[MAX_PATH] = "";
  HRESULT result;
  if (name != NULL) WideCharToMultiByte(CP_UTF8, 0, name, -1, narrow, MAX_PATH, NULL, NULL);
  lockFake();
  result = record(FAKE_LOAD_LIBRARY, S_OK, "LoadLibrary(%s)", narrow);
  if (SUCCEEDED(result)) ++gModuleReferences;
  finish(FAKE_LOAD_LIBRARY, result);
  return SUCCEEDED(result) ? FAKE_D3D9_MODULE : NULL;
}

FARPROC WINAPI fake_d3d9_get_proc_address(HMODULE module, LPCSTR name) {
  HRESULT result;
  lockFake();
  result = record(FAKE_GET_PROC_ADDRESS, S_OK, "GetProcAddress(%s, %s)",
                  module == FAKE_D3D9_MODULE ? "d3d9" : "other module",
                  ((ULONG_PTR)name >> 16) != 0 ? name : "ordinal");
  if (module != FAKE_D3D9_MODULE) addError("GetProcAddress on a module not loaded here");
  finish(FAKE_GET_PROC_ADDRESS, result);
  if (FAILED(result) || module != FAKE_D3D9_MODULE) return NULL;
  if (((ULONG_PTR)name >> 16) == 0 || strcmp(name, "Direct3DCreate9") != 0) return NULL;
  return (FARPROC)(void*)fakeDirect3DCreate9;
}

BOOL WINAPI fake_d3d9_free_library(HMODULE module) {
  lockFake();
  record(FAKE_FREE_LIBRARY, S_OK, "FreeLibrary(%s)",
         module == FAKE_D3D9_MODULE ? "d3d9" : "other module");
  if (module != FAKE_D3D9_MODULE) {
    addError("FreeLibrary of a module not loaded here");
  } else if (--gModuleReferences < 0) {
    addError("FreeLibrary without a matching load");
  }
  finish(FAKE_FREE_LIBRARY, S_OK);
  return TRUE;
}

/* ---- debugger output ---- */

#ifndef DBG_PRINTEXCEPTION_WIDE_C
#define DBG_PRINTEXCEPTION_WIDE_C 0x4001000AL
#endif

/* Windows raises the wide form first and the narrow one only when nobody took it;
 * Wine raises the narrow one alone. Either way one line is recorded per call. */
static LONG CALLBACK catchDebugOutput(PEXCEPTION_POINTERS pointers) {
  const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
  const BOOL wide = record->ExceptionCode == DBG_PRINTEXCEPTION_WIDE_C;
  if (!wide && record->ExceptionCode != DBG_PRINTEXCEPTION_C) return EXCEPTION_CONTINUE_SEARCH;
  if (record->NumberParameters < 2 || record->ExceptionInformation[1] == 0) {
    return EXCEPTION_CONTINUE_EXECUTION;
  }
  lockFake();
  if (gDebugCount < DEBUG_LINE_CAPACITY) {
    wchar_t* line = gDebugLines[gDebugCount++];
    if (wide) {
      lstrcpynW(line, (const wchar_t*)record->ExceptionInformation[1], DEBUG_LINE_LENGTH);
    } else {
      MultiByteToWideChar(CP_ACP, 0, (const char*)record->ExceptionInformation[1], -1, line,
                          DEBUG_LINE_LENGTH);
      line[DEBUG_LINE_LENGTH - 1] = 0;
    }
  }
  unlockFake();
  return EXCEPTION_CONTINUE_EXECUTION;
}

void fake_debug_capture(BOOL on) {
  if (on && gDebugHandler == NULL) {
    gDebugHandler = AddVectoredExceptionHandler(1, catchDebugOutput);
  } else if (!on && gDebugHandler != NULL) {
    RemoveVectoredExceptionHandler(gDebugHandler);
    gDebugHandler = NULL;
  }
}

unsigned fake_debug_count(void) {
  unsigned count;
  lockFake();
  count = gDebugCount;
  unlockFake();
  return count;
}

BOOL fake_debug_line(unsigned index, wchar_t* text, unsigned size) {
  BOOL found;
  lockFake();
  found = index < gDebugCount;
  if (found && size > 0) lstrcpynW(text, gDebugLines[index], (int)size);
  unlockFake();
  return found;
}

/* ---- the test side ---- */

void fake_d3d9_reset(void) {
  unsigned i;
  InitOnceExecuteOnce(&gTablesOnce, fillTables, NULL, NULL);
  lockFake();
  for (i = 0; i < gObjectCount; ++i) {
    if (gObjects[i]->memory != NULL) HeapFree(GetProcessHeap(), 0, gObjects[i]->memory);
    HeapFree(GetProcessHeap(), 0, gObjects[i]);
  }
  for (i = 0; i <= FAKE_CAPTURED_DRAWS; ++i) freeCapture(&gCaptures[i]);
  gObjectCount = 0;
  gLogSize = 0;
  gLogDropped = 0;
  gErrorCount = 0;
  memset(gCounts, 0, sizeof gCounts);
  memset(gScriptCounts, 0, sizeof gScriptCounts);
  memset(gNotify, 0, sizeof gNotify);
  memset(gBlock, 0, sizeof gBlock);
  memset(gHooks, 0, sizeof gHooks);
  gRefreshRate = 0;
  gAdapterCount = 0;
  memset(gCreated, 0, sizeof gCreated);
  gDevCaps = 0;
  gMaxTextureWidth = 0;
  gMaxTextureHeight = 0;
  gModuleReferences = 0;
  gHaveCreateParams = FALSE;
  gResetCount = 0;
  gDrawCount = 0;
  gLatestDraw = 0;
  gDebugCount = 0;
  unlockFake();
}

void fake_d3d9_script(FakeMethod method, unsigned first, unsigned last, HRESULT result) {
  lockFake();
  if (gScriptCounts[method] < SCRIPT_CAPACITY) {
    Script* s = &gScripts[method][gScriptCounts[method]++];
    s->first = first;
    s->last = last;
    s->result = result;
  } else {
    addError("too many scripts for one method");
  }
  unlockFake();
}

void fake_d3d9_set_dev_caps(DWORD devCaps) {
  lockFake();
  gDevCaps = devCaps;
  unlockFake();
}

void fake_d3d9_set_max_texture(DWORD width, DWORD height) {
  lockFake();
  gMaxTextureWidth = width;
  gMaxTextureHeight = height;
  unlockFake();
}

void fake_d3d9_set_refresh_rate(UINT hz) {
  lockFake();
  gRefreshRate = hz;
  unlockFake();
}

void fake_d3d9_set_adapter_monitors(UINT count, const HMONITOR* monitors) {
  UINT i;
  lockFake();
  gAdapterCount = count <= ADAPTER_CAPACITY ? count : ADAPTER_CAPACITY;
  for (i = 0; i < gAdapterCount; ++i) gAdapterMonitors[i] = monitors[i];
  unlockFake();
}

void fake_d3d9_hook(FakeMethod method, FakeCallHook hook, void* context) {
  lockFake();
  gHooks[method] = hook;
  gHookContexts[method] = context;
  unlockFake();
}

void fake_d3d9_notify(FakeMethod method, HANDLE notifyEvent) {
  lockFake();
  gNotify[method] = notifyEvent;
  unlockFake();
}

void fake_d3d9_block(FakeMethod method, HANDLE blockEvent) {
  lockFake();
  gBlock[method] = blockEvent;
  unlockFake();
}

unsigned fake_d3d9_count(FakeMethod method) {
  unsigned count;
  lockFake();
  count = gCounts[method];
  unlockFake();
  return count;
}

unsigned fake_d3d9_log_size(void) {
  unsigned size;
  lockFake();
  size = gLogSize;
  unlockFake();
  return size;
}

BOOL fake_d3d9_log_entry(unsigned index, FakeCall* out) {
  BOOL found;
  lockFake();
  found = index < gLogSize;
  if (found) *out = gLog[index];
  unlockFake();
  return found;
}

unsigned fake_d3d9_log_dropped(void) {
  unsigned dropped;
  lockFake();
  dropped = gLogDropped;
  unlockFake();
  return dropped;
}

unsigned fake_d3d9_error_count(void) {
  unsigned count;
  lockFake();
  count = gErrorCount;
  unlockFake();
  return count;
}

BOOL fake_d3d9_error(unsigned index, char* text, unsigned size) {
  BOOL found;
  lockFake();
  found = index < gErrorCount;
  if (found && size > 0) snprintf(text, size, "%s", gErrors[index]);
  unlockFake();
  return found;
}

unsigned fake_d3d9_created(FakeKind kind) {
  unsigned count;
  lockFake();
  count = gCreated[kind];
  unlockFake();
  return count;
}

unsigned fake_d3d9_live(FakeKind kind) {
  unsigned i;
  unsigned live = 0;
  lockFake();
  for (i = 0; i < gObjectCount; ++i) {
    if (gObjects[i]->kind == kind && gObjects[i]->refs > 0) ++live;
  }
  unlockFake();
  return live;
}

int fake_d3d9_module_references(void) {
  int references;
  lockFake();
  references = gModuleReferences;
  unlockFake();
  return references;
}

BOOL fake_d3d9_create_params(D3DPRESENT_PARAMETERS* out) {
  BOOL found;
  lockFake();
  found = gHaveCreateParams;
  if (found) *out = gCreateParams;
  unlockFake();
  return found;
}

BOOL fake_d3d9_reset_params(unsigned n, D3DPRESENT_PARAMETERS* out) {
  BOOL found;
  lockFake();
  found = n >= 1 && n <= gResetCount && n <= RESET_CAPACITY;
  if (found) *out = gResetParams[n - 1];
  unlockFake();
  return found;
}

const void* fake_d3d9_buffer_memory(unsigned id, UINT* length) {
  unsigned i;
  const void* memory = NULL;
  lockFake();
  for (i = 0; i < gObjectCount; ++i) {
    if (gObjects[i]->kind == FAKE_KIND_VERTEX_BUFFER && gObjects[i]->id == id) {
      memory = gObjects[i]->memory;
      if (length != NULL) *length = gObjects[i]->length;
    }
  }
  unlockFake();
  return memory;
}

unsigned fake_d3d9_draw_count(void) {
  unsigned count;
  lockFake();
  count = gDrawCount;
  unlockFake();
  return count;
}

int fake_d3d9_drawn(unsigned drawIndex, void* out, unsigned maxBytes, UINT* stride) {
  const Capture* capture = NULL;
  int vertices = -1;
  lockFake();
  if (drawIndex < FAKE_CAPTURED_DRAWS && drawIndex < gDrawCount) {
    capture = &gCaptures[drawIndex];
  } else if (gDrawCount > FAKE_CAPTURED_DRAWS && drawIndex == gLatestDraw) {
    capture = &gCaptures[FAKE_CAPTURED_DRAWS];
  }
  if (capture != NULL && capture->present) {
    size_t bytes = (size_t)capture->vertices * capture->stride;
    if (bytes > maxBytes) bytes = maxBytes;
    if (out != NULL) memcpy(out, capture->bytes, bytes);
    if (stride != NULL) *stride = capture->stride;
    vertices = (int)capture->vertices;
  }
  unlockFake();
  return vertices;
}
