// The spectrum's canvas on Direct3D 9 (see d3d9_canvas.h).
#include "ui/win32/d3d9_canvas.h"

#include <cstring>

namespace qrx {
namespace ui {
namespace win32 {

namespace {

constexpr UINT kSdkVersion = 31;
constexpr DWORD kVertexFormat = D3DFVF_XYZRHW | D3DFVF_DIFFUSE;
constexpr UINT kVertexBytes = sizeof(Vertex);
constexpr DWORD kAllChannels = 15;

using Direct3DCreate9Fn = IDirect3D9*(WINAPI*)(UINT);

// The entry point of d3d9.dll, loaded once and kept: the library is not a
// static import, so the plug-in loads where Direct3D 9 is missing.
Direct3DCreate9Fn Direct3DCreate() {
  static Direct3DCreate9Fn create = [] {
    HMODULE library = LoadLibraryA("d3d9.dll");
    return library != nullptr
               ? reinterpret_cast<Direct3DCreate9Fn>(reinterpret_cast<void*>(GetProcAddress(library, "Direct3DCreate9")))
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

bool D3d9Canvas::RunningOnWine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

D3d9Canvas::D3d9Canvas(HWND control, bool copyThroughGdi)
    : control_(control), deviceWindow_(control), copyThroughGdi_(copyThroughGdi) {
  RECT client = {0, 0, 0, 0};
  GetClientRect(control, &client);
  width_ = client.right;
  height_ = client.bottom;
  if (copyThroughGdi_) {
    deviceWindow_ = CreateWindowExA(WS_EX_TOOLWINDOW, "Static", "", WS_POPUP, 0, 0, width_, height_, nullptr, nullptr,
                                    nullptr, nullptr);
    if (deviceWindow_ == nullptr) return;
  }
  if (Direct3DCreate9Fn create = Direct3DCreate()) api_ = create(kSdkVersion);
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
  ReleaseDevice();
  Release(api_);
  if (copyThroughGdi_ && deviceWindow_ != nullptr) DestroyWindow(deviceWindow_);
}

void D3d9Canvas::CreateDevice() {
  if (api_ == nullptr) return;
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
  if (SUCCEEDED(device_->CreateVertexBuffer(2 * width_ * kVertexBytes, 0, kVertexFormat, D3DPOOL_DEFAULT,
                                            &vertexBuffer_, nullptr))) {
    device_->SetStreamSource(0, vertexBuffer_, 0, kVertexBytes);
    device_->SetFVF(kVertexFormat);
    // The gathering room, made once, so the frames allocate nothing.
    pending_.reserve(2 * static_cast<size_t>(width_));
    pendingStrips_.reserve(static_cast<size_t>(width_));
  } else {
    vertexBuffer_ = nullptr;
  }
}

void D3d9Canvas::ReleaseDevice() {
  Release(image_);
  Release(vertexBuffer_);
  Release(backBuffer_);
  Release(device_);
}

bool D3d9Canvas::LockImage(int32_t width, int32_t height, uint32_t** pixels, int32_t* pitch) {
  if (image_ == nullptr || width != imageWidth_ || height != imageHeight_) {
    Release(image_);
    if (device_ != nullptr) {
      imageWidth_ = width;
      imageHeight_ = height;
      if (FAILED(device_->CreateOffscreenPlainSurface(width, height, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT, &image_,
                                                      nullptr)))
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
  if (device_ == nullptr || vertexBuffer_ == nullptr) return;
  device_->SetRenderState(D3DRS_COLORWRITEENABLE, kAllChannels);
  device_->BeginScene();
}

void D3d9Canvas::DrawLineStrip(const Vertex* vertices, int32_t count) {
  if (device_ == nullptr || vertexBuffer_ == nullptr || count < 2) return;
  // The buffer holds 2 x width vertices; a longer strip goes in pieces that
  // share their end points.
  const int32_t room = 2 * width_;
  for (int32_t first = 0; first < count - 1; first += room - 1) {
    const int32_t n = count - first < room ? count - first : room;
    if (static_cast<int32_t>(pending_.size()) + n > room) FlushStrips();
    pendingStrips_.emplace_back(static_cast<int32_t>(pending_.size()), n);
    pending_.insert(pending_.end(), vertices + first, vertices + first + n);
  }
}

void D3d9Canvas::FlushStrips() {
  if (!pending_.empty()) {
    void* data = nullptr;
    const UINT bytes = static_cast<UINT>(pending_.size()) * kVertexBytes;
    if (SUCCEEDED(vertexBuffer_->Lock(0, bytes, &data, 0))) {
      std::memcpy(data, pending_.data(), bytes);
      vertexBuffer_->Unlock();
      for (const auto& strip : pendingStrips_) device_->DrawPrimitive(D3DPT_LINESTRIP, strip.first, strip.second - 1);
    }
  }
  pending_.clear();
  pendingStrips_.clear();
}

void D3d9Canvas::EndScene() {
  if (device_ == nullptr || vertexBuffer_ == nullptr) return;
  FlushStrips();
  device_->EndScene();
  device_->SetRenderState(D3DRS_COLORWRITEENABLE, kAllChannels);
}

void D3d9Canvas::Present() {
  if (device_ == nullptr) return;
  const HRESULT level = device_->TestCooperativeLevel();
  if (level == D3D_OK) {
    if (copyThroughGdi_) CopyToControl();
    else device_->Present(nullptr, nullptr, nullptr, nullptr);
  } else if (level == D3DERR_DEVICENOTRESET) {
    // Lost and now resettable: everything is made again from scratch; the
    // image follows with the next spectrum frame.
    ReleaseDevice();
    CreateDevice();
  }
}

void D3d9Canvas::CopyToControl() {
  if (backBuffer_ == nullptr) return;
  D3DLOCKED_RECT locked;
  if (FAILED(backBuffer_->LockRect(&locked, nullptr, D3DLOCK_READONLY))) return;
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = locked.Pitch / 4;
  info.bmiHeader.biHeight = -height_;  // top line first
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  if (HDC dc = GetDC(control_)) {
    SetDIBitsToDevice(dc, 0, 0, width_, height_, 0, 0, 0, height_, locked.pBits, &info, DIB_RGB_COLORS);
    ReleaseDC(control_, dc);
  }
  backBuffer_->UnlockRect();
}

}  // namespace win32
}  // namespace ui
}  // namespace qrx
