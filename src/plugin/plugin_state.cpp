// PluginState and the lifecycle of the processing objects.
#include "plugin/plugin_state.h"

#include <new>

#include "plugin/window_hooks.h"
#include "transform/fft_engine.h"

namespace qrx {

namespace {

NullWindowHooks g_nullWindow;

}  // namespace

PluginState::PluginState() : window(&g_nullWindow) {
  // The settings store converts between the live list and its text through
  // this binding.
  BindFilterText(&filters, &settings.Filter);
}

PluginState::~PluginState() {
  // A host that unloads without Stop still gets its threads ended.
  DestroyEngines();
  platform::AlignedFree(conversionBuffer);
  platform::AlignedFree(meshBuffer);
  conversionBuffer = nullptr;
  meshBuffer = nullptr;
  BindFilterText(nullptr, nullptr);
}

PluginState& State() {
  static PluginState state;
  return state;
}

namespace {
// The state exists from module load, not from the first call.
PluginState& g_stateAtLoad = State();
}  // namespace

void SetWindowHooks(WindowHooks* hooks) { State().window = hooks != nullptr ? hooks : &g_nullWindow; }

bool ProcessingReady(const PluginState& s) {
  return s.pipeline.Ready() && s.meshBuffer != nullptr && (s.format.pixelFormat != 1 || s.conversionBuffer != nullptr);
}

bool CreateEngines() {
  PluginState& s = State();
  if (!s.pipeline.Create(s.format, EffectiveFftLine(s.settings.FFTLine))) {
    DestroyEngines();
    return false;
  }
  s.maskGain = 1.0f;
  s.engineRowRateKHz = s.pipeline.engine->RowRateKHz();
  s.engineColRateKHz = s.pipeline.engine->ColRateKHz();
  return true;
}

void DestroyEngines() {
  PluginState& s = State();
  s.engineRowRateKHz = 0;
  s.engineColRateKHz = 0;
  s.pipeline.Destroy();
}

void RebuildEngines() {
  PluginState& s = State();
  platform::ScopedLock lock(s.pluginLock);
  if (!s.streaming) return;
  DestroyEngines();
  if (s.meshBuffer == nullptr || (s.format.pixelFormat == 1 && s.conversionBuffer == nullptr)) return;
  if (CreateEngines()) {
    // The new builder starts from the live list, so the mask never lags
    // behind it even if the caller's own hand-over comes later.
    s.pipeline.SetFilters(s.filters);
  }
}

}  // namespace qrx
