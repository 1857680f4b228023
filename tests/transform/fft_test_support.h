// Shared helpers of the FFT tests: random data, an independent
// double-precision 2-D DFT of the engine's spectrum layout, and error norms.
#pragma once

#include <cmath>
#include <complex>
#include <cstdint>
#include <random>
#include <vector>

#include "platform/cpu.h"
#include "platform/math_constants.h"

namespace qrx {
namespace fft_test {

using Cd = std::complex<double>;
constexpr double kTwoPi = 2.0 * qrx::kPi;

#ifdef QRX_SMALL_TESTS
constexpr bool kSmall = true;
#else
constexpr bool kSmall = false;
#endif

inline std::vector<float> RandomFloats(size_t count, uint32_t seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
  std::vector<float> v(count);
  for (float& f : v) f = dist(gen);
  return v;
}

// S[q][k] = (-1)^q X(q - M/2, k) for k = 0 .. N/2, by direct sums.
inline std::vector<Cd> ReferenceForward(const std::vector<double>& x, int H, int N, int M) {
  const int bins = N / 2 + 1;
  std::vector<Cd> R(static_cast<size_t>(H) * bins);
  for (int m = 0; m < H; ++m)
    for (int k = 0; k < bins; ++k) {
      Cd sum = 0;
      for (int n = 0; n < N; ++n) sum += x[m * N + n] * std::polar(1.0, kTwoPi * k * n / N);
      R[m * bins + k] = sum;
    }
  std::vector<Cd> S(static_cast<size_t>(M) * bins);
  for (int q = 0; q < M; ++q) {
    const int v = q - M / 2;
    const double sign = (q & 1) ? -1.0 : 1.0;
    for (int k = 0; k < bins; ++k) {
      Cd sum = 0;
      for (int m = 0; m < H; ++m) sum += R[m * bins + k] * std::polar(1.0, -kTwoPi * v * m / M);
      S[q * bins + k] = sign * sum;
    }
  }
  return S;
}

// The inverse of the engine's layout: rows 0 .. H-1 of N reals from S.
inline std::vector<double> ReferenceInverse(const std::vector<Cd>& S, int H, int N, int M) {
  const int bins = N / 2 + 1;
  std::vector<Cd> R(static_cast<size_t>(H) * bins);
  for (int k = 0; k < bins; ++k)
    for (int m = 0; m < H; ++m) {
      Cd sum = 0;
      for (int q = 0; q < M; ++q) {
        const double sign = (q & 1) ? -1.0 : 1.0;
        sum += sign * S[q * bins + k] * std::polar(1.0, kTwoPi * q * m / M);
      }
      R[m * bins + k] = ((m & 1) ? -1.0 : 1.0) * sum / static_cast<double>(M);
    }
  std::vector<double> x(static_cast<size_t>(H) * N);
  for (int m = 0; m < H; ++m)
    for (int n = 0; n < N; ++n) {
      double sum = R[m * bins].real() + ((n & 1) ? -1.0 : 1.0) * R[m * bins + N / 2].real();
      for (int k = 1; k < N / 2; ++k) sum += 2.0 * (R[m * bins + k] * std::polar(1.0, -kTwoPi * k * n / N)).real();
      x[m * N + n] = sum / N;
    }
  return x;
}

// Forces a processor feature set for the lifetime of the object.
class ScopedCpu {
 public:
  explicit ScopedCpu(const platform::CpuFeatures& f) : features_(f) { platform::OverrideCpuFeatures(&features_); }
  ~ScopedCpu() { platform::OverrideCpuFeatures(nullptr); }

 private:
  platform::CpuFeatures features_;
};

inline platform::CpuFeatures ScalarOnly() { return platform::CpuFeatures{}; }
inline platform::CpuFeatures SseOnly() {
  platform::CpuFeatures f;
  f.sse = true;
  return f;
}

}  // namespace fft_test
}  // namespace qrx
