// The spectrum's canvas on Direct3D 9: a windowed device on the picture
// control, an off-screen image stretched onto the back buffer, and lines
// drawn straight from the caller's memory (no buffer to lock, so a frame
// never waits for the device to finish with one). d3d9.dll is loaded when
// the first canvas is made: on a system without it the canvas draws nothing
// and the plug-in works on.
//
// Under Wine a device's picture presented to a child window does not reach
// the screen (Wine renders a child window's OpenGL off screen and its copy
// back into the window fails), and once the device is bound to the control
// nothing drawn there shows. There the device is bound to a hidden window
// of the canvas's own with a back buffer of the control's size, and each
// finished picture is read back and painted into the control through GDI,
// by the window's own thread (also whenever the control is uncovered). Wine
// draws with a software renderer, slower than a frame lasts for the 3-D
// view: there the canvas is driven through a DeferredCanvas, so that the
// frame never waits for it.
#pragma once

#include <windows.h>

#include <d3d9.h>

#include <vector>

#include "platform/platform.h"

#include "ui/picture_canvas.h"

namespace qrx {
namespace ui {
namespace win32 {

class D3d9Canvas : public PictureCanvas {
 public:
  // The Direct3D 9 object of d3d9.dll (SDK version 31), or null without it.
  static IDirect3D9* OpenDirect3D();
  static bool RunningOnWine();

  // api: owned; null draws nothing. copyThroughGdi: the Wine way described
  // above; Windows presents directly.
  D3d9Canvas(HWND control, bool copyThroughGdi, IDirect3D9* api);
  ~D3d9Canvas() override;
  D3d9Canvas(const D3d9Canvas&) = delete;
  D3d9Canvas& operator=(const D3d9Canvas&) = delete;

  bool HasDevice() const { return device_ != nullptr; }

  bool LockImage(int32_t width, int32_t height, uint32_t** pixels, int32_t* pitch) override;
  void UnlockImage() override;
  void BlitImage() override;
  void Clear(uint32_t colour) override;
  void BeginScene() override;
  void DrawLineStrip(const Vertex* vertices, int32_t count) override;
  void DrawLineList(const Vertex* vertices, int32_t count) override;
  void EndScene() override;
  void Present() override;

 private:
  void CreateDevice();
  void ReleaseDevice();
  // Lines of one kind from `vertices`, in as few calls as the device takes.
  void DrawLines(D3DPRIMITIVETYPE type, const Vertex* vertices, int32_t lines);
  // The copying way: the picture handed to the control's thread, and the
  // control's paint.
  void HandToControl(IDirect3DSurface9* picture);
  void PaintControl();
  static LRESULT CALLBACK ControlProc(HWND hwnd, UINT message, WPARAM w, LPARAM l, UINT_PTR id, DWORD_PTR self);

  HWND control_;
  HWND deviceWindow_;  // the control, or the hidden window when copying
  bool copyThroughGdi_;
  int32_t width_ = 0, height_ = 0;
  IDirect3D9* api_ = nullptr;
  IDirect3DDevice9* device_ = nullptr;
  IDirect3DSurface9* backBuffer_ = nullptr;
  IDirect3DSurface9* image_ = nullptr;
  int32_t imageWidth_ = 0, imageHeight_ = 0;
  int32_t maxLinesPerDraw_ = 0;  // the device's limit of primitives a call
  // Pictures of width x height pixels, top line first: the drawing thread
  // fills `spare_` and swaps it with `latest_`; the paint swaps `latest_`
  // with `painting_` when it is new. Only the swaps hold the lock.
  std::vector<uint32_t> spare_, latest_, painting_;
  bool latestIsNew_ = false;
  platform::CriticalSection pictureLock_;
  bool subclassed_ = false;
  D3DPRESENT_PARAMETERS present_ = {};
};

}  // namespace win32
}  // namespace ui
}  // namespace qrx
