#include "finder/interference_finder.h"

#include <algorithm>
#include <cmath>

#include "filter/mask_builder.h"
#include "finder/magnitude_average.h"
#include "transform/fft_engine.h"

namespace qrx {

namespace {

// The analysis window's side lobes stay 43 dB below its main lobe: a much
// weaker cell on a stronger peak's row or column is that peak's side lobe.
constexpr double kSideLobeDb = 30.0;
// A followed peak stays while it stands this much less above its
// background than a new peak must.
constexpr double kStayMarginDb = 6.0;
// A peak found within this many main lobes of a followed one that it does
// not follow means the followed one moved.
constexpr double kMovedLobes = 3.0;
// A peak whose cell in the newest frame lies this far below its level in
// the average is fading: the interference went away (or moved), and the
// average has not caught up yet.
constexpr double kFadedDb = 12.0;
// A followed peak may lose this much of its Dot's designed removal before
// it gets a new Dot.
constexpr double kFollowMarginDb = 4.0;
// ... or leave this many times the pattern's energy it left as designed.
constexpr double kEnergyGrowth = 2.0;
// A moving peak is judged this many looks ahead of where the average shows
// it: the next look, and the average's lag behind the newest frame.
constexpr double kLooksAhead = 3.0;
// A peak refused at an earlier look is refused again while its level stays
// within this of what it was.
constexpr double kRefusedSameDb = 3.0;
// Within this fraction of a bin of where it was designed, a peak on the same
// cell is followed without asking the model.
constexpr double kSamePlace = 0.15;

// kHz values that the engine converts back to exactly the wanted cells.
template <typename Convert>
int32_t KHzFor(int32_t wanted, double kHzPerCell, Convert convert) {
  int32_t f = static_cast<int32_t>(std::lround(wanted * kHzPerCell));
  for (int i = 0; i < 8 && convert(f) < wanted; ++i) ++f;
  for (int i = 0; i < 8 && convert(f) > wanted; ++i) --f;
  return f;
}

}  // namespace

InterferenceFinder::InterferenceFinder(const MagnitudeAverage& spectrum) : spectrum_(spectrum) {
  if (!spectrum.IsUsable()) return;
  const FftEngine& e = spectrum.Engine();
  rows_ = std::make_unique<WindowAxis>(WindowAxis::Rows(e));
  columns_ = std::make_unique<WindowAxis>(WindowAxis::Columns(e));
  peaks_ = std::make_unique<PeakFinder>(e, *rows_, *columns_);
  designer_ = std::make_unique<DotDesigner>(e, *rows_, *columns_);
}

InterferenceFinder::~InterferenceFinder() = default;

bool InterferenceFinder::IsUsable() const { return designer_ && designer_->IsUsable(); }

std::vector<FoundFilter> InterferenceFinder::Find(const FinderLimits& limits) {
  std::vector<TrackedPeak> tracked;
  Update(limits, 1, &tracked);
  return FiltersOf(tracked);
}

bool InterferenceFinder::HasTwin(const Peak& p) const {
  // Column 0 holds both vertical frequencies of a pattern with no (or
  // little) horizontal frequency: such a peak gets a second Dot of the same
  // shape on the mirror row.
  return p.k - peaks_->LobeK() - 0.5 < 0.0 && p.q > 0;
}

bool InterferenceFinder::Follows(const TrackedPeak& t, const Peak& p, const FinderLimits& limits) const {
  if (p.q == t.peak.q && p.k == t.peak.k && std::fabs(p.fracK - t.peak.fracK) < kSamePlace &&
      std::fabs(p.fracQ - t.peak.fracQ) < kSamePlace && std::fabs(t.speedK) < kSamePlace &&
      std::fabs(t.speedQ) < kSamePlace)
    return true;
  const FoundFilter& dot = t.filters.front();
  const double offK = p.k + p.fracK + kLooksAhead * t.speedK - dot.column;
  const double offQ = p.q + p.fracQ + kLooksAhead * t.speedQ - dot.row;
  if (std::fabs(offK) > 4.0 * t.shape.a || std::fabs(offQ) > 4.0 * t.shape.b) return false;
  // A moving peak gets its new Dot before it leaves the old one: followed
  // while the old Dot still removes what it should (or nearly what it
  // removed when designed, for a Dot that never reached that).
  const double wanted =
      std::max(limits.design.leastRemovalDb, std::min(limits.design.minRemovalDb, dot.predictedDb - kFollowMarginDb));
  const bool twin = t.filters.size() > 1;
  double energy = 0.0;
  if (designer_->PatternRemovalDb(dot.column, offQ, offK, twin, t.shape, &energy) < wanted) return false;
  // ... and leaves not much more of it over the picture (near the borders a
  // narrow Dot loses an off-centre pattern first).
  return energy <= kEnergyGrowth * t.energyLeft;
}

double InterferenceFinder::NewestLevelDb(int32_t q, int32_t k) const {
  const std::vector<std::complex<float>>& newest = spectrum_.Newest();
  const int32_t rows = spectrum_.Rows(), bins = spectrum_.Bins();
  float most = 0.0f;
  for (int32_t dq = -1; dq <= 1; ++dq)
    for (int32_t dk = -1; dk <= 1; ++dk) {
      int32_t qq = q + dq, kk = k + dk;
      if (kk < 0) {
        kk = -kk;
        qq = rows - qq;
      }
      if (qq < 0 || qq >= rows || kk >= bins) continue;
      most = std::max(most, std::abs(newest[static_cast<size_t>(qq) * bins + kk]));
    }
  return 20.0 * std::log10(most + 1e-9);
}

bool InterferenceFinder::Fading(const Peak& p) const { return NewestLevelDb(p.q, p.k) < p.level - kFadedDb; }

bool InterferenceFinder::Stands(const TrackedPeak& t, const FinderLimits& limits) const {
  const int32_t q = t.peak.q, k = t.peak.k;
  const double height = peaks_->LevelDb(q, k) - peaks_->BackgroundDb(q, k);
  const double magnitude = std::pow(10.0, peaks_->LevelDb(q, k) / 20.0);
  return height >= limits.peaks.minHeightDb - kStayMarginDb &&
         peaks_->Amplitude(magnitude, t.peak.fracQ, t.peak.fracK) >= 0.5 * limits.peaks.minAmplitude;
}

// True when a filter already made takes the cell down by 20 dB or more.
bool InterferenceFinder::Covered(const std::vector<TrackedPeak>& tracked, int32_t q, int32_t k) const {
  const FftEngine& e = spectrum_.Engine();
  for (const TrackedPeak& t : tracked)
    for (const FoundFilter& f : t.filters) {
      const int32_t a = e.WidthToColumns(f.spec.Wx / 2), b = e.WidthToRows(f.spec.Wy / 2);
      if (DotPass(k - f.column, q - f.row, a, b, f.spec.O) < 0.1) return true;
    }
  return false;
}

FoundFilter InterferenceFinder::Make(int32_t q, int32_t k, const Peak& p, const DotDesign& d, bool twin) const {
  const FftEngine& e = spectrum_.Engine();
  const int32_t half = e.Rows() / 2;
  const double perColumn = static_cast<double>(e.RowRateKHz()) / e.N();
  const double perRow = static_cast<double>(e.ColRateKHz()) / e.M();
  const int32_t fx = KHzFor(k, perColumn, [&](int32_t f) { return e.FreqToColumn(f); });
  const int32_t fy = KHzFor(q - half, perRow, [&](int32_t f) { return e.FreqToRow(f) - half; });
  const int32_t wx = 2 * KHzFor(d.shape.a, perColumn, [&](int32_t f) { return e.WidthToColumns(f); });
  const int32_t wy = 2 * KHzFor(d.shape.b, perRow, [&](int32_t f) { return e.WidthToRows(f); });
  FoundFilter f;
  f.spec = FilterSpec{1, fx, fy, wx, wy, d.shape.order, d.shape.strength, kShapeDot};
  f.column = k;
  f.row = q;
  f.heightDb = p.heightDb;
  f.amplitude = p.amplitude;
  f.predictedDb = d.removalDb;
  f.twin = twin;
  return f;
}

bool InterferenceFinder::Update(const FinderLimits& limits, int32_t looksToDrop, std::vector<TrackedPeak>* tracked) {
  if (!IsUsable() || spectrum_.Frames() == 0) {
    const bool had = !tracked->empty();
    tracked->clear();
    return had;
  }
  const std::vector<Peak> found = peaks_->Find(spectrum_.Mean(), limits.peaks);
  std::vector<bool> used(found.size(), false);
  bool changed = false;
  struct Motion {
    size_t peak;
    double speedK, speedQ;
  };
  std::vector<Motion> moved;
  const double lobeK = peaks_->LobeK(), lobeQ = peaks_->LobeQ();

  // The peaks followed so far: still there, moved, or gone.
  for (size_t t = 0; t < tracked->size();) {
    TrackedPeak& tp = (*tracked)[t];
    int32_t match = -1, near = -1;
    const bool fading = Fading(tp.peak);
    for (size_t i = 0; i < found.size() && match < 0 && !fading; ++i) {
      if (used[i]) continue;
      if (Follows(tp, found[i], limits)) {
        match = static_cast<int32_t>(i);
      } else if (near < 0 && std::abs(found[i].q - tp.peak.q) <= kMovedLobes * lobeQ &&
                 std::abs(found[i].k - tp.peak.k) <= kMovedLobes * lobeK) {
        near = static_cast<int32_t>(i);
      }
    }
    bool keep = true;
    if (match >= 0) {
      const Peak& p = found[static_cast<size_t>(match)];
      used[static_cast<size_t>(match)] = true;
      tp.peak.level = p.level;
      tp.misses = 0;
      tp.speedK = 0.5 * tp.speedK + 0.5 * (p.k + p.fracK - tp.lastK);
      tp.speedQ = 0.5 * tp.speedQ + 0.5 * (p.q + p.fracQ - tp.lastQ);
      tp.lastK = p.k + p.fracK;
      tp.lastQ = p.q + p.fracQ;
    } else if (near >= 0) {
      // It moved: the peak near it takes over, with its motion.
      const Peak& p = found[static_cast<size_t>(near)];
      moved.push_back(Motion{static_cast<size_t>(near), 0.5 * tp.speedK + 0.5 * (p.k + p.fracK - tp.lastK),
                             0.5 * tp.speedQ + 0.5 * (p.q + p.fracQ - tp.lastQ)});
      keep = false;
    } else if (!fading && Stands(tp, limits)) {
      tp.misses = 0;
    } else {
      keep = ++tp.misses < looksToDrop;
    }
    if (keep) {
      ++t;
    } else {
      tracked->erase(tracked->begin() + static_cast<std::ptrdiff_t>(t));
      changed = true;
    }
  }

  // New peaks, strongest first.
  auto count = [&]() {
    size_t n = 0;
    for (const TrackedPeak& t : *tracked) n += t.filters.size();
    return static_cast<int32_t>(n);
  };
  std::vector<Peak> rejected;
  for (size_t i = 0; i < found.size(); ++i) {
    if (used[i]) continue;
    if (count() >= limits.maxFilters) break;
    const Peak& p = found[i];
    if (Covered(*tracked, p.q, p.k) || Fading(p)) continue;
    // A weaker cell on the row or column band of a much stronger peak is
    // that peak's side lobe.
    const bool leakage = std::any_of(tracked->begin(), tracked->end(), [&](const TrackedPeak& t) {
      const bool sameRow = std::abs(t.peak.q - p.q) <= lobeQ, sameColumn = std::abs(t.peak.k - p.k) <= lobeK;
      return (sameRow || sameColumn) && p.level < t.peak.level - kSideLobeDb;
    });
    if (leakage) continue;
    // A column-0 peak and its mirror are one pattern: the second of them
    // goes the way of the first.
    const bool twin = HasTwin(p);
    const bool mirrorRejected = twin && std::any_of(rejected.begin(), rejected.end(), [&](const Peak& r) {
                                  return std::abs(r.q - (spectrum_.Rows() - p.q)) <= 1 && std::abs(r.k - p.k) <= 1;
                                });
    if (mirrorRejected) continue;
    const bool refusedBefore = std::any_of(refused_.begin(), refused_.end(), [&](const Peak& r) {
      return std::abs(r.q - p.q) <= 1 && std::abs(r.k - p.k) <= 1 && std::fabs(r.level - p.level) < kRefusedSameDb;
    });
    if (refusedBefore) {
      rejected.push_back(p);
      continue;
    }
    double speedK = 0.0, speedQ = 0.0;
    for (const Motion& m : moved)
      if (m.peak == i) {
        speedK = m.speedK;
        speedQ = m.speedQ;
      }
    const DotDesign d = designer_->Design(p, twin, spectrum_.Newest(), *peaks_, limits.design, kLooksAhead * speedK,
                                          kLooksAhead * speedQ);
    if (d.shape.order == 0) {
      rejected.push_back(p);
      continue;
    }
    TrackedPeak t;
    t.peak = p;
    t.lastK = p.k + p.fracK;
    t.lastQ = p.q + p.fracQ;
    t.speedK = speedK;
    t.speedQ = speedQ;
    t.shape = d.shape;
    t.energyLeft = d.energyLeft;
    t.filters.push_back(Make(p.q, p.k, p, d, false));
    if (twin) t.filters.push_back(Make(spectrum_.Rows() - p.q, 0, p, d, true));
    tracked->push_back(std::move(t));
    changed = true;
  }
  refused_ = std::move(rejected);
  return changed;
}

std::vector<FoundFilter> FiltersOf(const std::vector<TrackedPeak>& tracked) {
  std::vector<FoundFilter> out;
  for (const TrackedPeak& t : tracked) out.insert(out.end(), t.filters.begin(), t.filters.end());
  return out;
}

FilterList ToFilterList(const std::vector<FoundFilter>& filters) {
  FilterList list;
  for (const FoundFilter& f : filters) list.Append(f.spec);
  return list;
}

std::vector<FoundFilter> FindInterference(const MagnitudeAverage& spectrum, const FinderLimits& limits) {
  InterferenceFinder finder(spectrum);
  return finder.Find(limits);
}

}  // namespace qrx
