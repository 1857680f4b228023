// The magnitude spectrum of a run of frames, averaged: what the plug-in's
// own line transform and FFT engine see, at a given FFT line length. The
// host computes it itself (the plug-in's exports do not give the spectrum)
// to find interference and to draw the spectrum.
#pragma once

#include <complex>
#include <cstdint>
#include <memory>
#include <vector>

#include "frame/pixel_convert.h"

namespace qrx {
class FftEngine;
class LineTransform;
}  // namespace qrx

namespace qrxhost {

class SpectrumAverage {
 public:
  // Frames as the host hands them to the plug-in: packed 4:2:2 top line
  // first, or (bgr24) 24-bit BGR bottom line first.
  SpectrumAverage(int32_t width, int32_t height, bool bgr24, int32_t fftLine);
  ~SpectrumAverage();
  SpectrumAverage(const SpectrumAverage&) = delete;
  SpectrumAverage& operator=(const SpectrumAverage&) = delete;

  // False for a frame size the plug-in refuses (or when memory ran out).
  bool IsUsable() const;

  void Add(const uint8_t* frame);
  int64_t Frames() const { return frames_; }

  // Mean |S[q][k]| over the frames added, Rows() x Bins(), in the engine's
  // spectrum layout (row M/2 the zero vertical frequency, column 0 the zero
  // horizontal one). All zero before the first frame.
  std::vector<double> Mean() const;
  // The complex spectrum of the first frame, Rows() x Bins(): the phases
  // that an average of magnitudes loses (what a filter would take from
  // that picture can be worked out from it).
  const std::vector<std::complex<float>>& FirstSpectrum() const { return first_; }

  // The engine, for its sizes, window and kHz conversions.
  const qrx::FftEngine& Engine() const { return *engine_; }
  int32_t Rows() const;
  int32_t Bins() const;
  int32_t FrameHeight() const { return format_.height; }

 private:
  qrx::FrameFormatRecord format_;
  std::unique_ptr<qrx::LineTransform> lines_;
  std::unique_ptr<qrx::FftEngine> engine_;
  std::vector<uint8_t> working_;  // bgr24 frames converted to the working layout
  std::vector<double> sum_;
  std::vector<std::complex<float>> first_;
  int64_t frames_ = 0;
};

}  // namespace qrxhost
