// Four lanes of single-precision floats and 32-bit integers with SSE2: the
// vector trait that the display kernels are written over (with its AVX2
// twin, simd_lanes_avx2.h). Include it only between QRX_BEGIN_TARGET_SSE2
// and QRX_END_TARGET, after <immintrin.h>.
//
// A trait provides: F (floats) and I (integers) of kLanes lanes; LoadU,
// StoreU (unaligned); Set1, Set1I; Add, Sub, Mul, Sqrt, Min, Max; the
// comparisons CmpLt, CmpGt, CmpEq, CmpOrdered (all ones where true) and
// And, Or, AndNot (b & ~a) on floats; AddI, SubI, AndI, OrI, CmpEqI,
// ShiftRightI (logical) on integers; AsI, AsF (the bits as the other kind);
// ToF (integer to float), Truncate (float to integer, toward zero);
// LoadComplex (kLanes complex elements split into real and imaginary parts,
// lanes in the trait's own order) and StoreInOrder (undoes that order);
// Lookup (table[index] for every lane, stored to out).
#pragma once

#include <cstdint>

namespace qrx {
namespace simd {
namespace {

struct Sse2Lanes {
  using F = __m128;
  using I = __m128i;
  static constexpr int32_t kLanes = 4;

  static F LoadU(const float* p) { return _mm_loadu_ps(p); }
  static void StoreU(float* p, F v) { _mm_storeu_ps(p, v); }
  static F Set1(float x) { return _mm_set1_ps(x); }
  static I Set1I(int32_t x) { return _mm_set1_epi32(x); }
  static F Add(F a, F b) { return _mm_add_ps(a, b); }
  static F Sub(F a, F b) { return _mm_sub_ps(a, b); }
  static F Mul(F a, F b) { return _mm_mul_ps(a, b); }
  static F Sqrt(F a) { return _mm_sqrt_ps(a); }
  // With a NaN in a, the second operand wins: Max(NaN, 0) is 0.
  static F Min(F a, F b) { return _mm_min_ps(a, b); }
  static F Max(F a, F b) { return _mm_max_ps(a, b); }
  static F CmpLt(F a, F b) { return _mm_cmplt_ps(a, b); }
  static F CmpGt(F a, F b) { return _mm_cmpgt_ps(a, b); }
  static F CmpEq(F a, F b) { return _mm_cmpeq_ps(a, b); }
  static F CmpOrdered(F a, F b) { return _mm_cmpord_ps(a, b); }
  static F And(F a, F b) { return _mm_and_ps(a, b); }
  static F Or(F a, F b) { return _mm_or_ps(a, b); }
  static F AndNot(F a, F b) { return _mm_andnot_ps(a, b); }
  static I AddI(I a, I b) { return _mm_add_epi32(a, b); }
  static I SubI(I a, I b) { return _mm_sub_epi32(a, b); }
  static I AndI(I a, I b) { return _mm_and_si128(a, b); }
  static I OrI(I a, I b) { return _mm_or_si128(a, b); }
  static I CmpEqI(I a, I b) { return _mm_cmpeq_epi32(a, b); }
  template <int kBits>
  static I ShiftRightI(I a) {
    return _mm_srli_epi32(a, kBits);
  }
  static I AsI(F a) { return _mm_castps_si128(a); }
  static F AsF(I a) { return _mm_castsi128_ps(a); }
  static F ToF(I a) { return _mm_cvtepi32_ps(a); }
  static I Truncate(F a) { return _mm_cvttps_epi32(a); }
  // Lanes in element order.
  static void LoadComplex(const float* p, F* re, F* im) {
    const F a = _mm_loadu_ps(p), b = _mm_loadu_ps(p + 4);
    *re = _mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0));
    *im = _mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1));
  }
  static void StoreInOrder(float* p, F v) { _mm_storeu_ps(p, v); }
  // No gather before AVX2: the indices through memory.
  static void Lookup(const uint32_t* table, I index, uint32_t* out) {
    alignas(16) int32_t i[4];
    _mm_store_si128(reinterpret_cast<I*>(i), index);
    out[0] = table[i[0]];
    out[1] = table[i[1]];
    out[2] = table[i[2]];
    out[3] = table[i[3]];
  }
};

}  // namespace
}  // namespace simd
}  // namespace qrx
