// The display values' SIMD body, written once over a vector trait V (see
// platform/simd_lanes_sse2.h) and compiled by each instruction-set file
// (display_kernels_sse2.cpp, display_kernels_avx2.cpp) for its own target.
// It does the scalar reference's operations (display_kernels.cpp) in the
// same order on V::kLanes elements at once, so every lane gives the
// reference's bits. Internal linkage: the copies built for different
// targets never meet at link time. Include it only from those files, after
// the trait.
#pragma once

#include <cstdint>

#include "transform/display_kernels_internal.h"

namespace qrx {
namespace display {
namespace {

// log10(x) lane by lane: exponent and mantissa, the polynomial, ln 2 in two
// parts; infinity and NaN come through as themselves.
template <class V>
inline typename V::F Log10(typename V::F x) {
  using F = typename V::F;
  const typename V::I bits = V::AsI(x);
  typename V::I e = V::SubI(V::AndI(V::template ShiftRightI<23>(bits), V::Set1I(0xFF)), V::Set1I(126));
  F m = V::AsF(V::OrI(V::AndI(bits, V::Set1I(0x007FFFFF)), V::Set1I(0x3F000000)));  // [0.5, 1)
  const F small = V::CmpLt(m, V::Set1(kSqrtHalf));
  e = V::AddI(e, V::AsI(small));  // all ones: minus one
  m = V::Sub(V::Add(m, V::And(small, m)), V::Set1(1.0f));
  const F z = V::Mul(m, m);
  F y = V::Set1(kLogPolynomial[0]);
  for (int i = 1; i < kLogPolynomialTerms; ++i) y = V::Add(V::Mul(y, m), V::Set1(kLogPolynomial[i]));
  y = V::Mul(y, m);
  y = V::Mul(y, z);
  const F fe = V::ToF(e);
  y = V::Add(y, V::Mul(fe, V::Set1(kLn2Low)));
  y = V::Add(y, V::Mul(z, V::Set1(-0.5f)));
  F r = V::Add(m, y);
  r = V::Add(r, V::Mul(fe, V::Set1(kLn2High)));
  r = V::Mul(r, V::Set1(kLog10E));
  const F finite = V::And(V::CmpOrdered(x, x), V::CmpLt(x, V::Set1(INFINITY)));
  return V::Or(V::And(finite, r), V::AndNot(finite, x));
}

// The whole blocks of V::kLanes elements; returns how many were done (the
// rest is the caller's).
template <class V>
int32_t LogMagnitudeBlocks(const float* row, float* out, int32_t count, float scale) {
  using F = typename V::F;
  const F one = V::Set1(1.0f), factor = V::Set1(scale);
  int32_t k = 0;
  for (; k + V::kLanes <= count; k += V::kLanes) {
    F re, im;
    V::LoadComplex(row + 2 * k, &re, &im);
    const F x = V::Add(one, V::Sqrt(V::Add(V::Mul(re, re), V::Mul(im, im))));
    V::StoreInOrder(out + k, V::Mul(factor, Log10<V>(x)));
  }
  return k;
}

}  // namespace
}  // namespace display
}  // namespace qrx
