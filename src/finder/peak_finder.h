// Peaks of periodic interference in an averaged magnitude spectrum.
//
// Units: cells of the engine's spectrum (column k from 0, the zero
// horizontal frequency; row q, Rows()/2 the zero vertical frequency);
// positions within a cell in bins, -0.5 .. 0.5; levels in dB of the
// engine's magnitudes (20 log10 |S|); amplitudes in luma levels.
//
// Promise: a peak is a local maximum over the window's main lobe, outside
// the zone around zero frequency, of at least the least amplitude, standing
// the least height above every estimate of the picture's own level around
// it. Strongest first.
#pragma once

#include <cstdint>
#include <vector>

#include "finder/notch_model.h"

namespace qrx {

class FftEngine;

struct Peak {
  int32_t q = 0, k = 0;             // the cell of the maximum
  double fracQ = 0.0, fracK = 0.0;  // the pattern's frequency relative to the cell, bins
  double level = 0.0;               // dB
  double heightDb = 0.0;            // above the picture's own level around it
  double amplitude = 0.0;           // the pattern's amplitude, luma levels
};

struct PeakLimits {
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
};

class PeakFinder {
 public:
  // engine: sizes, window sum and kHz conversions; rows, columns: its
  // window's axes.
  PeakFinder(const FftEngine& engine, const WindowAxis& rows, const WindowAxis& columns);

  // mean: Rows() x Bins() averaged magnitudes; kept (by reference) for the
  // queries below until the next call.
  std::vector<Peak> Find(const std::vector<float>& mean, const PeakLimits& limits);

  // The queries on the last mean given to Find. Cells left of column 0 are
  // read from the mirror half; outside the spectrum the level is -infinity.
  double LevelDb(int32_t q, int32_t k) const;
  // The picture's own level around a cell: the highest of the medians over
  // a ring around the main lobe, along the cell's row, along its column and
  // along the line through zero frequency.
  double BackgroundDb(int32_t q, int32_t k) const;
  // Whether the cell lies on the main lobe of a peak Find returned.
  bool IsInterference(int32_t q, int32_t k) const;
  // The pattern's amplitude behind a cell's magnitude when it lies at the
  // given offsets from the cell, luma levels.
  double Amplitude(double magnitude, double fracQ, double fracK) const;

  // Half-widths of the window's main lobe, cells.
  double LobeK() const { return lobeK_; }
  double LobeQ() const { return lobeQ_; }

 private:
  float At(int32_t q, int32_t k) const;  // -1 outside the spectrum
  bool IsMaximum(int32_t q, int32_t k, float level) const;
  void MarkInterference(const std::vector<Peak>& peaks);

  const FftEngine& engine_;
  const WindowAxis& rows_;
  const WindowAxis& columns_;
  const std::vector<float>* mean_ = nullptr;
  std::vector<bool> interference_;
  double lobeK_, lobeQ_;
  double peakGain_;  // |W| at a pattern's own cell, both axes
};

}  // namespace qrx
