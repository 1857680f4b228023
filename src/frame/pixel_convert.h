// Conversions between the host's 24-bit BGR bottom-up frames and the working
// layout (packed 4:2:2, bytes Y0 Cb Y1 Cr, top line first), and the demo-mode
// border line. The scalar versions define the results; SIMD versions chosen
// at run time are bit-identical to them.
#pragma once

#include <cstdint>

namespace qrx {

// The frame format record the plug-in keeps from Start.
struct FrameFormatRecord {
  int32_t width;
  int32_t height;
  int32_t thirdWord;
  int32_t pixelFormat;  // 1: 24-bit BGR bottom-up; otherwise the working layout
};

void ConvertToWorking(const uint8_t* source, uint8_t* destination, const FrameFormatRecord& format,
                      int32_t firstLine, int32_t lineCount);
void ConvertFromWorking(const uint8_t* source, uint8_t* destination, const FrameFormatRecord& format,
                        int32_t firstLine, int32_t lineCount);
// Line ranges are clipped to the frame; empty or invalid frames, null buffers
// and rows outside 0 .. height-1 leave everything untouched.
// colour is 0x00BBGGRR.
void MarkRow(uint8_t* buffer, int32_t width, int32_t height, int32_t row, uint32_t colour);

namespace pixel {
// The plain references, always available (tests and benchmarks call them).
void ConvertToWorkingScalar(const uint8_t* source, uint8_t* destination, const FrameFormatRecord& format,
                            int32_t firstLine, int32_t lineCount);
void ConvertFromWorkingScalar(const uint8_t* source, uint8_t* destination, const FrameFormatRecord& format,
                              int32_t firstLine, int32_t lineCount);
void MarkRowScalar(uint8_t* buffer, int32_t width, int32_t height, int32_t row, uint32_t colour);

#if defined(__i386__) || defined(__x86_64__)
// SSE2 versions, bit-identical to the references. Call them only when
// platform::Cpu().sse2 holds.
void ConvertToWorkingSse2(const uint8_t* source, uint8_t* destination, const FrameFormatRecord& format,
                          int32_t firstLine, int32_t lineCount);
void ConvertFromWorkingSse2(const uint8_t* source, uint8_t* destination, const FrameFormatRecord& format,
                            int32_t firstLine, int32_t lineCount);
void MarkRowSse2(uint8_t* buffer, int32_t width, int32_t height, int32_t row, uint32_t colour);

// MMX versions (with SSE's pshufw), bit-identical to the references, for
// processors with SSE and no SSE2; they leave the x87 registers empty. Call
// them only when platform::Cpu().sse holds (every processor with SSE has
// MMX).
void ConvertToWorkingMmx(const uint8_t* source, uint8_t* destination, const FrameFormatRecord& format,
                         int32_t firstLine, int32_t lineCount);
void ConvertFromWorkingMmx(const uint8_t* source, uint8_t* destination, const FrameFormatRecord& format,
                           int32_t firstLine, int32_t lineCount);
void MarkRowMmx(uint8_t* buffer, int32_t width, int32_t height, int32_t row, uint32_t colour);
#else
// Builds for other processors have no SIMD versions: the names stand for the
// references.
inline constexpr auto ConvertToWorkingSse2 = ConvertToWorkingScalar;
inline constexpr auto ConvertFromWorkingSse2 = ConvertFromWorkingScalar;
inline constexpr auto MarkRowSse2 = MarkRowScalar;
inline constexpr auto ConvertToWorkingMmx = ConvertToWorkingScalar;
inline constexpr auto ConvertFromWorkingMmx = ConvertFromWorkingScalar;
inline constexpr auto MarkRowMmx = MarkRowScalar;
#endif

// The version the dispatching functions above use on this processor
// (decided from platform::Cpu() at each call): SSE2, else MMX with SSE, else
// the reference.
enum class Kernel { kScalar, kMmx, kSse2 };
Kernel SelectedKernel();
}  // namespace pixel

}  // namespace qrx
