// The spectrum's canvas on Direct3D 9: a windowed device on the picture
// control, an off-screen image stretched onto the back buffer, line strips
// through one small vertex buffer. d3d9.dll is loaded when the first canvas
// is made: on a system without it the canvas draws nothing and the plug-in
// works on.
//
// Under Wine a device's picture presented to a child window does not reach
// the screen (Wine renders a child window's OpenGL off screen and its copy
// back into the window fails), and once the device is bound to the control
// nothing drawn there shows. There the device is bound to a hidden window
// of the canvas's own with a back buffer of the control's size, and each
// finished picture is copied into the control through GDI.
#pragma once

#include <windows.h>
#include <d3d9.h>

#include <utility>
#include <vector>

#include "ui/picture_canvas.h"

namespace qrx {
namespace ui {
namespace win32 {

class D3d9Canvas : public SpectrumCanvas {
 public:
  // copyThroughGdi: the Wine way described above; Windows presents directly.
  D3d9Canvas(HWND control, bool copyThroughGdi);
  static bool RunningOnWine();
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
  void EndScene() override;
  void Present() override;

 private:
  void CreateDevice();
  void ReleaseDevice();
  void CopyToControl();
  void FlushStrips();

  HWND control_;
  HWND deviceWindow_;  // the control, or the hidden window when copying
  bool copyThroughGdi_;
  int32_t width_ = 0, height_ = 0;
  IDirect3D9* api_ = nullptr;
  IDirect3DDevice9* device_ = nullptr;
  IDirect3DSurface9* backBuffer_ = nullptr;
  IDirect3DSurface9* image_ = nullptr;
  int32_t imageWidth_ = 0, imageHeight_ = 0;
  IDirect3DVertexBuffer9* vertexBuffer_ = nullptr;
  // The strips of a scene gather here and go to the vertex buffer in as few
  // locks as its room allows (a lock waits for the device to finish with
  // the buffer).
  std::vector<Vertex> pending_;
  std::vector<std::pair<int32_t, int32_t>> pendingStrips_;  // first vertex, count
  D3DPRESENT_PARAMETERS present_ = {};
};

}  // namespace win32
}  // namespace ui
}  // namespace qrx
