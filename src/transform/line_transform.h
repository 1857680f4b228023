// Between the picture and the FFT engine: luma rows of the working frame are
// resampled to the FFT line length N (Lanczos, a = 3, Q14 coefficients),
// windowed and written as floats into the spectrum rows; after the inverse
// transform they are unwindowed, rounded and resampled back. Chroma bytes
// are never touched.
#pragma once

#include <cstddef>
#include <cstdint>

#include "frame/pixel_convert.h"

namespace qrx {

// One table per direction: D rows of { int32 start (byte offset = 2 x first
// source index), T int16 Q14 coefficients }, T a multiple of 4.
struct ResampleTable;

class LineTransform {
 public:
  LineTransform(const FrameFormatRecord& format, int32_t fftLine);
  virtual ~LineTransform();
  LineTransform(const LineTransform&) = delete;
  LineTransform& operator=(const LineTransform&) = delete;

  // False when an allocation failed or the sizes are unusable (W or H < 2,
  // fftLine not a power of two >= 4, any size above 8192, or a line shorter
  // than the resampling kernel); Forward and Backward then do nothing.
  // Every pixel of a line is processed whatever the width: SIMD steps of 4
  // or 8 pixels, the last W mod 4 (or 8) pixels one at a time, same results.
  bool IsUsable() const;

  int32_t OutputLength() const { return outputLength_; }
  int32_t OutputHeight() const { return outputHeight_; }

  // rows: the engine's spectrum as floats; pitch in complex elements;
  // window: N floats per row, H rows.
  void Forward(const uint8_t* frame, float* rows, int32_t pitch, const float* window);
  // Writes rows 0 .. H/(1+demoActive)-1 back (any non-zero demoActive
  // counts as 1). maskGain is already in the mask and is not applied here.
  // Floats become bytes rounded to nearest, ties to even, saturated to
  // 0..255; NaN and -inf give 0, +inf 255.
  void Backward(uint8_t* frame, const float* rows, int32_t pitch, const float* inverseWindow, float maskGain,
                int32_t demoActive);

  // Forward and Backward on rows first .. first + count - 1 only (clipped to
  // the frame), with the caller's scratch of ScratchSamples() samples,
  // 16-byte aligned: several threads may run them at once on disjoint rows.
  // Row for row the results are those of Forward and Backward.
  size_t ScratchSamples() const;
  void ForwardRows(const uint8_t* frame, float* rows, int32_t pitch, const float* window, int32_t first, int32_t count,
                   uint16_t* scratch) const;
  void BackwardRows(uint8_t* frame, const float* rows, int32_t pitch, const float* inverseWindow, int32_t first,
                    int32_t count, uint16_t* scratch) const;

  int32_t ForwardTaps() const { return forwardTaps_; }
  int32_t BackwardTaps() const { return backwardTaps_; }
  const ResampleTable* ForwardTable() const { return forwardTable_; }
  const ResampleTable* BackwardTable() const { return backwardTable_; }

 private:
  ResampleTable* forwardTable_ = nullptr;
  ResampleTable* backwardTable_ = nullptr;
  bool ArgumentsUsable(const void* frame, const float* rows, int32_t pitch, const float* table) const;

  uint16_t* forwardLine_ = nullptr;
  uint16_t* backwardLine_ = nullptr;
  int32_t forwardTaps_ = 0;
  int32_t backwardTaps_ = 0;
  int32_t width_ = 0;
  int32_t height_ = 0;
  int32_t outputLength_ = 0;
  int32_t outputHeight_ = 0;
  bool usable_ = false;
};

}  // namespace qrx
