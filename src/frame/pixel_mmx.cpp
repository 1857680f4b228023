// Pixel converters for processors with SSE but no SSE2: 64-bit integer SIMD
// (MMX, plus pshufw from SSE's integer additions). Each pixel pair to the
// working layout takes two luma multiply-adds and one chroma pair; both
// conversions move two pairs per step, MarkRow four pixels; saturating packs
// and adds instead of per-byte clamping. The scalar row routines do the rest
// of each line.
//
// MMX registers are the x87 registers: each row routine ends its MMX work
// with EMMS (_mm_empty) before the scalar tail, so the caller never finds
// the x87 stack in use.
#include "frame/pixel_internal.h"
#include "platform/simd_target.h"

#if defined(__i386__) || defined(__x86_64__)
#include <xmmintrin.h>

#include <cstring>

#endif

namespace qrx {
namespace pixel {

#if defined(__i386__) || defined(__x86_64__)
namespace {

using namespace detail;  // the colour coefficients and the scalar row routines

QRX_MMX_INLINE __m64 Load64(const void* p) {
  __m64 v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

QRX_MMX_INLINE void Store64(void* p, __m64 v) { std::memcpy(p, &v, sizeof v); }

QRX_MMX_INLINE void Store32(void* p, __m64 v) {
  const int32_t low = _mm_cvtsi64_si32(v);
  std::memcpy(p, &low, sizeof low);
}

// One pair: the 6 bytes B0 G0 R0 B1 G1 R1 at bgr (and 2 bytes after them,
// read but unused) to the words Y0, Cb − 128, Y1, Cr − 128.
QRX_MMX_INLINE __m64 PairWords(const uint8_t* bgr) {
  const __m64 zero = _mm_setzero_si64();
  const __m64 bytes = Load64(bgr);
  // Words (B0, G0, R0, B1) and (B1, G1, R1, x): the fourth word of each
  // meets a zero weight.
  const __m64 first = _mm_unpacklo_pi8(bytes, zero);
  const __m64 second = _mm_unpacklo_pi8(_mm_srli_si64(bytes, 24), zero);
  // Pair averages B, G, R (sums up to 510 fit the words).
  const __m64 average = _mm_srli_pi16(_mm_add_pi16(first, second), 1);
  // Two partial sums each: (29·B + 150·G, 77·R) per pixel,
  // (128·B − 85·G, −43·R) for Cb and (−21·B − 107·G, 128·R) for Cr.
  const __m64 lumaWeights = _mm_setr_pi16(kLumaB, kLumaG, kLumaR, 0);
  const __m64 y0 = _mm_madd_pi16(first, lumaWeights);
  const __m64 y1 = _mm_madd_pi16(second, lumaWeights);
  const __m64 cb = _mm_madd_pi16(average, _mm_setr_pi16(kCbB, kCbG, kCbR, 0));
  const __m64 cr = _mm_madd_pi16(average, _mm_setr_pi16(kCrB, kCrG, kCrR, 0));
  // Completed sums (Y0, Cb) and (Y1, Cr), already in working order; the
  // arithmetic shifts floor the signed chroma sums.
  const __m64 y0cb = _mm_add_pi32(_mm_unpacklo_pi32(y0, cb), _mm_unpackhi_pi32(y0, cb));
  const __m64 y1cr = _mm_add_pi32(_mm_unpacklo_pi32(y1, cr), _mm_unpackhi_pi32(y1, cr));
  return _mm_packs_pi32(_mm_srai_pi32(y0cb, 8), _mm_srai_pi32(y1cr, 8));
}

// Two pairs: 12 bytes BGR (and 2 after them) to 8 bytes working layout.
QRX_MMX_INLINE void ToWorkingTwoPairs(const uint8_t* bgr, uint8_t* working) {
  const __m64 offset = _mm_setr_pi16(0, 128, 0, 128);
  Store64(working, _mm_packs_pu16(_mm_add_pi16(PairWords(bgr), offset), _mm_add_pi16(PairWords(bgr + 6), offset)));
}

// Two pixels as (b g r 0) in each 32-bit lane to 6 packed bytes and two
// zero bytes.
QRX_MMX_INLINE __m64 Squeeze(__m64 pixels) {
  const __m64 low = _mm_and_si64(pixels, _mm_set_pi32(0, 0x00FFFFFF));
  const __m64 high = _mm_and_si64(_mm_srli_si64(pixels, 8), _mm_set_pi32(0x0000FFFF, static_cast<int>(0xFF000000u)));
  return _mm_or_si64(low, high);
}

// Two pairs: 8 bytes Y0 Cb0 Y1 Cr0 Y2 Cb1 Y3 Cr1 to 12 bytes BGR.
QRX_MMX_INLINE void FromWorkingTwoPairs(const uint8_t* working, uint8_t* bgr) {
  const __m64 zero = _mm_setzero_si64();
  const __m64 v = Load64(working);
  const __m64 y = _mm_and_si64(v, _mm_set1_pi16(0x00FF));
  // Words u0 v0 u1 v1, each 16·(C − 128) in −2048 … 2032.
  const __m64 uv = _mm_slli_pi16(_mm_sub_pi16(_mm_srli_pi16(v, 8), _mm_set1_pi16(128)), 4);
  const __m64 dBR = _mm_mulhi_pi16(uv, _mm_setr_pi16(kCbToB, kCrToR, kCbToB, kCrToR));
  const __m64 dGuv = _mm_mulhi_pi16(uv, _mm_setr_pi16(kCbToG, kCrToG, kCbToG, kCrToG));
  // Each pair's corrections repeated for both of its pixels.
  const __m64 dB = _mm_shuffle_pi16(dBR, _MM_SHUFFLE(2, 2, 0, 0));
  const __m64 dR = _mm_shuffle_pi16(dBR, _MM_SHUFFLE(3, 3, 1, 1));
  const __m64 dG =
      _mm_add_pi16(_mm_shuffle_pi16(dGuv, _MM_SHUFFLE(2, 2, 0, 0)), _mm_shuffle_pi16(dGuv, _MM_SHUFFLE(3, 3, 1, 1)));
  // Luma plus at most ±227 stays inside the words; the packs saturate.
  const __m64 blueGreen = _mm_packs_pu16(_mm_add_pi16(y, dB), _mm_add_pi16(y, dG));  // b0..b3 g0..g3
  const __m64 red = _mm_packs_pu16(_mm_add_pi16(y, dR), zero);                       // r0..r3 0..0
  const __m64 bg = _mm_unpacklo_pi8(blueGreen, _mm_srli_si64(blueGreen, 32));        // b0 g0 b1 g1 ...
  const __m64 r0 = _mm_unpacklo_pi8(red, zero);                                      // r0 0 r1 0 ...
  const __m64 pixels01 = Squeeze(_mm_unpacklo_pi16(bg, r0));
  const __m64 pixels23 = Squeeze(_mm_unpackhi_pi16(bg, r0));
  Store64(bgr, _mm_or_si64(pixels01, _mm_slli_si64(pixels23, 48)));
  Store32(bgr + 8, _mm_srli_si64(pixels23, 16));
}

QRX_MMX void ToWorkingRowMmx(const uint8_t* bgr, uint8_t* working, int32_t pairs) {
  int32_t i = 0;
  // Each step reads two bytes past its pairs: the last pair goes scalar.
  for (; i + 2 < pairs; i += 2) ToWorkingTwoPairs(bgr + 6 * i, working + 4 * i);
  _mm_empty();
  ToWorkingPairs(bgr + 6 * i, working + 4 * i, pairs - i);
}

QRX_MMX void FromWorkingRowMmx(const uint8_t* working, uint8_t* bgr, int32_t pairs) {
  int32_t i = 0;
  for (; i + 2 <= pairs; i += 2) FromWorkingTwoPairs(working + 4 * i, bgr + 6 * i);
  _mm_empty();
  FromWorkingPairs(working + 4 * i, bgr + 6 * i, pairs - i);
}

// Bytes luma, cb, luma, cr repeated over the register.
QRX_MMX_INLINE __m64 GroupPattern(int luma, int cb, int cr) {
  return _mm_set1_pi32(static_cast<int>(GroupWord(luma, cb, cr)));
}

// Adds signed byte deltas with saturation: the positive parts with an
// unsigned saturating add, the negative parts with an unsigned saturating
// subtract (each byte has only one of them).
QRX_MMX void MarkGroupsMmx(uint8_t* row, int32_t groups, const MarkDeltas& d) {
  const __m64 add = GroupPattern(PositivePart(d.luma), PositivePart(d.cb), PositivePart(d.cr));
  const __m64 sub = GroupPattern(NegativePart(d.luma), NegativePart(d.cb), NegativePart(d.cr));
  for (int32_t i = 0; i < groups; ++i, row += 8) Store64(row, _mm_subs_pu8(_mm_adds_pu8(Load64(row), add), sub));
  _mm_empty();
}

}  // namespace

QRX_MMX void ConvertToWorkingMmx(const uint8_t* source, uint8_t* destination, const FrameFormatRecord& format,
                                 int32_t firstLine, int32_t lineCount) {
  detail::ForEachToWorking(source, destination, format, firstLine, lineCount, ToWorkingRowMmx);
}

QRX_MMX void ConvertFromWorkingMmx(const uint8_t* source, uint8_t* destination, const FrameFormatRecord& format,
                                   int32_t firstLine, int32_t lineCount) {
  detail::ForEachFromWorking(source, destination, format, firstLine, lineCount, FromWorkingRowMmx);
}

QRX_MMX void MarkRowMmx(uint8_t* buffer, int32_t width, int32_t height, int32_t row, uint32_t colour) {
  detail::MarkRowWith(buffer, width, height, row, colour, MarkGroupsMmx);
}

#endif

}  // namespace pixel
}  // namespace qrx
