// The spectrum image's SIMD body, written once over a vector trait V (see
// platform/simd_lanes_sse2.h) and compiled by picture_image_sse2.cpp and
// picture_image_avx2.cpp for their own targets: the display values of a
// row, V::kLanes at a time, clamped, rounded to nearest with ties to even
// as the scalar reference does it (picture_image.cpp), and looked up in the
// palette. Internal linkage; include it only from those files, after the
// trait.
#pragma once

#include <cstdint>

namespace qrx {
namespace ui {
namespace {

// The whole blocks of a row; returns how many values were done (the rest
// is the caller's).
template <class V>
int32_t WriteRowBlocks(const float* in, uint32_t* out, int32_t bins, const uint32_t* palette) {
  using F = typename V::F;
  using I = typename V::I;
  const F zero = V::Set1(0.0f), top = V::Set1(255.0f), half = V::Set1(0.5f);
  const I odd = V::Set1I(1);
  int32_t k = 0;
  for (; k + V::kLanes <= bins; k += V::kLanes) {
    // Max(v, 0) gives 0 for NaN (the second operand wins).
    const F v = V::Min(V::Max(V::LoadU(in + k), zero), top);
    I i = V::Truncate(v);
    const F fraction = V::Sub(v, V::ToF(i));
    const I up = V::OrI(V::AsI(V::CmpGt(fraction, half)),
                        V::AndI(V::AsI(V::CmpEq(fraction, half)), V::CmpEqI(V::AndI(i, odd), odd)));
    i = V::SubI(i, up);  // a mask of all ones adds one
    V::Lookup(palette, i, out + k);
  }
  return k;
}

}  // namespace
}  // namespace ui
}  // namespace qrx
