// The spectrum's display values (see display_kernels.h).
#include "transform/display_kernels.h"
#include "platform/simd_target.h"

#include <cmath>
#include <cstring>

#include "platform/cpu.h"

#if defined(__i386__) || defined(__x86_64__)
#include <immintrin.h>
#define QRX_HAVE_SSE2_KERNELS 1
#endif

namespace qrx {
namespace display {

namespace {

// ln(x) = e ln 2 + ln(m), m in [sqrt(1/2), sqrt(2)); ln(1 + t) for
// t = m - 1 from a minimax polynomial (the single-precision logarithm of the
// Cephes library), with ln 2 split in two for exactness.
constexpr float kSqrtHalf = 0.707106781186547524f;
constexpr float kP[9] = {7.0376836292E-2f, -1.1514610310E-1f, 1.1676998740E-1f, -1.2420140846E-1f, 1.4249322787E-1f,
                         -1.6668057665E-1f, 2.0000714765E-1f, -2.4999993993E-1f, 3.3333331174E-1f};
constexpr float kLn2Low = -2.12194440e-4f;
constexpr float kLn2High = 0.693359375f;
constexpr float kLog10E = 0.434294481903251827651f;

inline float Log10Scalar(float x) {
  uint32_t bits;
  std::memcpy(&bits, &x, 4);
  int32_t e = static_cast<int32_t>((bits >> 23) & 0xFF) - 126;
  const uint32_t mantissaBits = (bits & 0x007FFFFFu) | 0x3F000000u;  // [0.5, 1)
  float m;
  std::memcpy(&m, &mantissaBits, 4);
  const bool small = m < kSqrtHalf;
  e -= small ? 1 : 0;
  m = m + (small ? m : 0.0f) - 1.0f;
  const float z = m * m;
  float y = kP[0];
  for (int i = 1; i < 9; ++i) y = y * m + kP[i];
  y = y * m;
  y = y * z;
  const float fe = static_cast<float>(e);
  y = y + fe * kLn2Low;
  y = y + z * -0.5f;
  float r = m + y;
  r = r + fe * kLn2High;
  r = r * kLog10E;
  // Infinity and NaN come through as themselves.
  return (x == x && x < INFINITY) ? r : x;
}

}  // namespace

void LogMagnitudeScalar(const float* row, float* out, int32_t count, float scale) {
  for (int32_t k = 0; k < count; ++k) {
    const float re = row[2 * k], im = row[2 * k + 1];
    const float x = 1.0f + std::sqrt(re * re + im * im);
    out[k] = scale * Log10Scalar(x);
  }
}

#if QRX_HAVE_SSE2_KERNELS

namespace {

QRX_SSE2 inline __m128 Log10Sse2(__m128 x) {
  const __m128i bits = _mm_castps_si128(x);
  __m128i e = _mm_sub_epi32(_mm_and_si128(_mm_srli_epi32(bits, 23), _mm_set1_epi32(0xFF)), _mm_set1_epi32(126));
  __m128 m = _mm_castsi128_ps(
      _mm_or_si128(_mm_and_si128(bits, _mm_set1_epi32(0x007FFFFF)), _mm_set1_epi32(0x3F000000)));
  const __m128 small = _mm_cmplt_ps(m, _mm_set1_ps(kSqrtHalf));
  e = _mm_add_epi32(e, _mm_castps_si128(small));  // all ones: minus one
  m = _mm_sub_ps(_mm_add_ps(m, _mm_and_ps(small, m)), _mm_set1_ps(1.0f));
  const __m128 z = _mm_mul_ps(m, m);
  __m128 y = _mm_set1_ps(kP[0]);
  for (int i = 1; i < 9; ++i) y = _mm_add_ps(_mm_mul_ps(y, m), _mm_set1_ps(kP[i]));
  y = _mm_mul_ps(y, m);
  y = _mm_mul_ps(y, z);
  const __m128 fe = _mm_cvtepi32_ps(e);
  y = _mm_add_ps(y, _mm_mul_ps(fe, _mm_set1_ps(kLn2Low)));
  y = _mm_add_ps(y, _mm_mul_ps(z, _mm_set1_ps(-0.5f)));
  __m128 r = _mm_add_ps(m, y);
  r = _mm_add_ps(r, _mm_mul_ps(fe, _mm_set1_ps(kLn2High)));
  r = _mm_mul_ps(r, _mm_set1_ps(kLog10E));
  const __m128 finite = _mm_and_ps(_mm_cmpord_ps(x, x), _mm_cmplt_ps(x, _mm_set1_ps(INFINITY)));
  return _mm_or_ps(_mm_and_ps(finite, r), _mm_andnot_ps(finite, x));
}

}  // namespace

QRX_SSE2 void LogMagnitudeSse2(const float* row, float* out, int32_t count, float scale) {
  const __m128 one = _mm_set1_ps(1.0f), factor = _mm_set1_ps(scale);
  int32_t k = 0;
  for (; k + 4 <= count; k += 4) {
    // Two loads of two complex elements; split into real and imaginary parts.
    const __m128 a = _mm_loadu_ps(row + 2 * k), b = _mm_loadu_ps(row + 2 * k + 4);
    const __m128 re = _mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0));
    const __m128 im = _mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1));
    const __m128 x = _mm_add_ps(one, _mm_sqrt_ps(_mm_add_ps(_mm_mul_ps(re, re), _mm_mul_ps(im, im))));
    _mm_storeu_ps(out + k, _mm_mul_ps(factor, Log10Sse2(x)));
  }
  LogMagnitudeScalar(row + 2 * k, out + k, count - k, scale);
}

namespace {

// The same steps on eight elements.
QRX_AVX2 inline __m256 Log10Avx2(__m256 x) {
  const __m256i bits = _mm256_castps_si256(x);
  __m256i e = _mm256_sub_epi32(_mm256_and_si256(_mm256_srli_epi32(bits, 23), _mm256_set1_epi32(0xFF)),
                               _mm256_set1_epi32(126));
  __m256 m = _mm256_castsi256_ps(
      _mm256_or_si256(_mm256_and_si256(bits, _mm256_set1_epi32(0x007FFFFF)), _mm256_set1_epi32(0x3F000000)));
  const __m256 small = _mm256_cmp_ps(m, _mm256_set1_ps(kSqrtHalf), _CMP_LT_OQ);
  e = _mm256_add_epi32(e, _mm256_castps_si256(small));
  m = _mm256_sub_ps(_mm256_add_ps(m, _mm256_and_ps(small, m)), _mm256_set1_ps(1.0f));
  const __m256 z = _mm256_mul_ps(m, m);
  __m256 y = _mm256_set1_ps(kP[0]);
  for (int i = 1; i < 9; ++i) y = _mm256_add_ps(_mm256_mul_ps(y, m), _mm256_set1_ps(kP[i]));
  y = _mm256_mul_ps(y, m);
  y = _mm256_mul_ps(y, z);
  const __m256 fe = _mm256_cvtepi32_ps(e);
  y = _mm256_add_ps(y, _mm256_mul_ps(fe, _mm256_set1_ps(kLn2Low)));
  y = _mm256_add_ps(y, _mm256_mul_ps(z, _mm256_set1_ps(-0.5f)));
  __m256 r = _mm256_add_ps(m, y);
  r = _mm256_add_ps(r, _mm256_mul_ps(fe, _mm256_set1_ps(kLn2High)));
  r = _mm256_mul_ps(r, _mm256_set1_ps(kLog10E));
  const __m256 finite =
      _mm256_and_ps(_mm256_cmp_ps(x, x, _CMP_ORD_Q), _mm256_cmp_ps(x, _mm256_set1_ps(INFINITY), _CMP_LT_OQ));
  return _mm256_or_ps(_mm256_and_ps(finite, r), _mm256_andnot_ps(finite, x));
}

}  // namespace

QRX_AVX2 void LogMagnitudeAvx2(const float* row, float* out, int32_t count, float scale) {
  const __m256 one = _mm256_set1_ps(1.0f), factor = _mm256_set1_ps(scale);
  int32_t k = 0;
  for (; k + 8 <= count; k += 8) {
    // Four complex elements per load; the lanes come out in the order
    // 0 1 4 5 2 3 6 7, which the permute puts right.
    const __m256 a = _mm256_loadu_ps(row + 2 * k), b = _mm256_loadu_ps(row + 2 * k + 8);
    const __m256 re = _mm256_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0));
    const __m256 im = _mm256_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1));
    const __m256 x =
        _mm256_add_ps(one, _mm256_sqrt_ps(_mm256_add_ps(_mm256_mul_ps(re, re), _mm256_mul_ps(im, im))));
    const __m256 v = _mm256_mul_ps(factor, Log10Avx2(x));
    _mm256_storeu_ps(out + k, _mm256_castpd_ps(_mm256_permute4x64_pd(_mm256_castps_pd(v), _MM_SHUFFLE(3, 1, 2, 0))));
  }
  LogMagnitudeSse2(row + 2 * k, out + k, count - k, scale);
}

#else

void LogMagnitudeAvx2(const float* row, float* out, int32_t count, float scale) {
  LogMagnitudeScalar(row, out, count, scale);
}

void LogMagnitudeSse2(const float* row, float* out, int32_t count, float scale) {
  LogMagnitudeScalar(row, out, count, scale);
}

#endif

void LogMagnitude(const float* row, float* out, int32_t count, float scale) {
  if (platform::Cpu().avx2) LogMagnitudeAvx2(row, out, count, scale);
  else if (platform::Cpu().sse2) LogMagnitudeSse2(row, out, count, scale);
  else LogMagnitudeScalar(row, out, count, scale);
}

}  // namespace display
}  // namespace qrx
