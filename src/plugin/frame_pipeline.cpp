#include "plugin/frame_pipeline.h"

#include <new>

#include "filter/mask_builder.h"
#include "frame/pixel_convert.h"
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

// The per-row work of a frame that rides on the FFT's row workers: the
// conversion and the forward line transform just before a block's forward
// row transform; the backward line transform, the demo marking and the
// conversion back just after its inverse one. Each worker has its own line
// scratch; everything else is read-only or row-disjoint.
class FramePipeline::Rows final : public RowStage {
 public:
  Rows(const FrameFormatRecord& format, const LineTransform& lines, FftEngine& engine)
      : format_(format), lines_(lines), engine_(engine) {
    // Whole 16-byte units per worker, so that every scratch stays aligned.
    stride_ = (lines.ScratchSamples() + 7) & ~size_t{7};
    scratch_ = static_cast<uint16_t*>(platform::AlignedAlloc(stride_ * FftEngine::kMaxWorkers * sizeof(uint16_t)));
  }
  ~Rows() { platform::AlignedFree(scratch_); }
  Rows(const Rows&) = delete;
  Rows& operator=(const Rows&) = delete;

  bool Usable() const { return scratch_ != nullptr; }

  // For the next pass: the frame, the rows Store writes back (all, or the
  // upper half with demo) and whether it marks the middle rows.
  void Prepare(const FrameAccess& frame, int32_t demo, bool mark, uint32_t colour) {
    frame_ = frame;
    writtenRows_ = demo ? format_.height / 2 : format_.height;
    mark_ = demo && mark;
    colour_ = colour;
  }

  void Load(int32_t worker, int32_t first, int32_t count) override {
    if (frame_.toWorking) frame_.toWorking(frame_.host, frame_.work, format_, first, count);
    lines_.ForwardRows(frame_.work, engine_.Spectrum(), engine_.Pitch(), engine_.Window(), first, count,
                       Scratch(worker));
  }

  void Store(int32_t worker, int32_t first, int32_t count) override {
    const int32_t end = first + count;
    const int32_t written = (end < writtenRows_ ? end : writtenRows_) - first;
    if (written > 0) {
      lines_.BackwardRows(frame_.work, engine_.Spectrum(), engine_.Pitch(), engine_.InverseWindow(), first, written,
                          Scratch(worker));
    }
    if (mark_) {
      const int32_t middle = format_.height / 2;
      for (int32_t row = middle - 1; row <= middle; ++row) {
        if (row >= first && row < end) MarkRow(frame_.work, format_.width, format_.height, row, colour_);
      }
    }
    if (frame_.fromWorking) frame_.fromWorking(frame_.work, frame_.host, format_, first, count);
  }

 private:
  uint16_t* Scratch(int32_t worker) const { return scratch_ + stride_ * static_cast<size_t>(worker); }

  FrameFormatRecord format_;
  const LineTransform& lines_;
  FftEngine& engine_;
  uint16_t* scratch_ = nullptr;
  size_t stride_ = 0;
  FrameAccess frame_;
  int32_t writtenRows_ = 0;
  bool mark_ = false;
  uint32_t colour_ = 0;
};

FramePipeline::FramePipeline() = default;

FramePipeline::~FramePipeline() { Destroy(); }

bool FramePipeline::Create(const FrameFormatRecord& format, int32_t fftLine, int32_t workerCount) {
  Destroy();
  lineTransform = new (std::nothrow) LineTransform(format, fftLine);
  if (lineTransform == nullptr || !lineTransform->IsUsable()) {
    Destroy();
    return false;
  }
  const int32_t length = lineTransform->OutputLength();
  const int32_t height = lineTransform->OutputHeight();

  engine = new (std::nothrow) FftEngine(length, height, fftLine, 0, kLayoutReal2D, workerCount);
  if (engine == nullptr || !engine->IsUsable()) {
    Destroy();
    return false;
  }
  engine->BuildWindow(kHammingWindow);
  engine->BuildInverseWindow(kHammingWindow);
  if (engine->Window() == nullptr || engine->InverseWindow() == nullptr || !engine->AllocateMask() ||
      !engine->IsUsable()) {
    Destroy();
    return false;
  }
  engine->SetRates(ScaleRowRateKHz(length), ScaleColRateKHz(height));
  rows_ = new (std::nothrow) Rows(format, *lineTransform, *engine);
  if (rows_ == nullptr || !rows_->Usable()) {
    Destroy();
    return false;
  }

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
  delete rows_;
  rows_ = nullptr;
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

void FramePipeline::Analyse(const uint8_t* work, const FilterList& filters, bool filtering,
                            SpectrumObserver* observer) {
  FrameAccess frame;
  // Read only: the forward pass has no conversion to write anything back.
  frame.work = const_cast<uint8_t*>(work);
  AnalyseFrame(frame, filters, filtering, false, observer);
}

float FramePipeline::Synthesise(uint8_t* work, int32_t demo) {
  FrameAccess frame;
  frame.work = work;
  return Inverse(frame, demo, false, 0);
}

void FramePipeline::AnalyseFrame(const FrameAccess& frame, const FilterList& filters, bool filtering, bool maskLater,
                                 SpectrumObserver* observer) {
  maskPending_ = false;
  rows_->Prepare(frame, 0, false, 0);
  engine->Transform(+1, rows_);
  if (observer != nullptr) observer->ObserveSpectrum(*engine);
  if (!filtering) return;
  AdaptiveClip(filters, engine);
  if (maskLater) {
    maskPending_ = true;
  } else {
    engine->ApplyMask();
  }
}

float FramePipeline::SynthesiseFrame(const FrameAccess& frame, int32_t demo, uint32_t markColour) {
  return Inverse(frame, demo, true, markColour);
}

float FramePipeline::Inverse(const FrameAccess& frame, int32_t demo, bool mark, uint32_t markColour) {
  rows_->Prepare(frame, demo, mark, markColour);
  if (maskPending_) {
    engine->InverseWithMask(rows_);
  } else {
    engine->Transform(-1, rows_);
  }
  maskPending_ = false;
  return engine->AppliedMaskGain();
}

}  // namespace qrx
