// The scalar reference kernels against hand-worked values and direct DFTs.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <vector>

#include "fft_test_support.h"
#include "transform/fft_kernels.h"

namespace qrx {
namespace {

using fft_test::Cd;
using fft_test::kTwoPi;

// 16-byte aligned float storage for kernel calls.
struct AlignedFloats {
  explicit AlignedFloats(size_t n) : v(n + 4) {}
  float* data() {
    const uintptr_t p = reinterpret_cast<uintptr_t>(v.data());
    return reinterpret_cast<float*>((p + 15) & ~uintptr_t{15});
  }
  std::vector<float> v;
};

int BitReverse(int j, int n) {
  int r = 0;
  for (int b = 1, rb = n / 2; b < n; b *= 2, rb /= 2)
    if (j & b) r |= rb;
  return r;
}

TEST(BitReversePairs, EightAndTwoPoints) {
  int32_t pairs[16];
  ASSERT_EQ(BitReversePairs(pairs, 8), 6);
  const int32_t expected8[12] = {0, 0, 1, 4, 2, 2, 3, 6, 5, 5, 7, 7};
  for (int i = 0; i < 12; ++i) EXPECT_EQ(pairs[i], expected8[i]) << i;
  ASSERT_EQ(BitReversePairs(pairs, 2), 2);
  EXPECT_EQ(pairs[0], 0);
  EXPECT_EQ(pairs[1], 0);
  EXPECT_EQ(pairs[2], 1);
  EXPECT_EQ(pairs[3], 1);
}

TEST(BitReversePairs, EveryIndexOnceAndFitsTheEngineStorage) {
  for (int n = 2; n <= 4096; n *= 2) {
    std::vector<int32_t> pairs(2 * n);
    const int count = BitReversePairs(pairs.data(), n);
    EXPECT_LE(2 * count, 2 * n);  // column storage: 2 M int32
    std::vector<int> seen(n, 0);
    for (int p = 0; p < count; ++p) {
      const int j = pairs[2 * p], r = pairs[2 * p + 1];
      EXPECT_LE(j, r);
      EXPECT_EQ(BitReverse(j, n), r);
      ++seen[j];
      if (r != j) ++seen[r];
    }
    for (int i = 0; i < n; ++i) EXPECT_EQ(seen[i], 1) << "n=" << n << " i=" << i;
  }
  // The row table for N/2 points lives in room for N int32.
  for (int N = 4; N <= 4096; N *= 2) {
    std::vector<int32_t> pairs(2 * N);
    EXPECT_LE(2 * BitReversePairs(pairs.data(), N / 2), N);
  }
}

TEST(ComplexFft, OneAndTwoPoints) {
  AlignedFloats buf(4);
  float* d = buf.data();
  d[0] = 3.0f;
  d[1] = -2.0f;
  ComplexFft(d, 1, +1);
  EXPECT_EQ(d[0], 3.0f);
  EXPECT_EQ(d[1], -2.0f);
  d[0] = 1.0f, d[1] = 2.0f, d[2] = 0.5f, d[3] = -4.0f;
  ComplexFft(d, 2, -1);  // one butterfly: (a + b, a - b)
  EXPECT_EQ(d[0], 1.5f);
  EXPECT_EQ(d[1], -2.0f);
  EXPECT_EQ(d[2], 0.5f);
  EXPECT_EQ(d[3], 6.0f);
}

// ComplexFft plus the reversal swap is the DFT with the stated kernel sign.
TEST(ComplexFft, MatchesDirectDftBothDirections) {
  const int maxN = fft_test::kSmall ? 256 : 2048;
  for (int n = 2; n <= maxN; n *= 2) {
    for (int dir : {+1, -1}) {
      const std::vector<float> in = fft_test::RandomFloats(2 * n, 100 + n + dir);
      AlignedFloats buf(2 * n);
      float* d = buf.data();
      std::copy(in.begin(), in.end(), d);
      std::vector<int32_t> pairs(2 * n);
      const int count = BitReversePairs(pairs.data(), n);
      ComplexFft(d, n, dir);
      ReversalSwap(d, pairs.data(), count);
      double errMax = 0, refMax = 0;
      for (int k = 0; k < n; ++k) {
        Cd sum = 0;
        for (int j = 0; j < n; ++j) sum += Cd(in[2 * j], in[2 * j + 1]) * std::polar(1.0, -dir * kTwoPi * j * k / n);
        errMax = std::max(errMax, std::abs(sum - Cd(d[2 * k], d[2 * k + 1])));
        refMax = std::max(refMax, std::abs(sum));
      }
      // Radix-2 in single precision with rotation-generated twiddles: the
      // error grows with log2 n stages and with the length of the twiddle
      // recurrence (up to n/4 steps); 3e-7 * n^0.5 * log2 n relative to the
      // largest output is a few times the observed error, while any wrong
      // sign, twiddle or index gives errors of order 1.
      const double tol = 3e-7 * std::sqrt(static_cast<double>(n)) * std::log2(2.0 * n);
      EXPECT_LE(errMax / refMax, tol) << "n=" << n << " dir=" << dir;
    }
  }
}

TEST(ScaledReversalSwap, ScalesEveryElementOnce) {
  const int n = 16;
  AlignedFloats buf(2 * n);
  float* d = buf.data();
  for (int i = 0; i < 2 * n; ++i) d[i] = static_cast<float>(i + 1);
  std::vector<int32_t> pairs(2 * n);
  const int count = BitReversePairs(pairs.data(), n);
  ScaledReversalSwap(d, pairs.data(), count, 0.5f);
  for (int i = 0; i < n; ++i) {
    const int r = BitReverse(i, n);
    EXPECT_EQ(d[2 * i], 0.5f * (2 * r + 1));
    EXPECT_EQ(d[2 * i + 1], 0.5f * (2 * r + 2));
  }
}

TEST(RealRowFft, ConstantRowGivesOnlyDc) {
  for (int N : {4, 8, 64, 512}) {
    AlignedFloats buf(N + 4);
    float* row = buf.data();
    for (int i = 0; i < N + 4; ++i) row[i] = 0.75f;
    row[N + 2] = 9.0f;  // the spare element must stay as it is
    row[N + 3] = -9.0f;
    std::vector<int32_t> pairs(N);
    const int count = BitReversePairs(pairs.data(), N / 2);
    RealRowFft(row, N, +1, pairs.data(), count);
    EXPECT_NEAR(row[0], N * 0.75f, 1e-5 * N);
    EXPECT_EQ(row[1], 0.0f);
    for (int k = 1; k <= N / 2; ++k) {
      EXPECT_NEAR(row[2 * k], 0.0f, 2e-6 * N) << "N=" << N << " k=" << k;
      EXPECT_NEAR(row[2 * k + 1], 0.0f, 2e-6 * N) << "N=" << N << " k=" << k;
    }
    EXPECT_EQ(row[N + 2], 9.0f);
    EXPECT_EQ(row[N + 3], -9.0f);
  }
}

TEST(RealRowFft, ForwardMatchesDftAndInverseRestores) {
  const int maxN = fft_test::kSmall ? 256 : 4096;
  for (int N = 4; N <= maxN; N *= 2) {
    const std::vector<float> x = fft_test::RandomFloats(N, 7 * N);
    AlignedFloats buf(N + 4);
    float* row = buf.data();
    std::copy(x.begin(), x.end(), row);
    row[N] = row[N + 1] = 123.0f;  // element N/2 is an output: overwritten
    std::vector<int32_t> pairs(N);
    const int count = BitReversePairs(pairs.data(), N / 2);
    RealRowFft(row, N, +1, pairs.data(), count);
    double errMax = 0, refMax = 0;
    for (int k = 0; k <= N / 2; ++k) {
      Cd sum = 0;
      for (int n = 0; n < N; ++n) sum += static_cast<double>(x[n]) * std::polar(1.0, kTwoPi * k * n / N);
      errMax = std::max(errMax, std::abs(sum - Cd(row[2 * k], row[2 * k + 1])));
      refMax = std::max(refMax, std::abs(sum));
    }
    EXPECT_EQ(row[1], 0.0f);
    EXPECT_EQ(row[N + 1], 0.0f);
    EXPECT_LE(errMax / refMax, 3e-7 * std::sqrt(static_cast<double>(N)) * std::log2(N)) << N;

    row[1] = 55.0f;  // imaginary parts of elements 0 and N/2 are ignored
    row[N + 1] = -55.0f;
    RealRowFft(row, N, -1, pairs.data(), count);
    double rtMax = 0;
    for (int n = 0; n < N; ++n) rtMax = std::max(rtMax, std::fabs(static_cast<double>(row[n]) - x[n]));
    EXPECT_LE(rtMax, 3e-7 * std::sqrt(static_cast<double>(N)) * std::log2(N)) << N;
    EXPECT_EQ(row[N], 0.0f);
    EXPECT_EQ(row[N + 1], 0.0f);
  }
}

TEST(GatherScatterColumn, OddCountNegatesOddRowsAndZeroFills) {
  const int pitch = 6, M = 1024, H = 575, k = 3;
  std::vector<float> spectrum(2 * pitch * M);
  for (size_t i = 0; i < spectrum.size(); ++i) spectrum[i] = static_cast<float>(i % 97) + 1.0f;
  AlignedFloats scratch(2 * M);
  float* s = scratch.data();
  for (int i = 0; i < 2 * M; ++i) s[i] = 77.0f;
  GatherColumn(spectrum.data(), pitch, k, H, M, s);
  for (int m = 0; m < M; ++m) {
    const float sign = (m & 1) ? -1.0f : 1.0f;
    const float re = m < H ? sign * spectrum[2 * (m * pitch + k)] : 0.0f;
    const float im = m < H ? sign * spectrum[2 * (m * pitch + k) + 1] : 0.0f;
    ASSERT_EQ(s[2 * m], re) << m;
    ASSERT_EQ(s[2 * m + 1], im) << m;
  }
  // Scatter writes rows < count only, undoing the sign of odd rows.
  std::vector<float> out(spectrum.size(), -1.0f);
  ScatterColumn(out.data(), pitch, k, H, s);
  for (int m = 0; m < M; ++m) {
    for (int c = 0; c < pitch; ++c) {
      const size_t i = 2 * (m * pitch + c);
      const bool written = c == k && m < H;
      EXPECT_EQ(out[i], written ? spectrum[i] : -1.0f);
      EXPECT_EQ(out[i + 1], written ? spectrum[i + 1] : -1.0f);
    }
  }
}

TEST(StageTwiddles, FollowTheRotationRecurrence) {
  const int n = 64;
  std::vector<float> tw(2 * StageTwiddleCount(n));
  ASSERT_EQ(StageTwiddleCount(n), 32 + 16 + 8 + 4);
  FillStageTwiddles(tw.data(), n, +1);
  const float* t = tw.data();
  for (int half = n / 2; half >= 4; half /= 2) {
    const StageRotation r = MakeStageRotation(half, +1);
    EXPECT_EQ(t[0], 1.0f);
    EXPECT_EQ(t[1], 0.0f);
    EXPECT_EQ(t[2], r.c);
    EXPECT_EQ(t[3], r.s);
    for (int j = 0; j < half; ++j) {  // close to e^(-i pi j / half)
      EXPECT_NEAR(t[2 * j], std::cos(kTwoPi / 2 * j / half), 1e-6);
      EXPECT_NEAR(t[2 * j + 1], -std::sin(kTwoPi / 2 * j / half), 1e-6);
    }
    t += 2 * half;
  }
}

}  // namespace
}  // namespace qrx
