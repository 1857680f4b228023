// The magnitude spectrum of a run of frames, averaged: what the filter's own
// line transform and FFT engine see at a given FFT line length.
//
// Units: cells of the engine's spectrum, Rows() x Bins(), row Rows()/2 the
// zero vertical frequency, column 0 the zero horizontal one (see
// transform/fft_engine.h); magnitudes as the engine computes them, so that a
// pattern of amplitude A luma levels peaks near A/2 times the window's sum.
#pragma once

#include <complex>
#include <cstdint>
#include <memory>
#include <vector>

#include "frame/pixel_convert.h"

namespace qrx {

class FftEngine;
class LineTransform;

class MagnitudeAverage {
 public:
  // Frames in the given format (pixelFormat 1: 24-bit BGR bottom line
  // first; anything else the working layout). memory 0 weighs every frame
  // alike; memory n > 0 keeps a running average that forgets with a time
  // constant of n frames (a plain mean over the first n). workers: the
  // engine's worker count (0: one per processor; 1: the caller's thread
  // does the transforms).
  MagnitudeAverage(const FrameFormatRecord& format, int32_t fftLine, int32_t memory = 0, int32_t workers = 0);
  ~MagnitudeAverage();
  MagnitudeAverage(const MagnitudeAverage&) = delete;
  MagnitudeAverage& operator=(const MagnitudeAverage&) = delete;

  // False for a frame size the filter refuses (or when memory ran out).
  bool IsUsable() const;

  // keepSpectrum: keep this frame's complex spectrum as Newest() (a live
  // finder keeps only the frames it looks at).
  void Add(const uint8_t* frame, bool keepSpectrum = true);
  // The same for a frame whose spectrum was already computed by an engine
  // of the same sizes, window and FFT line (the filter's own, before its
  // clip and mask): Rows() rows of Bins() complex values (re, im floats),
  // pitch complex values apart.
  void AddSpectrum(const float* spectrum, int32_t pitch, bool keepSpectrum = true);
  // The same for a packed Rows() x Bins() spectrum (ignored when of another
  // size). A kept one becomes Newest() by exchange, without a copy:
  // *spectrum then holds the previous Newest()'s storage.
  void TakeSpectrum(std::vector<std::complex<float>>* spectrum, bool keepSpectrum);
  int64_t Frames() const { return frames_; }

  // Mean |S[q][k]|, Rows() x Bins(); all zero before the first frame.
  const std::vector<float>& Mean() const { return mean_; }
  // The complex spectrum of the newest frame kept, Rows() x Bins(): the phases
  // that an average of magnitudes loses (what a filter would take from that
  // picture is worked out from it).
  const std::vector<std::complex<float>>& Newest() const { return newest_; }

  // The engine, for its sizes, window and kHz conversions.
  const FftEngine& Engine() const { return *engine_; }
  int32_t Rows() const;
  int32_t Bins() const;
  const FrameFormatRecord& Format() const { return format_; }

 private:
  FrameFormatRecord format_;
  int32_t memory_ = 0;
  std::unique_ptr<LineTransform> lines_;
  std::unique_ptr<FftEngine> engine_;
  std::vector<uint8_t> working_;  // bgr24 frames converted to the working layout
  std::vector<float> mean_;
  std::vector<std::complex<float>> newest_;
  int64_t frames_ = 0;
};

}  // namespace qrx
