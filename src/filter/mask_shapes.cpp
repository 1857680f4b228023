// The mask shapes and their composition into one normalised mask.
//
// Every shape computes, per cell, a pass value D (0: full effect, 1: none)
// and multiplies the cell by w = m + D (1 - m), m = 10^(S/20). The arithmetic
// is double precision; each product is stored back as a float, so that the
// order of the filters changes the mask only by float rounding.
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "filter/mask_builder.h"
#include "transform/fft_engine.h"

namespace qrx {

namespace {

double StrengthFactor(int32_t S) { return std::pow(10.0, (double)S * 0.05); }

// |v| for the conversions, which take int32: |INT32_MIN| saturates.
int32_t Magnitude(int32_t v) {
  if (v == INT32_MIN) return INT32_MAX;
  return v < 0 ? -v : v;
}

}  // namespace

void MaskBuilder::MultiplyCell(int32_t index, double m, double D) {
  float* cell = tables_[1 - published_] + index;
  *cell = (float)((double)*cell * (m + D * (1.0 - m)));
}

// An elliptical notch centred on (Fx, Fy), half-widths Wx/2 and Wy/2.
void MaskBuilder::ApplyDot(int32_t Fx, int32_t Fy, int32_t Wx, int32_t Wy, int32_t O,
                           int32_t S) {
  if (!usable_ || S == 0) return;
  const int32_t a = engine_->WidthToColumns(Wx / 2);
  const int32_t b = engine_->WidthToRows(Wy / 2);
  if (a == 0 || b == 0) return;
  const double x0 = engine_->FreqToColumn(Fx);
  const double y0 = engine_->FreqToRow(Fy);
  const double m = StrengthFactor(S);
  for (int32_t q = 0; q < rows_; ++q) {
    const double dy = (double)q - y0;
    for (int32_t k = 0; k < bins_; ++k) MultiplyCell(q * pitch_ + k, m, DotPass((double)k - x0, dy, a, b, O));
  }
}

// A band of horizontal frequencies around Fx, the same on every row.
void MaskBuilder::ApplyWin1D(int32_t Fx, int32_t Wx, int32_t O, int32_t S) {
  if (!usable_ || S == 0) return;
  const double c0 = engine_->FreqToColumn(Fx);
  const double W = engine_->WidthToColumns(Wx);
  const double m = StrengthFactor(S);
  const double order2 = 2.0 * (double)O;
  for (int32_t k = 0; k < bins_; ++k) {
    const double t = (double)k * (double)k - c0 * c0;
    const double D = t == 0.0 ? 0.0 : 1.0 / (1.0 + std::pow((double)k * W / t, order2));
    for (int32_t q = 0; q < rows_; ++q) MultiplyCell(q * pitch_ + k, m, D);
  }
}

// An elliptical ring around the zero frequency: radii Fx and |Fy|, widths Wx
// and Wy.
void MaskBuilder::ApplyWin2D(int32_t Fx, int32_t Fy, int32_t Wx, int32_t Wy, int32_t O,
                             int32_t S) {
  if (!usable_ || S == 0) return;
  const int32_t Rx = engine_->WidthToColumns(Fx);
  const int32_t Ry = engine_->WidthToRows(Magnitude(Fy));
  if (Rx == 0 || Ry == 0) return;
  const int32_t Wc = engine_->WidthToColumns(Wx);
  const int32_t Wr = engine_->WidthToRows(Wy);
  if (Wc == 0 || Wr == 0) return;
  const double radiusRatio = (double)Ry / (double)Rx;
  const double widthRatio = (double)Wr / (double)Wc;
  const double e1 = 1.0 - radiusRatio * radiusRatio;
  const double e2 = 1.0 - widthRatio * widthRatio;
  const double m = StrengthFactor(S);
  const double order2 = 2.0 * (double)O;
  const int32_t half = rows_ / 2;
  for (int32_t q = 0; q < rows_; ++q) {
    const double v = (double)(q - half);
    for (int32_t k = 0; k < bins_; ++k) {
      const double d2 = v * v + (double)k * (double)k;
      double D = 1.0;  // the zero-frequency element keeps its weight
      if (d2 != 0.0) {
        const double d = std::sqrt(d2);
        const double c2 = (double)k * (double)k / d2;
        const double R = (double)Ry / std::sqrt(1.0 - e1 * c2);
        const double t = d2 - R * R;
        if (t == 0.0) {
          D = 0.0;
        } else {
          const double Wd = (double)Wr / std::sqrt(1.0 - e2 * c2);
          D = 1.0 / (1.0 + std::pow(d * Wd / t, order2));
        }
      }
      MultiplyCell(q * pitch_ + k, m, D);
    }
  }
}

float MaskBuilder::Rebuild(const FilterList& list) {
  if (!usable_) return 1.0f;
  float* table = BuildTable();
  const int32_t total = rows_ * pitch_;
  for (int32_t i = 0; i < total; ++i) table[i] = 1.0f;

  for (int32_t i = 0; i < list.Count(); ++i) {
    const FilterSpec& f = list[i];
    if (f.En == 0) continue;
    switch (f.T) {
      case kShapeDot: ApplyDot(f.Fx, f.Fy, f.Wx, f.Wy, f.O, f.S); break;
      case kShapeWin1D: ApplyWin1D(f.Fx, f.Wx, f.O, f.S); break;
      case kShapeWin2D: ApplyWin2D(f.Fx, f.Fy, f.Wx, f.Wy, f.O, f.S); break;
      default: break;
    }
  }

  // Normalise so that the zero-frequency element keeps its value. When its
  // weight has underflowed to 0 (several strong filters on it) the gain
  // would be infinite: the mask is then left unnormalised.
  const float dc = table[total / 2];
  float g = (float)(1.0 / (double)dc);
  if (dc == 0.0f || !std::isfinite(g)) g = 1.0f;
  for (int32_t i = 0; i < total; ++i) {
    float w = g == 1.0f ? table[i] : table[i] * g;
    if (!std::isfinite(w)) w = 0.0f;  // no NaN or infinity reaches the picture
    table[i] = w;
  }
  return g;
}

}  // namespace qrx
