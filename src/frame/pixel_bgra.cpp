// Scalar references of the BGRA conversions and their run-time choice.
#include "frame/pixel_bgra.h"

#include "frame/pixel_internal.h"
#include "platform/cpu.h"

namespace qrx {
namespace pixel {

void BgraToLumaPairsScalar(const uint8_t* bgra, uint8_t* work, size_t pixels) {
  for (size_t i = 0; i < pixels; ++i, bgra += 4, work += 2) {
    // The same luma as the 24-bit path: at most 255, no saturation needed.
    const int y = (detail::kLumaB * bgra[0] + detail::kLumaG * bgra[1] + detail::kLumaR * bgra[2]) >> 8;
    work[0] = static_cast<uint8_t>(y);
    work[1] = static_cast<uint8_t>(y);
  }
}

void ApplyLumaPairsToBgraScalar(const uint8_t* work, const uint8_t* in, uint8_t* out, size_t pixels) {
  for (size_t i = 0; i < pixels; ++i, work += 2, in += 4, out += 4) {
    const int change = work[0] - work[1];
    const uint8_t alpha = in[3];
    out[0] = detail::Saturate(in[0] + change);
    out[1] = detail::Saturate(in[1] + change);
    out[2] = detail::Saturate(in[2] + change);
    out[3] = alpha;
  }
}

}  // namespace pixel

void BgraToLumaPairs(const uint8_t* bgra, uint8_t* work, size_t pixels) {
  if (pixel::SelectedKernel() == pixel::Kernel::kSse2) {
    pixel::BgraToLumaPairsSse2(bgra, work, pixels);
  } else {
    pixel::BgraToLumaPairsScalar(bgra, work, pixels);
  }
}

void ApplyLumaPairsToBgra(const uint8_t* work, const uint8_t* in, uint8_t* out, size_t pixels) {
  if (pixel::SelectedKernel() == pixel::Kernel::kSse2) {
    pixel::ApplyLumaPairsToBgraSse2(work, in, out, pixels);
  } else {
    pixel::ApplyLumaPairsToBgraScalar(work, in, out, pixels);
  }
}

}  // namespace qrx
