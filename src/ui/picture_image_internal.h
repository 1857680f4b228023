// What the spectrum image's writers share: rows of a locked image, and the
// scalar reference for one row (the SIMD versions finish a row's last
// values with it).
#pragma once

#include <cstddef>
#include <cstdint>

namespace qrx {
namespace ui {

inline uint32_t* ImageRow(uint32_t* pixels, int32_t pitchBytes, int32_t r) {
  return reinterpret_cast<uint32_t*>(reinterpret_cast<uint8_t*>(pixels) + static_cast<ptrdiff_t>(r) * pitchBytes);
}

// Rounded to nearest with ties to even, by hand, whatever the processor's
// rounding mode; below 0 or not a number is 0, above 255 is 255.
inline int32_t PaletteIndex(float v) {
  v = v > 0.0f ? v : 0.0f;  // also takes NaN to 0
  v = v < 255.0f ? v : 255.0f;
  const int32_t i = static_cast<int32_t>(v);
  const float fraction = v - static_cast<float>(i);
  return i + ((fraction > 0.5f) | ((fraction == 0.5f) & (i & 1)));
}

inline void WriteRowScalar(const float* in, uint32_t* out, int32_t count, const uint32_t* palette) {
  for (int32_t k = 0; k < count; ++k) out[k] = palette[PaletteIndex(in[k])];
}

}  // namespace ui
}  // namespace qrx
