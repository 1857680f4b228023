// The spectrum image: display values through the palette into a locked
// image (see picture_geometry.h). The scalar reference, the choice of the
// version for this processor, and the image straight from a spectrum's
// rows; the SIMD versions are picture_image_impl.h compiled per
// instruction set.
#include <algorithm>

#include "platform/cpu.h"
#include "transform/display_kernels.h"
#include "ui/picture_geometry.h"
#include "ui/picture_image_internal.h"

namespace qrx {
namespace ui {

void WriteSpectrumImageScalar(const float* display, int32_t bins, int32_t rows, uint32_t* pixels, int32_t pitchBytes) {
  const uint32_t* palette = SpectrumPalette();
  for (int32_t r = 0; r < rows; ++r)
    WriteRowScalar(display + static_cast<size_t>(r) * bins, ImageRow(pixels, pitchBytes, r), bins, palette);
}

WriteSpectrumImageFn WriteSpectrumImageFor(const platform::CpuFeatures& cpu) {
  if (cpu.avx2) return &WriteSpectrumImageAvx2;
  if (cpu.sse2) return &WriteSpectrumImageSse2;
  return &WriteSpectrumImageScalar;
}

void WriteSpectrumImage(const float* display, int32_t bins, int32_t rows, uint32_t* pixels, int32_t pitchBytes) {
  static const WriteSpectrumImageFn chosen = WriteSpectrumImageFor(platform::Cpu());
  chosen(display, bins, rows, pixels, pitchBytes);
}

void WriteSpectrumRows(const float* spectrum, int32_t pitch, int32_t bins, int32_t rows, float scale, uint32_t* pixels,
                       int32_t pitchBytes) {
  // A piece of a row's display values at a time, still in the cache when
  // they are written; a multiple of every version's block of values.
  constexpr int32_t kPiece = 256;
  alignas(32) float display[kPiece];
  for (int32_t r = 0; r < rows; ++r) {
    const float* in = spectrum + static_cast<size_t>(r) * pitch * 2;
    uint32_t* out = ImageRow(pixels, pitchBytes, r);
    for (int32_t k = 0; k < bins; k += kPiece) {
      const int32_t count = std::min(kPiece, bins - k);
      display::LogMagnitude(in + static_cast<size_t>(k) * 2, display, count, scale);
      WriteSpectrumImage(display, count, 1, out + k, count * static_cast<int32_t>(sizeof(uint32_t)));
    }
  }
}

void PictureCanvas::DrawSpectrumImage(const float* spectrum, int32_t pitch, int32_t bins, int32_t rows, float scale) {
  uint32_t* pixels = nullptr;
  int32_t pitchBytes = 0;
  if (!LockImage(bins, rows, &pixels, &pitchBytes)) return;
  WriteSpectrumRows(spectrum, pitch, bins, rows, scale, pixels, pitchBytes);
  UnlockImage();
}

}  // namespace ui
}  // namespace qrx
