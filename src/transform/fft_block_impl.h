// The body of the SIMD block kernels, written once over a vector-traits type
// V and compiled by each instruction-set file (fft_kernels_sse.cpp,
// fft_kernels_avx2.cpp) for its own target. Everything here has internal
// linkage so the copies built for different targets never meet at link time.
// Include it only from those files, after their intrinsics headers.
//
// V provides:
//  - Vec; kLanes (W); kFloats (2 W);
//  - Load/Store (a scratch element, aligned), LoadU/StoreU (the spectrum);
//  - Add, Sub, Mul, Xor; Set1, SetPair(re, im), Zero; Swap (re <-> im in
//    every lane); NegRe, NegIm, NegAll (sign flips); AddSub(x, y) =
//    (x.re - y.re, x.im + y.im);
//  - the stage twiddles: StageTwiddles(tables) (the table V reads),
//    kTwiddleFloats (floats a twiddle in it), TwiddleRe/TwiddleIm (one
//    twiddle's parts as vectors) and MulTwiddle(t, re, im) (t times it);
//  - the mask factors: kMaskByColumn (which form of a ColumnMask V reads),
//    LoadPairs(p) and LoadPairs(p, stride) (W floats side by side or stride
//    apart, each twice: f0, f0, f1, f1, ...);
//  - Transpose(in, inStride, out, outStride): W x W complex transpose
//    between W spectrum rows and W block elements.
//
// The transform is the reference's decimation in frequency, butterfly for
// butterfly; what changes is the order of visits. Two stages are done per
// load of four elements (stages 2q and q on elements j, j + q, j + 2q,
// j + 3q), a transform with an odd number of stages starts with one stage
// alone, and once a block of the scratch is small enough for the first-level
// cache all its remaining stages are done before the next block. Inputs come
// straight from the spectrum in the first pass and outputs go straight to
// their bit-reversed places in the last one.
#pragma once

#include <cstdint>

#include "transform/fft_kernels_simd.h"

namespace qrx {
namespace {

// t * w for a twiddle as V holds it (Twiddle below): (t.re wre - t.im wim,
// t.im wre + t.re wim), the reference's product term for term.
template <class V>
inline typename V::Vec MulTwiddle(typename V::Vec t, typename V::Vec wre, typename V::Vec wim) {
  return V::MulTwiddle(t, wre, wim);
}

// t * (-direction i): the parts exchanged and one negated, no multiply (the
// reference's stage of half-span 2).
template <class V>
inline typename V::Vec QuarterTurn(typename V::Vec t, int32_t direction) {
  const typename V::Vec s = V::Swap(t);
  return direction > 0 ? V::NegIm(s) : V::NegRe(s);
}

// The twiddles of the stage with half-span `half` in the pass's stage table
// as V reads it (V::kTwiddleFloats floats a twiddle): the stages follow one
// another from n/2 down, `half` twiddles each.
template <class V>
inline const float* StageTable(const float* tw, int32_t n, int32_t half) {
  return tw + V::kTwiddleFloats * static_cast<size_t>(n - 2 * half);
}

template <class V>
struct Quad {
  typename V::Vec x0, x1, x2, x3;
};

// Twiddle j of a stage table, each part over the lanes in the form V's
// MulTwiddle takes.
template <class V>
struct Twiddle {
  typename V::Vec re, im;
  Twiddle(const float* table, int32_t j)
      : re(V::TwiddleRe(table + V::kTwiddleFloats * j)), im(V::TwiddleIm(table + V::kTwiddleFloats * j)) {}
};

// Stages 2q and q (q >= 4, both from tables) on elements j, j + q, j + 2q,
// j + 3q of a block of 4q: a = w_2q[j], b = w_2q[j + q], c = w_q[j].
template <class V>
inline void TwoStages(Quad<V>& x, const Twiddle<V>& a, const Twiddle<V>& b, const Twiddle<V>& c) {
  using Vec = typename V::Vec;
  const Vec y0 = V::Add(x.x0, x.x2);
  const Vec y2 = MulTwiddle<V>(V::Sub(x.x0, x.x2), a.re, a.im);
  const Vec y1 = V::Add(x.x1, x.x3);
  const Vec y3 = MulTwiddle<V>(V::Sub(x.x1, x.x3), b.re, b.im);
  x.x0 = V::Add(y0, y1);
  x.x1 = MulTwiddle<V>(V::Sub(y0, y1), c.re, c.im);
  x.x2 = V::Add(y2, y3);
  x.x3 = MulTwiddle<V>(V::Sub(y2, y3), c.re, c.im);
}

// The last two stages on elements p .. p + 3: half-span 2 (w_0 = 1 without
// a multiply, w_1 = -direction i) and half-span 1 (no twiddle).
template <class V>
inline void LastTwoStages(Quad<V>& x, int32_t direction) {
  using Vec = typename V::Vec;
  const Vec y0 = V::Add(x.x0, x.x2);
  const Vec y2 = V::Sub(x.x0, x.x2);
  const Vec y1 = V::Add(x.x1, x.x3);
  const Vec y3 = QuarterTurn<V>(V::Sub(x.x1, x.x3), direction);
  x.x0 = V::Add(y0, y1);
  x.x1 = V::Sub(y0, y1);
  x.x2 = V::Add(y2, y3);
  x.x3 = V::Sub(y2, y3);
}

// Every stage of an n-point ComplexFft (n >= 4, a power of two) on the
// block scratch d. The first pass takes its inputs from in: in.Quad(j, q, x)
// gives elements j, j + q, j + 2q, j + 3q of the transform's input,
// in.Pair(j, h, a, b) elements j and j + h. The last pass hands out(r, x)
// the four results that belong at natural indices r, r + n/2, r + n/4 and
// r + 3n/4 (x0 .. x3), so that no reversal swap is needed. In between the
// data live in d.
template <class V, class In, class Out>
class FusedFft {
 public:
  using Vec = typename V::Vec;
  static constexpr int32_t E = V::kFloats;
  // Blocks of this many elements or fewer are finished one at a time.
  static constexpr int32_t kLeafElements = 16384 / (4 * E);

  FusedFft(float* d, int32_t n, int32_t direction, const FftPassTables& t, const In& in, const Out& out)
      : d_(d), n_(n), direction_(direction), tw_(V::StageTwiddles(t)), rev_(t.quarterReversal), in_(in), out_(out) {}

  void Run() const {
    int32_t stages = 0;
    while ((1 << stages) < n_) ++stages;
    float* const d = d_;
    if (n_ == 4) {
      Quad<V> x;
      in_.Quad(0, 1, x);
      Finish(x, 0);
    } else if (stages & 1) {
      // One stage alone leaves blocks whose stage count is even.
      const int32_t half = n_ / 2;
      const float* w = StageTable<V>(tw_, n_, half);
      for (int32_t j = 0; j < half; ++j) {
        Vec a, b;
        in_.Pair(j, half, a, b);
        V::Store(At(d, j), V::Add(a, b));
        const Twiddle<V> t(w, j);
        V::Store(At(d, j + half), MulTwiddle<V>(V::Sub(a, b), t.re, t.im));
      }
      Block(0, half);
      Block(half, half);
    } else {
      const int32_t q = n_ / 4;
      const float* wa = StageTable<V>(tw_, n_, 2 * q);
      const float* wc = StageTable<V>(tw_, n_, q);
      for (int32_t j = 0; j < q; ++j) {
        Quad<V> x;
        in_.Quad(j, q, x);
        TwoStages<V>(x, Twiddle<V>(wa, j), Twiddle<V>(wa, j + q), Twiddle<V>(wc, j));
        StoreQuad(d, x, j, q);
      }
      for (int32_t t = 0; t < 4; ++t) Block(t * q, q);
    }
  }

 private:
  static float* At(float* d, int32_t e) { return d + static_cast<size_t>(e) * E; }

  static void StoreQuad(float* d, const Quad<V>& x, int32_t e, int32_t q) {
    V::Store(At(d, e), x.x0);
    V::Store(At(d, e + q), x.x1);
    V::Store(At(d, e + 2 * q), x.x2);
    V::Store(At(d, e + 3 * q), x.x3);
  }

  void Finish(Quad<V>& x, int32_t p) const {
    LastTwoStages<V>(x, direction_);
    out_(rev_[p / 4], x);
  }

  // The remaining stages (half-span size/2 down to 1) of the block of
  // `size` elements from `start`; size is a power of 4.
  void Block(int32_t start, int32_t size) const {
    if (size > kLeafElements) {
      Pass(start, size, size / 4);
      for (int32_t t = 0; t < 4; ++t) Block(start + t * (size / 4), size / 4);
      return;
    }
    for (int32_t q = size / 4; q >= 4; q /= 4) Pass(start, size, q);
    float* const d = d_;
    const int32_t* const rev = rev_;
    const int32_t direction = direction_;
    for (int32_t p = start; p < start + size; p += 4) {
      Quad<V> x = {V::Load(At(d, p)), V::Load(At(d, p + 1)), V::Load(At(d, p + 2)), V::Load(At(d, p + 3))};
      LastTwoStages<V>(x, direction);
      out_(rev[p / 4], x);
    }
  }

  // Stages 2q and q on every block of 4q elements in [start, start + size).
  // The twiddles depend on j only, so they are broadcast once for all blocks.
  void Pass(int32_t start, int32_t size, int32_t q) const {
    const float* wa = StageTable<V>(tw_, n_, 2 * q);
    const float* wc = StageTable<V>(tw_, n_, q);
    float* const d = d_;
    for (int32_t j = 0; j < q; ++j) {
      const Twiddle<V> a(wa, j), b(wa, j + q), c(wc, j);
      for (int32_t s = start + j; s < start + size; s += 4 * q) {
        Quad<V> x = {V::Load(At(d, s)), V::Load(At(d, s + q)), V::Load(At(d, s + 2 * q)), V::Load(At(d, s + 3 * q))};
        TwoStages<V>(x, a, b, c);
        StoreQuad(d, x, s, q);
      }
    }
  }

  float* d_;
  int32_t n_;
  int32_t direction_;
  const float* tw_;
  const int32_t* rev_;
  const In& in_;
  const Out& out_;
};

template <class V, class In, class Out>
inline void RunFusedFft(float* d, int32_t n, int32_t direction, const FftPassTables& t, const In& in, const Out& out) {
  FusedFft<V, In, Out>(d, n, direction, t, in, out).Run();
}

// Elements of a block scratch as the first pass's input.
template <class V>
struct ScratchInput {
  const float* s;
  typename V::Vec Get(int32_t e) const { return V::Load(s + static_cast<size_t>(e) * V::kFloats); }
  void Pair(int32_t j, int32_t h, typename V::Vec& a, typename V::Vec& b) const {
    a = Get(j);
    b = Get(j + h);
  }
  void Quad(int32_t j, int32_t q, qrx::Quad<V>& x) const {
    x.x0 = Get(j);
    x.x1 = Get(j + q);
    x.x2 = Get(j + 2 * q);
    x.x3 = Get(j + 3 * q);
  }
};

// The first `lanes` complex elements at p as a vector, the other lanes zero.
template <class V>
inline typename V::Vec LoadLanes(const float* p, int32_t lanes) {
  alignas(32) float t[V::kFloats] = {};
  for (int32_t i = 0; i < 2 * lanes; ++i) t[i] = p[i];
  return V::LoadU(t);
}

// Writes the first `lanes` complex elements of v to p.
template <class V>
inline void StoreLanes(float* p, typename V::Vec v, int32_t lanes) {
  alignas(32) float t[V::kFloats];
  V::StoreU(t, v);
  for (int32_t i = 0; i < 2 * lanes; ++i) p[i] = t[i];
}

// `lanes` floats `stride` apart from p, each twice (a mask factor for both
// parts of a complex element), the other lanes zero.
template <class V>
inline typename V::Vec LoadPairLanes(const float* p, size_t stride, int32_t lanes) {
  alignas(32) float t[V::kFloats] = {};
  for (int32_t i = 0; i < lanes; ++i) t[2 * i] = t[2 * i + 1] = p[stride * static_cast<size_t>(i)];
  return V::LoadU(t);
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
    const Vec g = V::Mul(wre, h2);           // (wre h2r, wre h2i)
    const Vec v = V::Mul(wim, V::Swap(h2));  // (wim h2i, wim h2r)
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

// The results of a transform multiplied by a factor, or left as they are.
// (Small structs rather than lambdas here and below: GCC does not carry a
// function's target attribute into the lambdas defined in it.)
template <class V, bool kScaled>
struct Scaling {
  typename V::Vec factor;
  typename V::Vec operator()(typename V::Vec v) const { return kScaled ? V::Mul(factor, v) : v; }
};

// The last pass's results of a row block into natural order.
template <class V, bool kScaled>
struct NaturalOutput {
  float* nat;
  size_t quarter;  // floats of n/4 elements
  Scaling<V, kScaled> scaled;
  void operator()(int32_t r, const Quad<V>& x) const {
    float* p = nat + static_cast<size_t>(r) * V::kFloats;
    V::Store(p, scaled(x.x0));
    V::Store(p + 2 * quarter, scaled(x.x1));
    V::Store(p + quarter, scaled(x.x2));
    V::Store(p + 3 * quarter, scaled(x.x3));
  }
};

// The half-length transform of a row block from s into natural order in
// nat, every result multiplied by `factor` when scaled. halfN >= 2.
template <class V, bool kScaled>
void RowHalfTransform(float* s, float* nat, int32_t halfN, int32_t direction, const FftPassTables& t, float factor) {
  using Vec = typename V::Vec;
  constexpr int32_t E = V::kFloats;
  const Scaling<V, kScaled> scaled = {V::Set1(factor)};
  if (halfN == 2) {  // one butterfly of half-span 1
    const Vec a = V::Load(s), b = V::Load(s + E);
    V::Store(nat, scaled(V::Add(a, b)));
    V::Store(nat + E, scaled(V::Sub(a, b)));
    return;
  }
  const ScratchInput<V> in = {s};
  const NaturalOutput<V, kScaled> out = {nat, static_cast<size_t>(halfN / 4) * E, scaled};
  RunFusedFft<V>(s, halfN, direction, t, in, out);
}

template <class V>
void BlockRowForward(float* rows, int32_t pitch, int32_t N, float* s, const FftPassTables& t) {
  constexpr int32_t E = V::kFloats;
  constexpr int32_t W = V::kLanes;
  const int32_t halfN = N / 2;
  const int32_t stride = 2 * pitch;
  float* nat = s + static_cast<size_t>(halfN + 1) * E;
  for (int32_t j = 0; j < halfN; j += W) V::Transpose(rows + 2 * j, stride, s + j * E, E);
  RowHalfTransform<V, false>(s, nat, halfN, -1, t, 1.0f);
  BlockSplit<V>(nat, N, +1, t.splitTwiddles);
  for (int32_t j = 0; j < halfN; j += W) V::Transpose(nat + j * E, E, rows + 2 * j, stride);
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
  float* nat = s + static_cast<size_t>(halfN + 1) * E;
  for (int32_t j = 0; j < halfN; j += W) V::Transpose(rows + 2 * j, stride, s + j * E, E);
  for (int32_t c = 0; c < W; ++c) {
    float* row = rows + c * stride;
    s[2 * c + 1] = row[2 * halfN];
    row[2 * halfN] = 0.0f;
    row[2 * halfN + 1] = 0.0f;
  }
  BlockSplit<V>(s, N, -1, t.splitTwiddles);
  RowHalfTransform<V, true>(s, nat, halfN, +1, t, 2.0f / static_cast<float>(N));
  for (int32_t j = 0; j < halfN; j += W) V::Transpose(nat + j * E, E, rows + 2 * j, stride);
}

// Columns k .. k + lanes - 1 of the spectrum, row by row (kFull: lanes =
// W). Odd rows are negated on the way in and out (the centring of the
// vertical axis).
template <class V, bool kFull>
class ColumnAccess {
 public:
  using Vec = typename V::Vec;
  ColumnAccess(float* spectrum, int32_t pitch, int32_t k, int32_t lanes, int32_t M)
      : base_(spectrum + 2 * static_cast<size_t>(k)),
        stride_(2 * static_cast<size_t>(pitch)),
        lanes_(lanes),
        quarter_(M / 4) {
    flip_[0] = V::Zero();
    flip_[1] = V::Set1(-0.0f);
  }
  Vec Get(int32_t m) const { return V::Xor(Load(Row(m)), flip_[m & 1]); }
  // Row m multiplied by its mask factors as ApplyMask does it, then negated
  // when m is odd; factors: the first column's factor for row m, the next
  // column's `columnStride` floats on.
  template <bool kByColumn>
  Vec GetMasked(int32_t m, const float* factors, size_t columnStride) const {
    const Vec f = !kFull      ? LoadPairLanes<V>(factors, columnStride, lanes_)
                  : kByColumn ? V::LoadPairs(factors, columnStride)
                              : V::LoadPairs(factors);
    return V::Xor(V::Mul(Load(Row(m)), f), flip_[m & 1]);
  }
  void Put(int32_t m, Vec v) const { Store(Row(m), V::Xor(v, flip_[m & 1])); }
  // Rows m, m + 2Q, m + Q, m + 3Q (Q = M/4): a final butterfly's results.
  template <class Fn>
  void PutFour(int32_t m, const Quad<V>& x, const Fn& value) const {
    float* p = Row(m);
    const size_t q = stride_ * static_cast<size_t>(quarter_);
    const Vec flip = flip_[m & 1];
    // With M = 4, Q is odd and rows m + Q, m + 3Q have the other parity.
    const Vec flipOdd = flip_[(m + quarter_) & 1];
    Store(p, V::Xor(value(x.x0), flip));
    Store(p + 2 * q, V::Xor(value(x.x1), flip));
    Store(p + q, V::Xor(value(x.x2), flipOdd));
    Store(p + 3 * q, V::Xor(value(x.x3), flipOdd));
  }

 private:
  float* Row(int32_t m) const { return base_ + stride_ * static_cast<size_t>(m); }
  Vec Load(const float* p) const { return kFull ? V::LoadU(p) : LoadLanes<V>(p, lanes_); }
  void Store(float* p, Vec v) const {
    if (kFull) {
      V::StoreU(p, v);
    } else {
      StoreLanes<V>(p, v, lanes_);
    }
  }

  float* base_;
  size_t stride_;
  int32_t lanes_;
  int32_t quarter_;
  Vec flip_[2];
};

// The first pass's input of a column transform: rows 0 .. count-1 of the
// columns, zero from there on (the transform's padding); kMasked: each row
// multiplied by its mask factors first (mask: the first column's factor for
// row 0; rows rowStride floats apart, columns columnStride).
template <class V, bool kFull, bool kMasked>
struct ColumnInput {
  const ColumnAccess<V, kFull>& col;
  int32_t count;
  const float* mask;
  size_t rowStride, columnStride;
  typename V::Vec Get(int32_t m) const {
    if (m >= count) return V::Zero();
    if (!kMasked) return col.Get(m);
    const float* factors = mask + rowStride * static_cast<size_t>(m);
    return col.template GetMasked<V::kMaskByColumn>(m, factors, columnStride);
  }
  void Pair(int32_t j, int32_t h, typename V::Vec& a, typename V::Vec& b) const {
    a = Get(j);
    b = Get(j + h);
  }
  void Quad(int32_t j, int32_t q, qrx::Quad<V>& x) const {
    x.x0 = Get(j);
    x.x1 = Get(j + q);
    x.x2 = Get(j + 2 * q);
    x.x3 = Get(j + 3 * q);
  }
};

// M = 2: one butterfly of half-span 1, its output already in natural order.
template <class V, bool kFull>
void ColumnPair(const ColumnAccess<V, kFull>& col, int32_t count, int32_t H, int32_t direction) {
  using Vec = typename V::Vec;
  const Vec a = count > 0 ? col.Get(0) : V::Zero();
  const Vec b = count > 1 ? col.Get(1) : V::Zero();
  Vec r0 = V::Add(a, b), r1 = V::Sub(a, b);
  if (direction < 0) {
    const Vec f = V::Set1(0.5f);
    r0 = V::Mul(f, r0);
    r1 = V::Mul(f, r1);
  }
  if (H > 0) col.Put(0, r0);
  if (H > 1) col.Put(1, r1);
}

// The last pass's results of a column block into the spectrum: forward
// every row, inverse scaled and only the rows below H.
template <class V, bool kFull, bool kInverse>
struct ColumnOutput {
  const ColumnAccess<V, kFull>& col;
  int32_t H;
  int32_t quarter;  // M/4
  Scaling<V, kInverse> scaled;
  void operator()(int32_t r, const Quad<V>& x) const {
    if (!kInverse || r + 3 * quarter < H) {
      col.PutFour(r, x, scaled);
      return;
    }
    if (r < H) col.Put(r, scaled(x.x0));
    if (r + 2 * quarter < H) col.Put(r + 2 * quarter, scaled(x.x1));
    if (r + quarter < H) col.Put(r + quarter, scaled(x.x2));
  }
};

template <class V, bool kFull>
void ColumnForward(float* spectrum, int32_t pitch, int32_t k, int32_t lanes, int32_t H, int32_t M, float* s,
                   const FftPassTables& t) {
  const ColumnAccess<V, kFull> col(spectrum, pitch, k, lanes, M);
  if (M == 2) {
    ColumnPair<V>(col, H, M, +1);
    return;
  }
  // Rows from H on are the transform's zero padding.
  const ColumnInput<V, kFull, false> in = {col, H, nullptr, 0, 0};
  const ColumnOutput<V, kFull, false> out = {col, M, M / 4, {V::Zero()}};
  RunFusedFft<V>(s, M, +1, t, in, out);
}

template <class V, bool kFull, bool kMasked>
void ColumnInverse(float* spectrum, int32_t pitch, int32_t k, int32_t lanes, int32_t H, int32_t M, float* s,
                   const FftPassTables& t, const ColumnMask& mask) {
  const ColumnAccess<V, kFull> col(spectrum, pitch, k, lanes, M);
  // The mask in the form that suits V's block width.
  const size_t columnStride = V::kMaskByColumn ? MaskColumnStride(M) : 1;
  const size_t rowStride = V::kMaskByColumn ? 1 : static_cast<size_t>(pitch);
  const float* first = V::kMaskByColumn ? (mask.byColumn ? mask.byColumn + columnStride * k : nullptr)
                                        : (mask.byRow ? mask.byRow + k : nullptr);
  const ColumnInput<V, kFull, kMasked> in = {col, M, first, rowStride, columnStride};
  if (M == 2) {
    // One butterfly of half-span 1 on the (masked) rows.
    typename V::Vec a, b;
    in.Pair(0, 1, a, b);
    const typename V::Vec f = V::Set1(0.5f);
    if (H > 0) col.Put(0, V::Mul(f, V::Add(a, b)));
    if (H > 1) col.Put(1, V::Mul(f, V::Sub(a, b)));
    return;
  }
  // The scaling is the reversal swap's.
  const ColumnOutput<V, kFull, true> out = {col, H, M / 4, {V::Set1(1.0f / static_cast<float>(M))}};
  RunFusedFft<V>(s, M, -1, t, in, out);
}

template <class V>
void BlockColumnForward(float* spectrum, int32_t pitch, int32_t k, int32_t lanes, int32_t H, int32_t M, float* s,
                        const FftPassTables& t) {
  if (lanes == V::kLanes) {
    ColumnForward<V, true>(spectrum, pitch, k, lanes, H, M, s, t);
  } else {
    ColumnForward<V, false>(spectrum, pitch, k, lanes, H, M, s, t);
  }
}

template <class V>
void BlockColumnInverse(float* spectrum, int32_t pitch, int32_t k, int32_t lanes, int32_t H, int32_t M, float* s,
                        const FftPassTables& t, const ColumnMask& mask) {
  const bool full = lanes == V::kLanes;
  if (mask.byRow || mask.byColumn) {
    if (full) {
      ColumnInverse<V, true, true>(spectrum, pitch, k, lanes, H, M, s, t, mask);
    } else {
      ColumnInverse<V, false, true>(spectrum, pitch, k, lanes, H, M, s, t, mask);
    }
  } else if (full) {
    ColumnInverse<V, true, false>(spectrum, pitch, k, lanes, H, M, s, t, mask);
  } else {
    ColumnInverse<V, false, false>(spectrum, pitch, k, lanes, H, M, s, t, mask);
  }
}

}  // namespace
}  // namespace qrx
