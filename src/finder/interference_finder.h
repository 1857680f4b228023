// Finds periodic interference in an averaged spectrum and chooses a Dot
// filter for each peak (peak_finder.h, dot_designer.h); the filters are
// given in the kHz of the engine's frequency scale, ready for the settings
// file. A look can also start from the filters of the look before: then
// filters whose interference is still there stay exactly as they were, and
// the list changes only when interference appeared, moved outside its
// notch, or went away.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "filter/filter_list.h"
#include "finder/dot_designer.h"
#include "finder/peak_finder.h"

namespace qrx {

class MagnitudeAverage;

struct FinderLimits {
  PeakLimits peaks;
  DesignLimits design;
  // Most filters (strongest peaks first).
  int32_t maxFilters = 16;
};

struct FoundFilter {
  FilterSpec spec;           // kHz, dB
  int32_t column = 0;        // centre in the spectrum: column 0 is zero horizontal frequency
  int32_t row = 0;           // row Rows()/2 is zero vertical frequency
  double heightDb = 0.0;     // the peak above its background when found
  double amplitude = 0.0;    // the pattern's amplitude, luma levels
  double predictedDb = 0.0;  // interference removed, by the design's model
  bool twin = false;         // the column-0 mirror of the filter before it
};

// A peak with its filters, followed from look to look.
struct TrackedPeak {
  Peak peak;                          // as last seen
  DotShape shape;                     // its Dot (and the twin's)
  double energyLeft = 0.0;            // what the Dot leaves of the pattern where designed (amplitude 1)
  std::vector<FoundFilter> filters;   // the Dot, and its twin
  int32_t misses = 0;                 // looks in a row without it
  double lastK = 0.0, lastQ = 0.0;    // where it was seen last, cells (column, row)
  double speedK = 0.0, speedQ = 0.0;  // how far it moves per look, cells (smoothed)
};

class InterferenceFinder {
 public:
  // The spectrum's engine gives sizes, window and scale; the finder keeps a
  // reference to the spectrum.
  explicit InterferenceFinder(const MagnitudeAverage& spectrum);
  ~InterferenceFinder();
  InterferenceFinder(const InterferenceFinder&) = delete;
  InterferenceFinder& operator=(const InterferenceFinder&) = delete;

  bool IsUsable() const;

  // A look from nothing: the filters for the spectrum as it is now,
  // strongest peaks first; none before the first frame.
  std::vector<FoundFilter> Find(const FinderLimits& limits = FinderLimits());

  // A look that starts from the peaks followed so far. A followed peak
  // stays, with its filters unchanged, while a peak of the new average lies
  // where its Dot still removes the least removal, or while it still stands
  // out somewhat (a lower bar than for new peaks, so that a peak near the
  // bar does not come and go); it goes when a peak lies near it but outside
  // its notch (it moved), or after looksToDrop looks without it, a look
  // whose newest frame lies far below the average there counting as one
  // without it (the average lags behind interference that went away). New
  // peaks that are not fading so get new filters. A peak that moves is
  // judged where it will be by the look after next (the average lags behind
  // it), and its new Dot is designed to hold until then. True when the list
  // of filters changed.
  bool Update(const FinderLimits& limits, int32_t looksToDrop, std::vector<TrackedPeak>* tracked);

 private:
  bool Follows(const TrackedPeak& t, const Peak& p, const FinderLimits& limits) const;
  bool Stands(const TrackedPeak& t, const FinderLimits& limits) const;
  // The newest frame's level around a cell (the most of its 3 x 3), dB.
  double NewestLevelDb(int32_t q, int32_t k) const;
  bool Fading(const Peak& p) const;
  bool Covered(const std::vector<TrackedPeak>& tracked, int32_t q, int32_t k) const;
  bool HasTwin(const Peak& p) const;
  FoundFilter Make(int32_t q, int32_t k, const Peak& p, const DotDesign& d, bool twin) const;

  const MagnitudeAverage& spectrum_;
  // Peaks that got no Dot at earlier looks (the picture's own): not
  // designed for again while they stay as they were.
  std::vector<Peak> refused_;
  std::unique_ptr<WindowAxis> rows_, columns_;
  std::unique_ptr<PeakFinder> peaks_;
  std::unique_ptr<DotDesigner> designer_;
};

// Flattens the followed peaks' filters into one list, in order.
std::vector<FoundFilter> FiltersOf(const std::vector<TrackedPeak>& tracked);
FilterList ToFilterList(const std::vector<FoundFilter>& filters);

// The filters for a spectrum: InterferenceFinder(spectrum).Find(limits).
std::vector<FoundFilter> FindInterference(const MagnitudeAverage& spectrum,
                                          const FinderLimits& limits = FinderLimits());

}  // namespace qrx
