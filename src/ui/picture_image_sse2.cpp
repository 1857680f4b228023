// The spectrum image with SSE2: the body of picture_image_impl.h over the
// Sse2 lanes, compiled for that target only; chosen at run time on
// processors that have it.
#include "platform/simd_target.h"
#include "ui/picture_geometry.h"
#include "ui/picture_image_internal.h"

#if defined(__i386__) || defined(__x86_64__)
#include <immintrin.h>

QRX_BEGIN_TARGET_SSE2
#include "platform/simd_lanes_sse2.h"
#include "ui/picture_image_impl.h"

namespace qrx {
namespace ui {

void WriteSpectrumImageSse2(const float* display, int32_t bins, int32_t rows, uint32_t* pixels, int32_t pitchBytes) {
  const uint32_t* palette = SpectrumPalette();
  for (int32_t r = 0; r < rows; ++r) {
    const float* in = display + static_cast<size_t>(r) * bins;
    uint32_t* out = ImageRow(pixels, pitchBytes, r);
    const int32_t done = WriteRowBlocks<simd::Sse2Lanes>(in, out, bins, palette);
    WriteRowScalar(in + done, out + done, bins - done, palette);
  }
}

}  // namespace ui
}  // namespace qrx
QRX_END_TARGET

#else

namespace qrx {
namespace ui {
void WriteSpectrumImageSse2(const float* display, int32_t bins, int32_t rows, uint32_t* pixels, int32_t pitchBytes) {
  WriteSpectrumImageScalar(display, bins, rows, pixels, pitchBytes);
}
}  // namespace ui
}  // namespace qrx

#endif
