#include "transform/line_transform.h"

#include <cstddef>

#include "platform/platform.h"
#include "transform/line_resample.h"

namespace qrx {
namespace {

// Larger frames or lines than this are not video; refusing them also keeps
// every size product well inside 32 bits.
constexpr int32_t kMaxSize = 8192;

bool IsPowerOfTwo(int32_t v) { return v > 0 && (v & (v - 1)) == 0; }

bool SizesUsable(int32_t width, int32_t height, int32_t fftLine) {
  return width >= 2 && width <= kMaxSize && height >= 2 && height <= kMaxSize && fftLine >= 4 && fftLine <= kMaxSize &&
         IsPowerOfTwo(fftLine);
}

uint16_t* AllocateLine(int32_t samples) {
  return static_cast<uint16_t*>(platform::AlignedAlloc(sizeof(uint16_t) * static_cast<size_t>(samples)));
}

}  // namespace

LineTransform::LineTransform(const FrameFormatRecord& format, int32_t fftLine)
    : width_(format.width), height_(format.height), outputLength_(format.width), outputHeight_(format.height) {
  if (!SizesUsable(width_, height_, fftLine)) return;
  if (width_ != fftLine) {
    // The engine is always built with the FFT line length, even if a table
    // below fails and the object ends up unusable.
    outputLength_ = fftLine;
    forwardTable_ = CreateResampleTable(width_, fftLine);
    if (!forwardTable_) return;
    forwardTaps_ = forwardTable_->taps;
    forwardLine_ = AllocateLine(width_);
    if (!forwardLine_) return;
    backwardTable_ = CreateResampleTable(fftLine, width_);
    if (!backwardTable_) return;
    backwardTaps_ = backwardTable_->taps;
    backwardLine_ = AllocateLine(fftLine);
    if (!backwardLine_) return;
  }
  usable_ = true;
}

LineTransform::~LineTransform() {
  DestroyResampleTable(forwardTable_);
  DestroyResampleTable(backwardTable_);
  platform::AlignedFree(forwardLine_);
  platform::AlignedFree(backwardLine_);
}

bool LineTransform::IsUsable() const { return usable_; }

bool LineTransform::ArgumentsUsable(const void* frame, const float* rows, int32_t pitch, const float* table) const {
  return usable_ && frame && rows && table && pitch >= 0 && pitch <= kMaxSize && 2 * pitch >= outputLength_;
}

size_t LineTransform::ScratchSamples() const {
  return forwardTable_ ? static_cast<size_t>(width_ > outputLength_ ? width_ : outputLength_) : 1;
}

void LineTransform::Forward(const uint8_t* frame, float* rows, int32_t pitch, const float* window) {
  ForwardRows(frame, rows, pitch, window, 0, height_, forwardLine_);
}

void LineTransform::Backward(uint8_t* frame, const float* rows, int32_t pitch, const float* inverseWindow,
                             float maskGain, int32_t demoActive) {
  (void)maskGain;  // already multiplied into the mask
  // With the demonstration split on, the lower half keeps the input luma.
  const int32_t rowCount = demoActive ? height_ / 2 : height_;
  BackwardRows(frame, rows, pitch, inverseWindow, 0, rowCount, backwardLine_);
}

void LineTransform::ForwardRows(const uint8_t* frame, float* rows, int32_t pitch, const float* window, int32_t first,
                                int32_t count, uint16_t* scratch) const {
  if (!ArgumentsUsable(frame, rows, pitch, window) || (forwardTable_ && !scratch)) return;
  const int32_t n = outputLength_;
  const int32_t begin = first > 0 ? first : 0;
  const int32_t end = count > height_ - begin ? height_ : begin + (count > 0 ? count : 0);
  const line::Kernels& kernels = line::SelectKernels();
  const size_t rowFloats = 2 * static_cast<size_t>(pitch);
  const size_t frameStride = 2 * static_cast<size_t>(width_);
  for (int32_t r = begin; r < end; ++r) {
    const uint8_t* source = frame + frameStride * r;
    float* out = rows + rowFloats * r;
    const float* win = window + static_cast<size_t>(n) * r;
    if (!forwardTable_) {
      kernels.lumaToFloats(source, win, out, n);
    } else {
      kernels.lumaToSamples(source, scratch, width_);
      kernels.resampleToFloats(*forwardTable_, scratch, win, out);
    }
    // The Nyquist slot and the spare element start clean on every frame.
    for (size_t i = static_cast<size_t>(n); i < rowFloats; ++i) out[i] = 0.0f;
  }
}

void LineTransform::BackwardRows(uint8_t* frame, const float* rows, int32_t pitch, const float* inverseWindow,
                                 int32_t first, int32_t count, uint16_t* scratch) const {
  if (!ArgumentsUsable(frame, rows, pitch, inverseWindow) || (backwardTable_ && !scratch)) return;
  const int32_t n = outputLength_;
  const int32_t begin = first > 0 ? first : 0;
  const int32_t end = count > height_ - begin ? height_ : begin + (count > 0 ? count : 0);
  const line::Kernels& kernels = line::SelectKernels();
  const size_t rowFloats = 2 * static_cast<size_t>(pitch);
  const size_t frameStride = 2 * static_cast<size_t>(width_);
  for (int32_t r = begin; r < end; ++r) {
    uint8_t* target = frame + frameStride * r;
    const float* in = rows + rowFloats * r;
    const float* inv = inverseWindow + static_cast<size_t>(n) * r;
    if (!backwardTable_) {
      kernels.floatsToLuma(in, inv, target, n);
    } else {
      kernels.floatsToSamples(in, inv, scratch, n);
      kernels.resampleToLuma(*backwardTable_, scratch, target);
    }
  }
}

}  // namespace qrx
