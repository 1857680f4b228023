// Chooses the Dot for a peak: the one that leaves the least error in the
// output picture among those that take the pattern down far enough.
//
// The error is what the Dot leaves of the pattern over the whole picture
// (NotchModel) plus what it takes from the picture itself (the frame's
// spectrum less the pattern, through the notch and the engine's own inverse
// transform and inverse window; for a notch clear of columns 0 and N/2, on
// every few pixels through SampledInverse, within a per cent or two of all
// of them). Units: half-widths in cells, strengths and
// removals in dB, errors as mean squares per pixel in luma levels squared.
//
// Promise: the removal it reports is the model's for the pattern at the
// peak's estimated frequency, with what the notch takes of the picture at
// that frequency (which a measurement counts as interference left); a wider
// Dot is only chosen for removal the model gives it.
#pragma once

#include <complex>
#include <cstdint>
#include <memory>
#include <vector>

#include "finder/notch_model.h"
#include "finder/peak_finder.h"
#include "finder/sampled_inverse.h"

namespace qrx {

class FftEngine;

struct DotDesign {
  DotShape shape;              // order 0: no Dot (the peak is the picture's own, or no Dot helps)
  double removalDb = 0.0;      // predicted at the pattern's frequency
  double error = 0.0;          // mean square left in the picture, levels^2
  double patternEnergy = 0.0;  // the pattern's own mean square, levels^2
  double energyLeft = 0.0;     // what it leaves of a pattern of amplitude 1 (PatternRemovalDb's)
};

struct DesignLimits {
  // What a Dot should take off the pattern's amplitude, and the least that
  // counts as removed: the Dot with the least error among those reaching
  // the first, failing that the second, failing that the least error of
  // all if it is below the pattern's own.
  double minRemovalDb = 26.0;
  double leastRemovalDb = 20.0;
};

class DotDesigner {
 public:
  // engine: the analysing engine (sizes, window, scale); a private engine of
  // the same sizes is made for the inverse transforms (one worker).
  // sampled: what a notch takes of the picture is judged on every few
  // pixels where that is as good as on all (false: always on all, for
  // comparisons).
  DotDesigner(const FftEngine& engine, const WindowAxis& rows, const WindowAxis& columns, bool sampled = true);
  ~DotDesigner();
  DotDesigner(const DotDesigner&) = delete;
  DotDesigner& operator=(const DotDesigner&) = delete;

  bool IsUsable() const;

  // frame: one frame's complex spectrum, Rows() x Bins() (the phases the
  // average lost); peaks: the finder that found p (cells it marks as
  // interference are no loss to take). twin: the peak's pattern also fills
  // column 0 of the mirror row, which gets a Dot of the same shape.
  // aheadK, aheadQ: where a moving pattern will be, cells from where it is;
  // the removal counted is then the worse of the two places.
  DotDesign Design(const Peak& p, bool twin, const std::vector<std::complex<float>>& frame, const PeakFinder& peaks,
                   const DesignLimits& limits, double aheadK = 0.0, double aheadQ = 0.0);

  // The removal a Dot of this shape centred on cell (q, k) gives a pattern at
  // (q + fracQ, k + fracK), by the model alone (pattern, no picture).
  // energyLeft, when given, receives what it leaves of a pattern of
  // amplitude 1 over the picture (mean square).
  double PatternRemovalDb(int32_t k, double fracQ, double fracK, bool twin, const DotShape& dot,
                          double* energyLeft = nullptr) const;

 private:
  struct Region;
  double FitPattern(const Peak& p, bool twin, const Region& region, const std::vector<std::complex<float>>& frame,
                    const PeakFinder& peaks, std::complex<double>* coefficient,
                    std::vector<std::complex<double>>* picture);
  struct Loss {
    double meanSquare;
    std::complex<double> atPattern;  // projection on the pattern's frequency
  };
  Loss PictureLoss(const Region& region, const std::vector<std::complex<double>>& picture,
                   const std::vector<double>& removed, const std::vector<std::complex<double>>& carrier);
  bool CanSample(const Region& region) const;
  // Per row and column of a region, what a cell's wave, and its mirror's,
  // give at the pattern's frequency through the inverse window.
  struct Projection {
    std::vector<std::complex<double>> rows[2], columns[2];
  };
  void Project(const Region& region, const std::vector<std::complex<double>>& carrier, Projection* out) const;
  Loss SampledPictureLoss(const Region& region, const std::vector<std::complex<double>>& picture,
                          const std::vector<double>& removed, const Projection& projection);
  double DcWeight(const Peak& p, const DotShape& d) const;

  const FftEngine& engine_;
  const WindowAxis& rows_;
  const WindowAxis& columns_;
  std::unique_ptr<FftEngine> work_;
  std::unique_ptr<SampledInverse> sampled_;
  std::vector<float> inverseSamples_;  // the inverse window at the sampled pixels
  std::vector<std::complex<double>> rowValues_;  // one region row's cells for the sampled inverse
};

}  // namespace qrx
