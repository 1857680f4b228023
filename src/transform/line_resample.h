// The Lanczos resampler and the per-line kernels of the line transform.
// The scalar functions define every result; the SIMD versions, chosen at run
// time, are bit-identical to them (exact integer sums, IEEE single products
// and a rounding that does not depend on the processor's rounding mode).
#pragma once

#include <cstddef>
#include <cstdint>

namespace qrx {

// Lanczos kernel with a = 3: sinc(pi|x|) * sinc(pi|x|/3), zero for |x| >= 3.
double LanczosKernel(double x);

// Polyphase table from a source line of S samples to D samples. Row i is
// { int32 start, int16 coefficients[T] }: start is the byte offset of the
// first tap in a line of 16-bit samples (2 x first source index), the
// coefficients are Q14 (16384 = 1.0). Rows are 4 + 2T bytes, packed, so only
// the block as a whole is 16-byte aligned.
struct ResampleTable {
  int32_t sourceLength = 0;
  int32_t destinationLength = 0;
  int32_t taps = 0;
  uint8_t* rows = nullptr;  // platform::AlignedAlloc, D * (T + 2) * 2 bytes

  size_t RowBytes() const { return 4 + 2 * static_cast<size_t>(taps); }
  const uint8_t* Row(int32_t i) const { return rows + RowBytes() * static_cast<size_t>(i); }
  int32_t Start(int32_t i) const;                     // bytes
  const int16_t* Coefficients(int32_t i) const;        // may be only 2-byte aligned
};

// Taps of a table S -> D (a multiple of 4).
int32_t ResampleTapCount(int32_t sourceLength, int32_t destinationLength);

// nullptr when the sizes are unusable (S or D < 1, T > S) or memory is short.
ResampleTable* CreateResampleTable(int32_t sourceLength, int32_t destinationLength);
void DestroyResampleTable(ResampleTable* table);

namespace line {

// One destination sample: sum of c_j * line[start/2 + j] (32-bit), >> 14.
int32_t ApplyRow(const ResampleTable& table, int32_t row, const uint16_t* line);

// Float to byte for the backward pass: round to nearest, ties to even, and
// saturate to 0..255; NaN and -inf give 0, +inf gives 255.
uint8_t FloatToLuma(float v);

// The per-line operations. frameRow points at a working-layout line (luma at
// even bytes); only luma bytes are read or written. All lengths are exact:
// nothing outside [0, n) is touched, tails are done one sample at a time.
struct Kernels {
  // out[x] = luma(x) * window[x], x < n.
  void (*lumaToFloats)(const uint8_t* frameRow, const float* window, float* out, int32_t n);
  // out[i] = ApplyRow(i) * window[i], i < D.
  void (*resampleToFloats)(const ResampleTable& table, const uint16_t* line, const float* window,
                           float* out);
  // luma(x) = FloatToLuma(in[x] * inverse[x]), x < n.
  void (*floatsToLuma)(const float* in, const float* inverse, uint8_t* frameRow, int32_t n);
  // line[i] = FloatToLuma(in[i] * inverse[i]), i < n.
  void (*floatsToSamples)(const float* in, const float* inverse, uint16_t* line, int32_t n);
  // luma(x) = ApplyRow(x) saturated to 0..255, x < D.
  void (*resampleToLuma)(const ResampleTable& table, const uint16_t* line, uint8_t* frameRow);
  // line[x] = luma(x) zero-extended, x < n.
  void (*lumaToSamples)(const uint8_t* frameRow, uint16_t* line, int32_t n);
};

const Kernels& ScalarKernels();
// nullptr when this build has no SSE2 version (non-x86).
const Kernels* Sse2Kernels();
// MMX and SSE, for processors with SSE and no SSE2 (every processor with SSE
// has MMX); they leave the x87 registers empty. nullptr on non-x86 builds.
const Kernels* MmxKernels();
// What the processor supports (platform::Cpu(), honouring its override):
// SSE2, else MMX with SSE, else scalar.
const Kernels& SelectKernels();

}  // namespace line
}  // namespace qrx
