// The spectrum's canvas on Direct3D 9 (see d3d9_canvas.h).
#include "ui/win32/d3d9_canvas.h"

#include <commctrl.h>

#include <algorithm>
#include <cstring>

namespace qrx {
namespace ui {
namespace win32 {

namespace {

constexpr UINT kSdkVersion = 31;
constexpr DWORD kVertexFormat = D3DFVF_XYZRHW | D3DFVF_DIFFUSE;
constexpr UINT kVertexBytes = sizeof(Vertex);
constexpr DWORD kAllChannels = 15;
constexpr UINT_PTR kControlSubclassId = 0x5078;

using Direct3DCreate9Fn = IDirect3D9*(WINAPI*)(UINT);

// The entry point of d3d9.dll, loaded once and kept: the library is not a
// static import, so the plug-in loads where Direct3D 9 is missing.
Direct3DCreate9Fn Direct3DCreate() {
  static Direct3DCreate9Fn create = [] {
    HMODULE library = LoadLibraryA("d3d9.dll");
    return library != nullptr ? reinterpret_cast<Direct3DCreate9Fn>(
                                    reinterpret_cast<void*>(GetProcAddress(library, "Direct3DCreate9")))
                              : nullptr;
  }();
  return create;
}

template <typename T>
void Release(T*& object) {
  if (object != nullptr) object->Release();
  object = nullptr;
}

}  // namespace

IDirect3D9* D3d9Canvas::OpenDirect3D() {
  Direct3DCreate9Fn create = Direct3DCreate();
  return create != nullptr ? create(kSdkVersion) : nullptr;
}

bool D3d9Canvas::RunningOnWine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

D3d9Canvas::D3d9Canvas(HWND control, bool copyThroughGdi, IDirect3D9* api)
    : control_(control), deviceWindow_(control), copyThroughGdi_(copyThroughGdi), api_(api) {
  RECT client = {0, 0, 0, 0};
  GetClientRect(control, &client);
  width_ = client.right;
  height_ = client.bottom;
  if (copyThroughGdi_) {
    deviceWindow_ = CreateWindowExA(WS_EX_TOOLWINDOW, "Static", "", WS_POPUP, 0, 0, width_, height_, nullptr, nullptr,
                                    nullptr, nullptr);
    if (deviceWindow_ == nullptr) return;
    const size_t pixels = static_cast<size_t>(width_) * height_;
    spare_.resize(pixels);
    latest_.resize(pixels);
    painting_.resize(pixels);
    subclassed_ = SetWindowSubclass(control_, &D3d9Canvas::ControlProc, kControlSubclassId,
                                    reinterpret_cast<DWORD_PTR>(this)) != FALSE;
  }
  // The window's client size; the hidden window is given the control's.
  present_.BackBufferWidth = copyThroughGdi_ ? width_ : 0;
  present_.BackBufferHeight = copyThroughGdi_ ? height_ : 0;
  present_.BackBufferFormat = D3DFMT_A8R8G8B8;
  present_.BackBufferCount = 1;
  present_.MultiSampleType = D3DMULTISAMPLE_NONE;
  present_.SwapEffect = D3DSWAPEFFECT_DISCARD;
  present_.hDeviceWindow = deviceWindow_;
  present_.Windowed = TRUE;
  present_.EnableAutoDepthStencil = FALSE;
  present_.Flags = D3DPRESENTFLAG_LOCKABLE_BACKBUFFER;
  present_.FullScreen_RefreshRateInHz = 0;
  present_.PresentationInterval = D3DPRESENT_INTERVAL_IMMEDIATE;  // never waits for the retrace
  CreateDevice();
}

D3d9Canvas::~D3d9Canvas() {
  if (subclassed_) RemoveWindowSubclass(control_, &D3d9Canvas::ControlProc, kControlSubclassId);
  ReleaseDevice();
  Release(api_);
  if (copyThroughGdi_ && deviceWindow_ != nullptr) DestroyWindow(deviceWindow_);
}

void D3d9Canvas::CreateDevice() {
  if (api_ == nullptr || deviceWindow_ == nullptr) return;
  D3DPRESENT_PARAMETERS parameters = present_;
  if (FAILED(api_->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, deviceWindow_,
                                D3DCREATE_HARDWARE_VERTEXPROCESSING | D3DCREATE_FPU_PRESERVE, &parameters, &device_))) {
    device_ = nullptr;
    return;
  }
  device_->SetRenderState(D3DRS_ZENABLE, FALSE);
  device_->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
  device_->SetRenderState(D3DRS_LIGHTING, FALSE);
  device_->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
  device_->SetRenderState(D3DRS_COLORVERTEX, TRUE);
  device_->SetRenderState(D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_COLOR1);
  device_->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
  device_->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
  device_->SetRenderState(D3DRS_ANTIALIASEDLINEENABLE, TRUE);
  device_->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &backBuffer_);
  device_->SetFVF(kVertexFormat);
  D3DCAPS9 caps = {};
  maxLinesPerDraw_ = SUCCEEDED(device_->GetDeviceCaps(&caps)) ? static_cast<int32_t>(caps.MaxPrimitiveCount) : 0;
  // Every Direct3D 9 device takes at least this many.
  if (maxLinesPerDraw_ <= 0) maxLinesPerDraw_ = 0xFFFF;
}

void D3d9Canvas::ReleaseDevice() {
  Release(image_);
  Release(backBuffer_);
  Release(device_);
}

bool D3d9Canvas::LockImage(int32_t width, int32_t height, uint32_t** pixels, int32_t* pitch) {
  if (image_ == nullptr || width != imageWidth_ || height != imageHeight_) {
    Release(image_);
    if (device_ != nullptr) {
      imageWidth_ = width;
      imageHeight_ = height;
      if (FAILED(
              device_->CreateOffscreenPlainSurface(width, height, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT, &image_, nullptr)))
        image_ = nullptr;
    }
  }
  if (image_ == nullptr) return false;
  D3DLOCKED_RECT locked;
  if (FAILED(image_->LockRect(&locked, nullptr, D3DLOCK_DISCARD))) return false;
  *pixels = static_cast<uint32_t*>(locked.pBits);
  *pitch = locked.Pitch;
  return true;
}

void D3d9Canvas::UnlockImage() {
  if (image_ != nullptr) image_->UnlockRect();
}

void D3d9Canvas::BlitImage() {
  if (backBuffer_ != nullptr && image_ != nullptr)
    device_->StretchRect(image_, nullptr, backBuffer_, nullptr, D3DTEXF_LINEAR);
}

void D3d9Canvas::Clear(uint32_t colour) {
  if (device_ != nullptr) device_->Clear(0, nullptr, D3DCLEAR_TARGET, colour, 0.0f, 0);
}

void D3d9Canvas::BeginScene() {
  if (device_ == nullptr) return;
  device_->SetRenderState(D3DRS_COLORWRITEENABLE, kAllChannels);
  device_->BeginScene();
}

void D3d9Canvas::DrawLines(D3DPRIMITIVETYPE type, const Vertex* vertices, int32_t lines) {
  // A strip continues from the last vertex of the call before; a list
  // from the vertex after it.
  const int32_t step = type == D3DPT_LINESTRIP ? 1 : 2;
  for (int32_t first = 0; first < lines;) {
    const int32_t n = std::min(lines - first, maxLinesPerDraw_);
    device_->DrawPrimitiveUP(type, static_cast<UINT>(n), vertices + first * step, kVertexBytes);
    first += n;
  }
}

void D3d9Canvas::DrawLineStrip(const Vertex* vertices, int32_t count) {
  if (device_ != nullptr && count >= 2) DrawLines(D3DPT_LINESTRIP, vertices, count - 1);
}

void D3d9Canvas::DrawLineList(const Vertex* vertices, int32_t count) {
  if (device_ != nullptr && count >= 2) DrawLines(D3DPT_LINELIST, vertices, count / 2);
}

void D3d9Canvas::EndScene() {
  if (device_ == nullptr) return;
  device_->EndScene();
  device_->SetRenderState(D3DRS_COLORWRITEENABLE, kAllChannels);
}

void D3d9Canvas::Present() {
  if (device_ == nullptr) return;
  const HRESULT level = device_->TestCooperativeLevel();
  if (level == D3D_OK) {
    if (copyThroughGdi_)
      HandToControl(backBuffer_);
    else
      device_->Present(nullptr, nullptr, nullptr, nullptr);
  } else if (level == D3DERR_DEVICENOTRESET) {
    // Lost and now resettable: everything is made again from scratch; the
    // image follows with the next spectrum frame.
    ReleaseDevice();
    CreateDevice();
  }
}

void D3d9Canvas::HandToControl(IDirect3DSurface9* picture) {
  if (picture == nullptr || spare_.empty()) return;
  D3DLOCKED_RECT locked;
  if (FAILED(picture->LockRect(&locked, nullptr, D3DLOCK_READONLY))) return;
  const size_t rowBytes = static_cast<size_t>(width_) * sizeof(uint32_t);
  for (int32_t y = 0; y < height_; ++y)
    std::memcpy(&spare_[static_cast<size_t>(y) * width_], static_cast<const uint8_t*>(locked.pBits) + y * locked.Pitch,
                rowBytes);
  picture->UnlockRect();
  {
    platform::ScopedLock lock(pictureLock_);
    latest_.swap(spare_);
    latestIsNew_ = true;
  }
  InvalidateRect(control_, nullptr, FALSE);
}

void D3d9Canvas::PaintControl() {
  {
    platform::ScopedLock lock(pictureLock_);
    if (latestIsNew_) painting_.swap(latest_);
    latestIsNew_ = false;
  }
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(control_, &ps);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width_;
  info.bmiHeader.biHeight = -height_;  // top line first
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  SetDIBitsToDevice(dc, 0, 0, width_, height_, 0, 0, 0, height_, painting_.data(), &info, DIB_RGB_COLORS);
  EndPaint(control_, &ps);
}

LRESULT CALLBACK D3d9Canvas::ControlProc(HWND hwnd, UINT message, WPARAM w, LPARAM l, UINT_PTR, DWORD_PTR self) {
  switch (message) {
    case WM_PAINT:
      reinterpret_cast<D3d9Canvas*>(self)->PaintControl();
      return 0;
    case WM_ERASEBKGND:
      return 1;  // the picture covers the whole control
    default:
      return DefSubclassProc(hwnd, message, w, l);
  }
}

}  // namespace win32
}  // namespace ui
}  // namespace qrx
