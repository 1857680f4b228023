// SpectrumView::Render: one frame's picture from the plug-in's state. Kept
// apart from the view's drawing so that the drawing serves without the
// plug-in too (the Linux host draws its spectrum picture with it).
#include "filter/mask_builder.h"
#include "plugin/plugin_state.h"
#include "transform/fft_engine.h"
#include "ui/picture_view.h"

namespace qrx {
namespace ui {

void SpectrumView::Render(PluginState& state, int32_t selectedIndex) {
  if (!canvas_->BeginFrame()) return;
  if (RelaxedLoad(state.viewRotating) == 1) {
    if (state.pipeline.maskBuilder != nullptr && state.meshBuffer != nullptr) {
      Vertex* mesh = reinterpret_cast<Vertex*>(state.meshBuffer);
      const MaskBuilder& b = *state.pipeline.maskBuilder;
      // The last published mask: always a whole table.
      FillMesh(mesh, b.Mask(), b.Bins(), b.Rows(), b.Pitch(), width_, height_);
      canvas_->Clear(kMeshBackground);
      DrawMesh(mesh, RelaxedLoad(state.settings.AngleZ), RelaxedLoad(state.settings.AngleX));
    }
  } else {
    if (state.pipeline.engine != nullptr) DrawSpectrum(*state.pipeline.engine);
    canvas_->BlitImage();
    if (state.settings.ProcEnable != 0 && state.pipeline.engine != nullptr)
      DrawOutlines(state.filters, selectedIndex, state.pipeline.engine->RowRateKHz(),
                   state.pipeline.engine->ColRateKHz());
  }
  canvas_->Present();
}

}  // namespace ui
}  // namespace qrx
