// The spectrum's display values (see display_kernels.h): the scalar
// reference, and the choice of the version for this processor. The SIMD
// versions are display_kernels_impl.h compiled per instruction set.
#include "transform/display_kernels.h"

#include <cmath>
#include <cstring>

#include "platform/cpu.h"
#include "transform/display_kernels_internal.h"

namespace qrx {
namespace display {

namespace {

inline float Log10Scalar(float x) {
  uint32_t bits;
  std::memcpy(&bits, &x, 4);
  int32_t e = static_cast<int32_t>((bits >> 23) & 0xFF) - 126;
  const uint32_t mantissaBits = (bits & 0x007FFFFFu) | 0x3F000000u;  // [0.5, 1)
  float m;
  std::memcpy(&m, &mantissaBits, 4);
  const bool small = m < kSqrtHalf;
  e -= small ? 1 : 0;
  m = m + (small ? m : 0.0f) - 1.0f;
  const float z = m * m;
  float y = kLogPolynomial[0];
  for (int i = 1; i < kLogPolynomialTerms; ++i) y = y * m + kLogPolynomial[i];
  y = y * m;
  y = y * z;
  const float fe = static_cast<float>(e);
  y = y + fe * kLn2Low;
  y = y + z * -0.5f;
  float r = m + y;
  r = r + fe * kLn2High;
  r = r * kLog10E;
  // Infinity and NaN come through as themselves.
  return (x == x && x < INFINITY) ? r : x;
}

}  // namespace

void LogMagnitudeScalar(const float* row, float* out, int32_t count, float scale) {
  for (int32_t k = 0; k < count; ++k) {
    const float re = row[2 * k], im = row[2 * k + 1];
    const float x = 1.0f + std::sqrt(re * re + im * im);
    out[k] = scale * Log10Scalar(x);
  }
}

LogMagnitudeFn LogMagnitudeFor(const platform::CpuFeatures& cpu) {
  if (cpu.avx2) return &LogMagnitudeAvx2;
  if (cpu.sse2) return &LogMagnitudeSse2;
  return &LogMagnitudeScalar;
}

void LogMagnitude(const float* row, float* out, int32_t count, float scale) {
  static const LogMagnitudeFn chosen = LogMagnitudeFor(platform::Cpu());
  chosen(row, out, count, scale);
}

}  // namespace display
}  // namespace qrx
