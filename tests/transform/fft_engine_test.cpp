// The engine: sizes, windows, kHz scale, the 2-D transform against direct
// double-precision sums, round trips, SIMD paths against the scalar one,
// the mask hand-off and robust construction.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <complex>
#include <cstring>
#include <thread>
#include <vector>

#include "fft_test_support.h"
#include "platform/platform.h"
#include "transform/fft_engine.h"

namespace qrx {
namespace {

using fft_test::Cd;
using fft_test::kTwoPi;

float* Row(FftEngine& e, int q) { return e.Spectrum() + static_cast<size_t>(q) * e.Pitch() * 2; }

void LoadRows(FftEngine& e, const std::vector<double>& x) {
  for (int m = 0; m < e.H(); ++m)
    for (int n = 0; n < e.N(); ++n) Row(e, m)[n] = static_cast<float>(x[m * e.N() + n]);
}

std::vector<double> RandomFrame(int H, int N, uint32_t seed) {
  const std::vector<float> f = fft_test::RandomFloats(static_cast<size_t>(H) * N, seed);
  return std::vector<double>(f.begin(), f.end());
}

TEST(FftEngineSizes, StandardDefinitionFrames) {
  FftEngine e(512, 576, 512, 0, 2, 2);
  ASSERT_TRUE(e.IsUsable());
  EXPECT_EQ(e.N(), 512);
  EXPECT_EQ(e.M(), 1024);
  EXPECT_EQ(e.Rows(), 1024);
  EXPECT_EQ(e.Pitch(), 258);
  EXPECT_EQ(e.Bins(), 257);
  EXPECT_EQ(static_cast<size_t>(e.M()) * e.Pitch() * 8, 2113536u);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(e.Spectrum()) % 16, 0u);
  EXPECT_EQ((e.Pitch() * 8) % 16, 0);

  FftEngine ntsc(512, 480, 512, 0, 2, 1);
  ASSERT_TRUE(ntsc.IsUsable());
  EXPECT_EQ(ntsc.M(), 512);
  // Row length 0 takes the smallest power of two >= L.
  FftEngine derived(300, 100, 0, 0, 2, 1);
  EXPECT_EQ(derived.N(), 512);
  EXPECT_EQ(derived.M(), 128);
  EXPECT_TRUE(derived.IsUsable());
}

TEST(FftEngineScale, WorkedConversions) {
  FftEngine e(512, 576, 512, 0, 2, 1);
  ASSERT_TRUE(e.IsUsable());
  e.SetRates(platform::MulDiv(13500, 512, 704), platform::MulDiv(14727, 576, 576));
  EXPECT_EQ(e.RowRateKHz(), 9818);
  EXPECT_EQ(e.ColRateKHz(), 14727);
  EXPECT_EQ(e.FreqToRow(0), 512);
  EXPECT_EQ(e.FreqToRow(-1000), 442);
  EXPECT_EQ(e.FreqToRow(1000), 512 + 70);  // 1000 * 1024 / 14727 = 69.53
  EXPECT_EQ(e.FreqToRow(-1), 512);         // under half a row: rounds to the centre
  EXPECT_EQ(e.FreqToRow(-10), 511);
  EXPECT_EQ(e.FreqToRow(14727 / 2 + 1), 0);  // wraps to the top half
  EXPECT_EQ(e.FreqToColumn(1000), 52);
  EXPECT_EQ(e.WidthToColumns(1000), 52);
  EXPECT_EQ(e.WidthToRows(1000), 70);
  EXPECT_EQ(platform::MulDiv(14727, 480, 576), 12273);
  EXPECT_EQ(platform::MulDiv(13500, 256, 704), 4909);
  EXPECT_EQ(platform::MulDiv(13500, 1024, 704), 19636);
  EXPECT_EQ(platform::MulDiv(14727, 288, 576), 7364);
}

TEST(FftEngineWindow, HammingWeightsSumAndInverse) {
  const int N = 512, H = fft_test::kSmall ? 64 : 576;
  FftEngine e(N, H, N, 0, 2, 1);
  ASSERT_TRUE(e.IsUsable());
  e.BuildWindow(1);
  e.BuildInverseWindow(1);
  ASSERT_NE(e.Window(), nullptr);
  ASSERT_NE(e.InverseWindow(), nullptr);
  auto h = [](int i, int P) { return 0.54 - 0.46 * std::cos(6.28318530718 * (i + 0.5) / P); };
  EXPECT_NEAR(h(0, 512), 0.0800, 1e-4);
  double sum = 0;
  float fsum = 0;
  for (int m = 0; m < H; ++m)
    for (int n = 0; n < N; ++n) {
      const double w = h(n, N) * h(m, H);
      sum += w;
      fsum = static_cast<float>(fsum + w);
      ASSERT_EQ(e.Window()[m * N + n], static_cast<float>(w));
      ASSERT_NEAR(e.Window()[m * N + n] * e.InverseWindow()[m * N + n], 1.0f, 1e-6);
    }
  EXPECT_EQ(e.Window()[0], e.Window()[N - 1]);  // symmetric
  EXPECT_EQ(e.WindowSum(), fsum);               // float running sum, row by row
  EXPECT_NEAR(e.WindowSum(), sum, sum * 1e-4);
}

// The 2-D transform against direct sums for small sizes, odd heights
// included. Tolerance: the largest error relative to the largest output
// must stay below 2e-5. Single precision carries 6e-8 per operation; a
// 64 x 64 transform passes 11 radix-2 stages plus rotation-generated
// twiddles (at most 8 steps here), so the expected error is around 1e-6;
// any wrong sign, twiddle, index or scale gives errors of order 1.
TEST(FftEngineTransform, MatchesDirectSums) {
  for (int N = 4; N <= 64; N *= 2) {
    for (int M = 4; M <= 64; M *= 2) {
      for (int H : {M / 2 + 1, M - 1, M}) {
        if (H < 2) continue;
        FftEngine e(N, H, N, M, 2, 2);
        ASSERT_TRUE(e.IsUsable());
        const std::vector<double> x = RandomFrame(H, N, N * 1000 + M * 10 + H);
        LoadRows(e, x);
        e.Transform(+1);
        const std::vector<Cd> S = fft_test::ReferenceForward(x, H, N, M);
        double errMax = 0, refMax = 0;
        for (int q = 0; q < M; ++q)
          for (int k = 0; k < e.Bins(); ++k) {
            const Cd got(Row(e, q)[2 * k], Row(e, q)[2 * k + 1]);
            errMax = std::max(errMax, std::abs(got - S[q * e.Bins() + k]));
            refMax = std::max(refMax, std::abs(S[q * e.Bins() + k]));
          }
        EXPECT_LE(errMax / refMax, 2e-5) << "N=" << N << " M=" << M << " H=" << H;
      }
    }
  }
}

// The inverse alone, from an arbitrary spectrum: rows < H get the reference
// result, element N/2 becomes 0, rows >= H keep their spectrum values.
TEST(FftEngineTransform, InverseMatchesDirectSums) {
  for (int N = 4; N <= 64; N *= 4) {
    for (int M = 4; M <= 64; M *= 2) {
      const int H = M - 1;
      FftEngine e(N, H, N, M, 2, 3);
      ASSERT_TRUE(e.IsUsable());
      const int bins = e.Bins();
      const std::vector<float> r = fft_test::RandomFloats(2 * static_cast<size_t>(M) * e.Pitch(), N + M);
      std::memcpy(e.Spectrum(), r.data(), r.size() * sizeof(float));
      std::vector<Cd> S(static_cast<size_t>(M) * bins);
      for (int q = 0; q < M; ++q)
        for (int k = 0; k < bins; ++k) S[q * bins + k] = Cd(Row(e, q)[2 * k], Row(e, q)[2 * k + 1]);
      const std::vector<double> x = fft_test::ReferenceInverse(S, H, N, M);
      e.Transform(-1);
      double errMax = 0, refMax = 0;
      for (int m = 0; m < H; ++m) {
        for (int n = 0; n < N; ++n) {
          errMax = std::max(errMax, std::fabs(Row(e, m)[n] - x[m * N + n]));
          refMax = std::max(refMax, std::fabs(x[m * N + n]));
        }
        EXPECT_EQ(Row(e, m)[N], 0.0f);
        EXPECT_EQ(Row(e, m)[N + 1], 0.0f);
        EXPECT_EQ(Row(e, m)[N + 2], r[2 * m * e.Pitch() + N + 2]);  // spare element untouched
      }
      EXPECT_LE(errMax / refMax, 2e-5) << "N=" << N << " M=" << M;
      for (int q = H; q < M; ++q)
        for (int i = 0; i < 2 * e.Pitch(); ++i) ASSERT_EQ(Row(e, q)[i], r[2 * q * e.Pitch() + i]);
    }
  }
}

// Forward then inverse returns the rows, for every row length and column
// lengths up to 2048. Tolerance relative to the largest input: 2e-6 *
// log2(N M); the twiddle recurrences of long columns dominate.
TEST(FftEngineTransform, RoundTripsAllLengths) {
  const int maxN = fft_test::kSmall ? 256 : 1024;
  const int maxM = fft_test::kSmall ? 256 : 2048;
  for (int N = 4; N <= maxN; N *= 2) {
    for (int M = 2; M <= maxM; M *= 4) {
      const int H = M > 2 ? M - M / 4 + 1 : 2;
      FftEngine e(N, H, N, M, 2, 2);
      ASSERT_TRUE(e.IsUsable());
      const std::vector<double> x = RandomFrame(H, N, N + 31 * M);
      LoadRows(e, x);
      e.Transform(+1);
      e.Transform(-1);
      double errMax = 0;
      for (int m = 0; m < H; ++m)
        for (int n = 0; n < N; ++n) errMax = std::max(errMax, std::fabs(Row(e, m)[n] - x[m * N + n]));
      EXPECT_LE(errMax, 2e-6 * std::log2(static_cast<double>(N) * M)) << "N=" << N << " M=" << M;
    }
  }
}

TEST(FftEngineTransform, ConstantFrameDcIs255TimesWindowSum) {
  const int N = fft_test::kSmall ? 128 : 512, H = fft_test::kSmall ? 144 : 576;
  FftEngine e(N, H, N, 0, 2, 2);
  ASSERT_TRUE(e.IsUsable());
  e.BuildWindow(1);
  for (int m = 0; m < H; ++m)
    for (int n = 0; n < N; ++n) Row(e, m)[n] = 255.0f * e.Window()[m * N + n];
  e.Transform(+1);
  const float* dc = Row(e, e.M() / 2);
  // windowSum is a float running sum of H N weights; its own rounding drift
  // (2e-5 observed at 576 x 512) dominates, hence 2e-4 relative.
  EXPECT_NEAR(dc[0], 255.0 * e.WindowSum(), 2e-4 * 255.0 * e.WindowSum());
  EXPECT_NEAR(dc[1], 0.0, 1e-5 * 255.0 * e.WindowSum());
  // Away from the centre only the Hamming window's side lobes remain
  // (below -40 dB).
  EXPECT_LT(std::hypot(Row(e, e.M() / 2 + 64)[0], Row(e, e.M() / 2 + 64)[1]), 1e-2 * dc[0]);
  EXPECT_LT(std::hypot(Row(e, e.M() / 2)[16], Row(e, e.M() / 2)[17]), 1e-2 * dc[0]);
}

// A grating peaks where the kHz conversions put its frequency, on the side
// of the vertical axis that its direction selects.
TEST(FftEngineTransform, GratingPeaksWhereTheScaleSaysBothVerticalSigns) {
  const int N = fft_test::kSmall ? 128 : 512, H = fft_test::kSmall ? 144 : 576;
  FftEngine e(N, H, N, 0, 2, 2);
  ASSERT_TRUE(e.IsUsable());
  e.SetRates(platform::MulDiv(13500, N, 704), platform::MulDiv(14727, H, 576));
  const int c = N / 12, r = 9;  // r * M / H is a whole number of rows
  for (int dirSign : {+1, -1}) {
    // Phase 2 pi (c n / N - dirSign r m / H): dirSign +1 is a positive
    // vertical frequency (below the centre row), -1 a negative one.
    std::vector<double> x(static_cast<size_t>(H) * N);
    for (int m = 0; m < H; ++m)
      for (int n = 0; n < N; ++n) x[m * N + n] = std::cos(kTwoPi * (double(c) * n / N - dirSign * double(r) * m / H));
    LoadRows(e, x);
    e.Transform(+1);
    int bestQ = -1, bestK = -1;
    double best = -1;
    for (int q = 0; q < e.M(); ++q)
      for (int k = 0; k < e.Bins(); ++k) {
        const double mag = std::hypot(Row(e, q)[2 * k], Row(e, q)[2 * k + 1]);
        if (mag > best) best = mag, bestQ = q, bestK = k;
      }
    const int fh = static_cast<int>(std::lround(double(c) * e.RowRateKHz() / N));
    const int fv = static_cast<int>(std::lround(dirSign * double(r) * e.ColRateKHz() / H));
    EXPECT_EQ(bestK, e.FreqToColumn(fh));
    EXPECT_EQ(bestQ, e.FreqToRow(fv)) << "dirSign " << dirSign;
    EXPECT_EQ(bestQ, e.M() / 2 + dirSign * r * e.M() / H);
  }
}

// Every SIMD path gives the scalar reference's numbers, whatever the worker
// count: the block kernels repeat the reference's operations lane by lane
// in the same order without fused multiply-adds, so every value is the same
// float (== treats the zero signs, which may differ, alike).
TEST(FftEngineTransform, SimdPathsMatchScalar) {
  struct Size {
    int N, H, M;
  };
  const Size sizes[] = {{4, 3, 4}, {8, 7, 8}, {16, 13, 32}, {64, 47, 64}, {128, 99, 128}, {512, 145, 256}};
  for (const Size& sz : sizes) {
    for (int workers : {1, 2, 3}) {
      FftEngine e(sz.N, sz.H, sz.N, sz.M, 2, workers);
      ASSERT_TRUE(e.IsUsable());
      const size_t floats = 2 * static_cast<size_t>(sz.M) * e.Pitch();
      const std::vector<float> input = fft_test::RandomFloats(floats, sz.N + sz.H);
      std::vector<std::vector<float>> results;
      const platform::CpuFeatures detected = platform::Cpu();
      std::vector<platform::CpuFeatures> paths = {fft_test::ScalarOnly(), fft_test::SseOnly()};
      if (detected.avx2) paths.push_back(detected);
      for (const platform::CpuFeatures& f : paths) {
        fft_test::ScopedCpu cpu(f);
        std::memcpy(e.Spectrum(), input.data(), floats * sizeof(float));
        e.Transform(+1);
        std::vector<float> out(e.Spectrum(), e.Spectrum() + floats);
        e.Transform(-1);
        out.insert(out.end(), e.Spectrum(), e.Spectrum() + floats);
        results.push_back(out);
      }
      for (size_t p = 1; p < results.size(); ++p) {
        size_t differing = 0;
        for (size_t i = 0; i < results[0].size(); ++i) differing += results[p][i] == results[0][i] ? 0 : 1;
        EXPECT_EQ(differing, 0u) << "path " << p << " N=" << sz.N << " H=" << sz.H << " workers " << workers;
      }
    }
  }
}

TEST(FftEngineMask, OnesUntilPublishedThenWholeTables) {
  FftEngine e(16, 8, 16, 0, 2, 1);
  ASSERT_TRUE(e.IsUsable());
  ASSERT_TRUE(e.AllocateMask());
  const size_t count = static_cast<size_t>(e.M()) * e.Pitch();
  for (size_t i = 0; i < count; ++i) ASSERT_EQ(e.CurrentMask()[i], 1.0f);
  const std::vector<float> input = fft_test::RandomFloats(2 * count, 5);
  std::memcpy(e.Spectrum(), input.data(), input.size() * sizeof(float));
  e.ApplyMask();
  EXPECT_EQ(std::memcmp(e.Spectrum(), input.data(), input.size() * sizeof(float)), 0);
  EXPECT_EQ(e.AppliedMaskGain(), 1.0f);

  std::vector<float> mask(count);
  for (size_t i = 0; i < count; ++i) mask[i] = static_cast<float>(i % 5);
  e.PublishMask(mask.data(), 0.25f);
  EXPECT_EQ(e.AppliedMaskGain(), 1.0f);  // not applied yet
  e.ApplyMask();
  EXPECT_EQ(e.AppliedMaskGain(), 0.25f);
  for (size_t i = 0; i < count; ++i) {
    ASSERT_EQ(e.Spectrum()[2 * i], input[2 * i] * mask[i]) << i;
    ASSERT_EQ(e.Spectrum()[2 * i + 1], input[2 * i + 1] * mask[i]) << i;
  }
}

// The mask taken in by the inverse transform gives what applying it first
// gives, on every path (scalar, SSE only, full) and worker count, with the
// published table's gain; the rows below H are what the frame is made of.
TEST(FftEngineMask, InverseWithMaskEqualsApplyMaskThenInverse) {
  const platform::CpuFeatures detected = platform::Cpu();
  const platform::CpuFeatures paths[] = {fft_test::ScalarOnly(), fft_test::SseOnly(), detected};
  for (int workers : {1, 2, 3}) {
    FftEngine e(64, 45, 64, 0, 2, workers);
    ASSERT_TRUE(e.IsUsable() && e.AllocateMask());
    const size_t count = static_cast<size_t>(e.M()) * e.Pitch();
    std::vector<float> mask(count);
    for (size_t i = 0; i < count; ++i) mask[i] = static_cast<float>((i * 7) % 11) / 10.0f;
    e.PublishMask(mask.data(), 0.5f);
    const std::vector<float> input = fft_test::RandomFloats(2 * count, workers);
    for (const platform::CpuFeatures& f : paths) {
      fft_test::ScopedCpu cpu(f);
      std::memcpy(e.Spectrum(), input.data(), input.size() * sizeof(float));
      e.ApplyMask();
      e.Transform(-1);
      const std::vector<float> expected(e.Spectrum(), e.Spectrum() + 2 * static_cast<size_t>(e.H()) * e.Pitch());
      std::memcpy(e.Spectrum(), input.data(), input.size() * sizeof(float));
      e.InverseWithMask(nullptr);
      EXPECT_EQ(e.AppliedMaskGain(), 0.5f);
      for (int32_t r = 0; r < e.H(); ++r) {
        for (int32_t i = 0; i < 2 * e.Bins(); ++i) {
          const size_t at = static_cast<size_t>(r) * 2 * e.Pitch() + i;
          ASSERT_EQ(e.Spectrum()[at], expected[at]) << "workers " << workers << " row " << r << " float " << i;
        }
      }
    }
  }
}

// A publisher thread alternates two uniform masks while frames apply them:
// every application must use one whole table, with its own gain.
TEST(FftEngineMask, ConcurrentPublishingNeverTearsATable) {
  FftEngine e(64, 64, 64, 0, 2, 1);
  ASSERT_TRUE(e.IsUsable());
  ASSERT_TRUE(e.AllocateMask());
  const size_t count = static_cast<size_t>(e.M()) * e.Pitch();
  std::atomic<bool> stop(false);
  std::thread publisher([&] {
    std::vector<float> two(count, 2.0f), three(count, 3.0f);
    for (int i = 0; !stop.load(); ++i) e.PublishMask((i & 1) ? three.data() : two.data(), (i & 1) ? 3.0f : 2.0f);
  });
  const int frames = fft_test::kSmall ? 50 : 400;
  for (int f = 0; f < frames; ++f) {
    for (size_t i = 0; i < 2 * count; ++i) e.Spectrum()[i] = 1.0f;
    e.ApplyMask();
    const float factor = e.Spectrum()[0];
    ASSERT_TRUE(factor == 1.0f || factor == 2.0f || factor == 3.0f);
    if (factor != 1.0f) {
      ASSERT_EQ(e.AppliedMaskGain(), factor);
    }
    for (size_t i = 0; i < 2 * count; ++i) ASSERT_EQ(e.Spectrum()[i], factor) << "frame " << f;
  }
  stop = true;
  publisher.join();
}

TEST(FftEngineDisplay, LogMagnitudeAndAbsentBuffer) {
  FftEngine e(16, 8, 16, 0, 2, 1);
  ASSERT_TRUE(e.IsUsable());
  e.Spectrum()[0] = 3.0f;
  e.Spectrum()[1] = 4.0f;
  e.BuildDisplay(2.0f);  // no display buffer yet: nothing happens
  EXPECT_EQ(e.Display(), nullptr);
  EXPECT_EQ(e.Spectrum()[0], 3.0f);
  ASSERT_TRUE(e.AllocateDisplay());
  e.BuildDisplay(2.0f);
  EXPECT_FLOAT_EQ(e.Display()[0], static_cast<float>(2.0 * std::log10(6.0)));
  EXPECT_EQ(e.Display()[1], 0.0f);  // |0| -> log10(1) = 0
  // Rows of bins floats: row 1 starts at index bins.
  Row(e, 1)[2] = 9.0f;
  e.BuildDisplay(1.0f);
  EXPECT_FLOAT_EQ(e.Display()[e.Bins() + 1], 1.0f);
}

TEST(FftEngineConstruction, UnusableSizesAreRefusedSafely) {
  struct Case {
    int L, H, N, M;
  };
  const Case cases[] = {{0, 576, 0, 0},         {512, 576, 300, 0},    {512, 576, 2, 0},     {2, 576, 2, 0},
                        {512, 1, 512, 0},       {512, 0, 512, 0},      {512, -5, 512, 0},    {600, 576, 512, 0},
                        {1, 576, 512, 0},       {512, 576, 512, 3},    {512, 576, 512, 512}, {512, 576, -512, 0},
                        {512, 576, 1 << 20, 0}, {512, 1 << 20, 512, 0}};
  for (const Case& c : cases) {
    FftEngine e(c.L, c.H, c.N, c.M, 2, 2);
    EXPECT_FALSE(e.IsUsable()) << c.L << " " << c.H << " " << c.N << " " << c.M;
    // Every operation is harmless on an unusable engine.
    e.BuildWindow(1);
    e.BuildInverseWindow(1);
    EXPECT_FALSE(e.AllocateMask());
    EXPECT_FALSE(e.AllocateDisplay());
    e.Transform(1);
    e.Transform(-1);
    e.ApplyMask();
    e.BuildDisplay(1.0f);
    EXPECT_EQ(e.RowWorker(0), nullptr);
  }
  // The smallest usable sizes: N = 4, M = 2, H = 2.
  FftEngine tiny(4, 2, 4, 0, 2, 2);
  EXPECT_TRUE(tiny.IsUsable());
  EXPECT_EQ(tiny.M(), 2);
}

TEST(FftEngineTransform, OtherDirectionsDoNothing) {
  FftEngine e(16, 8, 16, 0, 2, 2);
  ASSERT_TRUE(e.IsUsable());
  const size_t floats = 2 * static_cast<size_t>(e.M()) * e.Pitch();
  const std::vector<float> input = fft_test::RandomFloats(floats, 3);
  std::memcpy(e.Spectrum(), input.data(), floats * sizeof(float));
  for (int d : {0, 2, -2}) e.Transform(d);
  EXPECT_EQ(std::memcmp(e.Spectrum(), input.data(), floats * sizeof(float)), 0);
}

}  // namespace
}  // namespace qrx
