// The live spectrum picture (see picture_view.h).
#include "ui/picture_view.h"

#include <cmath>

#include "transform/fft_engine.h"

namespace qrx {
namespace ui {

PictureView::PictureView(std::unique_ptr<PictureCanvas> canvas, int32_t width, int32_t height, const Rect& inOwner)
    : canvas_(std::move(canvas)), width_(width), height_(height), inOwner_(inOwner), meshLines_(kMeshLineVertices) {}

void PictureView::DrawSpectrum(FftEngine& engine) {
  if (!engine.IsUsable()) return;
  canvas_->DrawSpectrumImage(engine.Spectrum(), engine.Pitch(), engine.Bins(), engine.Rows(),
                             DisplayScale(engine.WindowSum()));
}

void PictureView::DrawImage(const float* display, int32_t bins, int32_t rows) {
  uint32_t* pixels = nullptr;
  int32_t pitch = 0;
  if (!canvas_->LockImage(bins, rows, &pixels, &pitch)) return;
  WriteSpectrumImage(display, bins, rows, pixels, pitch);
  canvas_->UnlockImage();
}

float DisplayScale(float windowSum) { return 255.0f / std::log10(255.0f * windowSum + 1.0f); }

void PictureView::DrawOutlines(const FilterList& filters, int32_t selectedIndex, int32_t R, int32_t V) {
  const PictureGeometry g = Geometry(R, V);
  if (!g.Valid()) return;
  for (int32_t i = 0; i < filters.Count(); ++i) {
    if (filters[i].En == 0) continue;
    const Outline outline = FilterOutline(filters[i], g, i == selectedIndex ? kSelectedOutline : kOtherOutline);
    for (const OutlineStrip& strip : outline) DrawStrip(strip);
  }
}

void PictureView::DrawStrip(const OutlineStrip& strip) {
  canvas_->BeginScene();
  canvas_->DrawLineStrip(strip.vertices, strip.count);
  canvas_->EndScene();
}

void PictureView::DrawMesh(Vertex* mesh, int32_t angleZ, int32_t angleX) {
  TransformMesh(mesh, kMeshColumns * kMeshRows, angleZ, angleX, width_, height_);
  // One list of all the grid's lines: a device draws it in as few calls as
  // it can (160 strips cost a software renderer far more than their lines).
  MeshLines(mesh, meshLines_.data());
  canvas_->BeginScene();
  canvas_->DrawLineList(meshLines_.data(), kMeshLineVertices);
  canvas_->EndScene();
}

}  // namespace ui
}  // namespace qrx
