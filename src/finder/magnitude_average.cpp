#include "finder/magnitude_average.h"

#include <algorithm>
#include <cmath>

#include "transform/fft_engine.h"
#include "transform/line_transform.h"

namespace qrx {

namespace {
constexpr int32_t kLayoutReal2D = 2;
constexpr int32_t kHammingWindow = 1;
}  // namespace

MagnitudeAverage::MagnitudeAverage(const FrameFormatRecord& format, int32_t fftLine, int32_t memory, int32_t workers)
    : format_(format), memory_(std::max(0, memory)) {
  // Built as the filter builds its own, so that a size it refuses is
  // refused here too.
  lines_ = std::make_unique<LineTransform>(format_, fftLine);
  if (!lines_->IsUsable()) return;
  engine_ =
      std::make_unique<FftEngine>(lines_->OutputLength(), lines_->OutputHeight(), fftLine, 0, kLayoutReal2D, workers);
  if (!engine_->IsUsable()) return;
  // A single worker's passes run on the caller's thread: nothing to hand
  // over.
  engine_->RunOnCallingThread(workers == 1);
  engine_->BuildWindow(kHammingWindow);
  if (engine_->Window() == nullptr) return;
  engine_->SetRates(ScaleRowRateKHz(lines_->OutputLength()), ScaleColRateKHz(lines_->OutputHeight()));
  if (format_.pixelFormat == 1) working_.resize(static_cast<size_t>(format_.width) * format_.height * 2);
  mean_.assign(static_cast<size_t>(engine_->Rows()) * engine_->Bins(), 0.0f);
  newest_.assign(mean_.size(), 0.0f);
}

MagnitudeAverage::~MagnitudeAverage() = default;

bool MagnitudeAverage::IsUsable() const {
  return lines_ && lines_->IsUsable() && engine_ && engine_->IsUsable() && engine_->Window() != nullptr &&
         !mean_.empty();
}

int32_t MagnitudeAverage::Rows() const { return engine_ ? engine_->Rows() : 0; }
int32_t MagnitudeAverage::Bins() const { return engine_ ? engine_->Bins() : 0; }

void MagnitudeAverage::Add(const uint8_t* frame, bool keepSpectrum) {
  if (!IsUsable()) return;
  const uint8_t* work = frame;
  if (format_.pixelFormat == 1) {
    ConvertToWorking(frame, working_.data(), format_, 0, format_.height);
    work = working_.data();
  }
  lines_->Forward(work, engine_->Spectrum(), engine_->Pitch(), engine_->Window());
  engine_->Transform(+1);
  AddSpectrum(engine_->Spectrum(), engine_->Pitch(), keepSpectrum);
}

void MagnitudeAverage::AddSpectrum(const float* s, int32_t pitch, bool keepSpectrum) {
  if (!IsUsable()) return;
  ++frames_;
  // The newest frame weighs 1/n: a plain mean, or a running one once n
  // stops growing at the memory.
  const int64_t n = memory_ > 0 ? std::min<int64_t>(frames_, memory_) : frames_;
  const float weight = static_cast<float>(1.0 / static_cast<double>(n));
  const int32_t rows = engine_->Rows(), bins = engine_->Bins();
  for (int32_t q = 0; q < rows; ++q) {
    const float* row = s + static_cast<size_t>(q) * pitch * 2;
    float* mean = &mean_[static_cast<size_t>(q) * bins];
    for (int32_t k = 0; k < bins; ++k) {
      const float re = row[2 * k], im = row[2 * k + 1];
      mean[k] += weight * (std::sqrt(re * re + im * im) - mean[k]);
    }
    if (!keepSpectrum) continue;
    std::complex<float>* newest = &newest_[static_cast<size_t>(q) * bins];
    for (int32_t k = 0; k < bins; ++k) newest[k] = {row[2 * k], row[2 * k + 1]};
  }
}

void MagnitudeAverage::TakeSpectrum(std::vector<std::complex<float>>* spectrum, bool keepSpectrum) {
  if (!IsUsable() || spectrum->size() != newest_.size()) return;
  // std::complex<float> is laid out as two floats, re and im.
  AddSpectrum(reinterpret_cast<const float*>(spectrum->data()), Bins(), false);
  if (keepSpectrum) newest_.swap(*spectrum);
}

}  // namespace qrx
