#include "finder/peak_finder.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "transform/fft_engine.h"

namespace qrx {

namespace {

constexpr double kMissingDb = -std::numeric_limits<double>::infinity();

double ToDb(float magnitude) { return magnitude < 0.0f ? kMissingDb : 20.0 * std::log10(magnitude + 1e-9); }

// The median of the values; -1 for none (magnitudes are never negative).
float Median(std::vector<float>* values) {
  if (values->empty()) return -1.0f;
  const size_t mid = values->size() / 2;
  std::nth_element(values->begin(), values->begin() + mid, values->end());
  return (*values)[mid];
}

}  // namespace

PeakFinder::PeakFinder(const FftEngine& engine, const WindowAxis& rows, const WindowAxis& columns)
    : engine_(engine), rows_(rows), columns_(columns) {
  lobeK_ = rows.HalfWidth();
  lobeQ_ = columns.HalfWidth();
  peakGain_ = std::abs(rows.Transform(0.0)) * std::abs(columns.Transform(0.0));
}

float PeakFinder::At(int32_t q, int32_t k) const {
  const int32_t rows = engine_.Rows(), bins = engine_.Bins();
  // A real picture's spectrum at (v, -k) is the conjugate of the one at
  // (-v, k).
  if (k < 0) {
    k = -k;
    q = rows - q;
  }
  if (q < 0 || q >= rows || k >= bins) return -1.0f;
  return (*mean_)[static_cast<size_t>(q) * bins + k];
}

double PeakFinder::LevelDb(int32_t q, int32_t k) const { return ToDb(At(q, k)); }

double PeakFinder::Amplitude(double magnitude, double fracQ, double fracK) const {
  const double gain = std::abs(rows_.Transform(fracK)) * std::abs(columns_.Transform(fracQ));
  return gain > 0.0 ? 2.0 * magnitude * (engine_.WindowSum() / peakGain_) / gain : 0.0;
}

bool PeakFinder::IsMaximum(int32_t q, int32_t k, float level) const {
  const int32_t rk = static_cast<int32_t>(std::floor(lobeK_)), rq = static_cast<int32_t>(std::floor(lobeQ_));
  for (int32_t dq = -rq; dq <= rq; ++dq)
    for (int32_t dk = -rk; dk <= rk; ++dk) {
      if (dq == 0 && dk == 0) continue;
      const float other = At(q + dq, k + dk);
      // Ties go to the first cell in scan order.
      if (other > level || (other == level && (dq < 0 || (dq == 0 && dk < 0)))) return false;
    }
  return true;
}

std::vector<Peak> PeakFinder::Find(const std::vector<float>& mean, const PeakLimits& limits) {
  mean_ = &mean;
  std::vector<Peak> peaks;
  const int32_t rows = engine_.Rows(), bins = engine_.Bins(), half = rows / 2;
  const double zoneK = std::max(1, engine_.WidthToColumns(limits.zeroZoneKHzX));
  const double zoneQ = std::max(1, engine_.WidthToRows(limits.zeroZoneKHzY));
  // A pattern of amplitude A peaks at A/2 times the window's sum, less the
  // window's loss between cells (under 2 dB): cells below that cannot hold
  // a pattern of the least amplitude.
  const float minMagnitude = static_cast<float>(0.5 * limits.minAmplitude * engine_.WindowSum() * 0.75);
  // The next cells along the row and the column first, on the table itself:
  // most cells above the least magnitude fail there, and IsMaximum's answer
  // does not depend on the order of its checks.
  const bool nextK = lobeK_ >= 1.0, nextQ = lobeQ_ >= 1.0;
  for (int32_t q = 1; q + 1 < rows; ++q) {
    const float* row = &mean[static_cast<size_t>(q) * bins];
    const float *up = row - bins, *down = row + bins;
    for (int32_t k = 0; k + 1 < bins; ++k) {
      const float level = row[k];
      if (level < minMagnitude) continue;
      if (nextK && k > 0 && (row[k - 1] >= level || row[k + 1] > level)) continue;
      if (nextQ && (up[k] >= level || down[k] > level)) continue;
      const double v = (q - half) / zoneQ, h = k / zoneK;
      if (v * v + h * h < 1.0) continue;
      if (!IsMaximum(q, k, level)) continue;
      Peak p;
      p.q = q;
      p.k = k;
      p.fracK = rows_.Offset(At(q, k - 1), level, At(q, k + 1));
      p.fracQ = columns_.Offset(At(q - 1, k), level, At(q + 1, k));
      p.amplitude = Amplitude(level, p.fracQ, p.fracK);
      if (p.amplitude < limits.minAmplitude) continue;
      p.level = ToDb(level);
      p.heightDb = p.level - BackgroundDb(q, k);
      if (p.heightDb < limits.minHeightDb) continue;
      peaks.push_back(p);
    }
  }
  std::sort(peaks.begin(), peaks.end(), [](const Peak& x, const Peak& y) { return x.level > y.level; });
  MarkInterference(peaks);
  return peaks;
}

// Edges in a picture put ridges of energy on lines through zero frequency
// (the axes above all), and a strong peak puts its side lobes on its row and
// column; a cell on such a ridge is measured against the ridge.
double PeakFinder::BackgroundDb(int32_t q, int32_t k) const {
  const int32_t innerK = static_cast<int32_t>(std::ceil(2.0 * lobeK_));
  const int32_t innerQ = static_cast<int32_t>(std::ceil(2.0 * lobeQ_));
  const int32_t outerK = 3 * innerK, outerQ = 3 * innerQ;
  std::vector<float> ring, row, column, radial;
  ring.reserve(static_cast<size_t>(2 * outerK + 1) * (2 * outerQ + 1));
  auto take = [&](std::vector<float>* into, int32_t qq, int32_t kk) {
    const float level = At(qq, kk);
    if (level >= 0.0f) into->push_back(level);
  };
  // The ring is sampled on every other cell each way: the median changes
  // little, the cost by four.
  for (int32_t dq = -outerQ; dq <= outerQ; dq += 2)
    for (int32_t dk = -outerK; dk <= outerK; dk += 2)
      if (std::abs(dq) > innerQ || std::abs(dk) > innerK) take(&ring, q + dq, k + dk);
  for (int32_t dk = innerK + 1; dk <= 2 * outerK; ++dk) {
    take(&row, q, k + dk);
    take(&row, q, k - dk);
  }
  for (int32_t dq = innerQ + 1; dq <= 2 * outerQ; ++dq) {
    take(&column, q + dq, k);
    take(&column, q - dq, k);
  }
  // The line through zero frequency, in steps of about one cell, outside
  // the main lobe's ellipse.
  const double v = q - engine_.Rows() / 2;
  const double length = std::hypot(v, static_cast<double>(k));
  if (length > 0.0)
    for (int32_t s = 1; s <= 2 * outerQ; ++s)
      for (int32_t sign : {-1, 1}) {
        const double dk = sign * s * k / length, dq = sign * s * v / length;
        const double e = (dk / innerK) * (dk / innerK) + (dq / innerQ) * (dq / innerQ);
        if (e <= 1.0) continue;
        take(&radial, q + static_cast<int32_t>(std::lround(dq)), k + static_cast<int32_t>(std::lround(dk)));
      }
  return ToDb(std::max({Median(&ring), Median(&row), Median(&column), Median(&radial)}));
}

void PeakFinder::MarkInterference(const std::vector<Peak>& peaks) {
  const int32_t rows = engine_.Rows(), bins = engine_.Bins();
  interference_.assign(static_cast<size_t>(rows) * bins, false);
  const int32_t rk = static_cast<int32_t>(std::ceil(lobeK_)), rq = static_cast<int32_t>(std::ceil(lobeQ_));
  for (const Peak& p : peaks)
    for (int32_t dq = -rq; dq <= rq; ++dq)
      for (int32_t dk = -rk; dk <= rk; ++dk) {
        int32_t q = p.q + dq, k = p.k + dk;
        if (k < 0) {
          k = -k;
          q = rows - q;
        }
        if (q >= 0 && q < rows && k < bins) interference_[static_cast<size_t>(q) * bins + k] = true;
      }
}

bool PeakFinder::IsInterference(int32_t q, int32_t k) const {
  const int32_t rows = engine_.Rows(), bins = engine_.Bins();
  if (k < 0) {
    k = -k;
    q = rows - q;
  }
  return q >= 0 && q < rows && k < bins && !interference_.empty() && interference_[static_cast<size_t>(q) * bins + k];
}

}  // namespace qrx
