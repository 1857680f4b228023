// Block kernels: the reference kernels of fft_kernels.h run on W rows or W
// adjacent columns at once, one complex element of each in a W-lane vector
// (W = 2 for SSE, 4 for AVX2). Lane by lane they do exactly the reference's
// arithmetic, in the same order, so each lane's result equals the reference
// result for that row or column.
//
// A block scratch holds the W transforms interleaved: element e of lane c at
// complex index e * W + c. Row blocks need (N/2 + 1) * W complex elements,
// column blocks M * W.
#pragma once

#include <cstdint>

namespace qrx {

// Per-pass tables, computed once per worker pass (see fft_kernels.h).
struct FftPassTables {
  const float* stageTwiddles;  // FillStageTwiddles for the pass's length and direction
  const float* splitTwiddles;  // rows only: FillSplitTwiddles, b = +1 forward, -1 inverse
  const int32_t* pairs;        // BitReversePairs for the pass's length
  int32_t pairCount;
};

struct BlockKernels {
  int32_t width;  // W
  // W consecutive spectrum rows starting at `rows` (pitch complex elements
  // apart), length N >= 2 * W: the reference RealRowFft on each.
  void (*rowForward)(float* rows, int32_t pitch, int32_t N, float* scratch,
                     const FftPassTables& tables);
  void (*rowInverse)(float* rows, int32_t pitch, int32_t N, float* scratch,
                     const FftPassTables& tables);
  // Columns k .. k + W - 1: GatherColumn(H), ComplexFft(M, +1), reversal
  // swap, ScatterColumn(M).
  void (*columnForward)(float* spectrum, int32_t pitch, int32_t k, int32_t H, int32_t M,
                        float* scratch, const FftPassTables& tables);
  // GatherColumn(M), ComplexFft(M, -1), scaled reversal swap by 1/M,
  // ScatterColumn(H).
  void (*columnInverse)(float* spectrum, int32_t pitch, int32_t k, int32_t H, int32_t M,
                        float* scratch, const FftPassTables& tables);
};

// The kernels this build has (nullptr where a kind is not compiled in).
// Choosing between them from the processor's features is the caller's job.
const BlockKernels* SseBlockKernels();
const BlockKernels* Avx2BlockKernels();

}  // namespace qrx
