// Block kernels: the reference kernels of fft_kernels.h run on W rows or W
// adjacent columns at once, one complex element of each in a W-lane vector
// (W = 2 for SSE, 4 for AVX2). Lane by lane they do exactly the reference's
// butterflies, in the same order of operations, so each lane's result equals
// the reference result for that row or column; only the order in which the
// butterflies are visited differs (two stages per load, small blocks
// finished while they sit in the first-level cache).
//
// A block scratch holds the W transforms interleaved: element e of lane c at
// complex index e * W + c.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qrx {

// The tables of one pass, built once per engine (see fft_kernels.h).
struct FftPassTables {
  const float* stageTwiddles;      // FillStageTwiddles for the pass's length and direction
  const float* stageTwiddlesSse;   // the same as SpreadSseTwiddles lays them out
  const float* splitTwiddles;      // rows only: FillSplitTwiddles, b = +1 forward, -1 inverse
  const int32_t* quarterReversal;  // ReversedIndices(n / 4) for the pass's length n
};

// Each (re, im) twiddle of a table of `count` as the SSE kernels read it:
// re four times, then -im, im, -im, im (8 floats, out 16-byte aligned).
void SpreadSseTwiddles(const float* pairs, int32_t count, float* out);

// A mask as the inverse column kernels take it in: the engine's table row by
// row (pitch floats a row), and the same factors column by column (the
// factor of row m of column c at byColumn[c * MaskColumnStride(M) + m]).
// Each kernel reads the form that suits its block width: a block's factors
// fill 16 bytes of a row with four lanes, only 8 with two. Both null: no
// mask.
struct ColumnMask {
  const float* byRow;
  const float* byColumn;
};

// Floats from one column to the next in a mask held column by column: the
// padding keeps the columns a block reads together off the same cache sets
// (M is a power of two).
inline size_t MaskColumnStride(int32_t M) { return static_cast<size_t>(M) + 16; }

// Widest block any kernel uses (AVX: four lanes).
constexpr int32_t kMaxBlockLanes = 4;

// Floats of block scratch a kernel of any width needs: for rows of N reals
// the transforms in bit-reversed and in natural order, for columns of M
// points one block.
inline size_t RowBlockScratchFloats(int32_t N) { return 2 * (2 * static_cast<size_t>(N / 2 + 1) * kMaxBlockLanes); }
inline size_t ColumnBlockScratchFloats(int32_t M) { return 2 * static_cast<size_t>(M) * kMaxBlockLanes; }

struct BlockKernels {
  int32_t width;  // W
  // W consecutive spectrum rows starting at `rows` (pitch complex elements
  // apart), length N >= 2 * W: the reference RealRowFft on each.
  void (*rowForward)(float* rows, int32_t pitch, int32_t N, float* scratch, const FftPassTables& tables);
  void (*rowInverse)(float* rows, int32_t pitch, int32_t N, float* scratch, const FftPassTables& tables);
  // Columns k .. k + lanes - 1 (1 <= lanes <= W, M >= 2): GatherColumn(H),
  // ComplexFft(M, +1), reversal swap, ScatterColumn(M). Only those columns
  // are read or written.
  void (*columnForward)(float* spectrum, int32_t pitch, int32_t k, int32_t lanes, int32_t H, int32_t M, float* scratch,
                        const FftPassTables& tables);
  // GatherColumn(M), ComplexFft(M, -1), scaled reversal swap by 1/M,
  // ScatterColumn(H). With a mask every row is first multiplied by its
  // factors, as ApplyMask would have done it.
  void (*columnInverse)(float* spectrum, int32_t pitch, int32_t k, int32_t lanes, int32_t H, int32_t M, float* scratch,
                        const FftPassTables& tables, const ColumnMask& mask);
};

// The kernels this build has (nullptr where a kind is not compiled in).
// Choosing between them from the processor's features is the caller's job.
const BlockKernels* SseBlockKernels();
const BlockKernels* Avx2BlockKernels();

}  // namespace qrx
