// The display values with SSE2: the body of display_kernels_impl.h over the
// Sse2 lanes, compiled for that target only; chosen at run time on
// processors that have it.
#include "platform/simd_target.h"
#include "transform/display_kernels.h"

#if defined(__i386__) || defined(__x86_64__)
#include <immintrin.h>

#include <cmath>

QRX_BEGIN_TARGET_SSE2
#include "platform/simd_lanes_sse2.h"
#include "transform/display_kernels_impl.h"

namespace qrx {
namespace display {

void LogMagnitudeSse2(const float* row, float* out, int32_t count, float scale) {
  const int32_t done = LogMagnitudeBlocks<simd::Sse2Lanes>(row, out, count, scale);
  LogMagnitudeScalar(row + 2 * done, out + done, count - done, scale);
}

}  // namespace display
}  // namespace qrx
QRX_END_TARGET

#else

namespace qrx {
namespace display {
void LogMagnitudeSse2(const float* row, float* out, int32_t count, float scale) {
  LogMagnitudeScalar(row, out, count, scale);
}
}  // namespace display
}  // namespace qrx

#endif
