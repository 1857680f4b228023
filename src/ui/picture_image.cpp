// The spectrum image: display values through the palette into a locked
// image (see picture_geometry.h).
#include <cstddef>

#include "platform/cpu.h"
#include "ui/picture_geometry.h"
#include "platform/simd_target.h"

#if defined(__i386__) || defined(__x86_64__)
#include <immintrin.h>
#define QRX_HAVE_SSE2_KERNELS 1
#endif

namespace qrx {
namespace ui {

namespace {

inline uint32_t* ImageRow(uint32_t* pixels, int32_t pitchBytes, int32_t r) {
  return reinterpret_cast<uint32_t*>(reinterpret_cast<uint8_t*>(pixels) + static_cast<ptrdiff_t>(r) * pitchBytes);
}

// Rounded to nearest with ties to even, by hand.
inline int32_t PaletteIndex(float v) {
  v = v > 0.0f ? v : 0.0f;  // also takes NaN to 0
  v = v < 255.0f ? v : 255.0f;
  const int32_t i = static_cast<int32_t>(v);
  const float fraction = v - static_cast<float>(i);
  return i + ((fraction > 0.5f) | ((fraction == 0.5f) & (i & 1)));
}

}  // namespace

void WriteSpectrumImageScalar(const float* display, int32_t bins, int32_t rows, uint32_t* pixels,
                              int32_t pitchBytes) {
  const uint32_t* palette = SpectrumPalette();
  for (int32_t r = 0; r < rows; ++r) {
    const float* in = display + static_cast<size_t>(r) * bins;
    uint32_t* out = ImageRow(pixels, pitchBytes, r);
    for (int32_t k = 0; k < bins; ++k) out[k] = palette[PaletteIndex(in[k])];
  }
}

#if QRX_HAVE_SSE2_KERNELS

QRX_SSE2 void WriteSpectrumImageSse2(const float* display, int32_t bins, int32_t rows, uint32_t* pixels,
                                     int32_t pitchBytes) {
  const uint32_t* palette = SpectrumPalette();
  const __m128 zero = _mm_setzero_ps(), top = _mm_set1_ps(255.0f), half = _mm_set1_ps(0.5f);
  const __m128i odd = _mm_set1_epi32(1);
  alignas(16) int32_t index[4];
  for (int32_t r = 0; r < rows; ++r) {
    const float* in = display + static_cast<size_t>(r) * bins;
    uint32_t* out = ImageRow(pixels, pitchBytes, r);
    int32_t k = 0;
    for (; k + 4 <= bins; k += 4) {
      // max(v, 0) gives 0 for NaN (the second operand wins).
      const __m128 v = _mm_min_ps(_mm_max_ps(_mm_loadu_ps(in + k), zero), top);
      __m128i i = _mm_cvttps_epi32(v);
      const __m128 fraction = _mm_sub_ps(v, _mm_cvtepi32_ps(i));
      const __m128i up = _mm_or_si128(
          _mm_castps_si128(_mm_cmpgt_ps(fraction, half)),
          _mm_and_si128(_mm_castps_si128(_mm_cmpeq_ps(fraction, half)),
                        _mm_cmpeq_epi32(_mm_and_si128(i, odd), odd)));
      i = _mm_sub_epi32(i, up);  // a mask of all ones adds one
      _mm_store_si128(reinterpret_cast<__m128i*>(index), i);
      out[k] = palette[index[0]];
      out[k + 1] = palette[index[1]];
      out[k + 2] = palette[index[2]];
      out[k + 3] = palette[index[3]];
    }
    for (; k < bins; ++k) out[k] = palette[PaletteIndex(in[k])];
  }
}

// Eight values a step, the palette read with one gather.
QRX_AVX2 void WriteSpectrumImageAvx2(const float* display, int32_t bins, int32_t rows, uint32_t* pixels,
                                     int32_t pitchBytes) {
  const uint32_t* palette = SpectrumPalette();
  const __m256 zero = _mm256_setzero_ps(), top = _mm256_set1_ps(255.0f), half = _mm256_set1_ps(0.5f);
  const __m256i odd = _mm256_set1_epi32(1);
  for (int32_t r = 0; r < rows; ++r) {
    const float* in = display + static_cast<size_t>(r) * bins;
    uint32_t* out = ImageRow(pixels, pitchBytes, r);
    int32_t k = 0;
    for (; k + 8 <= bins; k += 8) {
      const __m256 v = _mm256_min_ps(_mm256_max_ps(_mm256_loadu_ps(in + k), zero), top);
      __m256i i = _mm256_cvttps_epi32(v);
      const __m256 fraction = _mm256_sub_ps(v, _mm256_cvtepi32_ps(i));
      const __m256i up = _mm256_or_si256(
          _mm256_castps_si256(_mm256_cmp_ps(fraction, half, _CMP_GT_OQ)),
          _mm256_and_si256(_mm256_castps_si256(_mm256_cmp_ps(fraction, half, _CMP_EQ_OQ)),
                           _mm256_cmpeq_epi32(_mm256_and_si256(i, odd), odd)));
      i = _mm256_sub_epi32(i, up);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + k),
                          _mm256_i32gather_epi32(reinterpret_cast<const int*>(palette), i, 4));
    }
    for (; k < bins; ++k) out[k] = palette[PaletteIndex(in[k])];
  }
}

#else

void WriteSpectrumImageAvx2(const float* display, int32_t bins, int32_t rows, uint32_t* pixels,
                            int32_t pitchBytes) {
  WriteSpectrumImageScalar(display, bins, rows, pixels, pitchBytes);
}

void WriteSpectrumImageSse2(const float* display, int32_t bins, int32_t rows, uint32_t* pixels,
                            int32_t pitchBytes) {
  WriteSpectrumImageScalar(display, bins, rows, pixels, pitchBytes);
}

#endif

void WriteSpectrumImage(const float* display, int32_t bins, int32_t rows, uint32_t* pixels, int32_t pitchBytes) {
  if (platform::Cpu().avx2) WriteSpectrumImageAvx2(display, bins, rows, pixels, pitchBytes);
  else if (platform::Cpu().sse2) WriteSpectrumImageSse2(display, bins, rows, pixels, pitchBytes);
  else WriteSpectrumImageScalar(display, bins, rows, pixels, pitchBytes);
}

}  // namespace ui
}  // namespace qrx
