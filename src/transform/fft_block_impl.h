// The body of the SIMD block kernels, written once over a vector-traits type
// V and compiled by each instruction-set file (fft_kernels_sse.cpp,
// fft_kernels_avx2.cpp) for its own target. Everything here has internal
// linkage so the copies built for different targets never meet at link time.
// Include it only from those files, after their intrinsics headers.
//
// V provides: Vec; kLanes (W); kFloats (2 W); Load/Store (aligned scratch),
// LoadU/StoreU (spectrum); Add, Sub, Mul; Set1, SetPair(re, im), Zero;
// Swap (re <-> im in every lane); NegRe, NegIm, NegAll (sign flips);
// AddSub(x, y) = (x.re - y.re, x.im + y.im); Transpose(in rows, out rows):
// W x W complex transpose between W spectrum rows and W block elements.
#pragma once

#include <cstdint>

#include "transform/fft_kernels_simd.h"

namespace qrx {
namespace {

// t * w with w broadcast as (wre, wim): (t.re wre - t.im wim, t.im wre + t.re wim),
// the reference's product term for term.
template <class V>
inline typename V::Vec MulTwiddle(typename V::Vec t, typename V::Vec wre, typename V::Vec wim) {
  return V::AddSub(V::Mul(t, wre), V::Mul(V::Swap(t), wim));
}

template <class V>
inline void TwiddleButterfly(float* pa, float* pb, typename V::Vec wre, typename V::Vec wim) {
  const typename V::Vec a = V::Load(pa);
  const typename V::Vec b = V::Load(pb);
  V::Store(pa, V::Add(a, b));
  V::Store(pb, MulTwiddle<V>(V::Sub(a, b), wre, wim));
}

// ComplexFft on every lane; tw: FillStageTwiddles(n, direction).
template <class V>
void BlockFft(float* d, int32_t n, int32_t direction, const float* tw) {
  using Vec = typename V::Vec;
  constexpr int32_t E = V::kFloats;
  for (int32_t m = n; m >= 2; m /= 2) {
    const int32_t half = m / 2;
    if (half == 1) {
      for (int32_t s = 0; s < n; s += 2) {
        float* pa = d + s * E;
        const Vec a = V::Load(pa), b = V::Load(pa + E);
        V::Store(pa, V::Add(a, b));
        V::Store(pa + E, V::Sub(a, b));
      }
    } else if (half == 2) {
      for (int32_t s = 0; s < n; s += 4) {
        float* p = d + s * E;
        const Vec a0 = V::Load(p), b0 = V::Load(p + 2 * E);
        V::Store(p, V::Add(a0, b0));
        V::Store(p + 2 * E, V::Sub(a0, b0));
        const Vec a1 = V::Load(p + E), b1 = V::Load(p + 3 * E);
        V::Store(p + E, V::Add(a1, b1));
        // Times -direction * i: exchange the parts and negate one.
        const Vec t = V::Swap(V::Sub(a1, b1));
        V::Store(p + 3 * E, direction > 0 ? V::NegIm(t) : V::NegRe(t));
      }
    } else {
      const int32_t blocks = n / m;
      if (blocks >= 4) {
        // Deep stages: one twiddle serves many blocks; broadcast it once.
        for (int32_t j = 0; j < half; ++j) {
          const Vec wre = V::Set1(tw[2 * j]), wim = V::Set1(tw[2 * j + 1]);
          for (int32_t s = j; s < n; s += m) TwiddleButterfly<V>(d + s * E, d + (s + half) * E, wre, wim);
        }
      } else {
        for (int32_t s0 = 0; s0 < n; s0 += m) {
          float* pa = d + s0 * E;
          float* pb = d + (s0 + half) * E;
          for (int32_t j = 0; j < half; ++j) {
            TwiddleButterfly<V>(pa + j * E, pb + j * E, V::Set1(tw[2 * j]), V::Set1(tw[2 * j + 1]));
          }
        }
      }
      tw += 2 * half;
    }
  }
}

template <class V>
void BlockSwap(float* d, const int32_t* pairs, int32_t count) {
  constexpr int32_t E = V::kFloats;
  for (int32_t p = 0; p < count; ++p) {
    const int32_t i = pairs[2 * p], j = pairs[2 * p + 1];
    if (i == j) continue;
    const typename V::Vec a = V::Load(d + i * E), b = V::Load(d + j * E);
    V::Store(d + i * E, b);
    V::Store(d + j * E, a);
  }
}

template <class V>
void BlockScaledSwap(float* d, const int32_t* pairs, int32_t count, float factor) {
  constexpr int32_t E = V::kFloats;
  const typename V::Vec f = V::Set1(factor);
  for (int32_t p = 0; p < count; ++p) {
    const int32_t i = pairs[2 * p], j = pairs[2 * p + 1];
    const typename V::Vec a = V::Load(d + i * E), b = V::Load(d + j * E);
    V::Store(d + i * E, V::Mul(f, b));
    V::Store(d + j * E, V::Mul(f, a));
  }
}

template <class V>
void BlockGatherColumns(const float* spectrum, int32_t pitch, int32_t k, int32_t count, int32_t M,
                        float* s) {
  constexpr int32_t E = V::kFloats;
  const float* src = spectrum + 2 * k;
  const int32_t stride = 2 * pitch;
  int32_t m = 0;
  for (; m + 1 < count; m += 2) {
    V::Store(s + m * E, V::LoadU(src + m * stride));
    V::Store(s + (m + 1) * E, V::NegAll(V::LoadU(src + (m + 1) * stride)));
  }
  if (m < count) {
    V::Store(s + m * E, V::LoadU(src + m * stride));
    ++m;
  }
  const typename V::Vec zero = V::Zero();
  for (; m < M; ++m) V::Store(s + m * E, zero);
}

template <class V>
void BlockScatterColumns(float* spectrum, int32_t pitch, int32_t k, int32_t count, const float* s) {
  constexpr int32_t E = V::kFloats;
  float* dst = spectrum + 2 * k;
  const int32_t stride = 2 * pitch;
  int32_t m = 0;
  for (; m + 1 < count; m += 2) {
    V::StoreU(dst + m * stride, V::Load(s + m * E));
    V::StoreU(dst + (m + 1) * stride, V::NegAll(V::Load(s + (m + 1) * E)));
  }
  if (m < count) V::StoreU(dst + m * stride, V::Load(s + m * E));
}

// The split step on every lane, element 0 included; w: FillSplitTwiddles.
template <class V>
void BlockSplit(float* z, int32_t N, int32_t b, const float* w) {
  using Vec = typename V::Vec;
  constexpr int32_t E = V::kFloats;
  const int32_t halfN = N / 2;
  const float c2 = -0.5f * static_cast<float>(b);
  const Vec half = V::Set1(0.5f);
  const Vec c2v = V::SetPair(-c2, c2);
  for (int32_t k = 1; k <= N / 4; ++k) {
    float* pk = z + k * E;
    float* pr = z + (halfN - k) * E;
    const Vec A = V::Load(pk), B = V::Load(pr);
    // h1 = 0.5 (A.re + B.re, A.im - B.im); h2 = (-c2 (A.im + B.im), c2 (A.re - B.re)).
    const Vec h1 = V::Mul(half, V::Add(A, V::NegIm(B)));
    const Vec h2 = V::Mul(c2v, V::Add(V::Swap(A), V::NegIm(V::Swap(B))));
    const Vec wre = V::Set1(w[2 * (k - 1)]), wim = V::Set1(w[2 * (k - 1) + 1]);
    const Vec g = V::Mul(wre, h2);             // (wre h2r, wre h2i)
    const Vec v = V::Mul(wim, V::Swap(h2));    // (wim h2i, wim h2r)
    V::Store(pk, V::AddSub(V::Add(h1, g), v));
    // (h1r - wre h2r + wim h2i, -h1i + wre h2i + wim h2r); at k = N/4 this
    // overwrites the value above, as in the reference.
    V::Store(pr, V::Add(V::NegIm(V::Sub(h1, g)), v));
  }
  for (int32_t c = 0; c < V::kLanes; ++c) {
    const float re = z[2 * c], im = z[2 * c + 1];
    if (b > 0) {
      z[2 * c] = re + im;
      z[2 * c + 1] = re - im;
    } else {
      z[2 * c] = (re + im) * 0.5f;
      z[2 * c + 1] = (re - im) * 0.5f;
    }
  }
}

template <class V>
void BlockRowForward(float* rows, int32_t pitch, int32_t N, float* s, const FftPassTables& t) {
  constexpr int32_t E = V::kFloats;
  constexpr int32_t W = V::kLanes;
  const int32_t halfN = N / 2;
  const int32_t stride = 2 * pitch;
  for (int32_t j = 0; j < halfN; j += W) V::Transpose(rows + 2 * j, stride, s + j * E, E);
  BlockFft<V>(s, halfN, -1, t.stageTwiddles);
  BlockSwap<V>(s, t.pairs, t.pairCount);
  BlockSplit<V>(s, N, +1, t.splitTwiddles);
  for (int32_t j = 0; j < halfN; j += W) V::Transpose(s + j * E, E, rows + 2 * j, stride);
  // Element 0 holds (R[0], R[N/2]) in its two parts.
  for (int32_t c = 0; c < W; ++c) {
    float* row = rows + c * stride;
    row[2 * halfN] = row[1];
    row[2 * halfN + 1] = 0.0f;
    row[1] = 0.0f;
  }
}

template <class V>
void BlockRowInverse(float* rows, int32_t pitch, int32_t N, float* s, const FftPassTables& t) {
  constexpr int32_t E = V::kFloats;
  constexpr int32_t W = V::kLanes;
  const int32_t halfN = N / 2;
  const int32_t stride = 2 * pitch;
  for (int32_t j = 0; j < halfN; j += W) V::Transpose(rows + 2 * j, stride, s + j * E, E);
  for (int32_t c = 0; c < W; ++c) {
    float* row = rows + c * stride;
    s[2 * c + 1] = row[2 * halfN];
    row[2 * halfN] = 0.0f;
    row[2 * halfN + 1] = 0.0f;
  }
  BlockSplit<V>(s, N, -1, t.splitTwiddles);
  BlockFft<V>(s, halfN, +1, t.stageTwiddles);
  BlockScaledSwap<V>(s, t.pairs, t.pairCount, 2.0f / static_cast<float>(N));
  for (int32_t j = 0; j < halfN; j += W) V::Transpose(s + j * E, E, rows + 2 * j, stride);
}

template <class V>
void BlockColumnForward(float* spectrum, int32_t pitch, int32_t k, int32_t H, int32_t M, float* s,
                        const FftPassTables& t) {
  BlockGatherColumns<V>(spectrum, pitch, k, H, M, s);
  BlockFft<V>(s, M, +1, t.stageTwiddles);
  BlockSwap<V>(s, t.pairs, t.pairCount);
  BlockScatterColumns<V>(spectrum, pitch, k, M, s);
}

template <class V>
void BlockColumnInverse(float* spectrum, int32_t pitch, int32_t k, int32_t H, int32_t M, float* s,
                        const FftPassTables& t) {
  BlockGatherColumns<V>(spectrum, pitch, k, M, M, s);
  BlockFft<V>(s, M, -1, t.stageTwiddles);
  BlockScaledSwap<V>(s, t.pairs, t.pairCount, 1.0f / static_cast<float>(M));
  BlockScatterColumns<V>(spectrum, pitch, k, H, s);
}

}  // namespace
}  // namespace qrx
