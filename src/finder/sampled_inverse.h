// The engine's inverse transform of a few spectrum cells, at every few
// pixels only. Taking every D-th pixel of a picture folds its spectrum onto
// one D times smaller; so the cells, folded onto the spectrum of a smaller
// engine, come back from that engine's inverse transform as exactly the
// values the full-size inverse transform has at those pixels. The designer
// uses it to judge many candidate notches of one peak, each of which would
// otherwise cost a full-size inverse transform.
//
// Units: cells as the full engine stores them (row q, column k, value as in
// its spectrum); sampled values in the full engine's picture units, before
// its inverse window.
#pragma once

#include <complex>
#include <cstdint>
#include <memory>
#include <vector>

namespace qrx {

class FftEngine;

class SampledInverse {
 public:
  // full: the engine whose inverse is sampled (its sizes only); every
  // stepRows-th line and every stepColumns-th pixel (powers of two that
  // divide the transform lengths).
  SampledInverse(const FftEngine& full, int32_t stepRows, int32_t stepColumns);
  ~SampledInverse();
  SampledInverse(const SampledInverse&) = delete;
  SampledInverse& operator=(const SampledInverse&) = delete;

  bool IsUsable() const;
  int32_t StepRows() const { return stepRows_; }
  int32_t StepColumns() const { return stepColumns_; }
  // Sampled lines (m = i * StepRows() < H) and pixels per line
  // (n = j * StepColumns() < L).
  int32_t Rows() const { return rows_; }
  int32_t Columns() const { return columns_; }

  void Clear();
  // Adds a cell of the full engine's spectrum (0 <= q < M, 0 <= k <= N/2).
  void Add(int32_t q, int32_t k, std::complex<double> value);
  // The same for cells (q, firstK + j), j = 0 .. count - 1, of one row
  // (those outside the half spectrum left out): the same sums as Add cell
  // by cell, with the row's folding worked out once.
  void AddRow(int32_t q, int32_t firstK, int32_t count, const std::complex<double>* values);
  // The sampled inverse of the cells added since Clear: Rows() lines of
  // Columns() values, line i at i * Columns(). quarter: the same of the
  // cells turned a quarter (times -i), when wanted: the full inverse's
  // value is the real part of the cells' waves, this their imaginary part.
  const std::vector<float>& Run(const std::vector<float>** quarter = nullptr);

 private:
  int32_t M_ = 0, N_ = 0, stepRows_ = 1, stepColumns_ = 1, rows_ = 0, columns_ = 0;
  float factor_ = 1.0f;  // the full engine's inverse scale over the small one's
  std::unique_ptr<FftEngine> small_, turned_;
  std::vector<float> samples_, turnedSamples_;
};

}  // namespace qrx
