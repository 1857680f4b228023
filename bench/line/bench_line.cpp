// One frame through LineTransform::Forward and ::Backward, as the pipeline
// runs them: 720 x 576 working frame, FFT line 512 (resampling) and a
// 512 x 576 frame (direct path); the scalar kernels, the MMX ones (features
// forced to "SSE, no SSE2") and the SSE2 ones.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "platform/cpu.h"
#include "transform/line_transform.h"

namespace {

using qrx::FrameFormatRecord;
using qrx::LineTransform;

constexpr int32_t kHeight = 576;

struct Setup {
  int32_t width, n, pitch;
  std::vector<uint8_t> frame;
  std::vector<float> spectrum, window, inverse;
};

Setup MakeSetup(int32_t width, int32_t n) {
  Setup s{width, n, n / 2 + 2, {}, {}, {}, {}};
  std::mt19937 rng(1);
  std::uniform_int_distribution<int> byte(0, 255);
  s.frame.resize(size_t(2) * width * kHeight);
  for (uint8_t& b : s.frame) b = static_cast<uint8_t>(byte(rng));
  s.spectrum.assign(size_t(2) * s.pitch * 1024, 0.0f);
  auto hamming = [](int32_t i, int32_t p) { return 0.54 - 0.46 * std::cos(6.28318530718 * (i + 0.5) / p); };
  s.window.resize(size_t(n) * kHeight);
  s.inverse.resize(size_t(n) * kHeight);
  for (int32_t m = 0; m < kHeight; ++m) {
    for (int32_t x = 0; x < n; ++x) {
      s.window[size_t(m) * n + x] = float(hamming(x, n) * hamming(m, kHeight));
      s.inverse[size_t(m) * n + x] = float(1.0 / hamming(m, kHeight) / hamming(x, n));
    }
  }
  return s;
}

enum class Kernels { kScalar, kMmx, kSse2 };

void RunFrame(benchmark::State& state, int32_t width, Kernels kernels) {
  const qrx::platform::CpuFeatures detected = qrx::platform::Cpu();
  if ((kernels == Kernels::kSse2 && !detected.sse2) || (kernels == Kernels::kMmx && !detected.sse)) {
    state.SkipWithError("not available on this processor");
    return;
  }
  qrx::platform::CpuFeatures forced;
  forced.sse = kernels == Kernels::kMmx;
  qrx::platform::OverrideCpuFeatures(kernels == Kernels::kSse2 ? nullptr : &forced);
  Setup s = MakeSetup(width, 512);
  LineTransform lt(FrameFormatRecord{width, kHeight, 0, 0}, 512);
  if (!lt.IsUsable()) {
    state.SkipWithError("unusable");
    return;
  }
  for (auto _ : state) {
    lt.Forward(s.frame.data(), s.spectrum.data(), s.pitch, s.window.data());
    lt.Backward(s.frame.data(), s.spectrum.data(), s.pitch, s.inverse.data(), 1.0f, 0);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());  // frames
  qrx::platform::OverrideCpuFeatures(nullptr);
}

void BM_Frame720To512_Scalar(benchmark::State& state) { RunFrame(state, 720, Kernels::kScalar); }
void BM_Frame720To512_Mmx(benchmark::State& state) { RunFrame(state, 720, Kernels::kMmx); }
void BM_Frame720To512_Sse2(benchmark::State& state) { RunFrame(state, 720, Kernels::kSse2); }
void BM_Frame512Direct_Scalar(benchmark::State& state) { RunFrame(state, 512, Kernels::kScalar); }
void BM_Frame512Direct_Mmx(benchmark::State& state) { RunFrame(state, 512, Kernels::kMmx); }
void BM_Frame512Direct_Sse2(benchmark::State& state) { RunFrame(state, 512, Kernels::kSse2); }

// The two passes on their own, resampling path, SSE2.
void RunPass(benchmark::State& state, bool forward) {
  qrx::platform::OverrideCpuFeatures(nullptr);
  if (!qrx::platform::Cpu().sse2) {
    state.SkipWithError("no SSE2");
    return;
  }
  Setup s = MakeSetup(720, 512);
  LineTransform lt(FrameFormatRecord{720, kHeight, 0, 0}, 512);
  if (!lt.IsUsable()) {
    state.SkipWithError("unusable");
    return;
  }
  lt.Forward(s.frame.data(), s.spectrum.data(), s.pitch, s.window.data());
  for (auto _ : state) {
    if (forward) {
      lt.Forward(s.frame.data(), s.spectrum.data(), s.pitch, s.window.data());
    } else {
      lt.Backward(s.frame.data(), s.spectrum.data(), s.pitch, s.inverse.data(), 1.0f, 0);
    }
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_Forward720To512_Sse2(benchmark::State& state) { RunPass(state, true); }
void BM_Backward720To512_Sse2(benchmark::State& state) { RunPass(state, false); }

BENCHMARK(BM_Frame720To512_Scalar)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Frame720To512_Mmx)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Frame720To512_Sse2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Frame512Direct_Scalar)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Frame512Direct_Mmx)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Frame512Direct_Sse2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Forward720To512_Sse2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Backward720To512_Sse2)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
