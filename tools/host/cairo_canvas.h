// The spectrum view's drawing on Linux: the portable view code draws through
// this canvas into a cairo image (alpha-blended anti-aliased lines, bilinear
// image scaling, text), which the host writes as PNG. Linked into the host
// only, never into the plug-in.
#pragma once

#include <cairo.h>

#include "ui/picture_canvas.h"

namespace qrxhost {

class CairoCanvas : public qrx::ui::PictureCanvas {
 public:
  // Draws on `cr` inside the picture's rectangle (x, y, width, height).
  CairoCanvas(cairo_t* cr, int32_t x, int32_t y, int32_t width, int32_t height);
  ~CairoCanvas() override;
  CairoCanvas(const CairoCanvas&) = delete;
  CairoCanvas& operator=(const CairoCanvas&) = delete;

  bool LockImage(int32_t width, int32_t height, uint32_t** pixels, int32_t* pitch) override;
  void UnlockImage() override;
  void BlitImage() override;
  void Clear(uint32_t colour) override;
  void BeginScene() override {}
  void DrawLineStrip(const qrx::ui::Vertex* vertices, int32_t count) override;
  void EndScene() override {}
  void Present() override {}

 private:
  cairo_t* cr_;
  int32_t x_, y_, width_, height_;
  cairo_surface_t* image_ = nullptr;
};

}  // namespace qrxhost
