#include "magnitude_average.h"

#include <cmath>

#include "transform/fft_engine.h"
#include "transform/line_transform.h"

namespace qrxhost {

namespace {
constexpr int32_t kLayoutReal2D = 2;
constexpr int32_t kHammingWindow = 1;
}  // namespace

SpectrumAverage::SpectrumAverage(int32_t width, int32_t height, bool bgr24, int32_t fftLine)
    : format_{width, height, 0, bgr24 ? 1 : 0} {
  // Built as the plug-in builds its own, so that a size it refuses is
  // refused here too.
  lines_ = std::make_unique<qrx::LineTransform>(format_, fftLine);
  if (!lines_->IsUsable()) return;
  engine_ = std::make_unique<qrx::FftEngine>(lines_->OutputLength(), lines_->OutputHeight(), fftLine, 0,
                                             kLayoutReal2D);
  if (!engine_->IsUsable()) return;
  engine_->BuildWindow(kHammingWindow);
  if (engine_->Window() == nullptr) return;
  engine_->SetRates(qrx::ScaleRowRateKHz(lines_->OutputLength()), qrx::ScaleColRateKHz(lines_->OutputHeight()));
  if (bgr24) working_.resize(static_cast<size_t>(width) * height * 2);
  sum_.assign(static_cast<size_t>(engine_->Rows()) * engine_->Bins(), 0.0);
}

SpectrumAverage::~SpectrumAverage() = default;

bool SpectrumAverage::IsUsable() const {
  return lines_ && lines_->IsUsable() && engine_ && engine_->IsUsable() && engine_->Window() != nullptr;
}

int32_t SpectrumAverage::Rows() const { return engine_ ? engine_->Rows() : 0; }
int32_t SpectrumAverage::Bins() const { return engine_ ? engine_->Bins() : 0; }

void SpectrumAverage::Add(const uint8_t* frame) {
  if (!IsUsable()) return;
  const uint8_t* work = frame;
  if (format_.pixelFormat == 1) {
    qrx::ConvertToWorking(frame, working_.data(), format_, 0, format_.height);
    work = working_.data();
  }
  lines_->Forward(work, engine_->Spectrum(), engine_->Pitch(), engine_->Window());
  engine_->Transform(+1);
  const float* s = engine_->Spectrum();
  const int32_t rows = engine_->Rows(), bins = engine_->Bins(), pitch = engine_->Pitch();
  if (frames_ == 0) first_.resize(sum_.size());
  for (int32_t q = 0; q < rows; ++q) {
    const float* row = s + static_cast<size_t>(q) * pitch * 2;
    double* out = &sum_[static_cast<size_t>(q) * bins];
    for (int32_t k = 0; k < bins; ++k) out[k] += std::hypot(static_cast<double>(row[2 * k]), row[2 * k + 1]);
    if (frames_ == 0)
      for (int32_t k = 0; k < bins; ++k) first_[static_cast<size_t>(q) * bins + k] = {row[2 * k], row[2 * k + 1]};
  }
  ++frames_;
}

std::vector<double> SpectrumAverage::Mean() const {
  std::vector<double> mean = sum_;
  if (frames_ > 0)
    for (double& v : mean) v /= static_cast<double>(frames_);
  return mean;
}

}  // namespace qrxhost
