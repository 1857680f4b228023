// The live spectrum in the settings window: once per frame, under
// pluginLock on the frame thread, the magnitude spectrum as a palette image
// with the enabled filters' outlines (while processing is on), or, while the
// user drags on it, a wireframe of the mask that the drag rotates. Drawn
// through a PictureCanvas (under Wine a DeferredCanvas, which makes the
// image and draws on a thread of its own once the frame is done); the
// picture has a fixed size.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "ui/picture_canvas.h"
#include "ui/picture_geometry.h"

namespace qrx {

class FftEngine;

namespace ui {

// Outline colours: cyan, brighter for the selected filter.
constexpr uint32_t kSelectedOutline = 0xC000FFFF;
constexpr uint32_t kOtherOutline = 0x6000FFFF;
constexpr uint32_t kMeshBackground = 0xFF000000;

// The scale that maps the largest possible magnitude (a picture of constant
// luma 255) to the top of the palette.
float DisplayScale(float windowSum);

class PictureView {
 public:
  // The canvas is owned; inOwner is the picture's rectangle in the window
  // (for the axis labels).
  PictureView(std::unique_ptr<PictureCanvas> canvas, int32_t width, int32_t height, const Rect& inOwner);

  bool Contains(int32_t x, int32_t y) const { return x >= 0 && x < width_ && y >= 0 && y < height_; }
  int32_t Width() const { return width_; }
  int32_t Height() const { return height_; }
  const Rect& InOwner() const { return inOwner_; }
  PictureGeometry Geometry(int32_t R, int32_t V) const { return PictureGeometry{width_, height_, R, V}; }
  PictureCanvas& Canvas() { return *canvas_; }

  // The drawing steps (a whole frame's picture from the plug-in's state is
  // RenderPicture, picture_render.h; the Linux host uses them on their own):
  // the engine's spectrum, or display values made elsewhere, into the image.
  // The spectrum is read before DrawSpectrum returns (a deferred canvas
  // copies it), so the engine may go on with the next frame at once.
  void DrawSpectrum(FftEngine& engine);
  void DrawImage(const float* display, int32_t bins, int32_t rows);
  void DrawOutlines(const FilterList& filters, int32_t selectedIndex, int32_t R, int32_t V);
  void DrawMesh(Vertex* mesh, int32_t angleZ, int32_t angleX);
  void DrawStrip(const OutlineStrip& strip);

 private:
  std::unique_ptr<PictureCanvas> canvas_;
  int32_t width_, height_;
  Rect inOwner_;
  std::vector<Vertex> meshLines_;  // made once: the frames allocate nothing
};

}  // namespace ui
}  // namespace qrx
