// Init, Start, Stop, ShowDialog and Exit: the host's calls around the frames.
#include <cstring>

#include "filter/filter_list.h"
#include "platform/platform.h"
#include "plugin/plugin_state.h"
#include "plugin/window_hooks.h"

namespace qrx {

// "Частотный фильтр"
const char kPluginDisplayName[] = "\xD7\xE0\xF1\xF2\xEE\xF2\xED\xFB\xE9 \xF4\xE8\xEB\xFC\xF2\xF0";
// "      Настройки плагина недоступны. \nТребуется процессор Pentium III или старше."
const char kOldProcessorMessage[] =
    "      \xCD\xE0\xF1\xF2\xF0\xEE\xE9\xEA\xE8 \xEF\xEB\xE0\xE3\xE8\xED\xE0 "
    "\xED\xE5\xE4\xEE\xF1\xF2\xF3\xEF\xED\xFB. \n"
    "\xD2\xF0\xE5\xE1\xF3\xE5\xF2\xF1\xFF \xEF\xF0\xEE\xF6\xE5\xF1\xF1\xEE\xF0 Pentium III "
    "\xE8\xEB\xE8 \xF1\xF2\xE0\xF0\xF8\xE5.";

namespace {

bool FrameSizeUsable(const FrameFormatRecord& f) {
  return f.width >= 2 && f.height >= 2 && f.width <= kMaxFrameSide && f.height <= kMaxFrameSide;
}

// Frees the frame-sized buffers and objects; the caller holds pluginLock.
void ReleaseStreamObjects(PluginState& s) {
  DestroyEngines();
  platform::AlignedFree(s.conversionBuffer);
  s.conversionBuffer = nullptr;
  platform::AlignedFree(s.meshBuffer);
  s.meshBuffer = nullptr;
}

// Allocates the buffers and builds the processing objects; all or nothing.
void BuildStreamObjects(PluginState& s) {
  if (!FrameSizeUsable(s.format)) return;
  if (s.format.pixelFormat == 1) {
    const size_t bytes = static_cast<size_t>(s.format.width) * static_cast<size_t>(s.format.height) * 2;
    s.conversionBuffer = static_cast<uint8_t*>(platform::AlignedAlloc(bytes));
    if (s.conversionBuffer == nullptr) return ReleaseStreamObjects(s);
  }
  s.meshBuffer = static_cast<float*>(platform::AlignedAlloc(kMeshBufferBytes));
  if (s.meshBuffer == nullptr) return ReleaseStreamObjects(s);
  if (!CreateEngines()) ReleaseStreamObjects(s);
}

}  // namespace

void Init(InitInfo* info) {
  PluginState& s = State();
  s.demoActive = 0;
  s.settings.Load(info != nullptr ? info->channelCheck : nullptr, filterTextCallback);
}

int32_t Start(FrameFormat* format) {
  PluginState& s = State();
  // Held so that a rebuild asked for by the settings window never meets a
  // half-built stream.
  platform::ScopedLock lock(s.pluginLock);
  // A Start without a Stop in between must not leak the previous stream.
  ReleaseStreamObjects(s);
  if (format != nullptr) {
    s.format = FrameFormatRecord{format->width, format->height, format->thirdWord, format->pixelFormat};
    s.processorClass = format->processorClass;
  } else {
    s.format = FrameFormatRecord{0, 0, 0, 0};
  }
  s.settings.ResetChannel();
  BuildStreamObjects(s);
  s.streaming = true;
  return 1;
}

void Stop() {
  PluginState& s = State();
  platform::ScopedLock lock(s.pluginLock);
  ReleaseStreamObjects(s);
  s.streaming = false;
}

void ShowDialog(void* parentWindow) {
  PluginState& s = State();
  if (s.processorClass == 1 || s.processorClass == 2) {
    platform::ShowMessage(kOldProcessorMessage, platform::MessageIcon::Information);
    return;
  }
  // The null window opens nothing: until the settings window is installed
  // this is a no-op on every platform.
  if (s.window->IsOpen()) {
    s.window->Focus();
  } else {
    s.window->Open(parentWindow);
  }
}

void Exit() {
  PluginState& s = State();
  if (s.window->IsOpen()) s.window->Close();
  s.settings.Save();
}

}  // namespace qrx
