// Line kernels for processors with SSE but no SSE2: 64-bit integer SIMD
// (MMX, with the integer additions that came with SSE) for the samples and
// the Q14 sums, SSE single precision for the window products, four samples
// per step. Integers cross into floats with cvtpi2ps and back with cvtps2pi,
// two lanes at a time.
//
// MMX registers are the x87 registers: every kernel ends its MMX work with
// EMMS (_mm_empty) before the scalar tail and before it returns, so x87 code
// that follows (long double arithmetic, and on 32-bit x86 every float a
// function returns) finds an empty register stack.
#include "platform/simd_target.h"
#include "transform/line_resample.h"

#if defined(__i386__) || defined(__x86_64__)

#include <xmmintrin.h>

#include <cstring>

#include "transform/line_kernels_internal.h"

namespace qrx {
namespace line {
namespace {

QRX_MMX_INLINE __m64 Load64(const void* p) {
  __m64 v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

QRX_MMX_INLINE void Store64(void* p, __m64 v) { std::memcpy(p, &v, sizeof v); }

using detail::TableWalk;

// Two partial sums of one table row: pmaddwd over the taps, four per step
// (T is a multiple of 4). Reads exactly T samples.
template <int32_t kTaps>
QRX_MMX_INLINE __m64 RowProducts(const TableWalk<kTaps>& walk, const uint8_t* row) {
  const int32_t taps = walk.Taps();
  const uint8_t* c = walk.Coefficients(row);
  const uint8_t* s = walk.Samples(row);
  __m64 acc = _mm_madd_pi16(Load64(c), Load64(s));
  for (int32_t j = 4; j < taps; j += 4) {
    acc = _mm_add_pi32(acc, _mm_madd_pi16(Load64(c + 2 * j), Load64(s + 2 * j)));
  }
  return acc;
}

// Results of the two consecutive rows from row i on, already >> 14.
template <int32_t kTaps>
QRX_MMX_INLINE __m64 TwoRows(const TableWalk<kTaps>& walk, int32_t i) {
  const __m64 a0 = RowProducts(walk, walk.Row(i));
  const __m64 a1 = RowProducts(walk, walk.Row(i + 1));
  return _mm_srai_pi32(_mm_add_pi32(_mm_unpacklo_pi32(a0, a1), _mm_unpackhi_pi32(a0, a1)), 14);
}

// Four 32-bit integers (two registers) as four floats; exact for the
// values here (|v| < 2^24).
QRX_MMX_INLINE __m128 ToFloats(__m64 low, __m64 high) { return _mm_cvtpi32x2_ps(low, high); }

// Four floats to 16-bit lanes with the rounding of FloatToLuma. The clamp
// comes first (maxps gives its second operand for NaN, so NaN becomes 0);
// cvtps2pi then rounds to nearest, ties to even, which the caller's
// NearestRounding guarantees. Lanes end up in 0..255.
QRX_MMX_INLINE __m64 RoundToLuma(__m128 v) {
  v = _mm_min_ps(_mm_max_ps(v, _mm_setzero_ps()), _mm_set1_ps(256.0f));
  const __m64 words = _mm_packs_pi32(_mm_cvtps_pi32(v), _mm_cvtps_pi32(_mm_movehl_ps(v, v)));
  return _mm_min_pi16(words, _mm_set1_pi16(255));
}

QRX_MMX_INLINE __m64 FourToLuma(const float* in, const float* inverse) {
  return RoundToLuma(_mm_mul_ps(_mm_loadu_ps(in), _mm_loadu_ps(inverse)));
}

// Round to nearest for the lifetime of the object, whatever the caller's
// rounding mode; the caller's control and status word comes back after.
class NearestRounding {
 public:
  QRX_MMX NearestRounding() : saved_(_mm_getcsr()) { _mm_setcsr(saved_ & ~static_cast<unsigned>(_MM_ROUND_MASK)); }
  QRX_MMX ~NearestRounding() { _mm_setcsr(saved_); }
  NearestRounding(const NearestRounding&) = delete;
  NearestRounding& operator=(const NearestRounding&) = delete;

 private:
  unsigned saved_;
};

// Writes four 16-bit lanes already in 0..255 as the luma bytes of the
// pixels at p, keeping the chroma bytes in between.
QRX_MMX_INLINE void BlendLuma4(uint8_t* p, __m64 luma) {
  const __m64 chroma = _mm_and_si64(Load64(p), _mm_set1_pi16(static_cast<int16_t>(0xFF00)));
  Store64(p, _mm_or_si64(chroma, luma));
}

QRX_MMX void LumaToFloatsMmx(const uint8_t* frameRow, const float* window, float* out, int32_t n) {
  const __m64 lumaMask = _mm_set1_pi16(0x00FF);
  const __m64 zero = _mm_setzero_si64();
  int32_t x = 0;
  for (; x + 4 <= n; x += 4) {
    const __m64 luma = _mm_and_si64(Load64(frameRow + 2 * x), lumaMask);
    const __m128 v = ToFloats(_mm_unpacklo_pi16(luma, zero), _mm_unpackhi_pi16(luma, zero));
    _mm_storeu_ps(out + x, _mm_mul_ps(v, _mm_loadu_ps(window + x)));
  }
  _mm_empty();
  for (; x < n; ++x) out[x] = static_cast<float>(frameRow[2 * x]) * window[x];
}

template <int32_t kTaps>
QRX_MMX void ResampleToFloatsTaps(const ResampleTable& table, const uint16_t* line, const float* window, float* out) {
  const TableWalk<kTaps> walk(table, line);
  const int32_t d = walk.Rows();
  int32_t i = 0;
  for (; i + 4 <= d; i += 4) {
    const __m128 v = ToFloats(TwoRows(walk, i), TwoRows(walk, i + 2));
    _mm_storeu_ps(out + i, _mm_mul_ps(v, _mm_loadu_ps(window + i)));
  }
  _mm_empty();
  detail::ResampleToFloatsFrom(table, line, window, out, i);
}

QRX_MMX void ResampleToFloatsMmx(const ResampleTable& table, const uint16_t* line, const float* window, float* out) {
  detail::WithTapCount(table.taps,
                       [&](auto taps) { ResampleToFloatsTaps<decltype(taps)::value>(table, line, window, out); });
}

QRX_MMX void FloatsToLumaMmx(const float* in, const float* inverse, uint8_t* frameRow, int32_t n) {
  int32_t x = 0;
  {
    NearestRounding nearest;
    for (; x + 4 <= n; x += 4) BlendLuma4(frameRow + 2 * x, FourToLuma(in + x, inverse + x));
    _mm_empty();
  }
  for (; x < n; ++x) frameRow[2 * x] = FloatToLuma(in[x] * inverse[x]);
}

QRX_MMX void FloatsToSamplesMmx(const float* in, const float* inverse, uint16_t* line, int32_t n) {
  int32_t i = 0;
  {
    NearestRounding nearest;
    for (; i + 4 <= n; i += 4) Store64(line + i, FourToLuma(in + i, inverse + i));
    _mm_empty();
  }
  for (; i < n; ++i) line[i] = FloatToLuma(in[i] * inverse[i]);
}

template <int32_t kTaps>
QRX_MMX void ResampleToLumaTaps(const ResampleTable& table, const uint16_t* line, uint8_t* frameRow) {
  const TableWalk<kTaps> walk(table, line);
  const int32_t d = walk.Rows();
  const __m64 zero = _mm_setzero_si64();
  const __m64 max = _mm_set1_pi16(255);
  int32_t x = 0;
  for (; x + 4 <= d; x += 4) {
    // The sums are far inside 16 bits, so the signed pack is exact.
    const __m64 sums = _mm_packs_pi32(TwoRows(walk, x), TwoRows(walk, x + 2));
    BlendLuma4(frameRow + 2 * x, _mm_min_pi16(_mm_max_pi16(sums, zero), max));
  }
  _mm_empty();
  detail::ResampleToLumaFrom(table, line, frameRow, x);
}

QRX_MMX void ResampleToLumaMmx(const ResampleTable& table, const uint16_t* line, uint8_t* frameRow) {
  detail::WithTapCount(table.taps,
                       [&](auto taps) { ResampleToLumaTaps<decltype(taps)::value>(table, line, frameRow); });
}

QRX_MMX void LumaToSamplesMmx(const uint8_t* frameRow, uint16_t* line, int32_t n) {
  const __m64 lumaMask = _mm_set1_pi16(0x00FF);
  int32_t x = 0;
  for (; x + 4 <= n; x += 4) Store64(line + x, _mm_and_si64(Load64(frameRow + 2 * x), lumaMask));
  _mm_empty();
  for (; x < n; ++x) line[x] = frameRow[2 * x];
}

const Kernels kMmx = {LumaToFloatsMmx,    ResampleToFloatsMmx, FloatsToLumaMmx,
                      FloatsToSamplesMmx, ResampleToLumaMmx,   LumaToSamplesMmx};

}  // namespace

const Kernels* MmxKernels() { return &kMmx; }

}  // namespace line
}  // namespace qrx

#else

namespace qrx {
namespace line {
const Kernels* MmxKernels() { return nullptr; }
}  // namespace line
}  // namespace qrx

#endif
