// Shared pieces of the SIMD line kernels (line_kernels_*.cpp): the tap
// counts fixed at compile time, the walk over a table's rows and the scalar
// tails. Private to src/transform/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "transform/line_resample.h"

namespace qrx {
namespace line {
namespace detail {

// Calls fn(std::integral_constant<int32_t, T>()) with T the tap count when it
// is one of the common tables' (8, 12, 16, 20), so that the per-row loops
// unroll, and with T = 0 (the count read from the table) otherwise.
template <class Fn>
inline void WithTapCount(int32_t taps, Fn fn) {
  switch (taps) {
    case 8: fn(std::integral_constant<int32_t, 8>()); break;
    case 12: fn(std::integral_constant<int32_t, 12>()); break;
    case 16: fn(std::integral_constant<int32_t, 16>()); break;
    case 20: fn(std::integral_constant<int32_t, 20>()); break;
    default: fn(std::integral_constant<int32_t, 0>()); break;
  }
}

// A table applied to one line, row by row. With kTaps > 0 the tap count and
// the row size are compile-time constants. The table's fields are copied:
// the kernels' byte stores could otherwise alias them and force reloads.
template <int32_t kTaps>
class TableWalk {
 public:
  TableWalk(const ResampleTable& table, const uint16_t* line)
      : rows_(table.rows),
        lineBytes_(reinterpret_cast<const uint8_t*>(line)),
        taps_(table.taps),
        count_(table.destinationLength) {}
  int32_t Taps() const { return kTaps > 0 ? kTaps : taps_; }
  size_t RowBytes() const { return 4 + 2 * static_cast<size_t>(Taps()); }
  int32_t Rows() const { return count_; }
  const uint8_t* Row(int32_t i) const { return rows_ + RowBytes() * static_cast<size_t>(i); }
  // A row's coefficients (T int16, packed) and the first sample under them.
  static const uint8_t* Coefficients(const uint8_t* row) { return row + 4; }
  const uint8_t* Samples(const uint8_t* row) const {
    int32_t start;  // a byte offset into the line
    std::memcpy(&start, row, sizeof start);
    return lineBytes_ + start;
  }

 private:
  const uint8_t* rows_;
  const uint8_t* lineBytes_;
  int32_t taps_;
  int32_t count_;
};

// The scalar resampling kernels from destination index `first` on: the
// tails of the SIMD loops.
void ResampleToFloatsFrom(const ResampleTable& table, const uint16_t* line, const float* window, float* out,
                          int32_t first);
void ResampleToLumaFrom(const ResampleTable& table, const uint16_t* line, uint8_t* frameRow, int32_t first);

}  // namespace detail
}  // namespace line
}  // namespace qrx
