/* The scripted Direct3D 9 of the canvas's tests (see fake_d3d9.h). */
#define CINTERFACE
#define COBJMACROS
#include "fake_d3d9.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

typedef struct FakeSurface {
  IDirect3DSurface9 iface;
  LONG refs;
  FakeD3dLog* log;
  UINT width, height;
  uint32_t* pixels;
} FakeSurface;

typedef struct FakeDevice {
  IDirect3DDevice9 iface;
  LONG refs;
  FakeD3dLog* log;
  FakeSurface* backBuffer;
} FakeDevice;

typedef struct FakeApi {
  IDirect3D9 iface;
  LONG refs;
  FakeD3dLog* log;
} FakeApi;

static void Record(FakeD3dLog* log, const char* name, intptr_t a, intptr_t b, intptr_t c, intptr_t d) {
  if (log->callCount >= FAKE_D3D_MAX_CALLS) return;
  FakeD3dCall* call = &log->calls[log->callCount++];
  snprintf(call->name, sizeof(call->name), "%s", name);
  call->a = a;
  call->b = b;
  call->c = c;
  call->d = d;
}

/* Every method the canvas has no business calling. */
static HRESULT STDMETHODCALLTYPE Unexpected(void) {
  fprintf(stderr, "fake_d3d9: the canvas called a method it should not use\n");
  abort();
  return E_NOTIMPL;
}

static void FillUnexpected(void* table, size_t bytes) {
  void** slot = (void**)table;
  for (size_t i = 0; i < bytes / sizeof(void*); ++i) slot[i] = (void*)Unexpected;
}

/* ------------------------------------------------------------ surfaces */

static FakeSurface* SurfaceOf(IDirect3DSurface9* s) { return (FakeSurface*)s; }

static ULONG STDMETHODCALLTYPE SurfaceAddRef(IDirect3DSurface9* This) { return ++SurfaceOf(This)->refs; }

static ULONG STDMETHODCALLTYPE SurfaceRelease(IDirect3DSurface9* This) {
  FakeSurface* s = SurfaceOf(This);
  const ULONG refs = --s->refs;
  if (refs == 0) {
    Record(s->log, "ReleaseSurface", (intptr_t)s->width, (intptr_t)s->height, 0, 0);
    --s->log->alive;
    free(s->pixels);
    free(s);
  }
  return refs;
}

static HRESULT STDMETHODCALLTYPE SurfaceLockRect(IDirect3DSurface9* This, D3DLOCKED_RECT* locked, const RECT* rect,
                                                 DWORD flags) {
  FakeSurface* s = SurfaceOf(This);
  Record(s->log, "LockRect", (intptr_t)s->width, (intptr_t)s->height, (intptr_t)flags, 0);
  locked->Pitch = (INT)(s->width * 4);
  locked->pBits = s->pixels;
  return D3D_OK;
}

static HRESULT STDMETHODCALLTYPE SurfaceUnlockRect(IDirect3DSurface9* This) {
  Record(SurfaceOf(This)->log, "UnlockRect", 0, 0, 0, 0);
  return D3D_OK;
}

static IDirect3DSurface9Vtbl g_surfaceTable;

static FakeSurface* NewSurface(FakeD3dLog* log, UINT width, UINT height) {
  FakeSurface* s = (FakeSurface*)calloc(1, sizeof(FakeSurface));
  s->iface.lpVtbl = &g_surfaceTable;
  s->refs = 1;
  s->log = log;
  s->width = width;
  s->height = height;
  s->pixels = (uint32_t*)calloc((size_t)width * height + 1, 4);
  ++log->alive;
  return s;
}

/* ------------------------------------------------------------ device */

static FakeDevice* DeviceOf(IDirect3DDevice9* d) { return (FakeDevice*)d; }

static ULONG STDMETHODCALLTYPE DeviceAddRef(IDirect3DDevice9* This) { return ++DeviceOf(This)->refs; }

static ULONG STDMETHODCALLTYPE DeviceRelease(IDirect3DDevice9* This) {
  FakeDevice* d = DeviceOf(This);
  const ULONG refs = --d->refs;
  if (refs == 0) {
    Record(d->log, "ReleaseDevice", 0, 0, 0, 0);
    SurfaceRelease(&d->backBuffer->iface);
    --d->log->alive;
    free(d);
  }
  return refs;
}

static HRESULT STDMETHODCALLTYPE DeviceTestCooperativeLevel(IDirect3DDevice9* This) {
  FakeD3dLog* log = DeviceOf(This)->log;
  const HRESULT level = log->levelNext < log->levelCount ? log->levels[log->levelNext++] : D3D_OK;
  Record(log, "TestCooperativeLevel", (intptr_t)level, 0, 0, 0);
  return level;
}

static HRESULT STDMETHODCALLTYPE DeviceGetDeviceCaps(IDirect3DDevice9* This, D3DCAPS9* caps) {
  FakeD3dLog* log = DeviceOf(This)->log;
  memset(caps, 0, sizeof(*caps));
  caps->MaxPrimitiveCount = log->maxPrimitiveCount != 0 ? log->maxPrimitiveCount : 0xFFFFF;
  caps->MaxVertexIndex = 0xFFFFF;
  Record(log, "GetDeviceCaps", 0, 0, 0, 0);
  return D3D_OK;
}

static HRESULT STDMETHODCALLTYPE DeviceGetBackBuffer(IDirect3DDevice9* This, UINT swapChain, UINT index,
                                                     D3DBACKBUFFER_TYPE type, IDirect3DSurface9** surface) {
  FakeDevice* d = DeviceOf(This);
  Record(d->log, "GetBackBuffer", (intptr_t)swapChain, (intptr_t)index, (intptr_t)type, 0);
  SurfaceAddRef(&d->backBuffer->iface);
  *surface = &d->backBuffer->iface;
  return D3D_OK;
}

static HRESULT STDMETHODCALLTYPE DeviceCreateOffscreenPlainSurface(IDirect3DDevice9* This, UINT width, UINT height,
                                                                   D3DFORMAT format, D3DPOOL pool,
                                                                   IDirect3DSurface9** surface, HANDLE* shared) {
  FakeDevice* d = DeviceOf(This);
  Record(d->log, "CreateOffscreenPlainSurface", (intptr_t)width, (intptr_t)height, (intptr_t)format, (intptr_t)pool);
  *surface = &NewSurface(d->log, width, height)->iface;
  return D3D_OK;
}

static HRESULT STDMETHODCALLTYPE DeviceSetRenderState(IDirect3DDevice9* This, D3DRENDERSTATETYPE state, DWORD value) {
  Record(DeviceOf(This)->log, "SetRenderState", (intptr_t)state, (intptr_t)value, 0, 0);
  return D3D_OK;
}

static HRESULT STDMETHODCALLTYPE DeviceSetFVF(IDirect3DDevice9* This, DWORD fvf) {
  Record(DeviceOf(This)->log, "SetFVF", (intptr_t)fvf, 0, 0, 0);
  return D3D_OK;
}

static HRESULT STDMETHODCALLTYPE DeviceStretchRect(IDirect3DDevice9* This, IDirect3DSurface9* source,
                                                   const RECT* sourceRect, IDirect3DSurface9* target,
                                                   const RECT* targetRect, D3DTEXTUREFILTERTYPE filter) {
  Record(DeviceOf(This)->log, "StretchRect", (intptr_t)(sourceRect == NULL && targetRect == NULL),
         (intptr_t)(target == &DeviceOf(This)->backBuffer->iface), (intptr_t)filter, 0);
  return D3D_OK;
}

static HRESULT STDMETHODCALLTYPE DeviceClear(IDirect3DDevice9* This, DWORD count, const D3DRECT* rects, DWORD flags,
                                             D3DCOLOR colour, float z, DWORD stencil) {
  Record(DeviceOf(This)->log, "Clear", (intptr_t)count, (intptr_t)flags, (intptr_t)colour, 0);
  return D3D_OK;
}

static HRESULT STDMETHODCALLTYPE DeviceBeginScene(IDirect3DDevice9* This) {
  Record(DeviceOf(This)->log, "BeginScene", 0, 0, 0, 0);
  return D3D_OK;
}

static HRESULT STDMETHODCALLTYPE DeviceEndScene(IDirect3DDevice9* This) {
  Record(DeviceOf(This)->log, "EndScene", 0, 0, 0, 0);
  return D3D_OK;
}

static HRESULT STDMETHODCALLTYPE DeviceDrawPrimitiveUP(IDirect3DDevice9* This, D3DPRIMITIVETYPE type, UINT count,
                                                       const void* vertices, UINT stride) {
  FakeD3dLog* log = DeviceOf(This)->log;
  Record(log, "DrawPrimitiveUP", (intptr_t)type, (intptr_t)count, (intptr_t)vertices, (intptr_t)stride);
  const UINT n = type == D3DPT_LINELIST ? 2 * count : count + 1;
  for (UINT i = 0; i < n; ++i) {
    const float* v = (const float*)((const char*)vertices + (size_t)i * stride);
    if (v[2] != 0.0f || v[3] != 0.0f) ++log->nonZeroDepth;
  }
  return D3D_OK;
}

static HRESULT STDMETHODCALLTYPE DevicePresent(IDirect3DDevice9* This, const RECT* source, const RECT* dest,
                                               HWND window, const RGNDATA* dirty) {
  Record(DeviceOf(This)->log, "Present", (intptr_t)(source == NULL && dest == NULL && window == NULL), 0, 0, 0);
  return D3D_OK;
}

static IDirect3DDevice9Vtbl g_deviceTable;

/* ------------------------------------------------------------ API object */

static FakeApi* ApiOf(IDirect3D9* a) { return (FakeApi*)a; }

static ULONG STDMETHODCALLTYPE ApiAddRef(IDirect3D9* This) { return ++ApiOf(This)->refs; }

static ULONG STDMETHODCALLTYPE ApiRelease(IDirect3D9* This) {
  FakeApi* a = ApiOf(This);
  const ULONG refs = --a->refs;
  if (refs == 0) {
    Record(a->log, "ReleaseApi", 0, 0, 0, 0);
    --a->log->alive;
    free(a);
  }
  return refs;
}

static HRESULT STDMETHODCALLTYPE ApiCreateDevice(IDirect3D9* This, UINT adapter, D3DDEVTYPE type, HWND focus,
                                                 DWORD behaviour, D3DPRESENT_PARAMETERS* params,
                                                 IDirect3DDevice9** device) {
  FakeD3dLog* log = ApiOf(This)->log;
  Record(log, "CreateDevice", (intptr_t)adapter, (intptr_t)type, (intptr_t)behaviour, 0);
  log->params = *params;
  log->focusWindow = focus;
  ++log->devicesCreated;
  FakeDevice* d = (FakeDevice*)calloc(1, sizeof(FakeDevice));
  d->iface.lpVtbl = &g_deviceTable;
  d->refs = 1;
  d->log = log;
  /* A back buffer of the window's size when the parameters say 0. */
  d->backBuffer = NewSurface(log, params->BackBufferWidth ? params->BackBufferWidth : 64,
                             params->BackBufferHeight ? params->BackBufferHeight : 32);
  ++log->alive;
  *device = &d->iface;
  return D3D_OK;
}

static IDirect3D9Vtbl g_apiTable;

static void FillTables(void) {
  static int filled = 0;
  if (filled) return;
  filled = 1;
  FillUnexpected(&g_surfaceTable, sizeof(g_surfaceTable));
  g_surfaceTable.AddRef = SurfaceAddRef;
  g_surfaceTable.Release = SurfaceRelease;
  g_surfaceTable.LockRect = SurfaceLockRect;
  g_surfaceTable.UnlockRect = SurfaceUnlockRect;

  FillUnexpected(&g_deviceTable, sizeof(g_deviceTable));
  g_deviceTable.AddRef = DeviceAddRef;
  g_deviceTable.Release = DeviceRelease;
  g_deviceTable.TestCooperativeLevel = DeviceTestCooperativeLevel;
  g_deviceTable.GetDeviceCaps = DeviceGetDeviceCaps;
  g_deviceTable.GetBackBuffer = DeviceGetBackBuffer;
  g_deviceTable.CreateOffscreenPlainSurface = DeviceCreateOffscreenPlainSurface;
  g_deviceTable.SetRenderState = DeviceSetRenderState;
  g_deviceTable.SetFVF = DeviceSetFVF;
  g_deviceTable.StretchRect = DeviceStretchRect;
  g_deviceTable.Clear = DeviceClear;
  g_deviceTable.BeginScene = DeviceBeginScene;
  g_deviceTable.EndScene = DeviceEndScene;
  g_deviceTable.DrawPrimitiveUP = DeviceDrawPrimitiveUP;
  g_deviceTable.Present = DevicePresent;

  FillUnexpected(&g_apiTable, sizeof(g_apiTable));
  g_apiTable.AddRef = ApiAddRef;
  g_apiTable.Release = ApiRelease;
  g_apiTable.CreateDevice = ApiCreateDevice;
}

IDirect3D9* FakeD3dCreate(FakeD3dLog* log) {
  FillTables();
  FakeApi* a = (FakeApi*)calloc(1, sizeof(FakeApi));
  a->iface.lpVtbl = &g_apiTable;
  a->refs = 1;
  a->log = log;
  ++log->alive;
  return &a->iface;
}
