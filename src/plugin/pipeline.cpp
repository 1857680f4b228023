// Process: the per-frame pipeline. The whole frame runs under pluginLock, so
// RebuildEngines and the settings window's view changes never meet it
// half-way.
#include <cstring>

#include "frame/pixel_convert.h"
#include "plugin/plugin_state.h"
#include "plugin/window_hooks.h"

namespace qrx {

namespace {

// Upper bound of a channel name read from the host's record.
constexpr size_t kMaxChannelName = 255;

void FollowChannel(PluginState& s, const ChannelInfo* channel) {
  // A frame without channel record keeps the current channel.
  if (channel == nullptr) return;
  if (s.settings.SelectChannel(channel->keyLow, channel->keyHigh) == 0) return;
  const char* name = ChannelNameOf(channel);
  size_t length = 0;
  while (length < kMaxChannelName && name[length] != '\0') ++length;
  s.channelName.assign(name, length);
  s.pipeline.SetFilters(s.filters);
  if (s.window->IsOpen()) s.window->PostChannelChanged();
}

void FilterFrame(PluginState& s, uint8_t* pixels) {
  const bool processing = s.settings.ProcEnable != 0;
  if (!processing && !s.window->IsOpen()) return;

  // A 24-bit frame goes through the conversion buffer; the conversions run
  // line by line on the FFT workers, inside the transform's row passes.
  FrameAccess frame;
  frame.host = pixels;
  frame.work = pixels;
  if (s.format.pixelFormat == 1) {
    frame.work = s.conversionBuffer;
    frame.toWorking = ConvertToWorking;
    frame.fromWorking = ConvertFromWorking;
  }
  // The mask waits for the inverse transform unless the view shows the
  // masked spectrum in between.
  const bool view = s.window->HasSpectrumView();
  s.pipeline.AnalyseFrame(frame, s.filters, processing, !view);
  if (view) s.window->RenderSpectrum();
  if (processing) {
    // The gain that belongs to the mask this frame was multiplied by; the
    // demonstration split marks its middle rows before they are converted.
    const int32_t demo = s.demoActive == 1 ? 1 : 0;
    s.maskGain = s.pipeline.SynthesiseFrame(frame, demo, kDemoMarkerColour);
  }
  if (view) s.window->FrameDone();
}

}  // namespace

int32_t Process(FrameInfo* info) {
  if (info == nullptr || info->pixels == nullptr) return 0;
  PluginState& s = State();
  platform::ScopedLock lock(s.pluginLock);
  FollowChannel(s, info->channel);
  // After a failed Start (no objects) the frame passes unchanged.
  if (s.streaming && ProcessingReady(s)) FilterFrame(s, info->pixels);
  return 1;
}

}  // namespace qrx
