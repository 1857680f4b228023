// The display values: the single-precision logarithm against a double one,
// the SSE2 twin against the scalar reference, and non-finite magnitudes.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "platform/cpu.h"
#include "transform/display_kernels.h"

namespace {

using namespace qrx::display;

std::vector<float> RandomRow(int32_t count, uint32_t seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<float> exponent(-4.0f, 6.0f), sign(-1.0f, 1.0f);
  std::vector<float> row(2 * static_cast<size_t>(count));
  for (float& v : row) v = sign(gen) * std::pow(10.0f, exponent(gen));
  return row;
}

TEST(DisplayValues, CloseToTheExactLogarithm) {
  const std::vector<float> row = RandomRow(4096, 1);
  std::vector<float> out(4096);
  LogMagnitudeScalar(row.data(), out.data(), 4096, 1.0f);
  for (int32_t k = 0; k < 4096; ++k) {
    const double magnitude = std::hypot(static_cast<double>(row[2 * k]), static_cast<double>(row[2 * k + 1]));
    const double exact = std::log10(1.0 + static_cast<double>(static_cast<float>(1.0 + magnitude)) - 1.0);
    ASSERT_NEAR(out[k], exact, 4e-7 * std::max(1.0, exact) + 1e-7) << k;
  }
  // |0| gives exactly 0.
  const float zero[2] = {0.0f, 0.0f};
  LogMagnitudeScalar(zero, out.data(), 1, 3.0f);
  EXPECT_EQ(out[0], 0.0f);
}

TEST(DisplayValues, SimdVersionsMatchTheReferenceBitForBit) {
  if (!qrx::platform::Cpu().sse2) GTEST_SKIP() << "no SSE2 on this processor";
  const bool avx2 = qrx::platform::Cpu().avx2;
  for (int32_t count : {1, 3, 4, 5, 8, 9, 17, 257, 513}) {
    std::vector<float> row = RandomRow(count, 7 + count);
    row[0] = std::numeric_limits<float>::infinity();
    if (count > 2) row[3] = std::numeric_limits<float>::quiet_NaN();
    std::vector<float> a(count), b(count), c(count);
    LogMagnitudeScalar(row.data(), a.data(), count, 33.5f);
    LogMagnitudeSse2(row.data(), b.data(), count, 33.5f);
    if (avx2) LogMagnitudeAvx2(row.data(), c.data(), count, 33.5f);
    for (int32_t k = 0; k < count; ++k) {
      for (const std::vector<float>* simd : {&b, &c}) {
        if (simd == &c && !avx2) continue;
        if (std::isnan(a[k])) EXPECT_TRUE(std::isnan((*simd)[k])) << count << ":" << k;
        else EXPECT_EQ(a[k], (*simd)[k]) << count << ":" << k;
      }
    }
    EXPECT_TRUE(std::isinf(a[0]) && a[0] > 0);  // an infinite magnitude stays infinite
    if (count > 2) {
      EXPECT_TRUE(std::isnan(a[1]));
    }
  }
}

}  // namespace
