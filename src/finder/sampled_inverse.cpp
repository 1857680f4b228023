#include "finder/sampled_inverse.h"

#include <algorithm>

#include "transform/fft_engine.h"

namespace qrx {

namespace {
constexpr int32_t kLayoutReal2D = 2;
}  // namespace

SampledInverse::SampledInverse(const FftEngine& full, int32_t stepRows, int32_t stepColumns)
    : M_(full.M()), N_(full.N()), stepRows_(stepRows), stepColumns_(stepColumns) {
  if (stepRows < 1 || stepColumns < 1 || M_ % stepRows != 0 || N_ % stepColumns != 0) return;
  const int32_t m = M_ / stepRows, n = N_ / stepColumns;
  rows_ = (full.H() + stepRows - 1) / stepRows;
  columns_ = std::min(n, (full.L() + stepColumns - 1) / stepColumns);
  small_ = std::make_unique<FftEngine>(columns_, rows_, n, m, kLayoutReal2D, 1);
  turned_ = std::make_unique<FftEngine>(columns_, rows_, n, m, kLayoutReal2D, 1);
  if (!small_->IsUsable() || !turned_->IsUsable()) {
    small_.reset();
    turned_.reset();
    return;
  }
  // Many small inverses one after another: on the caller's thread.
  small_->RunOnCallingThread(true);
  turned_->RunOnCallingThread(true);
  // The inverse divides by the transform's size: the small engine's values
  // come out larger by the steps.
  factor_ = 1.0f / static_cast<float>(stepRows * stepColumns);
  samples_.resize(static_cast<size_t>(rows_) * columns_);
  turnedSamples_.resize(samples_.size());
  Clear();
}

SampledInverse::~SampledInverse() = default;

bool SampledInverse::IsUsable() const { return small_ != nullptr; }

void SampledInverse::Clear() {
  if (!small_) return;
  const size_t floats = static_cast<size_t>(small_->M()) * small_->Pitch() * 2;
  std::fill(small_->Spectrum(), small_->Spectrum() + floats, 0.0f);
  std::fill(turned_->Spectrum(), turned_->Spectrum() + floats, 0.0f);
}

void SampledInverse::Add(int32_t q, int32_t k, std::complex<double> value) { AddRow(q, k, 1, &value); }

void SampledInverse::AddRow(int32_t q, int32_t firstK, int32_t count, const std::complex<double>* values) {
  if (!small_ || q < 0 || q >= M_) return;
  // Both sizes are powers of two: folding is masking.
  const int32_t m = small_->M(), n = small_->N(), pitch = small_->Pitch();
  // The cell's own frequency and value: the spectrum holds row q as the
  // vertical frequency q - M/2, its value times (-1)^q. A column inside the
  // half spectrum stands for itself and its mirror (twice its real part);
  // columns 0 and N/2 only once. Folded onto the small spectrum, a cell
  // lands as it is where that holds it, else as its mirror, halved where
  // the small engine counts the mirror too; each small row's own sign
  // (-1)^row goes with it.
  const double sign = (q & 1) ? -1.0 : 1.0;
  const int32_t v = (q - M_ / 2) & (m - 1);
  const int32_t direct = (v + m / 2) & (m - 1), mirror = (((m - v) & (m - 1)) + m / 2) & (m - 1);
  const double directSign = (direct & 1) ? -sign : sign, mirrorSign = (mirror & 1) ? -sign : sign;
  float* directRow = small_->Spectrum() + static_cast<size_t>(direct) * pitch * 2;
  float* directTurned = turned_->Spectrum() + static_cast<size_t>(direct) * pitch * 2;
  float* mirrorRow = small_->Spectrum() + static_cast<size_t>(mirror) * pitch * 2;
  float* mirrorTurned = turned_->Spectrum() + static_cast<size_t>(mirror) * pitch * 2;
  const int32_t from = std::max(firstK, 0), to = std::min(firstK + count, N_ / 2 + 1);
  for (int32_t k = from; k < to; ++k) {
    const std::complex<double> value = values[k - firstK];
    const int32_t kk = k & (n - 1);
    // The turned cell (times -i) goes the same way.
    if (2 * kk <= n) {
      // On the small engine's own columns 0 and n/2 nothing is halved.
      const double twice = (k == 0 || 2 * k == N_) ? 1.0 : 2.0;
      const double scale = (kk == 0 || 2 * kk == n) ? twice : 1.0;
      const std::complex<double> y = (directSign * scale) * value;
      float* cell = directRow + 2 * kk;
      cell[0] += static_cast<float>(y.real());
      cell[1] += static_cast<float>(y.imag());
      float* turned = directTurned + 2 * kk;
      turned[0] += static_cast<float>(y.imag());
      turned[1] += static_cast<float>(-y.real());
    } else {
      // The mirror: conj(c) / 2, and the turned cell conj(-i c) / 2.
      const std::complex<double> y = mirrorSign * std::conj(value);
      float* cell = mirrorRow + 2 * (n - kk);
      cell[0] += static_cast<float>(y.real());
      cell[1] += static_cast<float>(y.imag());
      float* turned = mirrorTurned + 2 * (n - kk);
      turned[0] += static_cast<float>(-y.imag());
      turned[1] += static_cast<float>(y.real());
    }
  }
}

const std::vector<float>& SampledInverse::Run(const std::vector<float>** quarter) {
  if (!small_) return samples_;
  const size_t pitch = static_cast<size_t>(small_->Pitch()) * 2;
  for (int turn = 0; turn < (quarter != nullptr ? 2 : 1); ++turn) {
    FftEngine& engine = turn == 0 ? *small_ : *turned_;
    std::vector<float>& out = turn == 0 ? samples_ : turnedSamples_;
    engine.Transform(-1);
    const float* s = engine.Spectrum();
    for (int32_t i = 0; i < rows_; ++i)
      for (int32_t j = 0; j < columns_; ++j) out[static_cast<size_t>(i) * columns_ + j] = factor_ * s[i * pitch + j];
  }
  if (quarter != nullptr) *quarter = &turnedSamples_;
  return samples_;
}

}  // namespace qrx
