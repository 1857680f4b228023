// Scalar references of the pixel converters and the run-time choice of the
// SIMD versions.
#include "frame/pixel_convert.h"

#include "platform/cpu.h"
#include "frame/pixel_internal.h"

namespace qrx {
namespace pixel {
namespace detail {

bool ClipLines(const void* source, const void* destination, const FrameFormatRecord& format,
               int32_t firstLine, int32_t lineCount, LineRange* range) {
  if (!source || !destination || format.width <= 0 || format.height <= 0 || lineCount <= 0) {
    return false;
  }
  const int64_t first = firstLine;
  const int64_t end = first + lineCount;  // cannot overflow in 64 bits
  range->begin = static_cast<int32_t>(first < 0 ? 0 : first);
  range->end = static_cast<int32_t>(end > format.height ? format.height : end);
  return range->begin < range->end;
}

void ToWorkingPairs(const uint8_t* bgr, uint8_t* working, int32_t pairs) {
  for (int32_t i = 0; i < pairs; ++i, bgr += 6, working += 4) {
    const int b0 = bgr[0], g0 = bgr[1], r0 = bgr[2];
    const int b1 = bgr[3], g1 = bgr[4], r1 = bgr[5];
    const int y0 = (kLumaB * b0 + kLumaG * g0 + kLumaR * r0) >> 8;
    const int y1 = (kLumaB * b1 + kLumaG * g1 + kLumaR * r1) >> 8;
    const int b = (b0 + b1) >> 1, g = (g0 + g1) >> 1, r = (r0 + r1) >> 1;
    const int cb = FloorShift(kCbB * b + kCbG * g + kCbR * r, 8) + 128;
    const int cr = FloorShift(kCrR * r + kCrG * g + kCrB * b, 8) + 128;
    working[0] = Saturate(y0);
    working[1] = Saturate(cb);
    working[2] = Saturate(y1);
    working[3] = Saturate(cr);
  }
}

void FromWorkingPairs(const uint8_t* working, uint8_t* bgr, int32_t pairs) {
  for (int32_t i = 0; i < pairs; ++i, working += 4, bgr += 6) {
    const int u = 16 * (working[1] - 128);
    const int v = 16 * (working[3] - 128);
    // Upper halves of the signed 16 x 16-bit products.
    const int dB = FloorShift(u * kCbToB, 16);
    const int dG = FloorShift(u * kCbToG, 16) + FloorShift(v * kCrToG, 16);
    const int dR = FloorShift(v * kCrToR, 16);
    for (int j = 0; j < 2; ++j) {
      const int y = working[2 * j];
      bgr[3 * j + 0] = Saturate(y + dB);
      bgr[3 * j + 1] = Saturate(y + dG);
      bgr[3 * j + 2] = Saturate(y + dR);
    }
  }
}

MarkDeltas ComputeMarkDeltas(uint32_t colour) {
  const int r = static_cast<int>(colour & 0xFF);
  const int g = static_cast<int>((colour >> 8) & 0xFF);
  const int b = static_cast<int>((colour >> 16) & 0xFF);
  MarkDeltas d;
  d.luma = (kLumaB * b + kLumaG * g + kLumaR * r) >> 8;
  d.cb = FloorShift(kCbB * b + kCbG * g + kCbR * r, 8);
  d.cr = FloorShift(kCrR * r + kCrG * g + kCrB * b, 8);
  return d;
}

void MarkGroups(uint8_t* row, int32_t groups, const MarkDeltas& d) {
  const int add[8] = {d.luma, d.cb, d.luma, d.cr, d.luma, d.cb, d.luma, d.cr};
  for (int32_t i = 0; i < groups; ++i, row += 8) {
    for (int k = 0; k < 8; ++k) row[k] = Saturate(row[k] + add[k]);
  }
}

void MarkRowWith(uint8_t* buffer, int32_t width, int32_t height, int32_t row, uint32_t colour,
                 MarkGroupsFn markGroups) {
  if (!buffer || width < 4 || row < 0 || row >= height) return;
  markGroups(buffer + static_cast<std::ptrdiff_t>(row) * 2 * width, width / 4, ComputeMarkDeltas(colour));
}

}  // namespace detail

void ConvertToWorkingScalar(const uint8_t* source, uint8_t* destination, const FrameFormatRecord& format,
                            int32_t firstLine, int32_t lineCount) {
  detail::ForEachToWorking(source, destination, format, firstLine, lineCount, detail::ToWorkingPairs);
}

void ConvertFromWorkingScalar(const uint8_t* source, uint8_t* destination, const FrameFormatRecord& format,
                              int32_t firstLine, int32_t lineCount) {
  detail::ForEachFromWorking(source, destination, format, firstLine, lineCount, detail::FromWorkingPairs);
}

void MarkRowScalar(uint8_t* buffer, int32_t width, int32_t height, int32_t row, uint32_t colour) {
  detail::MarkRowWith(buffer, width, height, row, colour, detail::MarkGroups);
}

Kernel SelectedKernel() {
#if defined(__i386__) || defined(__x86_64__)
  const platform::CpuFeatures& cpu = platform::Cpu();
  if (cpu.sse2) return Kernel::kSse2;
  if (cpu.sse) return Kernel::kMmx;
#endif
  return Kernel::kScalar;
}

}  // namespace pixel

void ConvertToWorking(const uint8_t* source, uint8_t* destination, const FrameFormatRecord& format,
                      int32_t firstLine, int32_t lineCount) {
  switch (pixel::SelectedKernel()) {
    case pixel::Kernel::kSse2: pixel::ConvertToWorkingSse2(source, destination, format, firstLine, lineCount); break;
    case pixel::Kernel::kMmx: pixel::ConvertToWorkingMmx(source, destination, format, firstLine, lineCount); break;
    default: pixel::ConvertToWorkingScalar(source, destination, format, firstLine, lineCount); break;
  }
}

void ConvertFromWorking(const uint8_t* source, uint8_t* destination, const FrameFormatRecord& format,
                        int32_t firstLine, int32_t lineCount) {
  switch (pixel::SelectedKernel()) {
    case pixel::Kernel::kSse2: pixel::ConvertFromWorkingSse2(source, destination, format, firstLine, lineCount); break;
    case pixel::Kernel::kMmx: pixel::ConvertFromWorkingMmx(source, destination, format, firstLine, lineCount); break;
    default: pixel::ConvertFromWorkingScalar(source, destination, format, firstLine, lineCount); break;
  }
}

void MarkRow(uint8_t* buffer, int32_t width, int32_t height, int32_t row, uint32_t colour) {
  switch (pixel::SelectedKernel()) {
    case pixel::Kernel::kSse2: pixel::MarkRowSse2(buffer, width, height, row, colour); break;
    case pixel::Kernel::kMmx: pixel::MarkRowMmx(buffer, width, height, row, colour); break;
    default: pixel::MarkRowScalar(buffer, width, height, row, colour); break;
  }
}

}  // namespace qrx
