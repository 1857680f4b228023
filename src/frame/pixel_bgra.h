// BGRA frames (4 bytes a pixel: blue, green, red, alpha; top line first, no
// padding between lines) to and from the working layout's luma. The working
// frame is written with every pixel's luma twice: the luma byte, which the
// line transform filters, and the chroma byte beside it, which the
// transform never touches and so keeps the input's luma. The way back adds
// each pixel's luma change to its blue, green and red alike: colour
// differences, and with them the input's chroma at full resolution, stay as
// they were, and alpha is copied. The scalar versions define the results;
// the SSE2 versions are bit-identical to them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qrx {

// pixels: width x height of the frame (lines follow each other without gaps
// in both layouts). work holds 2 bytes a pixel.
void BgraToLumaPairs(const uint8_t* bgra, uint8_t* work, size_t pixels);
// out[p] = in[p] + (filtered luma - input luma), saturated, for blue, green
// and red; alpha as in. in and out may be the same buffer.
void ApplyLumaPairsToBgra(const uint8_t* work, const uint8_t* in, uint8_t* out, size_t pixels);

namespace pixel {
void BgraToLumaPairsScalar(const uint8_t* bgra, uint8_t* work, size_t pixels);
void ApplyLumaPairsToBgraScalar(const uint8_t* work, const uint8_t* in, uint8_t* out, size_t pixels);
#if defined(__i386__) || defined(__x86_64__)
// Call only when platform::Cpu().sse2 holds.
void BgraToLumaPairsSse2(const uint8_t* bgra, uint8_t* work, size_t pixels);
void ApplyLumaPairsToBgraSse2(const uint8_t* work, const uint8_t* in, uint8_t* out, size_t pixels);
#else
inline constexpr auto BgraToLumaPairsSse2 = BgraToLumaPairsScalar;
inline constexpr auto ApplyLumaPairsToBgraSse2 = ApplyLumaPairsToBgraScalar;
#endif
}  // namespace pixel

}  // namespace qrx
