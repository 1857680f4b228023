// Block kernels with SSE: two complex elements (two lanes) per register.
// Only SSE (not SSE2) instructions are used, so the 32-bit build runs them on
// its baseline processor.
#include <cstdint>

#include "transform/fft_kernels_simd.h"

#if defined(__SSE__)
#include <xmmintrin.h>

#include "transform/fft_block_impl.h"

namespace qrx {
namespace {

struct SseVec {
  using Vec = __m128;
  static constexpr int32_t kLanes = 2;
  static constexpr int32_t kFloats = 4;
  static Vec Load(const float* p) { return _mm_load_ps(p); }
  static Vec LoadU(const float* p) { return _mm_loadu_ps(p); }
  static void Store(float* p, Vec v) { _mm_store_ps(p, v); }
  static void StoreU(float* p, Vec v) { _mm_storeu_ps(p, v); }
  // Two lanes' factors lie 8 bytes apart in a row: read columns instead.
  static constexpr bool kMaskByColumn = true;
  static Vec LoadPairs(const float* p) {
    const __m128 f = _mm_loadl_pi(_mm_setzero_ps(), reinterpret_cast<const __m64*>(p));
    return _mm_unpacklo_ps(f, f);
  }
  static Vec LoadPairs(const float* p, size_t stride) {
    const __m128 f = _mm_unpacklo_ps(_mm_load_ss(p), _mm_load_ss(p + stride));
    return _mm_unpacklo_ps(f, f);
  }
  // Stage twiddles spread for SSE: (re, re, re, re, -im, im, -im, im), two
  // aligned loads and no shuffles; with the sign in the table, t * w is two
  // products and one add (t.re re + t.im (-im) is t.re re - t.im im exactly).
  static constexpr int32_t kTwiddleFloats = 8;
  static const float* StageTwiddles(const FftPassTables& t) { return t.stageTwiddlesSse; }
  static Vec TwiddleRe(const float* w) { return _mm_load_ps(w); }
  static Vec TwiddleIm(const float* w) { return _mm_load_ps(w + 4); }
  static Vec MulTwiddle(Vec t, Vec re, Vec im) { return _mm_add_ps(_mm_mul_ps(t, re), _mm_mul_ps(Swap(t), im)); }
  static Vec Add(Vec a, Vec b) { return _mm_add_ps(a, b); }
  static Vec Sub(Vec a, Vec b) { return _mm_sub_ps(a, b); }
  static Vec Mul(Vec a, Vec b) { return _mm_mul_ps(a, b); }
  static Vec Set1(float x) { return _mm_set1_ps(x); }
  static Vec SetPair(float re, float im) { return _mm_setr_ps(re, im, re, im); }
  static Vec Zero() { return _mm_setzero_ps(); }
  static Vec Swap(Vec v) { return _mm_shuffle_ps(v, v, _MM_SHUFFLE(2, 3, 0, 1)); }
  static Vec NegRe(Vec v) { return _mm_xor_ps(v, _mm_setr_ps(-0.0f, 0.0f, -0.0f, 0.0f)); }
  static Vec NegIm(Vec v) { return _mm_xor_ps(v, _mm_setr_ps(0.0f, -0.0f, 0.0f, -0.0f)); }
  static Vec Xor(Vec a, Vec b) { return _mm_xor_ps(a, b); }
  static Vec NegAll(Vec v) { return _mm_xor_ps(v, _mm_set1_ps(-0.0f)); }
  // SSE has no addsub: x + (y with its real parts negated) is the same sum.
  static Vec AddSub(Vec x, Vec y) { return _mm_add_ps(x, NegRe(y)); }
  // 2 x 2 transpose of complex elements between two strided runs.
  static void Transpose(const float* in, int32_t inStride, float* out, int32_t outStride) {
    const Vec a = LoadU(in), b = LoadU(in + inStride);
    StoreU(out, _mm_movelh_ps(a, b));
    StoreU(out + outStride, _mm_movehl_ps(b, a));
  }
};

void RowForward(float* rows, int32_t pitch, int32_t N, float* s, const FftPassTables& t) {
  BlockRowForward<SseVec>(rows, pitch, N, s, t);
}
void RowInverse(float* rows, int32_t pitch, int32_t N, float* s, const FftPassTables& t) {
  BlockRowInverse<SseVec>(rows, pitch, N, s, t);
}
void ColumnForward(float* sp, int32_t pitch, int32_t k, int32_t lanes, int32_t H, int32_t M, float* s,
                   const FftPassTables& t) {
  BlockColumnForward<SseVec>(sp, pitch, k, lanes, H, M, s, t);
}
void ColumnInverse(float* sp, int32_t pitch, int32_t k, int32_t lanes, int32_t H, int32_t M, float* s,
                   const FftPassTables& t, const ColumnMask& mask) {
  BlockColumnInverse<SseVec>(sp, pitch, k, lanes, H, M, s, t, mask);
}

const BlockKernels kSseKernels = {SseVec::kLanes, RowForward, RowInverse, ColumnForward, ColumnInverse};

}  // namespace

const BlockKernels* SseBlockKernels() { return &kSseKernels; }

}  // namespace qrx

#else

namespace qrx {
const BlockKernels* SseBlockKernels() { return nullptr; }
}  // namespace qrx

#endif
