// PluginState and the lifecycle of the processing objects.
#include "plugin/plugin_state.h"

#include <new>

#include "filter/mask_builder.h"
#include "plugin/window_hooks.h"
#include "transform/fft_engine.h"
#include "transform/line_transform.h"

namespace qrx {

namespace {

NullWindowHooks g_nullWindow;

constexpr int32_t kLayoutReal2D = 2;
constexpr int32_t kHammingWindow = 1;

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
  return s.lineTransform != nullptr && s.engine != nullptr && s.maskBuilder != nullptr &&
         s.meshBuffer != nullptr && (s.format.pixelFormat != 1 || s.conversionBuffer != nullptr);
}

bool CreateEngines() {
  PluginState& s = State();
  DestroyEngines();
  const int32_t fftLine = EffectiveFftLine(s.settings.FFTLine);

  s.lineTransform = new (std::nothrow) LineTransform(s.format, fftLine);
  if (s.lineTransform == nullptr || !s.lineTransform->IsUsable()) {
    DestroyEngines();
    return false;
  }
  const int32_t length = s.lineTransform->OutputLength();
  const int32_t height = s.lineTransform->OutputHeight();

  s.engine = new (std::nothrow) FftEngine(length, height, fftLine, 0, kLayoutReal2D);
  if (s.engine == nullptr || !s.engine->IsUsable()) {
    DestroyEngines();
    return false;
  }
  s.engine->BuildWindow(kHammingWindow);
  s.engine->BuildInverseWindow(kHammingWindow);
  if (s.engine->Window() == nullptr || s.engine->InverseWindow() == nullptr ||
      !s.engine->AllocateMask() || !s.engine->AllocateDisplay() || !s.engine->IsUsable()) {
    DestroyEngines();
    return false;
  }
  s.engine->SetRates(ScaleRowRateKHz(length), ScaleColRateKHz(height));

  s.maskBuilder = new (std::nothrow)
      MaskBuilder(s.engine->Pitch(), s.engine->Bins(), s.engine->Rows(), s.engine);
  if (s.maskBuilder == nullptr || !s.maskBuilder->IsUsable()) {
    DestroyEngines();
    return false;
  }
  s.maskGain = 1.0f;
  s.engineRowRateKHz = s.engine->RowRateKHz();
  s.engineColRateKHz = s.engine->ColRateKHz();
  return true;
}

void DestroyEngines() {
  PluginState& s = State();
  s.engineRowRateKHz = 0;
  s.engineColRateKHz = 0;
  delete s.maskBuilder;
  s.maskBuilder = nullptr;
  delete s.engine;
  s.engine = nullptr;
  delete s.lineTransform;
  s.lineTransform = nullptr;
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
    s.maskBuilder->SetFilters(s.filters);
  }
}

}  // namespace qrx
