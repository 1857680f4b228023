// Throughput of the pixel conversions and MarkRow on a PAL frame: scalar
// reference, the MMX versions of processors without SSE2 and the run-time
// dispatch, in megapixels per second.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>

#include "platform/platform.h"
#include "frame/pixel_convert.h"

namespace qrx {
namespace {

constexpr int32_t kWidth = 720;
constexpr int32_t kHeight = 576;
constexpr int64_t kPixels = static_cast<int64_t>(kWidth) * kHeight;

using ConvertFn = void (*)(const uint8_t*, uint8_t*, const FrameFormatRecord&, int32_t, int32_t);
using MarkFn = void (*)(uint8_t*, int32_t, int32_t, int32_t, uint32_t);

// Aligned frame buffers as the plug-in allocates them, filled with noise.
struct Frames {
  Frames() {
    bgr = static_cast<uint8_t*>(platform::AlignedAlloc(3 * kPixels));
    working = static_cast<uint8_t*>(platform::AlignedAlloc(2 * kPixels));
    std::mt19937 rng(5);
    if (bgr) for (int64_t i = 0; i < 3 * kPixels; ++i) bgr[i] = static_cast<uint8_t>(rng());
    if (working) for (int64_t i = 0; i < 2 * kPixels; ++i) working[i] = static_cast<uint8_t>(rng());
  }
  ~Frames() {
    platform::AlignedFree(bgr);
    platform::AlignedFree(working);
  }
  bool ok() const { return bgr && working; }
  uint8_t* bgr = nullptr;
  uint8_t* working = nullptr;
};

void SetRate(benchmark::State& state, int64_t pixelsPerIteration) {
  state.counters["MPix"] = benchmark::Counter(static_cast<double>(pixelsPerIteration) / 1e6,
                                                benchmark::Counter::kIsIterationInvariantRate);
}

void ToWorking(benchmark::State& state, ConvertFn fn) {
  Frames frames;
  if (!frames.ok()) return state.SkipWithError("allocation failed");
  const FrameFormatRecord format{kWidth, kHeight, 0, 1};
  for (auto _ : state) {
    fn(frames.bgr, frames.working, format, 0, kHeight);
    benchmark::ClobberMemory();
  }
  SetRate(state, kPixels);
}

void FromWorking(benchmark::State& state, ConvertFn fn) {
  Frames frames;
  if (!frames.ok()) return state.SkipWithError("allocation failed");
  const FrameFormatRecord format{kWidth, kHeight, 0, 1};
  for (auto _ : state) {
    fn(frames.working, frames.bgr, format, 0, kHeight);
    benchmark::ClobberMemory();
  }
  SetRate(state, kPixels);
}

// MarkRow over every line of the frame, so that one iteration is one frame.
void Mark(benchmark::State& state, MarkFn fn) {
  Frames frames;
  if (!frames.ok()) return state.SkipWithError("allocation failed");
  for (auto _ : state) {
    for (int32_t row = 0; row < kHeight; ++row) fn(frames.working, kWidth, kHeight, row, 0x102030);
    benchmark::ClobberMemory();
  }
  SetRate(state, kPixels);
}

BENCHMARK_CAPTURE(ToWorking, Scalar, pixel::ConvertToWorkingScalar);
BENCHMARK_CAPTURE(ToWorking, Mmx, pixel::ConvertToWorkingMmx);
BENCHMARK_CAPTURE(ToWorking, Dispatch, ConvertToWorking);
BENCHMARK_CAPTURE(FromWorking, Scalar, pixel::ConvertFromWorkingScalar);
BENCHMARK_CAPTURE(FromWorking, Mmx, pixel::ConvertFromWorkingMmx);
BENCHMARK_CAPTURE(FromWorking, Dispatch, ConvertFromWorking);
BENCHMARK_CAPTURE(Mark, Scalar, pixel::MarkRowScalar);
BENCHMARK_CAPTURE(Mark, Mmx, pixel::MarkRowMmx);
BENCHMARK_CAPTURE(Mark, Dispatch, MarkRow);

}  // namespace
}  // namespace qrx

BENCHMARK_MAIN();
