// Eight lanes of single-precision floats and 32-bit integers with AVX2: the
// same trait as simd_lanes_sse2.h (which lists what a trait provides).
// Include it only between QRX_BEGIN_TARGET_AVX2 and QRX_END_TARGET, after
// <immintrin.h>. No FMA: separate multiplies and adds keep every lane equal
// to the scalar references.
#pragma once

#include <cstdint>

namespace qrx {
namespace simd {
namespace {

struct Avx2Lanes {
  using F = __m256;
  using I = __m256i;
  static constexpr int32_t kLanes = 8;

  static F LoadU(const float* p) { return _mm256_loadu_ps(p); }
  static void StoreU(float* p, F v) { _mm256_storeu_ps(p, v); }
  static F Set1(float x) { return _mm256_set1_ps(x); }
  static I Set1I(int32_t x) { return _mm256_set1_epi32(x); }
  static F Add(F a, F b) { return _mm256_add_ps(a, b); }
  static F Sub(F a, F b) { return _mm256_sub_ps(a, b); }
  static F Mul(F a, F b) { return _mm256_mul_ps(a, b); }
  static F Sqrt(F a) { return _mm256_sqrt_ps(a); }
  static F Min(F a, F b) { return _mm256_min_ps(a, b); }
  static F Max(F a, F b) { return _mm256_max_ps(a, b); }
  static F CmpLt(F a, F b) { return _mm256_cmp_ps(a, b, _CMP_LT_OQ); }
  static F CmpGt(F a, F b) { return _mm256_cmp_ps(a, b, _CMP_GT_OQ); }
  static F CmpEq(F a, F b) { return _mm256_cmp_ps(a, b, _CMP_EQ_OQ); }
  static F CmpOrdered(F a, F b) { return _mm256_cmp_ps(a, b, _CMP_ORD_Q); }
  static F And(F a, F b) { return _mm256_and_ps(a, b); }
  static F Or(F a, F b) { return _mm256_or_ps(a, b); }
  static F AndNot(F a, F b) { return _mm256_andnot_ps(a, b); }
  static I AddI(I a, I b) { return _mm256_add_epi32(a, b); }
  static I SubI(I a, I b) { return _mm256_sub_epi32(a, b); }
  static I AndI(I a, I b) { return _mm256_and_si256(a, b); }
  static I OrI(I a, I b) { return _mm256_or_si256(a, b); }
  static I CmpEqI(I a, I b) { return _mm256_cmpeq_epi32(a, b); }
  template <int kBits>
  static I ShiftRightI(I a) {
    return _mm256_srli_epi32(a, kBits);
  }
  static I AsI(F a) { return _mm256_castps_si256(a); }
  static F AsF(I a) { return _mm256_castsi256_ps(a); }
  static F ToF(I a) { return _mm256_cvtepi32_ps(a); }
  static I Truncate(F a) { return _mm256_cvttps_epi32(a); }
  // The in-lane shuffles leave the elements in the order 0 1 4 5 2 3 6 7.
  static void LoadComplex(const float* p, F* re, F* im) {
    const F a = _mm256_loadu_ps(p), b = _mm256_loadu_ps(p + 8);
    *re = _mm256_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0));
    *im = _mm256_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1));
  }
  static void StoreInOrder(float* p, F v) {
    _mm256_storeu_ps(p, _mm256_castpd_ps(_mm256_permute4x64_pd(_mm256_castps_pd(v), _MM_SHUFFLE(3, 1, 2, 0))));
  }
  static void Lookup(const uint32_t* table, I index, uint32_t* out) {
    _mm256_storeu_si256(reinterpret_cast<I*>(out),
                        _mm256_i32gather_epi32(reinterpret_cast<const int*>(table), index, 4));
  }
};

}  // namespace
}  // namespace simd
}  // namespace qrx
