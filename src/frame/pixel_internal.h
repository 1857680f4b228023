// Shared pieces of the pixel converters: argument clipping, the per-line
// drivers and the scalar row routines that the SIMD versions use for their
// tails. Private to src/frame/pixel_*.cpp.
#pragma once

#include <cstddef>
#include <cstdint>

#include "frame/pixel_convert.h"

namespace qrx {
namespace pixel {
namespace detail {

// Colour coefficients of full-range BT.601 in units of 1/256 (luma, Cb, Cr)
// and the inverse factors in units of 1/4096 applied to 16·(C − 128).
constexpr int kLumaB = 29, kLumaG = 150, kLumaR = 77;
constexpr int kCbB = 128, kCbG = -85, kCbR = -43;
constexpr int kCrR = 128, kCrG = -107, kCrB = -21;
constexpr int kCbToB = 7264, kCbToG = -1376, kCrToG = -2928, kCrToR = 5744;

// Division by 2^bits rounding toward minus infinity, without relying on the
// implementation's right shift of negative values.
inline int FloorShift(int value, int bits) { return value >= 0 ? value >> bits : ~(~value >> bits); }

inline uint8_t Saturate(int value) {
  return static_cast<uint8_t>(value < 0 ? 0 : (value > 255 ? 255 : value));
}

// The half-open working-line range [begin, end) that a call may touch.
struct LineRange {
  int32_t begin;
  int32_t end;
};

// Intersects [first, first + count) with the frame's lines; false when
// nothing is left or the frame or buffers are unusable.
bool ClipLines(const void* source, const void* destination, const FrameFormatRecord& format,
               int32_t firstLine, int32_t lineCount, LineRange* range);

// Scalar row routines over a number of pixel pairs.
void ToWorkingPairs(const uint8_t* bgr, uint8_t* working, int32_t pairs);
void FromWorkingPairs(const uint8_t* working, uint8_t* bgr, int32_t pairs);

// Signed per-byte additions of MarkRow for the colour 0x00BBGGRR.
struct MarkDeltas {
  int luma;
  int cb;
  int cr;
};
MarkDeltas ComputeMarkDeltas(uint32_t colour);
// The SIMD versions add the positive parts of the deltas with an unsigned
// saturating add and subtract the negative parts likewise.
inline int PositivePart(int x) { return x > 0 ? x : 0; }
inline int NegativePart(int x) { return x < 0 ? -x : 0; }
// Four bytes luma, cb, luma, cr (first byte lowest), one pixel pair's worth.
inline uint32_t GroupWord(int luma, int cb, int cr) {
  return static_cast<uint32_t>(luma) | (static_cast<uint32_t>(cb) << 8) | (static_cast<uint32_t>(luma) << 16) |
         (static_cast<uint32_t>(cr) << 24);
}
// Adds the deltas to `groups` groups of four pixels starting at `row`.
void MarkGroups(uint8_t* row, int32_t groups, const MarkDeltas& deltas);

// MarkRow with the given group routine (MarkGroups or a SIMD version):
// finds the row, computes the deltas, adds them to every whole group.
using MarkGroupsFn = void (*)(uint8_t* row, int32_t groups, const MarkDeltas& deltas);
void MarkRowWith(uint8_t* buffer, int32_t width, int32_t height, int32_t row, uint32_t colour,
                 MarkGroupsFn markGroups);

// Runs rowFn(bgrLine, workingLine, pairs) over the clipped line range; the
// 24-bit frame is stored bottom line first.
template <class RowFn>
void ForEachToWorking(const uint8_t* source, uint8_t* destination, const FrameFormatRecord& format,
                      int32_t firstLine, int32_t lineCount, RowFn rowFn) {
  LineRange range;
  if (!ClipLines(source, destination, format, firstLine, lineCount, &range)) return;
  const std::ptrdiff_t width = format.width;
  const std::ptrdiff_t height = format.height;
  const int32_t pairs = format.width / 2;
  for (std::ptrdiff_t y = range.begin; y < range.end; ++y) {
    rowFn(source + (height - 1 - y) * 3 * width, destination + y * 2 * width, pairs);
  }
}

// Runs rowFn(workingLine, bgrLine, pairs) over the clipped line range.
template <class RowFn>
void ForEachFromWorking(const uint8_t* source, uint8_t* destination, const FrameFormatRecord& format,
                        int32_t firstLine, int32_t lineCount, RowFn rowFn) {
  LineRange range;
  if (!ClipLines(source, destination, format, firstLine, lineCount, &range)) return;
  const std::ptrdiff_t width = format.width;
  const std::ptrdiff_t height = format.height;
  const int32_t pairs = format.width / 2;
  for (std::ptrdiff_t y = range.begin; y < range.end; ++y) {
    rowFn(source + y * 2 * width, destination + (height - 1 - y) * 3 * width, pairs);
  }
}

}  // namespace detail
}  // namespace pixel
}  // namespace qrx
