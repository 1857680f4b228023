// SSE2 versions of the line kernels. Every function here carries the target
// attribute: the 32-bit build's baseline is a Pentium III, so none of this
// may run unless platform::Cpu() reports SSE2. Loads and stores are
// unaligned (frame lines and table rows have no useful alignment), tails
// shorter than one step go through the scalar definitions.
#include "platform/simd_target.h"
#include "transform/line_resample.h"

#if defined(__i386__) || defined(__x86_64__)

#include <emmintrin.h>

#include "transform/line_kernels_internal.h"

namespace qrx {
namespace line {
namespace {

QRX_SSE2 inline __m128i LoadLow64(const void* p) { return _mm_loadl_epi64(static_cast<const __m128i*>(p)); }

using detail::TableWalk;

// Four partial sums of one table row: pmaddwd over the taps, eight per step
// and a last step of four (T is a multiple of 4). Reads exactly T samples.
template <int32_t kTaps>
QRX_SSE2_INLINE __m128i RowProducts(const TableWalk<kTaps>& walk, const uint8_t* row) {
  const int32_t taps = walk.Taps();
  const uint8_t* c = walk.Coefficients(row);
  const uint8_t* s = walk.Samples(row);
  __m128i acc = _mm_setzero_si128();
  int32_t j = 0;
  for (; j + 8 <= taps; j += 8) {
    const __m128i cv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + 2 * j));
    const __m128i sv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 2 * j));
    acc = _mm_add_epi32(acc, _mm_madd_epi16(cv, sv));
  }
  if (j < taps) {
    acc = _mm_add_epi32(acc, _mm_madd_epi16(LoadLow64(c + 2 * j), LoadLow64(s + 2 * j)));
  }
  return acc;
}

// Results of the four consecutive rows from row i on, already >> 14.
template <int32_t kTaps>
QRX_SSE2_INLINE __m128i FourRows(const TableWalk<kTaps>& walk, int32_t i) {
  const __m128i a0 = RowProducts(walk, walk.Row(i));
  const __m128i a1 = RowProducts(walk, walk.Row(i + 1));
  const __m128i a2 = RowProducts(walk, walk.Row(i + 2));
  const __m128i a3 = RowProducts(walk, walk.Row(i + 3));
  // Transpose-and-add: lane k becomes the total of a_k.
  const __m128i s01 = _mm_add_epi32(_mm_unpacklo_epi32(a0, a1), _mm_unpackhi_epi32(a0, a1));
  const __m128i s23 = _mm_add_epi32(_mm_unpacklo_epi32(a2, a3), _mm_unpackhi_epi32(a2, a3));
  const __m128i sum = _mm_add_epi32(_mm_unpacklo_epi64(s01, s23), _mm_unpackhi_epi64(s01, s23));
  return _mm_srai_epi32(sum, 14);
}

// FloatToLuma for four lanes, before the final saturation: 0..256 per lane.
QRX_SSE2 inline __m128i RoundLanes(__m128 v) {
  // maxps returns its second operand when the first is NaN: NaN -> 0.
  v = _mm_max_ps(v, _mm_setzero_ps());
  v = _mm_min_ps(v, _mm_set1_ps(256.0f));
  const __m128i i = _mm_cvttps_epi32(v);
  // f = v - i is exact and 0 <= f < 1 (or -0), so its bit pattern orders like
  // the value: adding the low bit of i turns "f > 0.5" into "f >= 0.5" for
  // odd i, which is round half to even.
  const __m128i f = _mm_castps_si128(_mm_sub_ps(v, _mm_cvtepi32_ps(i)));
  const __m128i biased = _mm_add_epi32(f, _mm_and_si128(i, _mm_set1_epi32(1)));
  const __m128i up = _mm_cmpgt_epi32(biased, _mm_set1_epi32(0x3F000000));  // bits of 0.5f
  return _mm_sub_epi32(i, up);                                             // up is all ones (-1) where rounding up
}

// Eight rounded products as 16-bit lanes in 0..255.
QRX_SSE2 inline __m128i EightToLuma(const float* in, const float* inverse) {
  const __m128i lo = RoundLanes(_mm_mul_ps(_mm_loadu_ps(in), _mm_loadu_ps(inverse)));
  const __m128i hi = RoundLanes(_mm_mul_ps(_mm_loadu_ps(in + 4), _mm_loadu_ps(inverse + 4)));
  return _mm_min_epi16(_mm_packs_epi32(lo, hi), _mm_set1_epi16(255));
}

QRX_SSE2 void LumaToFloatsSse2(const uint8_t* frameRow, const float* window, float* out, int32_t n) {
  const __m128i lumaMask = _mm_set1_epi16(0x00FF);
  const __m128i zero = _mm_setzero_si128();
  int32_t x = 0;
  for (; x + 8 <= n; x += 8) {
    const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(frameRow + 2 * x));
    const __m128i luma = _mm_and_si128(pixels, lumaMask);
    const __m128 lo = _mm_cvtepi32_ps(_mm_unpacklo_epi16(luma, zero));
    const __m128 hi = _mm_cvtepi32_ps(_mm_unpackhi_epi16(luma, zero));
    _mm_storeu_ps(out + x, _mm_mul_ps(lo, _mm_loadu_ps(window + x)));
    _mm_storeu_ps(out + x + 4, _mm_mul_ps(hi, _mm_loadu_ps(window + x + 4)));
  }
  for (; x < n; ++x) out[x] = static_cast<float>(frameRow[2 * x]) * window[x];
}

template <int32_t kTaps>
QRX_SSE2 void ResampleToFloatsTaps(const ResampleTable& table, const uint16_t* line, const float* window, float* out) {
  const TableWalk<kTaps> walk(table, line);
  const int32_t d = walk.Rows();
  int32_t i = 0;
  for (; i + 4 <= d; i += 4) {
    const __m128 v = _mm_cvtepi32_ps(FourRows(walk, i));
    _mm_storeu_ps(out + i, _mm_mul_ps(v, _mm_loadu_ps(window + i)));
  }
  detail::ResampleToFloatsFrom(table, line, window, out, i);
}

QRX_SSE2 void ResampleToFloatsSse2(const ResampleTable& table, const uint16_t* line, const float* window, float* out) {
  detail::WithTapCount(table.taps,
                       [&](auto taps) { ResampleToFloatsTaps<decltype(taps)::value>(table, line, window, out); });
}

// Writes eight sixteen-bit lanes already in 0..255 as the luma bytes of the
// pixels at p, keeping the chroma bytes in between.
QRX_SSE2 inline void BlendLuma8(uint8_t* p, __m128i luma) {
  const __m128i chromaMask = _mm_set1_epi16(static_cast<int16_t>(0xFF00));
  __m128i* q = reinterpret_cast<__m128i*>(p);
  const __m128i chroma = _mm_and_si128(_mm_loadu_si128(q), chromaMask);
  _mm_storeu_si128(q, _mm_or_si128(chroma, luma));
}

QRX_SSE2 void FloatsToLumaSse2(const float* in, const float* inverse, uint8_t* frameRow, int32_t n) {
  int32_t x = 0;
  for (; x + 8 <= n; x += 8) BlendLuma8(frameRow + 2 * x, EightToLuma(in + x, inverse + x));
  for (; x < n; ++x) frameRow[2 * x] = FloatToLuma(in[x] * inverse[x]);
}

QRX_SSE2 void FloatsToSamplesSse2(const float* in, const float* inverse, uint16_t* line, int32_t n) {
  int32_t i = 0;
  for (; i + 8 <= n; i += 8) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(line + i), EightToLuma(in + i, inverse + i));
  }
  for (; i < n; ++i) line[i] = FloatToLuma(in[i] * inverse[i]);
}

// Saturates sixteen-bit lanes to 0..255 and writes them as luma.
QRX_SSE2 inline void StoreLuma8(uint8_t* p, __m128i luma16) {
  BlendLuma8(p, _mm_min_epi16(_mm_max_epi16(luma16, _mm_setzero_si128()), _mm_set1_epi16(255)));
}

template <int32_t kTaps>
QRX_SSE2 void ResampleToLumaTaps(const ResampleTable& table, const uint16_t* line, uint8_t* frameRow) {
  const __m128i chromaMask = _mm_set1_epi16(static_cast<int16_t>(0xFF00));
  const TableWalk<kTaps> walk(table, line);
  const int32_t d = walk.Rows();
  int32_t x = 0;
  for (; x + 8 <= d; x += 8) {
    const __m128i lo = FourRows(walk, x);
    const __m128i hi = FourRows(walk, x + 4);
    StoreLuma8(frameRow + 2 * x, _mm_packs_epi32(lo, hi));
  }
  if (x + 4 <= d) {
    const __m128i r = FourRows(walk, x);
    __m128i luma = _mm_packs_epi32(r, r);
    luma = _mm_min_epi16(_mm_max_epi16(luma, _mm_setzero_si128()), _mm_set1_epi16(255));
    __m128i* p = reinterpret_cast<__m128i*>(frameRow + 2 * x);
    const __m128i chroma = _mm_and_si128(_mm_loadl_epi64(p), chromaMask);
    _mm_storel_epi64(p, _mm_or_si128(chroma, luma));
    x += 4;
  }
  detail::ResampleToLumaFrom(table, line, frameRow, x);
}

QRX_SSE2 void ResampleToLumaSse2(const ResampleTable& table, const uint16_t* line, uint8_t* frameRow) {
  detail::WithTapCount(table.taps,
                       [&](auto taps) { ResampleToLumaTaps<decltype(taps)::value>(table, line, frameRow); });
}

QRX_SSE2 void LumaToSamplesSse2(const uint8_t* frameRow, uint16_t* line, int32_t n) {
  const __m128i lumaMask = _mm_set1_epi16(0x00FF);
  int32_t x = 0;
  for (; x + 16 <= n; x += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(frameRow + 2 * x));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(frameRow + 2 * x + 16));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(line + x), _mm_and_si128(a, lumaMask));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(line + x + 8), _mm_and_si128(b, lumaMask));
  }
  if (x + 8 <= n) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(frameRow + 2 * x));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(line + x), _mm_and_si128(a, lumaMask));
    x += 8;
  }
  for (; x < n; ++x) line[x] = frameRow[2 * x];
}

const Kernels kSse2 = {LumaToFloatsSse2,    ResampleToFloatsSse2, FloatsToLumaSse2,
                       FloatsToSamplesSse2, ResampleToLumaSse2,   LumaToSamplesSse2};

}  // namespace

const Kernels* Sse2Kernels() { return &kSse2; }

}  // namespace line
}  // namespace qrx

#else

namespace qrx {
namespace line {
const Kernels* Sse2Kernels() { return nullptr; }
}  // namespace line
}  // namespace qrx

#endif
