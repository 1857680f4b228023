// One frame's spectrum picture from the plug-in's state: what Process draws
// while the settings window's view exists. Kept apart from the view's
// drawing, which serves without the plug-in too (the Linux host draws its
// spectrum picture with it).
#pragma once

#include <cstdint>

namespace qrx {

struct PluginState;

namespace ui {

class PictureView;

// The magnitude spectrum with the enabled filters' outlines (while
// processing is on), or the mask's 3-D view while the user drags; nothing
// while the canvas is still busy with the last picture. The caller holds
// pluginLock and a stream exists.
void RenderPicture(PictureView& view, PluginState& state, int32_t selectedIndex);

}  // namespace ui
}  // namespace qrx
