// Test streams for the finder: a picture that is neither flat nor noise,
// gratings at chosen spectrum positions, and the measure of what a filter
// removed, as the evaluation measures it.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "filter/filter_list.h"
#include "platform/math_constants.h"
#include "plugin/frame_pipeline.h"

namespace qrx {
namespace test {

#ifdef QRX_SMALL_TESTS
constexpr int32_t kWidth = 360, kHeight = 288, kFftLine = 256;
#else
constexpr int32_t kWidth = 720, kHeight = 576, kFftLine = 512;
#endif
constexpr double kTestPi = qrx::kPi;

// amplitude * cos(2 pi (column * x / width + row * y / rowsM) + phase):
// column in bins of the line (cycles across the picture), row in bins of
// the column transform (cycles per rowsM lines), so that the pattern's peak
// lies at column `column` and `row` rows above the middle row.
struct Grating {
  double column, row, amplitude, phase;
};

// The column transform's length for the test size.
inline int32_t RowsM() {
  int32_t m = 1;
  while (m < kHeight) m *= 2;
  return m;
}

// Smooth shading with a few soft blobs and a gentle texture, moved `shift`
// pixels to the right.
inline std::vector<double> Picture(int32_t shift = 0) {
  std::vector<double> luma(static_cast<size_t>(kWidth) * kHeight);
  for (int32_t y = 0; y < kHeight; ++y)
    for (int32_t x = 0; x < kWidth; ++x) {
      const double u = static_cast<double>(x - shift) / kWidth, v = static_cast<double>(y) / kHeight;
      double value = 100.0 + 50.0 * u + 30.0 * v * v;
      value += 25.0 * std::exp(-((u - 0.3) * (u - 0.3) + (v - 0.4) * (v - 0.4)) * 40.0);
      value -= 20.0 * std::exp(-((u - 0.7) * (u - 0.7) + (v - 0.7) * (v - 0.7)) * 60.0);
      value += 3.0 * std::sin(2.0 * kTestPi * (3.1 * u + 1.7 * v));
      luma[static_cast<size_t>(y) * kWidth + x] = value;
    }
  return luma;
}

inline void AddGrating(std::vector<double>* luma, const Grating& g) {
  const double m = RowsM();
  for (int32_t y = 0; y < kHeight; ++y)
    for (int32_t x = 0; x < kWidth; ++x)
      (*luma)[static_cast<size_t>(y) * kWidth + x] +=
          g.amplitude * std::cos(2.0 * kTestPi * (g.column * x / kWidth + g.row * y / m) + g.phase);
}

// The working layout: luma rounded and clamped in the even bytes, a steady
// chroma in the odd ones.
inline std::vector<uint8_t> Frame(const std::vector<double>& luma) {
  std::vector<uint8_t> frame(luma.size() * 2);
  for (size_t i = 0; i < luma.size(); ++i) {
    frame[2 * i] = static_cast<uint8_t>(std::lround(std::fmin(255.0, std::fmax(0.0, luma[i]))));
    frame[2 * i + 1] = static_cast<uint8_t>(i % 2 ? 140 : 110);
  }
  return frame;
}

// The grating's amplitude in (a - b)'s luma: least squares on cos and sin.
inline double AmplitudeIn(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, const Grating& g) {
  double cc = 0, ss = 0, cs = 0, cy = 0, sy = 0;
  const double m = RowsM();
  for (int32_t y = 0; y < kHeight; ++y)
    for (int32_t x = 0; x < kWidth; ++x) {
      const size_t i = static_cast<size_t>(y) * kWidth + x;
      const double phase = 2.0 * kTestPi * (g.column * x / kWidth + g.row * y / m);
      const double c = std::cos(phase), s = std::sin(phase);
      const double d = static_cast<double>(a[2 * i]) - b[2 * i];
      cc += c * c;
      ss += s * s;
      cs += c * s;
      cy += c * d;
      sy += s * d;
    }
  const double det = cc * ss - cs * cs;
  return std::hypot((cy * ss - sy * cs) / det, (sy * cc - cy * cs) / det);
}

// A frame through the filter's own pipeline with the list, as the plug-in
// filters it.
inline std::vector<uint8_t> Filtered(const std::vector<uint8_t>& frame, const FilterList& list) {
  FramePipeline pipeline;
  std::vector<uint8_t> out = frame;
  if (!pipeline.Create(FrameFormatRecord{kWidth, kHeight, 0, 0}, kFftLine)) return {};
  pipeline.SetFilters(list);
  if (!pipeline.WaitForMask(10000)) return {};
  pipeline.Analyse(out.data(), list, true);
  pipeline.Synthesise(out.data(), 0);
  return out;
}

}  // namespace test
}  // namespace qrx
