// What a Dot leaves of a periodic pattern in the filter's output.
//
// The filter windows the picture (a separable Hamming window), transforms
// it, multiplies the spectrum by the mask, transforms back and divides by
// the window. For a pattern alone that chain is linear and, the window
// being separable, each cell's share of the pattern is a product of one
// weight per axis; so what a notch leaves is a sum over the cells it
// touches, computed here exactly for any position of the pattern relative
// to the cells (the line resampling around the chain is left out: it
// scales pattern and remainder alike).
//
// Units: positions and half-widths in cells (one cell is one bin of the
// engine's spectrum); offsets of a pattern from a cell in bins (fractions
// of a cell); strengths and removals in dB; energies as the mean square per
// pixel of a pattern of amplitude 1.
#pragma once

#include <complex>
#include <cstdint>
#include <vector>

namespace qrx {

class FftEngine;

// One axis of the analysis window as the spectrum sees it.
class WindowAxis {
 public:
  // window: the weights along the axis; transformLength: the FFT length
  // along it (at least the window's length; the rest is zero padding).
  WindowAxis(std::vector<double> window, int32_t transformLength);

  // The rows' axis (a line) and the columns' axis (down the frame) of an
  // engine with its window built.
  static WindowAxis Rows(const FftEngine& engine);
  static WindowAxis Columns(const FftEngine& engine);

  // The window's transform f bins from its centre cell: sum of
  // w(i) e^(-2 pi i f i / length).
  std::complex<double> Transform(double f) const;
  // The share of a pattern f bins away that a cell carries back to the
  // pattern's own frequency through the inverse transform and the inverse
  // window (a least-squares fit over the picture). Real for a symmetric
  // window; the shares of all cells of a period add up to 1.
  double Weight(double f) const;
  // Half-width of the window's main lobe in bins (its first zero).
  double HalfWidth() const { return 2.0 * length_ / static_cast<double>(window_.size()); }
  // Where a pattern lies relative to a cell, -0.5 .. 0.5 bins, from the
  // magnitudes of the cell and of its two neighbours (matched against the
  // window's own transform; 0 when the cell is no maximum).
  double Offset(double left, double mid, double right) const;

  const std::vector<double>& Window() const { return window_; }
  int32_t Length() const { return length_; }

 private:
  std::vector<double> window_;
  int32_t length_;
  std::vector<double> ratios_;  // Offset's table: (|W(1-f)| - |W(-1-f)|) / |W(-f)| over f
};

// A Dot as the mask builder draws it: half-widths a (columns) and b (rows)
// in cells, order, strength in dB (negative attenuates). order 0: none.
struct DotShape {
  int32_t a = 0, b = 0, order = 0, strength = 0;
};

// One pattern against Dots centred on one cell.
class NotchModel {
 public:
  // rows, columns: must outlive the model. offK, offQ: the pattern's position relative to the centre cell, in
  // bins (columns right, rows down); the region spans +-spanK columns and
  // +-spanQ rows around the centre, whose column is centreK. Left of column
  // 0 the spectrum holds the mirror half: there the twin Dot (on the mirror
  // row at column 0, same shape) acts when twin is set, nothing otherwise.
  NotchModel(const WindowAxis& rows, const WindowAxis& columns, double offK, double offQ, int32_t spanK, int32_t spanQ,
             int32_t centreK, bool twin);

  int32_t SpanK() const { return spanK_; }
  int32_t SpanQ() const { return spanQ_; }
  // What the Dot takes per cell (1 - its weight), over the region row after
  // row.
  void Removed(const DotShape& dot, std::vector<double>* removed) const;
  // The fraction of the pattern's amplitude left at its own frequency
  // (1 - what the removed cells carry of it).
  double AmplitudeLeft(const std::vector<double>& removed) const;
  // What is left of a pattern of amplitude 1 over the whole picture, as a
  // mean square (near the borders, where the window is small, a narrow
  // notch leaves more than at the pattern's frequency).
  double EnergyLeft(const std::vector<double>& removed) const;
  // The removal at the pattern's frequency, in dB.
  double RemovalDb(const DotShape& dot) const;

 private:
  void PrepareEnergy() const;

  const WindowAxis& rows_;
  const WindowAxis& columns_;
  double offK_, offQ_;
  int32_t spanK_, spanQ_, widthK_, widthQ_, centreK_;
  bool twin_;
  std::vector<double> weightK_, weightQ_;  // per column and row of the region
  // EnergyLeft's picture, sampled every few pixels: per region column and
  // row the basis along its axis (real and imaginary parts apart), per
  // sample the pattern and the inverse window.
  mutable bool energyReady_ = false;
  mutable std::vector<int32_t> samplesN_, samplesM_;
  mutable std::vector<double> basisK_[2], basisQ_[2], carrier_[2];
  // The same bases with each pair of cells the same distance either side of
  // the centre added up (a Dot takes the same from both when the region
  // holds no mirrored columns): index d for +-d.
  mutable std::vector<double> foldedK_[2], foldedQ_[2];
  mutable std::vector<double> quadrant_;  // Removed's table of one quadrant
  mutable std::vector<double> inverse_;
};

}  // namespace qrx
