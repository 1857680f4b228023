// The live spectrum picture (see spectrum_view.h).
#include "ui/spectrum_view.h"

#include <cmath>

#include "filter/mask_builder.h"
#include "plugin/plugin_state.h"
#include "transform/fft_engine.h"

namespace qrx {
namespace ui {

SpectrumView::SpectrumView(std::unique_ptr<SpectrumCanvas> canvas, int32_t width, int32_t height,
                           const Rect& inOwner)
    : canvas_(std::move(canvas)), width_(width), height_(height), inOwner_(inOwner) {}

void SpectrumView::Render(PluginState& state, int32_t selectedIndex) {
  if (RelaxedLoad(state.viewRotating) == 1) {
    if (state.maskBuilder != nullptr && state.meshBuffer != nullptr) {
      Vertex* mesh = reinterpret_cast<Vertex*>(state.meshBuffer);
      const MaskBuilder& b = *state.maskBuilder;
      // The last published mask: always a whole table.
      FillMesh(mesh, b.Mask(), b.Bins(), b.Rows(), b.Pitch(), width_, height_);
      canvas_->Clear(kMeshBackground);
      DrawMesh(mesh, RelaxedLoad(state.settings.AngleZ), RelaxedLoad(state.settings.AngleX));
    }
  } else {
    DrawSpectrum(state);
    canvas_->BlitImage();
    if (state.settings.ProcEnable != 0 && state.engine != nullptr)
      DrawOutlines(state.filters, selectedIndex, state.engine->RowRateKHz(), state.engine->ColRateKHz());
  }
  canvas_->Present();
}

void SpectrumView::DrawSpectrum(PluginState& state) {
  FftEngine* engine = state.engine;
  if (engine == nullptr) return;
  uint32_t* pixels = nullptr;
  int32_t pitch = 0;
  if (!canvas_->LockImage(engine->Bins(), engine->Rows(), &pixels, &pitch)) return;
  // The largest possible magnitude (a picture of constant luma 255) maps to
  // the top of the palette.
  engine->BuildDisplay(255.0f / std::log10(255.0f * engine->WindowSum() + 1.0f));
  if (engine->Display() != nullptr) WriteSpectrumImage(engine->Display(), engine->Bins(), engine->Rows(), pixels, pitch);
  canvas_->UnlockImage();
}

void SpectrumView::DrawOutlines(const FilterList& filters, int32_t selectedIndex, int32_t R, int32_t V) {
  const SpectrumGeometry g = Geometry(R, V);
  if (!g.Valid()) return;
  for (int32_t i = 0; i < filters.Count(); ++i) {
    if (filters[i].En == 0) continue;
    for (const std::vector<Vertex>& strip :
         FilterOutline(filters[i], g, i == selectedIndex ? kSelectedOutline : kOtherOutline))
      DrawStrip(strip);
  }
}

void SpectrumView::DrawStrip(const std::vector<Vertex>& strip) {
  canvas_->BeginScene();
  canvas_->DrawLineStrip(strip.data(), static_cast<int32_t>(strip.size()));
  canvas_->EndScene();
}

void SpectrumView::DrawMesh(Vertex* mesh, int32_t angleZ, int32_t angleX) {
  TransformMesh(mesh, kMeshColumns * kMeshRows, angleZ, angleX, width_, height_);
  canvas_->BeginScene();
  for (int32_t j = 0; j < kMeshRows; ++j) canvas_->DrawLineStrip(mesh + j * kMeshColumns, kMeshColumns);
  // Columns: every 100th vertex, gathered into one strip each.
  Vertex column[kMeshRows];
  for (int32_t i = 0; i < kMeshColumns; ++i) {
    for (int32_t j = 0; j < kMeshRows; ++j) column[j] = mesh[j * kMeshColumns + i];
    canvas_->DrawLineStrip(column, kMeshRows);
  }
  canvas_->EndScene();
}

}  // namespace ui
}  // namespace qrx
