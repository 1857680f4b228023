#include "suggest.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>

#include "filter/mask_builder.h"
#include "magnitude_average.h"
#include "transform/fft_engine.h"

namespace qrxhost {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kMissing = -std::numeric_limits<double>::infinity();

// The averaged spectrum in dB, with the half that is not stored: a real
// picture's spectrum at (v, -k) is the conjugate of the one at (-v, k).
class LevelMap {
 public:
  LevelMap(const std::vector<double>& mean, int32_t rows, int32_t bins) : rows_(rows), bins_(bins), db_(mean.size()) {
    for (size_t i = 0; i < mean.size(); ++i) db_[i] = 20.0 * std::log10(mean[i] + 1e-9);
  }
  // kMissing outside the spectrum.
  double At(int32_t q, int32_t k) const {
    if (k < 0) {
      k = -k;
      q = rows_ - q;
    }
    if (q < 0 || q >= rows_ || k >= bins_) return kMissing;
    return db_[static_cast<size_t>(q) * bins_ + k];
  }
  int32_t Rows() const { return rows_; }
  int32_t Bins() const { return bins_; }

 private:
  int32_t rows_, bins_;
  std::vector<double> db_;
};

double Median(std::vector<double>* values) {
  if (values->empty()) return kMissing;
  const size_t mid = values->size() / 2;
  std::nth_element(values->begin(), values->begin() + mid, values->end());
  return (*values)[mid];
}

// One axis of the filter seen from the picture. A pattern at a frequency
// between bins reaches the spectrum through the analysis window; a mask
// changes the cells around it; the inverse transform and the inverse window
// take it back. How much of the pattern the output still holds at its own
// frequency (a least-squares fit, as the pattern's amplitude is measured) is
// a sum over the cells: sum of w(cell) * Weight(cell - frequency), with
// Weight(f) = W(f) conj(V(f)) / (length * taps), W and V the transforms of
// the window and of its inverse. The weights add up to 1 over a period, so
// a mask of ones keeps the whole pattern; for a symmetric window they are
// real. Away from the centre they fall off slowly: the window's small edge
// weights, divided out again, keep some of the pattern near the picture's
// borders unless the notch is wide enough.
class AxisModel {
 public:
  AxisModel(std::vector<double> window, int32_t transformLength)
      : window_(std::move(window)), length_(transformLength) {}
  // The window's transform at f bins: sum of w(i) e^(-2 pi i f i / length).
  std::complex<double> Transform(double f) const {
    std::complex<double> w = 0.0;
    const double step = -2.0 * kPi * f / length_;
    for (size_t i = 0; i < window_.size(); ++i) w += window_[i] * std::polar(1.0, step * static_cast<double>(i));
    return w;
  }
  double Weight(double f) const {
    std::complex<double> w = 0.0, v = 0.0;
    const double step = -2.0 * kPi * f / length_;
    for (size_t i = 0; i < window_.size(); ++i) {
      const std::complex<double> turn = std::polar(1.0, step * static_cast<double>(i));
      w += window_[i] * turn;
      v += turn / window_[i];
    }
    return (w * std::conj(v)).real() / (static_cast<double>(length_) * static_cast<double>(window_.size()));
  }
  // Half-width of the main lobe in bins: the first zero of the transform.
  double HalfWidth() const { return 2.0 * length_ / static_cast<double>(window_.size()); }
  const std::vector<double>& Window() const { return window_; }
  int32_t Length() const { return length_; }

 private:
  std::vector<double> window_;
  int32_t length_;
};

// What a notch leaves of a pattern in the output picture, as energy: the
// pattern's windowed spectrum, less the part the notch takes, transformed
// back and divided by the window, averaged over the picture (sampled every
// few pixels). The least-squares amplitude above only sees what is left at
// the pattern's own frequency; near the picture's borders, where the window
// is small, the notch leaves more, and a wider notch less.
class ResidualEnergy {
 public:
  // fk, fq: the pattern's position relative to the notch centre, in bins;
  // the region spans +-spanK columns and +-spanQ rows around the centre.
  ResidualEnergy(const AxisModel& rows, const AxisModel& cols, double fk, double fq, int32_t spanK, int32_t spanQ)
      : widthK_(2 * spanK + 1), widthQ_(2 * spanQ + 1) {
    const int32_t N = rows.Length(), M = cols.Length();
    for (size_t n = kStep / 2; n < rows.Window().size(); n += kStep) samplesN_.push_back(static_cast<int32_t>(n));
    for (size_t m = kStep / 2; m < cols.Window().size(); m += kStep) samplesM_.push_back(static_cast<int32_t>(m));
    const size_t nn = samplesN_.size(), nm = samplesM_.size();
    // Real and imaginary parts apart, so that the sums below vectorise.
    basisK_[0].resize(static_cast<size_t>(widthK_) * nn);
    basisK_[1].resize(static_cast<size_t>(widthK_) * nn);
    basisQ_[0].resize(nm * static_cast<size_t>(widthQ_));
    basisQ_[1].resize(nm * static_cast<size_t>(widthQ_));
    for (int32_t ik = 0; ik < widthK_; ++ik) {
      const std::complex<double> g = rows.Transform(ik - spanK - fk) / static_cast<double>(N);
      for (size_t j = 0; j < nn; ++j) {
        const std::complex<double> b = g * std::polar(1.0, 2.0 * kPi * (ik - spanK) * samplesN_[j] / N);
        basisK_[0][static_cast<size_t>(ik) * nn + j] = b.real();
        basisK_[1][static_cast<size_t>(ik) * nn + j] = b.imag();
      }
    }
    for (int32_t iq = 0; iq < widthQ_; ++iq) {
      const std::complex<double> g = cols.Transform(iq - spanQ - fq) / static_cast<double>(M);
      for (size_t i = 0; i < nm; ++i) {
        const std::complex<double> b = g * std::polar(1.0, 2.0 * kPi * (iq - spanQ) * samplesM_[i] / M);
        basisQ_[0][i * widthQ_ + iq] = b.real();
        basisQ_[1][i * widthQ_ + iq] = b.imag();
      }
    }
    for (size_t i = 0; i < nm; ++i)
      for (size_t j = 0; j < nn; ++j) {
        const double wr = rows.Window()[static_cast<size_t>(samplesN_[j])], ws = cols.Window()[static_cast<size_t>(samplesM_[i])];
        const std::complex<double> c = std::polar(1.0, 2.0 * kPi * (fk * samplesN_[j] / N + fq * samplesM_[i] / M));
        inverse_.push_back(1.0 / (wr * ws));
        carrier_[0].push_back(c.real());
        carrier_[1].push_back(c.imag());
      }
  }

  // removed: 1 - w over the region, row after row. The mean square of what
  // is left of a pattern of unit amplitude.
  double Left(const std::vector<double>& removed) const {
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
    const size_t rowsUsed = static_cast<size_t>(std::max(0, q1 - q0 + 1));
    // Along the lines: for each row of the region, the sum over its columns.
    std::vector<double> partial[2] = {std::vector<double>(rowsUsed * nn), std::vector<double>(rowsUsed * nn)};
    for (int32_t iq = q0; iq <= q1; ++iq) {
      double* pr = &partial[0][static_cast<size_t>(iq - q0) * nn];
      double* pi = &partial[1][static_cast<size_t>(iq - q0) * nn];
      for (int32_t ik = k0; ik <= k1; ++ik) {
        const double u = removed[static_cast<size_t>(iq) * widthK_ + ik];
        if (u == 0.0) continue;
        const double* br = &basisK_[0][static_cast<size_t>(ik) * nn];
        const double* bi = &basisK_[1][static_cast<size_t>(ik) * nn];
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
      for (int32_t iq = q0; iq <= q1; ++iq) {
        const double cr = basisQ_[0][i * widthQ_ + iq], ci = basisQ_[1][i * widthQ_ + iq];
        const double* pr = &partial[0][static_cast<size_t>(iq - q0) * nn];
        const double* pi = &partial[1][static_cast<size_t>(iq - q0) * nn];
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

 private:
  static constexpr size_t kStep = 8;
  int32_t widthK_, widthQ_;
  std::vector<int32_t> samplesN_, samplesM_;
  std::vector<double> basisK_[2], basisQ_[2], carrier_[2];  // real, imaginary
  std::vector<double> inverse_;
};

struct Peak {
  int32_t q, k;
  double level, heightDb;
  double fracK, fracQ;  // position of the true maximum relative to the cell, -0.5 .. 0.5
};

struct Design {
  int32_t a = 0, b = 0, order = 0, strength = 0;
  double removalDb = 0.0;  // least-squares amplitude at the pattern's frequency
};

class Suggester {
 public:
  Suggester(const SpectrumAverage& spectrum, const SuggestLimits& limits)
      : engine_(spectrum.Engine()),
        limits_(limits),
        map_(spectrum.Mean(), engine_.Rows(), engine_.Bins()),
        first_(spectrum.FirstSpectrum()),
        rowModel_(RowWeights(engine_), engine_.N()),
        colModel_(ColumnWeights(engine_), engine_.M()),
        work_(engine_.L(), engine_.H(), engine_.N(), 0, kLayoutReal2D) {
    lobeK_ = rowModel_.HalfWidth();
    lobeQ_ = colModel_.HalfWidth();
    work_.BuildWindow(kHammingWindow);
    work_.BuildInverseWindow(kHammingWindow);
  }

  bool IsUsable() const { return work_.IsUsable() && work_.Window() != nullptr && work_.InverseWindow() != nullptr; }

  std::vector<SuggestedFilter> Run() {
    std::vector<Peak> peaks = Candidates();
    MarkInterference(peaks);
    std::sort(peaks.begin(), peaks.end(), [](const Peak& x, const Peak& y) { return x.level > y.level; });
    std::vector<SuggestedFilter> out;
    std::vector<Peak> accepted, rejected;
    for (const Peak& p : peaks) {
      if (static_cast<int32_t>(out.size()) >= limits_.maxFilters) break;
      if (Covered(out, p.q, p.k) || IsLeakage(accepted, p)) continue;
      // A column-0 peak and its mirror are one pattern: the second of them
      // goes the way of the first.
      const bool mirrorRejected = std::any_of(rejected.begin(), rejected.end(), [&](const Peak& r) {
        return HasTwin(p) && std::abs(r.q - (engine_.Rows() - p.q)) <= 1 && std::abs(r.k - p.k) <= 1;
      });
      if (mirrorRejected) continue;
      const Design d = DesignFor(p);
      if (d.order == 0) {
        rejected.push_back(p);
        continue;
      }
      accepted.push_back(p);
      out.push_back(Make(p.q, p.k, p.heightDb, d, false));
      const std::vector<std::pair<int32_t, int32_t>> centres = Centres(p);
      if (centres.size() > 1 && !Covered(out, centres[1].first, centres[1].second))
        out.push_back(Make(centres[1].first, centres[1].second, p.heightDb, d, true));
    }
    return out;
  }

 private:
  // The weight a filter leaves on the zero-frequency element: a filter
  // reaching it would change the brightness of the whole picture.
  static constexpr double kDcKeep = 0.995;

  static std::vector<double> RowWeights(const qrx::FftEngine& e) {
    const float* w = e.Window();
    const int32_t mid = e.H() / 2;
    return std::vector<double>(w + static_cast<size_t>(mid) * e.L(), w + static_cast<size_t>(mid + 1) * e.L());
  }
  static std::vector<double> ColumnWeights(const qrx::FftEngine& e) {
    std::vector<double> s(static_cast<size_t>(e.H()));
    for (int32_t m = 0; m < e.H(); ++m) s[static_cast<size_t>(m)] = e.Window()[static_cast<size_t>(m) * e.L() + e.L() / 2];
    return s;
  }

  int32_t Half() const { return engine_.Rows() / 2; }

  // Local maxima over the main lobe's extent, away from zero frequency.
  std::vector<Peak> Candidates() const {
    std::vector<Peak> peaks;
    const int32_t rk = static_cast<int32_t>(std::floor(lobeK_)), rq = static_cast<int32_t>(std::floor(lobeQ_));
    const double zoneK = std::max(1, engine_.WidthToColumns(limits_.zeroZoneKHzX));
    const double zoneQ = std::max(1, engine_.WidthToRows(limits_.zeroZoneKHzY));
    // A pattern of amplitude A levels peaks at A/2 times the window's sum.
    const double minLevel = 20.0 * std::log10(0.5 * limits_.minAmplitude * engine_.WindowSum());
    for (int32_t q = 1; q + 1 < map_.Rows(); ++q) {
      for (int32_t k = 0; k + 1 < map_.Bins(); ++k) {
        const double v = (q - Half()) / zoneQ, h = k / zoneK;
        if (v * v + h * h < 1.0) continue;
        const double level = map_.At(q, k);
        if (level < minLevel) continue;
        bool isMax = true;
        for (int32_t dq = -rq; dq <= rq && isMax; ++dq)
          for (int32_t dk = -rk; dk <= rk && isMax; ++dk) {
            if (dq == 0 && dk == 0) continue;
            const double other = map_.At(q + dq, k + dk);
            // Ties go to the first cell in scan order.
            if (other > level || (other == level && (dq < 0 || (dq == 0 && dk < 0)))) isMax = false;
          }
        if (!isMax) continue;
        const double background = Background(q, k);
        const double height = level - background;
        if (height < limits_.minHeightDb) continue;
        peaks.push_back(Peak{q, k, level, height, Fraction(map_.At(q, k - 1), level, map_.At(q, k + 1)),
                             Fraction(map_.At(q - 1, k), level, map_.At(q + 1, k))});
      }
    }
    return peaks;
  }

  // The cells on the main lobes of the peaks found.
  void MarkInterference(const std::vector<Peak>& peaks) {
    interference_.assign(static_cast<size_t>(map_.Rows()) * map_.Bins(), false);
    const int32_t rk = static_cast<int32_t>(std::ceil(lobeK_)), rq = static_cast<int32_t>(std::ceil(lobeQ_));
    for (const Peak& p : peaks)
      for (int32_t dq = -rq; dq <= rq; ++dq)
        for (int32_t dk = -rk; dk <= rk; ++dk) {
          int32_t q = p.q + dq, k = p.k + dk;
          if (k < 0) {
            k = -k;
            q = map_.Rows() - q;
          }
          if (q >= 0 && q < map_.Rows() && k < map_.Bins()) interference_[static_cast<size_t>(q) * map_.Bins() + k] = true;
        }
  }
  bool IsInterference(int32_t q, int32_t k) const {
    if (k < 0) {
      k = -k;
      q = map_.Rows() - q;
    }
    return q >= 0 && q < map_.Rows() && k < map_.Bins() && interference_[static_cast<size_t>(q) * map_.Bins() + k];
  }

  // Offset of a parabola's vertex through three levels, -0.5 .. 0.5.
  static double Fraction(double left, double mid, double right) {
    if (left == kMissing || right == kMissing) return 0.0;
    const double curve = left - 2.0 * mid + right;
    if (curve >= 0.0) return 0.0;
    return std::clamp(0.5 * (left - right) / curve, -0.5, 0.5);
  }

  // The picture's own level around a cell: the highest of the medians over
  // a ring around the main lobe, along the cell's row, along its column and
  // along the line through zero frequency. Edges in a picture put ridges of
  // energy on lines through zero frequency (the axes above all), and a
  // strong peak puts its side lobes on its row and column; a cell on such a
  // ridge is measured against the ridge.
  double Background(int32_t q, int32_t k) const {
    const int32_t innerK = static_cast<int32_t>(std::ceil(2.0 * lobeK_)), innerQ = static_cast<int32_t>(std::ceil(2.0 * lobeQ_));
    const int32_t outerK = 3 * innerK, outerQ = 3 * innerQ;
    std::vector<double> ring, row, column, radial;
    auto take = [&](std::vector<double>* into, int32_t qq, int32_t kk) {
      const double level = map_.At(qq, kk);
      if (level != kMissing) into->push_back(level);
    };
    for (int32_t dq = -outerQ; dq <= outerQ; ++dq)
      for (int32_t dk = -outerK; dk <= outerK; ++dk)
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
    const double v = q - Half();
    const double length = std::hypot(v, static_cast<double>(k));
    for (int32_t s = 1; s <= 2 * outerQ; ++s) {
      for (int32_t sign : {-1, 1}) {
        const double dk = sign * s * k / length, dq = sign * s * v / length;
        const double e = (dk / innerK) * (dk / innerK) + (dq / innerQ) * (dq / innerQ);
        if (e <= 1.0) continue;
        take(&radial, q + static_cast<int32_t>(std::lround(dq)), k + static_cast<int32_t>(std::lround(dk)));
      }
    }
    return std::max({Median(&ring), Median(&row), Median(&column), Median(&radial)});
  }

  // A weaker cell on the row or column band of a much stronger accepted
  // peak is that peak's side lobe.
  bool IsLeakage(const std::vector<Peak>& accepted, const Peak& p) const {
    for (const Peak& a : accepted) {
      const bool sameRow = std::abs(a.q - p.q) <= lobeQ_, sameColumn = std::abs(a.k - p.k) <= lobeK_;
      if ((sameRow || sameColumn) && p.level < a.level - kSideLobeDb) return true;
    }
    return false;
  }
  // The analysis window's side lobes stay 43 dB below its main lobe.
  static constexpr double kSideLobeDb = 30.0;

  // True when a filter already made takes the cell down by 20 dB or more.
  bool Covered(const std::vector<SuggestedFilter>& made, int32_t q, int32_t k) const {
    for (const SuggestedFilter& f : made) {
      const int32_t a = engine_.WidthToColumns(f.spec.Wx / 2), b = engine_.WidthToRows(f.spec.Wy / 2);
      const double D = qrx::DotPass(k - f.column, q - f.row, a, b, f.spec.O);
      if (D < 0.1) return true;
    }
    return false;
  }

  double DcWeight(int32_t q, int32_t k, const Design& d) const {
    const double m = std::pow(10.0, d.strength / 20.0);
    const double D = qrx::DotPass(-k, Half() - q, d.a, d.b, d.order);
    return m + D * (1.0 - m);
  }

  // Column 0 holds both vertical frequencies of a pattern with no (or
  // little) horizontal frequency: such a peak gets a second Dot on the
  // mirror half, of the same shape.
  bool HasTwin(const Peak& p) const { return p.k - lobeK_ - 0.5 < 0.0 && p.q > 0; }
  // The centres of the Dots a peak gets: its own, and the twin's.
  std::vector<std::pair<int32_t, int32_t>> Centres(const Peak& p) const {
    std::vector<std::pair<int32_t, int32_t>> centres = {{p.q, p.k}};
    if (HasTwin(p)) centres.emplace_back(engine_.Rows() - p.q, 0);
    return centres;
  }

  // The pattern behind a peak, as the first frame holds it: a * cos +
  // b * sin at the peak's frequency (least squares over the main lobe,
  // against the engine's transform of the windowed pattern). Leaves the
  // first frame's spectrum less the pattern, the picture's own, in picture:
  // over the region around each of the peak's Dots, one after the other.
  double PatternAmplitude(const Peak& p, int32_t spanK, int32_t spanQ,
                          std::vector<std::complex<double>>* picture) const {
    const int32_t N = engine_.N(), M = engine_.M(), H = engine_.H(), L = engine_.L(), pitch = work_.Pitch();
    const double fx = p.k + p.fracK, fy = -(p.q - Half() + p.fracQ);
    const size_t cells = static_cast<size_t>(2 * spanK + 1) * (2 * spanQ + 1);
    const std::vector<std::pair<int32_t, int32_t>> centres = Centres(p);
    auto cellOf = [&](size_t plane, int32_t dq, int32_t dk, int32_t* q, int32_t* k) {
      *q = centres[plane].first + dq;
      *k = centres[plane].second + dk;
      return *q >= 0 && *q < M && *k >= 0 && *k < engine_.Bins();
    };
    std::vector<std::complex<double>> shapes[2];
    for (int part = 0; part < 2; ++part) {
      float* rows = work_.Spectrum();
      std::fill(rows, rows + static_cast<size_t>(M) * pitch * 2, 0.0f);
      for (int32_t m = 0; m < H; ++m)
        for (int32_t n = 0; n < L; ++n) {
          const double phase = 2.0 * kPi * (fx * n / N + fy * m / M);
          rows[static_cast<size_t>(m) * pitch * 2 + n] =
              static_cast<float>(work_.Window()[static_cast<size_t>(m) * L + n] * (part == 0 ? std::cos(phase) : std::sin(phase)));
        }
      work_.Transform(+1);
      shapes[part].assign(cells * centres.size(), 0.0);
      for (size_t plane = 0, i = 0; plane < centres.size(); ++plane)
        for (int32_t dq = -spanQ; dq <= spanQ; ++dq)
          for (int32_t dk = -spanK; dk <= spanK; ++dk, ++i) {
            int32_t q, k;
            if (!cellOf(plane, dq, dk, &q, &k)) continue;
            const float* cell = rows + (static_cast<size_t>(q) * pitch + k) * 2;
            shapes[part][i] = {cell[0], cell[1]};
          }
    }
    // Normal equations over the main lobe.
    double cc = 0, cs = 0, ss = 0, cy = 0, sy = 0;
    const int32_t rk = static_cast<int32_t>(std::ceil(lobeK_)), rq = static_cast<int32_t>(std::ceil(lobeQ_));
    for (int32_t dq = -rq; dq <= rq; ++dq)
      for (int32_t dk = -rk; dk <= rk; ++dk) {
        int32_t q, k;
        if (!cellOf(0, dq, dk, &q, &k)) continue;
        const size_t i = static_cast<size_t>(dq + spanQ) * (2 * spanK + 1) + (dk + spanK);
        const std::complex<double> c = shapes[0][i], sn = shapes[1][i];
        const std::complex<double> y = first_[static_cast<size_t>(q) * engine_.Bins() + k];
        cc += std::norm(c);
        ss += std::norm(sn);
        cs += (std::conj(c) * sn).real();
        cy += (std::conj(c) * y).real();
        sy += (std::conj(sn) * y).real();
      }
    const double det = cc * ss - cs * cs;
    const double a = det != 0.0 ? (cy * ss - sy * cs) / det : 0.0;
    const double b = det != 0.0 ? (sy * cc - cy * cs) / det : 0.0;
    picture->assign(cells * centres.size(), 0.0);
    for (size_t plane = 0, i = 0; plane < centres.size(); ++plane)
      for (int32_t dq = -spanQ; dq <= spanQ; ++dq)
        for (int32_t dk = -spanK; dk <= spanK; ++dk, ++i) {
          int32_t q, k;
          if (!cellOf(plane, dq, dk, &q, &k)) continue;
          // Other peaks' lobes are interference too: taking them is no loss.
          const bool own = plane == 0 && std::abs(dq) <= rq && std::abs(dk) <= rk;
          if (IsInterference(q, k) && !own) continue;
          (*picture)[i] = std::complex<double>(first_[static_cast<size_t>(q) * engine_.Bins() + k]) -
                          (a * shapes[0][i] + b * shapes[1][i]);
        }
    return std::hypot(a, b);
  }

  // What a notch (1 - w over the region) takes from the picture itself: the
  // picture's spectrum over the notch, transformed back and divided by the
  // window as the plug-in does. The window's small edge weights make this
  // much more than the energy taken from the spectrum, above all for narrow
  // notches next to strong picture content. Also how much of it lies at the
  // pattern's own frequency (carrier: cos and sin of the pattern's phase
  // over the picture), where it shows as interference left.
  struct Loss {
    double meanSquare;
    double atPattern;  // amplitude
  };
  Loss PictureLoss(const Peak& p, int32_t spanK, int32_t spanQ, const std::vector<std::complex<double>>& picture,
                   const std::vector<double>& removed, const std::vector<std::complex<double>>& carrier) const {
    const int32_t M = engine_.M(), H = engine_.H(), L = engine_.L(), pitch = work_.Pitch();
    float* rows = work_.Spectrum();
    std::fill(rows, rows + static_cast<size_t>(M) * pitch * 2, 0.0f);
    const std::vector<std::pair<int32_t, int32_t>> centres = Centres(p);
    for (size_t plane = 0, i = 0; plane < centres.size(); ++plane)
      for (int32_t dq = -spanQ, j = 0; dq <= spanQ; ++dq)
        for (int32_t dk = -spanK; dk <= spanK; ++dk, ++i, ++j) {
          const int32_t q = centres[plane].first + dq, k = centres[plane].second + dk;
          const double u = removed[static_cast<size_t>(j)];
          if (u < 1e-7 || q < 0 || q >= M || k < 0 || k >= engine_.Bins()) continue;
          float* cell = rows + (static_cast<size_t>(q) * pitch + k) * 2;
          cell[0] += static_cast<float>(u * picture[i].real());
          cell[1] += static_cast<float>(u * picture[i].imag());
        }
    work_.Transform(-1);
    double sum = 0.0;
    std::complex<double> projection = 0.0;
    for (int32_t m = 0, i = 0; m < H; ++m)
      for (int32_t n = 0; n < L; ++n, ++i) {
        const double v = rows[static_cast<size_t>(m) * pitch * 2 + n] * work_.InverseWindow()[static_cast<size_t>(i)];
        sum += v * v;
        projection += v * carrier[static_cast<size_t>(i)];
      }
    const double count = static_cast<double>(H) * L;
    return Loss{sum / count, 2.0 * std::abs(projection) / count};
  }

  // The Dot that leaves the least error in the output picture: the pattern
  // it leaves (ResidualEnergy) plus the picture it takes (PictureLoss),
  // among the Dots that take the pattern's amplitude down by the target
  // (least-squares model, for the worst position within a quarter bin of
  // the estimate) and leave zero frequency alone. Failing the target, the
  // Dot with the least error, if that is less than the pattern's own. The
  // strength grows with the peak's height.
  Design DesignFor(const Peak& p) const {
    // Deep enough to take the peak's centre below its background.
    const int32_t strength = -static_cast<int32_t>(std::lround(std::clamp(p.heightDb + 6.0, 30.0, 60.0)));
    const double target = limits_.minRemovalDb;
    const double m = std::pow(10.0, strength / 20.0);
    const double maxScale = 8.0;
    const int32_t spanK = static_cast<int32_t>(std::ceil(2.5 * maxScale * lobeK_));
    const int32_t spanQ = static_cast<int32_t>(std::ceil(2.5 * maxScale * lobeQ_));
    const int32_t widthK = 2 * spanK + 1, widthQ = 2 * spanQ + 1;
    // Least-squares weights along each axis for three positions.
    std::vector<std::vector<double>> weightsK, weightsQ;
    for (double shift : {-0.25, 0.0, 0.25}) {
      const double fk = std::clamp(p.fracK + shift, -0.5, 0.5), fq = std::clamp(p.fracQ + shift, -0.5, 0.5);
      std::vector<double> wk(static_cast<size_t>(widthK)), wq(static_cast<size_t>(widthQ));
      for (int32_t d = -spanK; d <= spanK; ++d) wk[static_cast<size_t>(d + spanK)] = rowModel_.Weight(d - fk);
      for (int32_t d = -spanQ; d <= spanQ; ++d) wq[static_cast<size_t>(d + spanQ)] = colModel_.Weight(d - fq);
      weightsK.push_back(std::move(wk));
      weightsQ.push_back(std::move(wq));
    }
    const ResidualEnergy residual(rowModel_, colModel_, p.fracK, p.fracQ, spanK, spanQ);
    std::vector<std::complex<double>> picture;
    const double amplitude = PatternAmplitude(p, spanK, spanQ, &picture);
    std::vector<std::complex<double>> carrier(static_cast<size_t>(engine_.H()) * engine_.L());
    for (int32_t m = 0, i = 0; m < engine_.H(); ++m)
      for (int32_t n = 0; n < engine_.L(); ++n, ++i)
        carrier[static_cast<size_t>(i)] = std::polar(1.0, -2.0 * kPi * ((p.k + p.fracK) * n / engine_.N() - (p.q - Half() + p.fracQ) * m / engine_.M()));
    // The pattern's mean square: a real pattern is two complex halves.
    const double pattern = 0.5 * amplitude * amplitude;

    std::vector<double> removed(static_cast<size_t>(widthK) * widthQ);  // 1 - w per cell
    // The error a Dot leaves (infinite when it reaches zero frequency), and
    // its removal as the measure would see it.
    double lastLoss = 0.0;
    auto evaluate = [&](Design* d) {
      if (d->a < 1 || d->b < 1 || DcWeight(p.q, p.k, *d) < kDcKeep) return std::numeric_limits<double>::infinity();
      // Beyond reach * radius the Dot takes less than a millionth.
      const double reach = std::pow(1e6, 0.5 / d->order) * std::max(d->a, d->b);
      const int32_t boxK = std::min(spanK, static_cast<int32_t>(std::ceil(reach)));
      const int32_t boxQ = std::min(spanQ, static_cast<int32_t>(std::ceil(reach)));
      std::fill(removed.begin(), removed.end(), 0.0);
      for (int32_t dq = -boxQ; dq <= boxQ; ++dq)
        for (int32_t dk = -boxK; dk <= boxK; ++dk)
          removed[static_cast<size_t>(dq + spanQ) * widthK + (dk + spanK)] =
              (1.0 - m) * (1.0 - qrx::DotPass(dk, dq, d->a, d->b, d->order));
      double left = 0.0;  // worst fraction of the pattern's amplitude left
      for (size_t j = 0; j < weightsK.size(); ++j) {
        double taken = 0.0;
        for (int32_t iq = 0, i = 0; iq < widthQ; ++iq) {
          double row = 0.0;
          for (int32_t ik = 0; ik < widthK; ++ik, ++i) row += removed[static_cast<size_t>(i)] * weightsK[j][static_cast<size_t>(ik)];
          taken += row * weightsQ[j][static_cast<size_t>(iq)];
        }
        left = std::max(left, std::fabs(1.0 - taken));
      }
      // What the measure sees at the pattern's frequency: the pattern left
      // and the picture taken there, at worst adding up.
      const Loss loss = PictureLoss(p, spanK, spanQ, picture, removed, carrier);
      left += amplitude > 0.0 ? loss.atPattern / amplitude : 0.0;
      d->removalDb = -20.0 * std::log10(std::max(left, 1e-12));
      lastLoss = loss.meanSquare;
      return pattern * residual.Left(removed) + loss.meanSquare;
    };
    // Reaching the target first, then at least the least removal that
    // counts, then the least error; nothing that leaves more than the
    // pattern itself.
    Design chosen;
    double chosenError = pattern;
    int chosenTier = -1;
    auto consider = [&](Design d) {
      const double error = evaluate(&d);
      const int tier = d.removalDb >= target ? 2 : d.removalDb >= limits_.leastRemovalDb ? 1 : 0;
      if (error >= pattern || tier < chosenTier || (tier == chosenTier && error >= chosenError)) return false;
      chosen = d;
      chosenError = error;
      chosenTier = tier;
      return true;
    };
    // When even a Dot of the main lobe's size takes more from the picture
    // than the pattern holds, the peak is the picture's own.
    Design smallest{std::max(1, static_cast<int32_t>(std::lround(lobeK_))),
                    std::max(1, static_cast<int32_t>(std::lround(lobeQ_))), 2, strength, 0.0};
    if (std::isfinite(evaluate(&smallest)) && lastLoss >= pattern) return Design();
    // Ellipses of the main lobe's proportions, from its size up...
    for (int32_t order : {2, 3, 4, 6}) {
      int32_t lastA = 0, lastB = 0;
      for (double scale : {1.0, 1.25, 1.5, 2.0, 2.5, 3.0, 4.0, 5.0, 6.0, maxScale}) {
        const int32_t a = std::max(1, static_cast<int32_t>(std::lround(scale * lobeK_)));
        const int32_t b = std::max(1, static_cast<int32_t>(std::lround(scale * lobeQ_)));
        if (a == lastA && b == lastB) continue;
        lastA = a;
        lastB = b;
        consider(Design{a, b, order, strength, 0.0});
      }
    }
    // ... then the best one's neighbours of other proportions.
    for (int round = 0; round < 4 && chosen.order != 0; ++round) {
      const Design centre = chosen;
      bool moved = false;
      for (int32_t da = -1; da <= 1; ++da)
        for (int32_t db = -2; db <= 2; ++db)
          if (da != 0 || db != 0) moved |= consider(Design{centre.a + da, centre.b + db, centre.order, strength, 0.0});
      if (!moved) break;
    }
    return chosen;
  }

  // kHz values that the engine converts back to exactly the wanted cells.
  template <typename Convert>
  static int32_t KHzFor(int32_t wanted, double kHzPerCell, Convert convert) {
    int32_t f = static_cast<int32_t>(std::lround(wanted * kHzPerCell));
    for (int i = 0; i < 8 && convert(f) < wanted; ++i) ++f;
    for (int i = 0; i < 8 && convert(f) > wanted; ++i) --f;
    return f;
  }

  SuggestedFilter Make(int32_t q, int32_t k, double height, const Design& d, bool twin) const {
    const double perColumn = static_cast<double>(engine_.RowRateKHz()) / engine_.N();
    const double perRow = static_cast<double>(engine_.ColRateKHz()) / engine_.M();
    const int32_t fx = KHzFor(k, perColumn, [&](int32_t f) { return engine_.FreqToColumn(f); });
    const int32_t fy = KHzFor(q - Half(), perRow, [&](int32_t f) { return engine_.FreqToRow(f) - Half(); });
    const int32_t wx = 2 * KHzFor(d.a, perColumn, [&](int32_t f) { return engine_.WidthToColumns(f); });
    const int32_t wy = 2 * KHzFor(d.b, perRow, [&](int32_t f) { return engine_.WidthToRows(f); });
    SuggestedFilter f;
    f.spec = qrx::FilterSpec{1, fx, fy, wx, wy, d.order, d.strength, qrx::kShapeDot};
    f.column = k;
    f.row = q;
    f.heightDb = height;
    f.predictedDb = d.removalDb;
    f.twin = twin;
    return f;
  }

  static constexpr int32_t kLayoutReal2D = 2;
  static constexpr int32_t kHammingWindow = 1;
  const qrx::FftEngine& engine_;
  SuggestLimits limits_;
  LevelMap map_;
  const std::vector<std::complex<float>>& first_;
  AxisModel rowModel_, colModel_;
  std::vector<bool> interference_;
  // A private engine of the same sizes, to take spectra back to pictures.
  mutable qrx::FftEngine work_;
  double lobeK_ = 2.0, lobeQ_ = 2.0;
};

}  // namespace

std::vector<SuggestedFilter> SuggestFilters(const SpectrumAverage& spectrum, const SuggestLimits& limits) {
  if (!spectrum.IsUsable() || spectrum.Frames() == 0) return {};
  Suggester suggester(spectrum, limits);
  if (!suggester.IsUsable()) return {};
  return suggester.Run();
}

qrx::FilterList ToFilterList(const std::vector<SuggestedFilter>& filters) {
  qrx::FilterList list;
  for (const SuggestedFilter& f : filters) list.Append(f.spec);
  return list;
}

}  // namespace qrxhost
