// The spectrum image: display values through the palette into a locked
// image (see picture_geometry.h). The scalar reference and the choice of
// the version for this processor; the SIMD versions are
// picture_image_impl.h compiled per instruction set.
#include "platform/cpu.h"
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

}  // namespace ui
}  // namespace qrx
