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

  const FrameFormatRecord& format = s.format;
  const bool bgr24 = format.pixelFormat == 1;
  uint8_t* work = bgr24 ? s.conversionBuffer : pixels;

  if (bgr24) ConvertToWorking(pixels, work, format, 0, format.height);
  s.pipeline.Analyse(work, s.filters, processing);
  if (s.window->HasSpectrumView()) s.window->RenderSpectrum();
  if (!processing) return;

  // The gain that belongs to the mask this frame was multiplied by.
  const int32_t demo = s.demoActive == 1 ? 1 : 0;
  s.maskGain = s.pipeline.Synthesise(work, demo);
  if (demo) {
    const int32_t middle = format.height / 2;
    MarkRow(work, format.width, format.height, middle - 1, kDemoMarkerColour);
    MarkRow(work, format.width, format.height, middle, kDemoMarkerColour);
  }
  if (bgr24) ConvertFromWorking(work, pixels, format, 0, format.height);
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
