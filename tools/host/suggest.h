// Finds periodic interference in an averaged magnitude spectrum and designs
// a Dot filter for each peak: the peaks that stand far above their local
// background, away from zero frequency. The filters are given in the kHz of
// the engine's frequency scale, ready for the settings file.
#pragma once

#include <cstdint>
#include <vector>

#include "filter/filter_list.h"

namespace qrxhost {

class SpectrumAverage;

struct SuggestedFilter {
  qrx::FilterSpec spec;
  int32_t column;      // centre in the spectrum: column 0 is zero horizontal frequency
  int32_t row;         // row M/2 is zero vertical frequency
  double heightDb;     // peak above its local background
  double predictedDb;  // interference removed, by the design's model of the peak
  bool twin;           // the column-0 mirror of another filter's peak
};

struct SuggestLimits {
  // A peak must stand this far above the highest of its background
  // estimates to count as interference.
  double minHeightDb = 16.0;
  // ... and have at least this amplitude in luma levels: the quantisation
  // of a strong pattern leaves faint harmonics that need no filter.
  double minAmplitude = 1.0;
  // Nothing is looked for inside this ellipse around zero frequency (half
  // axes in kHz): there the picture's own energy is strong, and a notch
  // would take picture structure with the interference.
  int32_t zeroZoneKHzX = 230;
  int32_t zeroZoneKHzY = 230;
  // What a filter should take off the pattern's amplitude at its own
  // frequency, and the least that counts as removed: filters are chosen
  // for the least error in the picture among those that reach the first,
  // failing that the second.
  double minRemovalDb = 26.0;
  double leastRemovalDb = 20.0;
  // Most filters suggested (strongest peaks first).
  int32_t maxFilters = 16;
};

// Peaks are found in the averaged magnitudes; the filters are designed
// against the first frame's spectrum. The engine gives the sizes, the
// analysis window and the kHz conversions. Strongest peaks first; none
// before the first frame.
std::vector<SuggestedFilter> SuggestFilters(const SpectrumAverage& spectrum,
                                            const SuggestLimits& limits = SuggestLimits());

qrx::FilterList ToFilterList(const std::vector<SuggestedFilter>& filters);

}  // namespace qrxhost
