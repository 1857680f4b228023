#include "finder/dot_designer.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "filter/mask_builder.h"
#include "platform/math_constants.h"
#include "transform/fft_engine.h"

namespace qrx {

namespace {

constexpr int32_t kLayoutReal2D = 2;
constexpr int32_t kHammingWindow = 1;
// The weight a filter leaves on the zero-frequency element: a filter
// reaching it would change the brightness of the whole picture.
constexpr double kDcKeep = 0.995;
// The widest Dot tried, in main lobes.
constexpr double kMaxScale = 8.0;
// The sampled picture loss: the smallest sampled transform, and the columns
// a notch's cells must keep from column 0 and from the last column. Along a
// line the inverse window's square has almost nothing beyond a few cells
// from zero frequency, so there the part of the loss at twice the pattern's
// frequency (which sampling would fold) is nothing to lose.
constexpr int32_t kSampledRows = 256, kSampledColumns = 128;
constexpr int32_t kSampledGuard = 8;

}  // namespace

// The cells around a peak that its Dots can reach: +-spanK columns and
// +-spanQ rows around each centre (the peak's cell, and the twin's on the
// mirror row at column 0).
struct DotDesigner::Region {
  int32_t spanK = 0, spanQ = 0;
  std::vector<std::pair<int32_t, int32_t>> centres;  // (row, column)
  size_t Cells() const { return static_cast<size_t>(2 * spanK + 1) * (2 * spanQ + 1); }
};

DotDesigner::DotDesigner(const FftEngine& engine, const WindowAxis& rows, const WindowAxis& columns, bool sampled)
    : engine_(engine), rows_(rows), columns_(columns) {
  work_ = std::make_unique<FftEngine>(engine.L(), engine.H(), engine.N(), engine.M(), kLayoutReal2D, 1);
  if (!work_->IsUsable()) return;
  work_->RunOnCallingThread(true);  // the designer's own thread does its inverses
  work_->BuildWindow(kHammingWindow);
  work_->BuildInverseWindow(kHammingWindow);
  if (!sampled || work_->InverseWindow() == nullptr) return;
  const int32_t stepRows = std::max(1, work_->M() / kSampledRows);
  const int32_t stepColumns = std::max(1, work_->N() / kSampledColumns);
  sampled_ = std::make_unique<SampledInverse>(*work_, stepRows, stepColumns);
  if (!sampled_->IsUsable()) {
    sampled_.reset();
    return;
  }
  const int32_t L = work_->L();
  for (int32_t i = 0; i < sampled_->Rows(); ++i)
    for (int32_t j = 0; j < sampled_->Columns(); ++j)
      inverseSamples_.push_back(work_->InverseWindow()[static_cast<size_t>(i * stepRows) * L + j * stepColumns]);
}

DotDesigner::~DotDesigner() = default;

bool DotDesigner::IsUsable() const {
  return work_ && work_->IsUsable() && work_->Window() != nullptr && work_->InverseWindow() != nullptr;
}

double DotDesigner::PatternRemovalDb(int32_t k, double fracQ, double fracK, bool twin, const DotShape& dot,
                                     double* energyLeft) const {
  const int32_t spanK = static_cast<int32_t>(std::ceil(2.5 * kMaxScale * rows_.HalfWidth()));
  const int32_t spanQ = static_cast<int32_t>(std::ceil(2.5 * kMaxScale * columns_.HalfWidth()));
  const NotchModel model(rows_, columns_, fracK, fracQ, spanK, spanQ, k, twin);
  std::vector<double> removed;
  model.Removed(dot, &removed);
  if (energyLeft != nullptr) *energyLeft = model.EnergyLeft(removed);
  return -20.0 * std::log10(std::max(std::fabs(model.AmplitudeLeft(removed)), 1e-12));
}

// The pattern behind a peak, as the frame holds it: a cos + b sin at the
// peak's frequency (least squares over the main lobe, against the engine's
// transform of the windowed pattern); *coefficient = a - ib, its complex
// amplitude. Leaves the frame's spectrum less the pattern, the picture's
// own, in picture over the region (other peaks' lobes left out: taking them
// is no loss). Returns the amplitude.
double DotDesigner::FitPattern(const Peak& p, bool twin, const Region& region,
                               const std::vector<std::complex<float>>& frame, const PeakFinder& peaks,
                               std::complex<double>* coefficient, std::vector<std::complex<double>>* picture) {
  const int32_t N = engine_.N(), M = engine_.M(), H = engine_.H(), L = engine_.L(), pitch = work_->Pitch();
  const int32_t bins = engine_.Bins(), half = engine_.Rows() / 2;
  const double fx = p.k + p.fracK, fy = -(p.q - half + p.fracQ);
  const int32_t spanK = region.spanK, spanQ = region.spanQ;
  auto cellOf = [&](size_t plane, int32_t dq, int32_t dk, int32_t* q, int32_t* k) {
    *q = region.centres[plane].first + dq;
    *k = region.centres[plane].second + dk;
    return *q >= 0 && *q < M && *k >= 0 && *k < bins;
  };
  // cos and sin of the pattern's phase along each axis; the phase of a
  // pixel is the sum of the two.
  std::vector<double> cx(static_cast<size_t>(L)), sx(static_cast<size_t>(L)), cy(static_cast<size_t>(H)),
      sy(static_cast<size_t>(H));
  for (int32_t n = 0; n < L; ++n) {
    cx[static_cast<size_t>(n)] = std::cos(2.0 * kPi * fx * n / N);
    sx[static_cast<size_t>(n)] = std::sin(2.0 * kPi * fx * n / N);
  }
  for (int32_t m = 0; m < H; ++m) {
    cy[static_cast<size_t>(m)] = std::cos(2.0 * kPi * fy * m / M);
    sy[static_cast<size_t>(m)] = std::sin(2.0 * kPi * fy * m / M);
  }
  std::vector<std::complex<double>> shapes[2];
  const size_t cells = region.Cells();
  for (int part = 0; part < 2; ++part) {
    float* rows = work_->Spectrum();
    std::fill(rows, rows + static_cast<size_t>(M) * pitch * 2, 0.0f);
    for (int32_t m = 0; m < H; ++m) {
      const float* w = work_->Window() + static_cast<size_t>(m) * L;
      float* out = rows + static_cast<size_t>(m) * pitch * 2;
      const double c = cy[static_cast<size_t>(m)], s = sy[static_cast<size_t>(m)];
      for (int32_t n = 0; n < L; ++n) {
        // cos(x + y) and sin(x + y).
        const double v = part == 0 ? cx[static_cast<size_t>(n)] * c - sx[static_cast<size_t>(n)] * s
                                   : sx[static_cast<size_t>(n)] * c + cx[static_cast<size_t>(n)] * s;
        out[n] = static_cast<float>(w[n] * v);
      }
    }
    work_->Transform(+1);
    shapes[part].assign(cells * region.centres.size(), 0.0);
    for (size_t plane = 0, i = 0; plane < region.centres.size(); ++plane)
      for (int32_t dq = -spanQ; dq <= spanQ; ++dq)
        for (int32_t dk = -spanK; dk <= spanK; ++dk, ++i) {
          int32_t q, k;
          if (!cellOf(plane, dq, dk, &q, &k)) continue;
          const float* cell = rows + (static_cast<size_t>(q) * pitch + k) * 2;
          shapes[part][i] = {cell[0], cell[1]};
        }
  }
  // Normal equations over the main lobe.
  double cc = 0, cs = 0, ss = 0, cyv = 0, syv = 0;
  const int32_t rk = static_cast<int32_t>(std::ceil(peaks.LobeK())),
                rq = static_cast<int32_t>(std::ceil(peaks.LobeQ()));
  for (int32_t dq = -rq; dq <= rq; ++dq)
    for (int32_t dk = -rk; dk <= rk; ++dk) {
      int32_t q, k;
      if (!cellOf(0, dq, dk, &q, &k)) continue;
      const size_t i = static_cast<size_t>(dq + spanQ) * (2 * spanK + 1) + (dk + spanK);
      const std::complex<double> c = shapes[0][i], sn = shapes[1][i];
      const std::complex<double> y = frame[static_cast<size_t>(q) * bins + k];
      cc += std::norm(c);
      ss += std::norm(sn);
      cs += (std::conj(c) * sn).real();
      cyv += (std::conj(c) * y).real();
      syv += (std::conj(sn) * y).real();
    }
  const double det = cc * ss - cs * cs;
  const double a = det != 0.0 ? (cyv * ss - syv * cs) / det : 0.0;
  const double b = det != 0.0 ? (syv * cc - cyv * cs) / det : 0.0;
  *coefficient = {a, -b};
  picture->assign(cells * region.centres.size(), 0.0);
  for (size_t plane = 0, i = 0; plane < region.centres.size(); ++plane)
    for (int32_t dq = -spanQ; dq <= spanQ; ++dq)
      for (int32_t dk = -spanK; dk <= spanK; ++dk, ++i) {
        int32_t q, k;
        if (!cellOf(plane, dq, dk, &q, &k)) continue;
        const bool own = plane == 0 && std::abs(dq) <= rq && std::abs(dk) <= rk;
        if (peaks.IsInterference(q, k) && !own) continue;
        (*picture)[i] =
            std::complex<double>(frame[static_cast<size_t>(q) * bins + k]) - (a * shapes[0][i] + b * shapes[1][i]);
      }
  (void)twin;
  return std::hypot(a, b);
}

// What a notch (removed = 1 - w over the region) takes from the picture
// itself: the picture's spectrum over the notch, transformed back and
// divided by the window as the filter does. The window's small edge weights
// make this much more than the energy taken from the spectrum, above all
// for narrow notches next to strong picture content. Also its projection on
// the pattern's frequency (carrier: e^(-i phase) per line and per row),
// where a measurement sees it as interference left.
DotDesigner::Loss DotDesigner::PictureLoss(const Region& region, const std::vector<std::complex<double>>& picture,
                                           const std::vector<double>& removed,
                                           const std::vector<std::complex<double>>& carrier) {
  const int32_t M = engine_.M(), H = engine_.H(), L = engine_.L(), pitch = work_->Pitch(), bins = engine_.Bins();
  float* rows = work_->Spectrum();
  std::fill(rows, rows + static_cast<size_t>(M) * pitch * 2, 0.0f);
  bool any = false;
  for (size_t plane = 0, i = 0; plane < region.centres.size(); ++plane)
    for (int32_t dq = -region.spanQ, j = 0; dq <= region.spanQ; ++dq)
      for (int32_t dk = -region.spanK; dk <= region.spanK; ++dk, ++i, ++j) {
        const int32_t q = region.centres[plane].first + dq, k = region.centres[plane].second + dk;
        const double u = removed[static_cast<size_t>(j)];
        if (u < 1e-7 || q < 0 || q >= M || k < 0 || k >= bins) continue;
        float* cell = rows + (static_cast<size_t>(q) * pitch + k) * 2;
        cell[0] += static_cast<float>(u * picture[i].real());
        cell[1] += static_cast<float>(u * picture[i].imag());
        any = true;
      }
  if (!any) return Loss{0.0, 0.0};
  work_->Transform(-1);
  double sum = 0.0;
  std::complex<double> projection = 0.0;
  for (int32_t m = 0; m < H; ++m) {
    const float* row = rows + static_cast<size_t>(m) * pitch * 2;
    const float* inverse = work_->InverseWindow() + static_cast<size_t>(m) * L;
    std::complex<double> line = 0.0;
    for (int32_t n = 0; n < L; ++n) {
      const double v = row[n] * inverse[n];
      sum += v * v;
      line += v * carrier[static_cast<size_t>(n)];
    }
    projection += line * carrier[static_cast<size_t>(L + m)];
  }
  const double count = static_cast<double>(H) * L;
  return Loss{sum / count, 2.0 * projection / count};
}

// The sampled loss holds for one notch (no twin) whose cells fit the
// sampled transform and keep their distance from columns 0 and N/2.
bool DotDesigner::CanSample(const Region& region) const {
  if (!sampled_ || region.centres.size() != 1) return false;
  const int32_t k = region.centres[0].second, N = work_->N();
  return 2 * region.spanK + 1 <= N / sampled_->StepColumns() &&
         2 * region.spanQ + 1 <= work_->M() / sampled_->StepRows() && k - region.spanK >= kSampledGuard &&
         N / 2 - k - region.spanK >= kSampledGuard;
}

// What each cell of the region gives at the pattern's frequency: the full
// inverse turns a cell (row q, column k) into Re(c e^(2 pi i (q - M/2) m / M)
// e^(-2 pi i k n / N)) / (M N), c its value times (-1)^q (twice that inside
// the half spectrum); the inverse window is a product of a factor per line
// and one per column, so the projection of the two waves of that real part
// is a product of a sum down the lines and one along them.
void DotDesigner::Project(const Region& region, const std::vector<std::complex<double>>& carrier,
                          Projection* out) const {
  const int32_t M = engine_.M(), N = engine_.N(), H = engine_.H(), L = engine_.L();
  const float* iw = work_->InverseWindow();
  const int32_t m0 = H / 2, n0 = L / 2;
  const double middle = iw[static_cast<size_t>(m0) * L + n0];
  const int32_t q0 = region.centres[0].first, k0 = region.centres[0].second;
  for (int side = 0; side < 2; ++side) {
    const double sign = side == 0 ? 1.0 : -1.0;
    out->rows[side].assign(static_cast<size_t>(2 * region.spanQ + 1), 0.0);
    out->columns[side].assign(static_cast<size_t>(2 * region.spanK + 1), 0.0);
    for (int32_t dq = -region.spanQ; dq <= region.spanQ; ++dq) {
      const std::complex<double> step = std::polar(1.0, sign * 2.0 * kPi * (q0 + dq - M / 2) / M);
      std::complex<double> wave = 1.0, sum = 0.0;
      for (int32_t m = 0; m < H; ++m, wave *= step)
        sum += wave * static_cast<double>(iw[static_cast<size_t>(m) * L + n0]) * carrier[static_cast<size_t>(L + m)];
      out->rows[side][static_cast<size_t>(dq + region.spanQ)] = sum;
    }
    for (int32_t dk = -region.spanK; dk <= region.spanK; ++dk) {
      const std::complex<double> step = std::polar(1.0, -sign * 2.0 * kPi * (k0 + dk) / N);
      std::complex<double> wave = 1.0, sum = 0.0;
      for (int32_t n = 0; n < L; ++n, wave *= step)
        sum += wave * (iw[static_cast<size_t>(m0) * L + n] / middle) * carrier[static_cast<size_t>(n)];
      out->columns[side][static_cast<size_t>(dk + region.spanK)] = sum;
    }
  }
}

// PictureLoss on the sampled pixels: the notch's share of the picture is
// the real part of z, the sum of its cells' waves (the imaginary part: the
// same cells turned a quarter); its mean square is half that of |z| (the
// rest, at twice the pattern's frequency, is nothing after the inverse
// window, see kSampledGuard). Its projection on the pattern's frequency is
// summed cell by cell (Project).
DotDesigner::Loss DotDesigner::SampledPictureLoss(const Region& region,
                                                  const std::vector<std::complex<double>>& picture,
                                                  const std::vector<double>& removed, const Projection& projection) {
  const int32_t M = engine_.M(), N = engine_.N(), bins = engine_.Bins();
  const int32_t q0 = region.centres[0].first, k0 = region.centres[0].second;
  bool any = false;
  std::complex<double> atPattern = 0.0;
  sampled_->Clear();
  const int32_t width = 2 * region.spanK + 1;
  rowValues_.resize(static_cast<size_t>(width));
  for (int32_t dq = -region.spanQ, i = 0; dq <= region.spanQ; ++dq) {
    const int32_t q = q0 + dq;
    bool rowUsed = false;
    for (int32_t dk = -region.spanK; dk <= region.spanK; ++dk, ++i) {
      const int32_t k = k0 + dk;
      std::complex<double>& value = rowValues_[static_cast<size_t>(dk + region.spanK)];
      value = 0.0;
      const double u = removed[static_cast<size_t>(i)];
      if (u < 1e-7 || q < 0 || q >= M || k < 0 || k >= bins) continue;
      value = u * picture[static_cast<size_t>(i)];
      rowUsed = true;
      // Columns 0 and N/2 never come here (kSampledGuard).
      const std::complex<double> c = (q & 1) ? -2.0 * value : 2.0 * value;
      const size_t r = static_cast<size_t>(dq + region.spanQ), col = static_cast<size_t>(dk + region.spanK);
      atPattern += c * projection.rows[0][r] * projection.columns[0][col] +
                   std::conj(c) * projection.rows[1][r] * projection.columns[1][col];
    }
    if (!rowUsed) continue;
    // Cells left out above are zeros here: adding them changes nothing.
    sampled_->AddRow(q, k0 - region.spanK, width, rowValues_.data());
    any = true;
  }
  if (!any) return Loss{0.0, 0.0};
  const std::vector<float>* imaginary = nullptr;
  const std::vector<float>& real = sampled_->Run(&imaginary);
  const int32_t rows = sampled_->Rows(), columns = sampled_->Columns();
  double sum = 0.0;
  for (size_t i = 0, count = static_cast<size_t>(rows) * columns; i < count; ++i) {
    const double w = inverseSamples_[i];
    const double re = real[i] * w, im = (*imaginary)[i] * w;
    sum += re * re + im * im;
  }
  const double cells = static_cast<double>(engine_.H()) * engine_.L();
  // Each wave pair is half of c's (the real part), the inverse divides by
  // M N, and the projection is twice the mean, as in PictureLoss.
  return Loss{0.5 * sum / (static_cast<double>(rows) * columns), atPattern / (static_cast<double>(M) * N * cells)};
}

double DotDesigner::DcWeight(const Peak& p, const DotShape& d) const {
  const double m = std::pow(10.0, d.strength / 20.0);
  const double D = DotPass(-p.k, engine_.Rows() / 2 - p.q, d.a, d.b, d.order);
  return m + D * (1.0 - m);
}

DotDesign DotDesigner::Design(const Peak& p, bool twin, const std::vector<std::complex<float>>& frame,
                              const PeakFinder& peaks, const DesignLimits& limits, double aheadK, double aheadQ) {
  if (!IsUsable()) return DotDesign();
  // Deep enough to take the peak's centre below its background.
  const int32_t strength = -static_cast<int32_t>(std::lround(std::clamp(p.heightDb + 6.0, 30.0, 60.0)));
  const double lobeK = rows_.HalfWidth(), lobeQ = columns_.HalfWidth();
  Region region;
  region.spanK = static_cast<int32_t>(std::ceil(2.5 * kMaxScale * lobeK));
  region.spanQ = static_cast<int32_t>(std::ceil(2.5 * kMaxScale * lobeQ));
  region.centres.emplace_back(p.q, p.k);
  if (twin) region.centres.emplace_back(engine_.Rows() - p.q, 0);

  const NotchModel model(rows_, columns_, p.fracK, p.fracQ, region.spanK, region.spanQ, p.k, twin);
  const bool moving = aheadK != 0.0 || aheadQ != 0.0;
  std::unique_ptr<NotchModel> ahead;
  if (moving)
    ahead = std::make_unique<NotchModel>(rows_, columns_, p.fracK + aheadK, p.fracQ + aheadQ, region.spanK,
                                         region.spanQ, p.k, twin);
  std::vector<std::complex<double>> picture;
  std::complex<double> coefficient;
  const double amplitude = FitPattern(p, twin, region, frame, peaks, &coefficient, &picture);
  // e^(-i phase) along a line, then down the frame.
  const int32_t L = engine_.L(), H = engine_.H();
  const double fx = p.k + p.fracK, fy = -(p.q - engine_.Rows() / 2 + p.fracQ);
  std::vector<std::complex<double>> carrier(static_cast<size_t>(L + H));
  for (int32_t n = 0; n < L; ++n) carrier[static_cast<size_t>(n)] = std::polar(1.0, -2.0 * kPi * fx * n / engine_.N());
  for (int32_t m = 0; m < H; ++m)
    carrier[static_cast<size_t>(L + m)] = std::polar(1.0, -2.0 * kPi * fy * m / engine_.M());
  Projection projection;
  const bool sampled = CanSample(region);
  if (sampled) Project(region, carrier, &projection);
  // The pattern's mean square: a real pattern is two complex halves.
  const double pattern = 0.5 * amplitude * amplitude;

  std::vector<double> removed;
  double lastLoss = 0.0;
  // The pattern's part of a Dot's error: what its removed cells leave of the
  // pattern at its frequency (the worse of the two places for a moving one)
  // and over the picture (amplitude 1).
  struct PatternPart {
    double left = 0.0, energyLeft = 0.0;
  };
  // The amplitude left first: the energy left is the dearer half, and not
  // wanted for a Dot whose removal already loses.
  auto amplitudePart = [&](const DotShape& shape) {
    model.Removed(shape, &removed);
    PatternPart part;
    part.left = std::fabs(model.AmplitudeLeft(removed));
    if (moving) part.left = std::max(part.left, std::fabs(ahead->AmplitudeLeft(removed)));
    return part;
  };
  // The error a Dot leaves, from its pattern's part (removed holds its
  // cells), and its removal as a measurement at the pattern's frequency sees
  // it: the pattern left and the picture taken there.
  auto evaluate = [&](DotDesign* d, const PatternPart& part) {
    const Loss loss = sampled ? SampledPictureLoss(region, picture, removed, projection)
                              : PictureLoss(region, picture, removed, carrier);
    // The picture taken at the pattern's frequency changes from frame to
    // frame as the picture moves: added in power, not with this frame's
    // phase, which could cancel the pattern left by chance.
    const double taken = amplitude > 0.0 ? std::abs(loss.atPattern) / amplitude : 1.0;
    const double fraction = std::sqrt(part.left * part.left + taken * taken);
    d->removalDb = -20.0 * std::log10(std::max(fraction, 1e-12));
    d->patternEnergy = pattern;
    d->energyLeft = part.energyLeft;
    d->error = pattern * part.energyLeft + loss.meanSquare;
    lastLoss = loss.meanSquare;
    return d->error;
  };
  DotDesign chosen;
  double chosenError = pattern;
  int chosenTier = -1;
  auto tierOf = [&](double removalDb) {
    return removalDb >= limits.minRemovalDb ? 2 : removalDb >= limits.leastRemovalDb ? 1 : 0;
  };
  auto reachesDc = [&](const DotShape& shape) { return shape.a < 1 || shape.b < 1 || DcWeight(p, shape) < kDcKeep; };
  // Shapes judged already: the neighbour search comes back to them, and a
  // second look could not do better than the first.
  std::vector<std::array<int32_t, 3>> judged;
  auto consider = [&](const DotShape& shape) {
    const std::array<int32_t, 3> key = {shape.a, shape.b, shape.order};
    if (std::find(judged.begin(), judged.end(), key) != judged.end()) return false;
    judged.push_back(key);
    DotDesign d;
    d.shape = shape;
    // The pattern's part alone first: the picture's part only adds error and
    // takes removal, so a Dot that loses already is not worth the inverse
    // transform.
    if (reachesDc(shape)) return false;
    PatternPart part = amplitudePart(shape);
    const int bestTier = tierOf(-20.0 * std::log10(std::max(part.left, 1e-12)));
    if (bestTier < chosenTier) return false;
    part.energyLeft = model.EnergyLeft(removed);
    const double leastError = pattern * part.energyLeft;
    if (leastError >= pattern || (bestTier == chosenTier && leastError >= chosenError)) return false;
    const double error = evaluate(&d, part);
    const int tier = tierOf(d.removalDb);
    if (error >= pattern || tier < chosenTier || (tier == chosenTier && error >= chosenError)) return false;
    chosen = d;
    chosenError = error;
    chosenTier = tier;
    return true;
  };
  // When even a Dot of the main lobe's size takes more from the picture
  // than the pattern holds, the peak is the picture's own.
  DotDesign smallest;
  smallest.shape = DotShape{std::max(1, static_cast<int32_t>(std::lround(lobeK))),
                            std::max(1, static_cast<int32_t>(std::lround(lobeQ))), 2, strength};
  if (!reachesDc(smallest.shape)) {
    // Only its picture loss is wanted: the pattern's energy left is not.
    evaluate(&smallest, amplitudePart(smallest.shape));
    if (lastLoss >= pattern) return DotDesign();
  }
  // Ellipses of the main lobe's proportions, from its size up...
  for (int32_t order : {2, 3, 4, 6}) {
    int32_t lastA = 0, lastB = 0;
    for (double scale : {1.0, 1.25, 1.5, 2.0, 2.5, 3.0, 4.0, 5.0, 6.0, kMaxScale}) {
      const int32_t a = std::max(1, static_cast<int32_t>(std::lround(scale * lobeK)));
      const int32_t b = std::max(1, static_cast<int32_t>(std::lround(scale * lobeQ)));
      if (a == lastA && b == lastB) continue;
      lastA = a;
      lastB = b;
      consider(DotShape{a, b, order, strength});
    }
  }
  // ... then the best one's neighbours of other proportions.
  for (int round = 0; round < 4 && chosen.shape.order != 0; ++round) {
    const DotShape centre = chosen.shape;
    bool moved = false;
    for (int32_t da = -1; da <= 1; ++da)
      for (int32_t db = -2; db <= 2; ++db)
        if (da != 0 || db != 0) moved |= consider(DotShape{centre.a + da, centre.b + db, centre.order, strength});
    if (!moved) break;
  }
  return chosen;
}

}  // namespace qrx
