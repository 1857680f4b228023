// SSE2 versions of the BGRA conversions: eight pixels a step, the scalar
// references for the rest. Compiled for the baseline processor too, so each
// function carries the target attribute and runs only where SSE2 is.
#include "frame/pixel_bgra.h"
#include "frame/pixel_internal.h"
#include "platform/simd_target.h"

#if defined(__i386__) || defined(__x86_64__)
#include <emmintrin.h>

namespace qrx {
namespace pixel {

namespace {

// Eight BGRA pixels to eight luma words.
QRX_SSE2_INLINE __m128i Luma8(const uint8_t* bgra) {
  const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bgra));
  const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bgra + 16));
  const __m128i byteMask = _mm_set1_epi32(0xFF);
  const __m128i b = _mm_packs_epi32(_mm_and_si128(low, byteMask), _mm_and_si128(high, byteMask));
  const __m128i g = _mm_packs_epi32(_mm_and_si128(_mm_srli_epi32(low, 8), byteMask),
                                    _mm_and_si128(_mm_srli_epi32(high, 8), byteMask));
  const __m128i r = _mm_packs_epi32(_mm_and_si128(_mm_srli_epi32(low, 16), byteMask),
                                    _mm_and_si128(_mm_srli_epi32(high, 16), byteMask));
  // At most 256 * 255: exact in unsigned 16-bit words, so wrapping products
  // and a logical shift give the reference's value.
  const __m128i sum = _mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(b, _mm_set1_epi16(detail::kLumaB)),
                                                  _mm_mullo_epi16(g, _mm_set1_epi16(detail::kLumaG))),
                                    _mm_mullo_epi16(r, _mm_set1_epi16(detail::kLumaR)));
  return _mm_srli_epi16(sum, 8);
}

// Four pixels' words (B, G, R, A each) plus the change in the colour words.
QRX_SSE2_INLINE __m128i AddChange(__m128i pixels, __m128i change) {
  const __m128i colourWords = _mm_setr_epi16(-1, -1, -1, 0, -1, -1, -1, 0);
  return _mm_add_epi16(pixels, _mm_and_si128(change, colourWords));
}

// Four pixels in bytes, their changes in words 0..3 of `change4`.
QRX_SSE2_INLINE __m128i ApplyChange4(__m128i pixels, __m128i change4) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i doubled = _mm_unpacklo_epi16(change4, change4);  // c0 c0 c1 c1 c2 c2 c3 c3
  const __m128i first = AddChange(_mm_unpacklo_epi8(pixels, zero), _mm_unpacklo_epi32(doubled, doubled));
  const __m128i second = AddChange(_mm_unpackhi_epi8(pixels, zero), _mm_unpackhi_epi32(doubled, doubled));
  // -255 .. 510 in the words; the pack saturates as the reference does.
  return _mm_packus_epi16(first, second);
}

}  // namespace

QRX_SSE2 void BgraToLumaPairsSse2(const uint8_t* bgra, uint8_t* work, size_t pixels) {
  size_t i = 0;
  for (; i + 8 <= pixels; i += 8) {
    const __m128i y = Luma8(bgra + 4 * i);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(work + 2 * i), _mm_or_si128(y, _mm_slli_epi16(y, 8)));
  }
  BgraToLumaPairsScalar(bgra + 4 * i, work + 2 * i, pixels - i);
}

QRX_SSE2 void ApplyLumaPairsToBgraSse2(const uint8_t* work, const uint8_t* in, uint8_t* out, size_t pixels) {
  size_t i = 0;
  for (; i + 8 <= pixels; i += 8) {
    const __m128i pairs = _mm_loadu_si128(reinterpret_cast<const __m128i*>(work + 2 * i));
    // Filtered luma minus input luma, -255 .. 255 in each word.
    const __m128i change = _mm_sub_epi16(_mm_and_si128(pairs, _mm_set1_epi16(0xFF)), _mm_srli_epi16(pairs, 8));
    const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 4 * i));
    const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 4 * i + 16));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * i), ApplyChange4(low, change));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * i + 16), ApplyChange4(high, _mm_srli_si128(change, 8)));
  }
  ApplyLumaPairsToBgraScalar(work + 2 * i, in + 4 * i, out + 4 * i, pixels - i);
}

}  // namespace pixel
}  // namespace qrx

#endif
