// The adaptive clip: Dot filters of strength 0 do not act through the mask
// but flatten, frame by frame, every spectrum peak inside their rectangle
// down to the mean magnitude of the rectangle's border.
#include <cmath>
#include <cstdint>

#include "filter/mask_builder.h"
#include "transform/fft_engine.h"

namespace qrx {

namespace {

struct Rect {
  int64_t x0, x1, y0, y1;
};

int64_t Clamp(int64_t v, int64_t limit) {
  if (v < 0) v = 0;
  if (v >= limit) v = limit - 1;
  return v;
}

double Magnitude(const float* element) {
  const double re = element[0], im = element[1];
  return std::sqrt(re * re + im * im);
}

// Sum and count of the magnitudes on the border: rows y0 and y1 over x0..x1,
// then columns x0 and x1 over the rows in between. A cell on two of these
// lines counts twice.
long double BorderMean(const float* spectrum, int32_t pitch, const Rect& r) {
  long double sum = 0.0L;
  int64_t count = 0;
  auto add = [&](int64_t q, int64_t k) {
    sum += (long double)Magnitude(spectrum + 2 * (q * pitch + k));
    ++count;
  };
  for (int64_t k = r.x0; k <= r.x1; ++k) add(r.y0, k);
  for (int64_t k = r.x0; k <= r.x1; ++k) add(r.y1, k);
  for (int64_t q = r.y0 + 1; q <= r.y1 - 1; ++q) add(q, r.x0);
  for (int64_t q = r.y0 + 1; q <= r.y1 - 1; ++q) add(q, r.x1);
  if (count == 0) return 0.0L;  // only with inverted rectangles: nothing to clip
  return sum / (long double)count;
}

void ClipRect(float* spectrum, int32_t pitch, const Rect& r) {
  const long double mean = BorderMean(spectrum, pitch, r);
  if (!(mean > 0.0L) || !std::isfinite((double)mean)) return;
  for (int64_t q = r.y0; q <= r.y1; ++q) {
    for (int64_t k = r.x0; k <= r.x1; ++k) {
      float* element = spectrum + 2 * (q * pitch + k);
      const double magnitude = Magnitude(element);
      if (!std::isfinite(magnitude) || !((long double)magnitude > mean)) continue;
      const long double scale = mean / (long double)magnitude;
      element[0] = (float)((long double)element[0] * scale);
      element[1] = (float)((long double)element[1] * scale);
    }
  }
}

}  // namespace

void AdaptiveClip(const FilterList& filters, FftEngine* engine) {
  if (engine == nullptr || !engine->IsUsable()) return;
  float* spectrum = engine->Spectrum();
  if (spectrum == nullptr) return;
  const int32_t bins = engine->Bins();
  const int32_t rows = engine->Rows();
  const int32_t pitch = engine->Pitch();
  for (int32_t i = 0; i < filters.Count(); ++i) {
    const FilterSpec& f = filters[i];
    if (f.En == 0 || f.T != kShapeDot || f.S != 0) continue;
    const int64_t c = engine->FreqToColumn(f.Fx);
    const int64_t r = engine->FreqToRow(f.Fy);
    const int64_t w = engine->WidthToColumns(f.Wx);
    const int64_t h = engine->WidthToRows(f.Wy);
    Rect rect;
    rect.x0 = c - w / 2;
    rect.x1 = rect.x0 + w;
    rect.y0 = r - h / 2;
    rect.y1 = rect.y0 + h;
    rect.x0 = Clamp(rect.x0, bins);
    rect.x1 = Clamp(rect.x1, bins);
    rect.y0 = Clamp(rect.y0, rows);
    rect.y1 = Clamp(rect.y1, rows);
    ClipRect(spectrum, pitch, rect);
  }
}

}  // namespace qrx
