// SSE2 versions of the pixel converters: eight pixels per step, the scalar
// row routines for the rest of each line. This file is compiled for the
// baseline processor too (SSE only), so every function that uses SSE2 carries
// the target attribute and runs only when the processor has SSE2.
#include "frame/pixel_internal.h"
#include "platform/simd_target.h"

#if defined(__i386__) || defined(__x86_64__)
#include <emmintrin.h>
#endif

namespace qrx {
namespace pixel {

#if defined(__i386__) || defined(__x86_64__)
namespace {

using detail::kCbB;
using detail::kCbG;
using detail::kCbR;
using detail::kCbToB;
using detail::kCbToG;
using detail::kCrB;
using detail::kCrG;
using detail::kCrR;
using detail::kCrToG;
using detail::kCrToR;
using detail::kLumaB;
using detail::kLumaG;
using detail::kLumaR;

// Four packed 3-byte pixels (bytes 0..11 of v) to one pixel per 32-bit lane,
// the top byte of each lane zero.
QRX_SSE2 inline __m128i SpreadPixels(__m128i v) {
  const __m128i lane0 = _mm_setr_epi32(0x00FFFFFF, 0, 0, 0);
  const __m128i lane1 = _mm_setr_epi32(0, 0x00FFFFFF, 0, 0);
  const __m128i lane2 = _mm_setr_epi32(0, 0, 0x00FFFFFF, 0);
  const __m128i lane3 = _mm_setr_epi32(0, 0, 0, 0x00FFFFFF);
  const __m128i p01 = _mm_or_si128(_mm_and_si128(v, lane0), _mm_and_si128(_mm_slli_si128(v, 1), lane1));
  const __m128i p23 =
      _mm_or_si128(_mm_and_si128(_mm_slli_si128(v, 2), lane2), _mm_and_si128(_mm_slli_si128(v, 3), lane3));
  return _mm_or_si128(p01, p23);
}

// The inverse: one pixel per 32-bit lane (top bytes zero) to 12 packed
// bytes, bytes 12..15 zero.
QRX_SSE2 inline __m128i PackPixels(__m128i p) {
  const __m128i low3 = _mm_set_epi32(0, 0x00FFFFFF, 0, 0x00FFFFFF);
  const __m128i high3 =
      _mm_set_epi32(0x0000FFFF, static_cast<int>(0xFF000000u), 0x0000FFFF, static_cast<int>(0xFF000000u));
  // Each 64-bit half: six data bytes, then two zero bytes.
  const __m128i q = _mm_or_si128(_mm_and_si128(p, low3), _mm_and_si128(_mm_srli_epi64(p, 8), high3));
  return _mm_or_si128(_mm_move_epi64(q), _mm_slli_si128(_mm_srli_si128(q, 8), 6));
}

// Eight pixels: 24 bytes BGR in, 16 bytes working layout out.
QRX_SSE2 inline void ToWorking8(const uint8_t* bgr, uint8_t* working) {
  const __m128i p0 = SpreadPixels(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bgr)));
  const __m128i p1 = SpreadPixels(_mm_srli_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bgr + 8)), 4));
  const __m128i byteMask = _mm_set1_epi32(0xFF);
  // Planes of eight 16-bit values.
  const __m128i b = _mm_packs_epi32(_mm_and_si128(p0, byteMask), _mm_and_si128(p1, byteMask));
  const __m128i g =
      _mm_packs_epi32(_mm_and_si128(_mm_srli_epi32(p0, 8), byteMask), _mm_and_si128(_mm_srli_epi32(p1, 8), byteMask));
  const __m128i r = _mm_packs_epi32(_mm_srli_epi32(p0, 16), _mm_srli_epi32(p1, 16));

  // The luma sum is at most 256·255 and fits an unsigned 16-bit word, so
  // wrapping 16-bit arithmetic and a logical shift give it exactly.
  const __m128i ySum = _mm_add_epi16(
      _mm_add_epi16(_mm_mullo_epi16(b, _mm_set1_epi16(kLumaB)), _mm_mullo_epi16(g, _mm_set1_epi16(kLumaG))),
      _mm_mullo_epi16(r, _mm_set1_epi16(kLumaR)));
  const __m128i y = _mm_srli_epi16(ySum, 8);

  // Pair averages, one per 32-bit lane (high word zero).
  const __m128i ones = _mm_set1_epi16(1);
  const __m128i bAvg = _mm_srli_epi32(_mm_madd_epi16(b, ones), 1);
  const __m128i gAvg = _mm_srli_epi32(_mm_madd_epi16(g, ones), 1);
  const __m128i rAvg = _mm_srli_epi32(_mm_madd_epi16(r, ones), 1);
  // Words (B, R), (R, B) and (G, G) per pair: Cb in even words, Cr in odd ones.
  const __m128i br = _mm_or_si128(bAvg, _mm_slli_epi32(rAvg, 16));
  const __m128i rb = _mm_or_si128(rAvg, _mm_slli_epi32(bAvg, 16));
  const __m128i gg = _mm_or_si128(gAvg, _mm_slli_epi32(gAvg, 16));
  // |sum| <= 128·255 = 32640: exact in signed 16-bit words.
  const __m128i cSum = _mm_add_epi16(
      _mm_add_epi16(_mm_mullo_epi16(br, _mm_set1_epi32((kCrR << 16) | kCbB)),
                    _mm_mullo_epi16(gg, _mm_set1_epi32(static_cast<int>((static_cast<uint32_t>(kCrG) << 16) |
                                                                        (static_cast<uint32_t>(kCbG) & 0xFFFF))))),
      _mm_mullo_epi16(rb, _mm_set1_epi32(static_cast<int>((static_cast<uint32_t>(kCrB) << 16) |
                                                          (static_cast<uint32_t>(kCbR) & 0xFFFF)))));
  const __m128i c = _mm_add_epi16(_mm_srai_epi16(cSum, 8), _mm_set1_epi16(128));

  // Saturate both to bytes, then interleave Y0 Cb0 Y1 Cr0 ...
  const __m128i packed = _mm_packus_epi16(y, c);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(working), _mm_unpacklo_epi8(packed, _mm_srli_si128(packed, 8)));
}

// Eight pixels: 16 bytes working layout in, 24 bytes BGR out.
QRX_SSE2 inline void FromWorking8(const uint8_t* working, uint8_t* bgr) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(working));
  const __m128i y = _mm_and_si128(v, _mm_set1_epi16(0xFF));
  // Words u0 v0 u1 v1 ..., each 16·(C − 128) in −2048 … 2032.
  const __m128i uv = _mm_slli_epi16(_mm_sub_epi16(_mm_srli_epi16(v, 8), _mm_set1_epi16(128)), 4);
  const __m128i dBR = _mm_mulhi_epi16(uv, _mm_set1_epi32((kCrToR << 16) | kCbToB));
  const __m128i dGuv = _mm_mulhi_epi16(uv, _mm_set1_epi32(static_cast<int>((static_cast<uint32_t>(kCrToG) << 16) |
                                                                           (static_cast<uint32_t>(kCbToG) & 0xFFFF))));
  // Each pair's corrections repeated for both of its pixels.
  const __m128i dB = _mm_shufflehi_epi16(_mm_shufflelo_epi16(dBR, _MM_SHUFFLE(2, 2, 0, 0)), _MM_SHUFFLE(2, 2, 0, 0));
  const __m128i dR = _mm_shufflehi_epi16(_mm_shufflelo_epi16(dBR, _MM_SHUFFLE(3, 3, 1, 1)), _MM_SHUFFLE(3, 3, 1, 1));
  const __m128i dG =
      _mm_add_epi16(_mm_shufflehi_epi16(_mm_shufflelo_epi16(dGuv, _MM_SHUFFLE(2, 2, 0, 0)), _MM_SHUFFLE(2, 2, 0, 0)),
                    _mm_shufflehi_epi16(_mm_shufflelo_epi16(dGuv, _MM_SHUFFLE(3, 3, 1, 1)), _MM_SHUFFLE(3, 3, 1, 1)));
  // Luma plus at most ±227: no 16-bit overflow; the packs saturate.
  const __m128i blueRed = _mm_packus_epi16(_mm_add_epi16(y, dB), _mm_add_epi16(y, dR));
  const __m128i green = _mm_packus_epi16(_mm_add_epi16(y, dG), _mm_setzero_si128());
  const __m128i bg = _mm_unpacklo_epi8(blueRed, green);
  const __m128i r0 = _mm_unpackhi_epi8(blueRed, _mm_setzero_si128());
  const __m128i low = PackPixels(_mm_unpacklo_epi16(bg, r0));
  const __m128i high = PackPixels(_mm_unpackhi_epi16(bg, r0));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(bgr), _mm_or_si128(low, _mm_slli_si128(high, 12)));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(bgr + 16), _mm_srli_si128(high, 4));
}

QRX_SSE2 void ToWorkingRowSse2(const uint8_t* bgr, uint8_t* working, int32_t pairs) {
  int32_t i = 0;
  for (; i + 4 <= pairs; i += 4) ToWorking8(bgr + 6 * i, working + 4 * i);
  detail::ToWorkingPairs(bgr + 6 * i, working + 4 * i, pairs - i);
}

QRX_SSE2 void FromWorkingRowSse2(const uint8_t* working, uint8_t* bgr, int32_t pairs) {
  int32_t i = 0;
  for (; i + 4 <= pairs; i += 4) FromWorking8(working + 4 * i, bgr + 6 * i);
  detail::FromWorkingPairs(working + 4 * i, bgr + 6 * i, pairs - i);
}

// Bytes luma, cb, luma, cr repeated over the register.
QRX_SSE2 inline __m128i GroupPattern(int luma, int cb, int cr) {
  return _mm_set1_epi32(static_cast<int>(detail::GroupWord(luma, cb, cr)));
}

// Adds signed byte deltas with saturation: the positive parts with an
// unsigned saturating add, the negative parts with an unsigned saturating
// subtract (each byte has only one of them).
QRX_SSE2 void MarkGroupsSse2(uint8_t* row, int32_t groups, const detail::MarkDeltas& d) {
  const __m128i add =
      GroupPattern(detail::PositivePart(d.luma), detail::PositivePart(d.cb), detail::PositivePart(d.cr));
  const __m128i sub =
      GroupPattern(detail::NegativePart(d.luma), detail::NegativePart(d.cb), detail::NegativePart(d.cr));
  int32_t i = 0;
  for (; i + 2 <= groups; i += 2, row += 16) {
    __m128i* p = reinterpret_cast<__m128i*>(row);
    _mm_storeu_si128(p, _mm_subs_epu8(_mm_adds_epu8(_mm_loadu_si128(p), add), sub));
  }
  if (i < groups) {
    __m128i* p = reinterpret_cast<__m128i*>(row);
    _mm_storel_epi64(p, _mm_subs_epu8(_mm_adds_epu8(_mm_loadl_epi64(p), add), sub));
  }
}

}  // namespace

QRX_SSE2 void ConvertToWorkingSse2(const uint8_t* source, uint8_t* destination, const FrameFormatRecord& format,
                                   int32_t firstLine, int32_t lineCount) {
  detail::ForEachToWorking(source, destination, format, firstLine, lineCount, ToWorkingRowSse2);
}

QRX_SSE2 void ConvertFromWorkingSse2(const uint8_t* source, uint8_t* destination, const FrameFormatRecord& format,
                                     int32_t firstLine, int32_t lineCount) {
  detail::ForEachFromWorking(source, destination, format, firstLine, lineCount, FromWorkingRowSse2);
}

QRX_SSE2 void MarkRowSse2(uint8_t* buffer, int32_t width, int32_t height, int32_t row, uint32_t colour) {
  detail::MarkRowWith(buffer, width, height, row, colour, MarkGroupsSse2);
}

#endif

}  // namespace pixel
}  // namespace qrx
