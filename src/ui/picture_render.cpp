// One frame's picture from the plug-in's state (see picture_render.h).
#include "ui/picture_render.h"

#include "filter/mask_builder.h"
#include "plugin/plugin_state.h"
#include "transform/fft_engine.h"
#include "ui/picture_view.h"

namespace qrx {
namespace ui {

void RenderPicture(PictureView& view, PluginState& state, int32_t selectedIndex) {
  PictureCanvas& canvas = view.Canvas();
  if (!canvas.BeginFrame()) return;
  if (RelaxedLoad(state.viewRotating) == 1) {
    if (state.pipeline.maskBuilder != nullptr && state.meshBuffer != nullptr) {
      Vertex* mesh = reinterpret_cast<Vertex*>(state.meshBuffer);
      const MaskBuilder& b = *state.pipeline.maskBuilder;
      // The last published mask: always a whole table.
      FillMesh(mesh, b.Mask(), b.Bins(), b.Rows(), b.Pitch(), view.Width(), view.Height());
      canvas.Clear(kMeshBackground);
      view.DrawMesh(mesh, RelaxedLoad(state.settings.AngleZ), RelaxedLoad(state.settings.AngleX));
    }
  } else {
    if (state.pipeline.engine != nullptr) view.DrawSpectrum(*state.pipeline.engine);
    canvas.BlitImage();
    if (state.settings.ProcEnable != 0 && state.pipeline.engine != nullptr)
      view.DrawOutlines(state.filters, selectedIndex, state.pipeline.engine->RowRateKHz(),
                        state.pipeline.engine->ColRateKHz());
  }
  canvas.Present();
}

}  // namespace ui
}  // namespace qrx
