#include "finder/notch_model.h"

#include <algorithm>
#include <cmath>

#include "platform/math_constants.h"
#include "transform/fft_engine.h"

namespace qrx {

namespace {

// Offset's table: steps of 1/kOffsetSteps bin over -0.5 .. 0.5.
constexpr int32_t kOffsetSteps = 200;
// EnergyLeft samples the picture every kStep pixels each way.
constexpr size_t kStep = 16;

// DotPass with the order as a whole power (the same value to rounding,
// without pow): the model evaluates it for thousands of cells per Dot.
double Pass(double dx, double dy, int32_t a, int32_t b, int32_t order) {
  const double d2 = dx * dx + dy * dy;
  if (d2 == 0.0) return 0.0;
  const double ratio = static_cast<double>(b) / a;
  const double c2 = dx * dx / d2;
  const double r2 = static_cast<double>(b) * b / (1.0 - (1.0 - ratio * ratio) * c2);
  const double base = r2 / d2;
  double power = 1.0;
  for (int32_t i = 0; i < order; ++i) power *= base;
  return 1.0 / (1.0 + power);
}

}  // namespace

WindowAxis::WindowAxis(std::vector<double> window, int32_t transformLength)
    : window_(std::move(window)), length_(transformLength) {
  ratios_.resize(kOffsetSteps + 1);
  for (int32_t i = 0; i <= kOffsetSteps; ++i) {
    const double f = -0.5 + static_cast<double>(i) / kOffsetSteps;
    ratios_[static_cast<size_t>(i)] =
        (std::abs(Transform(1.0 - f)) - std::abs(Transform(-1.0 - f))) / std::abs(Transform(-f));
  }
}

// The window is separable: its middle row and middle column are the two
// axes' weights, each times a factor of the other axis that cancels in
// everything computed from them.
WindowAxis WindowAxis::Rows(const FftEngine& e) {
  const float* row = e.Window() + static_cast<size_t>(e.H() / 2) * e.L();
  return WindowAxis(std::vector<double>(row, row + e.L()), e.N());
}

WindowAxis WindowAxis::Columns(const FftEngine& e) {
  std::vector<double> weights(static_cast<size_t>(e.H()));
  for (int32_t m = 0; m < e.H(); ++m)
    weights[static_cast<size_t>(m)] = e.Window()[static_cast<size_t>(m) * e.L() + e.L() / 2];
  return WindowAxis(std::move(weights), e.M());
}

std::complex<double> WindowAxis::Transform(double f) const {
  // e^(-2 pi i f i / length) by repeated multiplication: exact enough over
  // a few thousand steps in double precision, and no sine per sample.
  const std::complex<double> step = std::polar(1.0, -2.0 * kPi * f / length_);
  std::complex<double> turn = 1.0, w = 0.0;
  for (size_t i = 0; i < window_.size(); ++i, turn *= step) w += window_[i] * turn;
  return w;
}

// Weight(f) = W(f) conj(V(f)) / (length * taps), W and V the transforms of
// the window and of its inverse: the pattern's spectrum through one cell,
// back through the inverse transform and the inverse window, fitted against
// the pattern.
double WindowAxis::Weight(double f) const {
  const std::complex<double> step = std::polar(1.0, -2.0 * kPi * f / length_);
  std::complex<double> turn = 1.0, w = 0.0, v = 0.0;
  for (size_t i = 0; i < window_.size(); ++i, turn *= step) {
    w += window_[i] * turn;
    v += turn / window_[i];
  }
  return (w * std::conj(v)).real() / (static_cast<double>(length_) * static_cast<double>(window_.size()));
}

double WindowAxis::Offset(double left, double mid, double right) const {
  if (!(mid > 0.0) || left > mid || right > mid || left < 0.0 || right < 0.0) return 0.0;
  const double r = (right - left) / mid;
  // The table rises with the offset; interpolate within it.
  if (r <= ratios_.front()) return -0.5;
  if (r >= ratios_.back()) return 0.5;
  const auto upper = std::upper_bound(ratios_.begin(), ratios_.end(), r);
  const size_t i = static_cast<size_t>(upper - ratios_.begin());
  const double r0 = ratios_[i - 1], r1 = ratios_[i];
  const double t = r1 > r0 ? (r - r0) / (r1 - r0) : 0.0;
  return -0.5 + (static_cast<double>(i - 1) + t) / kOffsetSteps;
}

NotchModel::NotchModel(const WindowAxis& rows, const WindowAxis& cols, double offK, double offQ, int32_t spanK,
                       int32_t spanQ, int32_t centreK, bool twin)
    : rows_(rows),
      columns_(cols),
      offK_(offK),
      offQ_(offQ),
      spanK_(spanK),
      spanQ_(spanQ),
      widthK_(2 * spanK + 1),
      widthQ_(2 * spanQ + 1),
      centreK_(centreK),
      twin_(twin) {
  weightK_.resize(static_cast<size_t>(widthK_));
  weightQ_.resize(static_cast<size_t>(widthQ_));
  for (int32_t d = -spanK; d <= spanK; ++d) weightK_[static_cast<size_t>(d + spanK)] = rows.Weight(d - offK);
  for (int32_t d = -spanQ; d <= spanQ; ++d) weightQ_[static_cast<size_t>(d + spanQ)] = cols.Weight(d - offQ);
}

// EnergyLeft's tables, made on its first call (following a peak needs only
// the weights).
void NotchModel::PrepareEnergy() const {
  const WindowAxis& rows = rows_;
  const WindowAxis& cols = columns_;
  const double offK = offK_, offQ = offQ_;
  const int32_t spanK = spanK_, spanQ = spanQ_;
  const int32_t N = rows.Length(), M = cols.Length();
  for (size_t n = kStep / 2; n < rows.Window().size(); n += kStep) samplesN_.push_back(static_cast<int32_t>(n));
  for (size_t m = kStep / 2; m < cols.Window().size(); m += kStep) samplesM_.push_back(static_cast<int32_t>(m));
  const size_t nn = samplesN_.size(), nm = samplesM_.size();
  // Real and imaginary parts apart, so that the sums in EnergyLeft vectorise.
  basisK_[0].resize(static_cast<size_t>(widthK_) * nn);
  basisK_[1].resize(static_cast<size_t>(widthK_) * nn);
  basisQ_[0].resize(nm * static_cast<size_t>(widthQ_));
  basisQ_[1].resize(nm * static_cast<size_t>(widthQ_));
  for (int32_t ik = 0; ik < widthK_; ++ik) {
    const std::complex<double> g = rows.Transform(ik - spanK - offK) / static_cast<double>(N);
    for (size_t j = 0; j < nn; ++j) {
      const std::complex<double> b = g * std::polar(1.0, 2.0 * kPi * (ik - spanK) * samplesN_[j] / N);
      basisK_[0][static_cast<size_t>(ik) * nn + j] = b.real();
      basisK_[1][static_cast<size_t>(ik) * nn + j] = b.imag();
    }
  }
  for (int32_t iq = 0; iq < widthQ_; ++iq) {
    const std::complex<double> g = cols.Transform(iq - spanQ - offQ) / static_cast<double>(M);
    for (size_t i = 0; i < nm; ++i) {
      const std::complex<double> b = g * std::polar(1.0, 2.0 * kPi * (iq - spanQ) * samplesM_[i] / M);
      basisQ_[0][i * widthQ_ + iq] = b.real();
      basisQ_[1][i * widthQ_ + iq] = b.imag();
    }
  }
  for (int part = 0; part < 2; ++part) {
    foldedK_[part].assign(static_cast<size_t>(spanK + 1) * nn, 0.0);
    for (int32_t d = 0; d <= spanK; ++d)
      for (size_t j = 0; j < nn; ++j) {
        double sum = basisK_[part][static_cast<size_t>(spanK + d) * nn + j];
        if (d > 0) sum += basisK_[part][static_cast<size_t>(spanK - d) * nn + j];
        foldedK_[part][static_cast<size_t>(d) * nn + j] = sum;
      }
    foldedQ_[part].assign(nm * static_cast<size_t>(spanQ + 1), 0.0);
    for (size_t i = 0; i < nm; ++i)
      for (int32_t d = 0; d <= spanQ; ++d) {
        double sum = basisQ_[part][i * widthQ_ + spanQ + d];
        if (d > 0) sum += basisQ_[part][i * widthQ_ + spanQ - d];
        foldedQ_[part][i * (spanQ + 1) + d] = sum;
      }
  }
  for (size_t i = 0; i < nm; ++i)
    for (size_t j = 0; j < nn; ++j) {
      const double wr = rows.Window()[static_cast<size_t>(samplesN_[j])];
      const double ws = cols.Window()[static_cast<size_t>(samplesM_[i])];
      const std::complex<double> c = std::polar(1.0, 2.0 * kPi * (offK * samplesN_[j] / N + offQ * samplesM_[i] / M));
      inverse_.push_back(1.0 / (wr * ws));
      carrier_[0].push_back(c.real());
      carrier_[1].push_back(c.imag());
    }
  energyReady_ = true;
}

void NotchModel::Removed(const DotShape& d, std::vector<double>* removed) const {
  removed->assign(static_cast<size_t>(widthK_) * widthQ_, 0.0);
  if (d.order == 0 || d.a < 1 || d.b < 1) return;
  const double m = std::pow(10.0, d.strength / 20.0);
  // Beyond reach times the larger half-width a Dot takes less than a
  // ten-thousandth.
  const double reach = std::pow(1e4, 0.5 / d.order) * std::max(d.a, d.b);
  const int32_t boxK = std::min(spanK_, static_cast<int32_t>(std::ceil(reach)));
  const int32_t boxQ = std::min(spanQ_, static_cast<int32_t>(std::ceil(reach)));
  // Pass depends on the squares of the distances: one quadrant serves all
  // four (and the twin's cells, at their distance from column 0).
  std::vector<double>& quadrant = quadrant_;
  quadrant.resize(static_cast<size_t>(boxQ + 1) * (boxK + 1));
  for (int32_t dq = 0; dq <= boxQ; ++dq)
    for (int32_t dk = 0; dk <= boxK; ++dk)
      quadrant[static_cast<size_t>(dq) * (boxK + 1) + dk] = (1.0 - m) * (1.0 - Pass(dk, dq, d.a, d.b, d.order));
  for (int32_t dq = -boxQ; dq <= boxQ; ++dq) {
    const double* row = &quadrant[static_cast<size_t>(std::abs(dq)) * (boxK + 1)];
    double* out = &(*removed)[static_cast<size_t>(dq + spanQ_) * widthK_];
    for (int32_t dk = -spanK_; dk <= spanK_; ++dk) {
      const int32_t column = centreK_ + dk;
      // The mirror half: the twin Dot, centred on column 0.
      const int32_t from = column >= 0 ? std::abs(dk) : twin_ ? -column : boxK + 1;
      if (from <= boxK) out[dk + spanK_] = row[from];
    }
  }
}

double NotchModel::AmplitudeLeft(const std::vector<double>& removed) const {
  double taken = 0.0;
  for (int32_t iq = 0, i = 0; iq < widthQ_; ++iq) {
    double row = 0.0;
    for (int32_t ik = 0; ik < widthK_; ++ik, ++i)
      row += removed[static_cast<size_t>(i)] * weightK_[static_cast<size_t>(ik)];
    taken += row * weightQ_[static_cast<size_t>(iq)];
  }
  return 1.0 - taken;
}

double NotchModel::RemovalDb(const DotShape& dot) const {
  std::vector<double> removed;
  Removed(dot, &removed);
  return -20.0 * std::log10(std::max(std::fabs(AmplitudeLeft(removed)), 1e-12));
}

double NotchModel::EnergyLeft(const std::vector<double>& removed) const {
  if (!energyReady_) PrepareEnergy();
  // Only the rows and columns where the notch does anything.
  int32_t q0 = widthQ_, q1 = -1, k0 = widthK_, k1 = -1;
  for (int32_t iq = 0; iq < widthQ_; ++iq)
    for (int32_t ik = 0; ik < widthK_; ++ik)
      if (removed[static_cast<size_t>(iq) * widthK_ + ik] > 1e-6) {
        q0 = std::min(q0, iq);
        q1 = std::max(q1, iq);
        k0 = std::min(k0, ik);
        k1 = std::max(k1, ik);
      }
  const size_t nn = samplesN_.size(), nm = samplesM_.size();
  // A Dot takes the same either side of its centre along both axes (Pass
  // depends on the squares of the distances) unless the region holds
  // mirrored columns: then each pair of cells works through the sum of
  // their bases, a quarter of the work.
  const bool folded = centreK_ - spanK_ >= 0 && q0 + q1 == widthQ_ - 1 && k0 + k1 == widthK_ - 1;
  const std::vector<double>* basisK = folded ? foldedK_ : basisK_;
  const std::vector<double>* basisQ = folded ? foldedQ_ : basisQ_;
  const int32_t firstQ = folded ? spanQ_ : q0, firstK = folded ? spanK_ : k0;
  const int32_t baseK = folded ? spanK_ : 0, strideQ = folded ? spanQ_ + 1 : widthQ_, baseQ = folded ? spanQ_ : 0;
  if (q1 < firstQ) q1 = firstQ - 1;
  const size_t rowsUsed = static_cast<size_t>(std::max(0, q1 - firstQ + 1));
  // Along the lines: for each row of the region, the sum over its columns.
  std::vector<double> partial[2] = {std::vector<double>(rowsUsed * nn), std::vector<double>(rowsUsed * nn)};
  for (int32_t iq = firstQ; iq <= q1; ++iq) {
    double* pr = &partial[0][static_cast<size_t>(iq - firstQ) * nn];
    double* pi = &partial[1][static_cast<size_t>(iq - firstQ) * nn];
    for (int32_t ik = firstK; ik <= k1; ++ik) {
      const double u = removed[static_cast<size_t>(iq) * widthK_ + ik];
      if (u == 0.0) continue;
      const double* br = &basisK[0][static_cast<size_t>(ik - baseK) * nn];
      const double* bi = &basisK[1][static_cast<size_t>(ik - baseK) * nn];
      for (size_t j = 0; j < nn; ++j) {
        pr[j] += u * br[j];
        pi[j] += u * bi[j];
      }
    }
  }
  // Down the columns, and what is left at each sample.
  std::vector<double> tr(nn), ti(nn);
  double sum = 0.0;
  for (size_t i = 0; i < nm; ++i) {
    std::fill(tr.begin(), tr.end(), 0.0);
    std::fill(ti.begin(), ti.end(), 0.0);
    for (int32_t iq = firstQ; iq <= q1; ++iq) {
      const size_t b = i * strideQ + (iq - baseQ);
      const double cr = basisQ[0][b], ci = basisQ[1][b];
      const double* pr = &partial[0][static_cast<size_t>(iq - firstQ) * nn];
      const double* pi = &partial[1][static_cast<size_t>(iq - firstQ) * nn];
      for (size_t j = 0; j < nn; ++j) {
        tr[j] += cr * pr[j] - ci * pi[j];
        ti[j] += cr * pi[j] + ci * pr[j];
      }
    }
    const double* inv = &inverse_[i * nn];
    const double* car = &carrier_[0][i * nn];
    const double* cai = &carrier_[1][i * nn];
    for (size_t j = 0; j < nn; ++j) {
      const double re = car[j] - tr[j] * inv[j], im = cai[j] - ti[j] * inv[j];
      sum += re * re + im * im;
    }
  }
  return sum / static_cast<double>(nn * nm);
}

}  // namespace qrx
