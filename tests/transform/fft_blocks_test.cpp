// The SIMD block kernels against the scalar reference kernels, block by
// block: every lane of a row or column block must hold the reference's
// values, whatever the length, the height or the number of lanes in use.
// Values are compared with ==: the kernels do the reference's butterflies
// operation for operation, so every result is the same float; only the
// sign of a zero may differ (the reference multiplies by w = 1 in the last
// stage, the kernels do not), and == treats -0 and +0 alike.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "fft_test_support.h"
#include "platform/cpu.h"
#include "transform/fft_kernels.h"
#include "transform/fft_kernels_simd.h"

namespace qrx {
namespace {

struct KernelSet {
  const char* name;
  const BlockKernels* kernels;
};

// The kernels this build has and this processor can run.
std::vector<KernelSet> RunnableKernels() {
  std::vector<KernelSet> sets;
  const platform::CpuFeatures& cpu = platform::Cpu();
  if (cpu.sse && SseBlockKernels()) sets.push_back({"SSE", SseBlockKernels()});
  if (cpu.avx2 && Avx2BlockKernels()) sets.push_back({"AVX2", Avx2BlockKernels()});
  return sets;
}

// 64-byte aligned float storage.
class Floats {
 public:
  explicit Floats(size_t n) : v_(n + 16, 0.0f) {}
  float* data() {
    const uintptr_t p = reinterpret_cast<uintptr_t>(v_.data());
    return reinterpret_cast<float*>((p + 63) & ~uintptr_t{63});
  }

 private:
  std::vector<float> v_;
};

// The tables an engine builds for a pass of length n (columns) or for rows
// of N reals (n = N/2), from the same functions.
struct Tables {
  std::vector<float> stage, split, spread;
  std::vector<int32_t> quarter;
  FftPassTables pass = {};
  Tables(int32_t n, int32_t stageDirection, int32_t N, int32_t splitDirection)
      : stage(2 * static_cast<size_t>(StageTwiddleCount(n)) + 2),
        split(N > 0 ? N / 2 + 2 : 2),
        spread(4 * stage.size() + 4),
        quarter(n / 4 > 0 ? n / 4 : 1) {
    FillStageTwiddles(stage.data(), n, stageDirection);
    if (N > 0) FillSplitTwiddles(split.data(), N, splitDirection);
    // The spread form is read with aligned loads.
    const uintptr_t p = reinterpret_cast<uintptr_t>(spread.data());
    float* spreadAligned = reinterpret_cast<float*>((p + 15) & ~uintptr_t{15});
    SpreadSseTwiddles(stage.data(), StageTwiddleCount(n), spreadAligned);
    ReversedIndices(quarter.data(), static_cast<int32_t>(quarter.size()));
    pass = {stage.data(), spreadAligned, split.data(), quarter.data()};
  }
};

// Same values everywhere (NaN nowhere expected).
::testing::AssertionResult SameValues(const float* a, const float* b, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (!(a[i] == b[i])) {
      return ::testing::AssertionFailure() << "float " << i << ": " << a[i] << " vs " << b[i];
    }
  }
  return ::testing::AssertionSuccess();
}

TEST(FftBlockKernels, RowBlocksEqualTheReferenceRowByRow) {
  const int32_t maxN = fft_test::kSmall ? 512 : 4096;
  for (const KernelSet& set : RunnableKernels()) {
    const int32_t W = set.kernels->width;
    for (int32_t N = 2 * W; N <= maxN; N *= 2) {
      SCOPED_TRACE(std::string(set.name) + " N=" + std::to_string(N));
      const int32_t pitch = N / 2 + 2;
      const size_t floats = 2 * static_cast<size_t>(pitch) * W;
      std::vector<int32_t> pairs(N);
      const int32_t pairCount = BitReversePairs(pairs.data(), N / 2);
      Floats block(floats), reference(floats), scratch(RowBlockScratchFloats(N));
      const std::vector<float> input = fft_test::RandomFloats(floats, N + W);
      std::memcpy(block.data(), input.data(), floats * sizeof(float));
      std::memcpy(reference.data(), input.data(), floats * sizeof(float));
      for (int32_t direction : {+1, -1}) {
        // The row kernel runs the half-length transform with the opposite sign.
        const Tables t(N / 2, -direction, N, direction);
        (direction > 0 ? set.kernels->rowForward : set.kernels->rowInverse)(block.data(), pitch, N, scratch.data(),
                                                                            t.pass);
        for (int32_t c = 0; c < W; ++c) {
          RealRowFft(reference.data() + 2 * pitch * c, N, direction, pairs.data(), pairCount);
        }
        // Whole rows, the spare element included (neither side touches it).
        ASSERT_TRUE(SameValues(block.data(), reference.data(), floats)) << "direction " << direction;
      }
    }
  }
}

// Reference work of one column: forward GatherColumn(H), ComplexFft(+1),
// reversal swap, ScatterColumn(M); inverse GatherColumn(M), ComplexFft(-1),
// scaled reversal swap, ScatterColumn(H).
void ReferenceColumn(float* spectrum, int32_t pitch, int32_t k, int32_t H, int32_t M, int32_t direction) {
  std::vector<int32_t> pairs(2 * M);
  const int32_t count = BitReversePairs(pairs.data(), M);
  Floats scratch(2 * static_cast<size_t>(M));
  if (direction > 0) {
    GatherColumn(spectrum, pitch, k, H, M, scratch.data());
    ComplexFft(scratch.data(), M, +1);
    ReversalSwap(scratch.data(), pairs.data(), count);
    ScatterColumn(spectrum, pitch, k, M, scratch.data());
  } else {
    GatherColumn(spectrum, pitch, k, M, M, scratch.data());
    ComplexFft(scratch.data(), M, -1);
    ScaledReversalSwap(scratch.data(), pairs.data(), count, 1.0f / static_cast<float>(M));
    ScatterColumn(spectrum, pitch, k, H, scratch.data());
  }
}

// Every lane count from 1 to W, at the last columns of a row so that a
// partial block must not reach past the spectrum's end; heights from the
// whole column down to one row, odd ones included; the inverse with and
// without a mask taken in on the way (held column by column; against
// MultiplyColumn, ApplyMask's products, before the reference).
TEST(FftBlockKernels, ColumnBlocksEqualTheReferenceForEveryLaneCount) {
  const int32_t maxM = fft_test::kSmall ? 256 : 2048;
  for (const KernelSet& set : RunnableKernels()) {
    const int32_t W = set.kernels->width;
    for (int32_t M = 2; M <= maxM; M *= 2) {
      for (int32_t H : {M, M - 1, M / 2 + 1, 1}) {
        for (int32_t lanes = 1; lanes <= W; ++lanes) {
          for (bool masked : {false, true}) {
            SCOPED_TRACE(std::string(set.name) + " M=" + std::to_string(M) + " H=" + std::to_string(H) +
                         " lanes=" + std::to_string(lanes) + (masked ? " masked" : ""));
            const int32_t pitch = 6;
            const int32_t k = pitch - lanes;
            const size_t floats = 2 * static_cast<size_t>(pitch) * M;
            Floats spectrum(floats), reference(floats), scratch(ColumnBlockScratchFloats(M));
            const std::vector<float> input = fft_test::RandomFloats(floats, M * 7 + H + lanes);
            // The mask row by row (the reference's) and column by column (the kernel's).
            const std::vector<float> mask = fft_test::RandomFloats(floats / 2, M + lanes);
            std::vector<float> byColumn(MaskColumnStride(M) * pitch);
            for (int32_t m = 0; m < M; ++m)
              for (int32_t c = 0; c < pitch; ++c) byColumn[MaskColumnStride(M) * c + m] = mask[m * pitch + c];
            std::memcpy(spectrum.data(), input.data(), floats * sizeof(float));
            std::memcpy(reference.data(), input.data(), floats * sizeof(float));
            const Tables forward(M, +1, 0, 0), inverse(M, -1, 0, 0);
            set.kernels->columnForward(spectrum.data(), pitch, k, lanes, H, M, scratch.data(), forward.pass);
            for (int32_t c = k; c < k + lanes; ++c) ReferenceColumn(reference.data(), pitch, c, H, M, +1);
            // Columns outside the block keep their values.
            ASSERT_TRUE(SameValues(spectrum.data(), reference.data(), floats)) << "forward";
            set.kernels->columnInverse(spectrum.data(), pitch, k, lanes, H, M, scratch.data(), inverse.pass,
                                       masked ? ColumnMask{mask.data(), byColumn.data()} : ColumnMask{});
            for (int32_t c = k; c < k + lanes; ++c) {
              // The kernel leaves rows from H on as they were; so must the reference.
              std::vector<float> before(reference.data(), reference.data() + floats);
              if (masked) MultiplyColumn(reference.data(), pitch, c, M, mask.data());
              ReferenceColumn(reference.data(), pitch, c, H, M, -1);
              for (int32_t m = H; m < M; ++m) {
                reference.data()[2 * (m * pitch + c)] = before[2 * (m * pitch + c)];
                reference.data()[2 * (m * pitch + c) + 1] = before[2 * (m * pitch + c) + 1];
              }
            }
            ASSERT_TRUE(SameValues(spectrum.data(), reference.data(), floats)) << "inverse";
          }
        }
      }
    }
  }
}

}  // namespace
}  // namespace qrx
