#include "plugin/frame_pipeline.h"

#include <new>

#include "filter/mask_builder.h"
#include "platform/platform.h"
#include "transform/fft_engine.h"
#include "transform/line_transform.h"

namespace qrx {

namespace {

constexpr int32_t kLayoutReal2D = 2;
constexpr int32_t kHammingWindow = 1;
// Granularity of the wait for a mask: far below a frame's time.
constexpr uint32_t kMaskPollMs = 1;

}  // namespace

bool FramePipeline::Create(const FrameFormatRecord& format, int32_t fftLine) {
  Destroy();
  lineTransform = new (std::nothrow) LineTransform(format, fftLine);
  if (lineTransform == nullptr || !lineTransform->IsUsable()) {
    Destroy();
    return false;
  }
  const int32_t length = lineTransform->OutputLength();
  const int32_t height = lineTransform->OutputHeight();

  engine = new (std::nothrow) FftEngine(length, height, fftLine, 0, kLayoutReal2D);
  if (engine == nullptr || !engine->IsUsable()) {
    Destroy();
    return false;
  }
  engine->BuildWindow(kHammingWindow);
  engine->BuildInverseWindow(kHammingWindow);
  if (engine->Window() == nullptr || engine->InverseWindow() == nullptr || !engine->AllocateMask() ||
      !engine->AllocateDisplay() || !engine->IsUsable()) {
    Destroy();
    return false;
  }
  engine->SetRates(ScaleRowRateKHz(length), ScaleColRateKHz(height));

  maskBuilder = new (std::nothrow) MaskBuilder(engine->Pitch(), engine->Bins(), engine->Rows(), engine);
  if (maskBuilder == nullptr || !maskBuilder->IsUsable()) {
    Destroy();
    return false;
  }
  return true;
}

void FramePipeline::Destroy() {
  delete maskBuilder;
  maskBuilder = nullptr;
  delete engine;
  engine = nullptr;
  delete lineTransform;
  lineTransform = nullptr;
}

void FramePipeline::SetFilters(const FilterList& filters) {
  if (maskBuilder != nullptr) maskBuilder->SetFilters(filters);
}

bool FramePipeline::WaitForMask(uint32_t timeoutMs) const {
  if (maskBuilder == nullptr) return false;
  const int64_t wanted = maskBuilder->RequestsMade();
  for (uint32_t waited = 0; maskBuilder->RequestsPublished() < wanted; waited += kMaskPollMs) {
    if (waited >= timeoutMs) return false;
    platform::Sleep(kMaskPollMs);
  }
  return true;
}

void FramePipeline::Analyse(const uint8_t* work, const FilterList& filters, bool filtering) {
  lineTransform->Forward(work, engine->Spectrum(), engine->Pitch(), engine->Window());
  engine->Transform(+1);
  if (!filtering) return;
  AdaptiveClip(filters, engine);
  engine->ApplyMask();
}

float FramePipeline::Synthesise(uint8_t* work, int32_t demo) {
  engine->Transform(-1);
  const float gain = engine->AppliedMaskGain();
  lineTransform->Backward(work, engine->Spectrum(), engine->Pitch(), engine->InverseWindow(), gain, demo);
  return gain;
}

}  // namespace qrx
