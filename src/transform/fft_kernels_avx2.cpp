// Block kernels with AVX: four complex elements (four lanes) per register.
// Compiled for the AVX2 target function by function (the pragma below) and
// chosen at run time only on processors that have it; the rest of the
// program stays on the baseline instruction set. No FMA: separate multiplies
// and adds keep every lane equal to the scalar reference.
#include <cstdint>

#include "transform/fft_kernels_simd.h"

#if defined(__i386__) || defined(__x86_64__)
#include <immintrin.h>

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif

#include "transform/fft_block_impl.h"

namespace qrx {
namespace {

struct AvxVec {
  using Vec = __m256;
  static constexpr int32_t kLanes = 4;
  static constexpr int32_t kFloats = 8;
  // Block scratches are only guaranteed 16-byte alignment: unaligned forms
  // throughout (no slower on aligned data).
  static Vec Load(const float* p) { return _mm256_loadu_ps(p); }
  static Vec LoadU(const float* p) { return _mm256_loadu_ps(p); }
  static void Store(float* p, Vec v) { _mm256_storeu_ps(p, v); }
  static void StoreU(float* p, Vec v) { _mm256_storeu_ps(p, v); }
  // Four lanes' factors fill 16 bytes of a row: read rows.
  static constexpr bool kMaskByColumn = false;
  static Vec LoadPairs(const float* p) {
    const __m128 f = _mm_loadu_ps(p);
    return _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_unpacklo_ps(f, f)), _mm_unpackhi_ps(f, f), 1);
  }
  static Vec LoadPairs(const float* p, size_t stride) {
    const __m128 f01 = _mm_unpacklo_ps(_mm_load_ss(p), _mm_load_ss(p + stride));
    const __m128 f23 = _mm_unpacklo_ps(_mm_load_ss(p + 2 * stride), _mm_load_ss(p + 3 * stride));
    return _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_unpacklo_ps(f01, f01)), _mm_unpacklo_ps(f23, f23), 1);
  }
  // Stage twiddles as (re, im) pairs, each part broadcast by its load.
  static constexpr int32_t kTwiddleFloats = 2;
  static const float* StageTwiddles(const FftPassTables& t) { return t.stageTwiddles; }
  static Vec TwiddleRe(const float* w) { return _mm256_set1_ps(w[0]); }
  static Vec TwiddleIm(const float* w) { return _mm256_set1_ps(w[1]); }
  static Vec MulTwiddle(Vec t, Vec re, Vec im) {
    return _mm256_addsub_ps(_mm256_mul_ps(t, re), _mm256_mul_ps(Swap(t), im));
  }
  static Vec Add(Vec a, Vec b) { return _mm256_add_ps(a, b); }
  static Vec Sub(Vec a, Vec b) { return _mm256_sub_ps(a, b); }
  static Vec Mul(Vec a, Vec b) { return _mm256_mul_ps(a, b); }
  static Vec Set1(float x) { return _mm256_set1_ps(x); }
  static Vec SetPair(float re, float im) { return _mm256_setr_ps(re, im, re, im, re, im, re, im); }
  static Vec Zero() { return _mm256_setzero_ps(); }
  static Vec Swap(Vec v) { return _mm256_permute_ps(v, 0xB1); }
  static Vec NegRe(Vec v) {
    return _mm256_xor_ps(v, _mm256_setr_ps(-0.0f, 0.0f, -0.0f, 0.0f, -0.0f, 0.0f, -0.0f, 0.0f));
  }
  static Vec NegIm(Vec v) {
    return _mm256_xor_ps(v, _mm256_setr_ps(0.0f, -0.0f, 0.0f, -0.0f, 0.0f, -0.0f, 0.0f, -0.0f));
  }
  static Vec Xor(Vec a, Vec b) { return _mm256_xor_ps(a, b); }
  static Vec NegAll(Vec v) { return _mm256_xor_ps(v, _mm256_set1_ps(-0.0f)); }
  static Vec AddSub(Vec x, Vec y) { return _mm256_addsub_ps(x, y); }
  // 4 x 4 transpose of complex elements (64-bit units) between two strided runs.
  static void Transpose(const float* in, int32_t inStride, float* out, int32_t outStride) {
    const __m256d r0 = _mm256_castps_pd(LoadU(in));
    const __m256d r1 = _mm256_castps_pd(LoadU(in + inStride));
    const __m256d r2 = _mm256_castps_pd(LoadU(in + 2 * inStride));
    const __m256d r3 = _mm256_castps_pd(LoadU(in + 3 * inStride));
    const __m256 t0 = _mm256_castpd_ps(_mm256_unpacklo_pd(r0, r1));
    const __m256 t1 = _mm256_castpd_ps(_mm256_unpackhi_pd(r0, r1));
    const __m256 t2 = _mm256_castpd_ps(_mm256_unpacklo_pd(r2, r3));
    const __m256 t3 = _mm256_castpd_ps(_mm256_unpackhi_pd(r2, r3));
    StoreU(out, _mm256_permute2f128_ps(t0, t2, 0x20));
    StoreU(out + outStride, _mm256_permute2f128_ps(t1, t3, 0x20));
    StoreU(out + 2 * outStride, _mm256_permute2f128_ps(t0, t2, 0x31));
    StoreU(out + 3 * outStride, _mm256_permute2f128_ps(t1, t3, 0x31));
  }
};

void RowForward(float* rows, int32_t pitch, int32_t N, float* s, const FftPassTables& t) {
  BlockRowForward<AvxVec>(rows, pitch, N, s, t);
}
void RowInverse(float* rows, int32_t pitch, int32_t N, float* s, const FftPassTables& t) {
  BlockRowInverse<AvxVec>(rows, pitch, N, s, t);
}
void ColumnForward(float* sp, int32_t pitch, int32_t k, int32_t lanes, int32_t H, int32_t M, float* s,
                   const FftPassTables& t) {
  BlockColumnForward<AvxVec>(sp, pitch, k, lanes, H, M, s, t);
}
void ColumnInverse(float* sp, int32_t pitch, int32_t k, int32_t lanes, int32_t H, int32_t M, float* s,
                   const FftPassTables& t, const ColumnMask& mask) {
  BlockColumnInverse<AvxVec>(sp, pitch, k, lanes, H, M, s, t, mask);
}

}  // namespace
}  // namespace qrx

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

namespace qrx {
namespace {
const BlockKernels kAvx2Kernels = {4, RowForward, RowInverse, ColumnForward, ColumnInverse};
}  // namespace
const BlockKernels* Avx2BlockKernels() { return &kAvx2Kernels; }
}  // namespace qrx

#else

namespace qrx {
const BlockKernels* Avx2BlockKernels() { return nullptr; }
}  // namespace qrx

#endif
