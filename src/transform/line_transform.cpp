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
  return width >= 2 && width <= kMaxSize && height >= 2 && height <= kMaxSize && fftLine >= 4 &&
         fftLine <= kMaxSize && IsPowerOfTwo(fftLine);
}

uint16_t* AllocateLine(int32_t samples) {
  return static_cast<uint16_t*>(platform::AlignedAlloc(sizeof(uint16_t) * static_cast<size_t>(samples)));
}

}  // namespace

LineTransform::LineTransform(const FrameFormatRecord& format, int32_t fftLine)
    : width_(format.width),
      height_(format.height),
      outputLength_(format.width),
      outputHeight_(format.height) {
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

void LineTransform::Forward(const uint8_t* frame, float* rows, int32_t pitch, const float* window) {
  const int32_t n = outputLength_;
  if (!usable_ || !frame || !rows || !window || pitch < 0 || pitch > kMaxSize ||
      2 * pitch < n) {
    return;
  }
  const line::Kernels& kernels = line::SelectKernels();
  const size_t rowFloats = 2 * static_cast<size_t>(pitch);
  const size_t frameStride = 2 * static_cast<size_t>(width_);
  for (int32_t r = 0; r < height_; ++r) {
    const uint8_t* source = frame + frameStride * r;
    float* out = rows + rowFloats * r;
    const float* win = window + static_cast<size_t>(n) * r;
    if (!forwardTable_) {
      kernels.lumaToFloats(source, win, out, n);
    } else {
      kernels.lumaToSamples(source, forwardLine_, width_);
      kernels.resampleToFloats(*forwardTable_, forwardLine_, win, out);
    }
    // The Nyquist slot and the spare element start clean on every frame.
    for (size_t i = static_cast<size_t>(n); i < rowFloats; ++i) out[i] = 0.0f;
  }
}

void LineTransform::Backward(uint8_t* frame, const float* rows, int32_t pitch,
                             const float* inverseWindow, float maskGain, int32_t demoActive) {
  (void)maskGain;  // already multiplied into the mask
  const int32_t n = outputLength_;
  if (!usable_ || !frame || !rows || !inverseWindow || pitch < 0 || pitch > kMaxSize ||
      2 * pitch < n) {
    return;
  }
  const line::Kernels& kernels = line::SelectKernels();
  const size_t rowFloats = 2 * static_cast<size_t>(pitch);
  const size_t frameStride = 2 * static_cast<size_t>(width_);
  // With the demonstration split on, the lower half keeps the input luma.
  const int32_t rowCount = demoActive ? height_ / 2 : height_;
  for (int32_t r = 0; r < rowCount; ++r) {
    uint8_t* target = frame + frameStride * r;
    const float* in = rows + rowFloats * r;
    const float* inv = inverseWindow + static_cast<size_t>(n) * r;
    if (!backwardTable_) {
      kernels.floatsToLuma(in, inv, target, n);
    } else {
      kernels.floatsToSamples(in, inv, backwardLine_, n);
      kernels.resampleToLuma(*backwardTable_, backwardLine_, target);
    }
  }
}

}  // namespace qrx
