// BGRA conversions: worked values (luma, the change applied to blue, green
// and red alike with saturation, alpha copied), the identity when luma is
// unchanged, and SSE2 bit-identical to the scalar reference for every tail
// length and for extreme and random frames, in place too.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "frame/pixel_bgra.h"
#include "platform/cpu.h"

namespace qrx {
namespace {

using ToFn = void (*)(const uint8_t*, uint8_t*, size_t);
using BackFn = void (*)(const uint8_t*, const uint8_t*, uint8_t*, size_t);

struct Variant {
  const char* name;
  ToFn to;
  BackFn back;
  bool needsSse2;
};
const Variant kVariants[] = {
    {"Scalar", pixel::BgraToLumaPairsScalar, pixel::ApplyLumaPairsToBgraScalar, false},
    {"Sse2", pixel::BgraToLumaPairsSse2, pixel::ApplyLumaPairsToBgraSse2, true},
    {"Dispatch", BgraToLumaPairs, ApplyLumaPairsToBgra, false},
};

bool Runs(const Variant& v) { return !v.needsSse2 || platform::Cpu().sse2; }

TEST(PixelBgra, WorkedValues) {
  struct Case {
    uint8_t bgra[4];
    uint8_t luma;
    uint8_t filtered;   // the luma after filtering
    uint8_t result[4];  // the pixel that comes back
  };
  const Case cases[] = {
      {{0, 0, 0, 7}, 0, 0, {0, 0, 0, 7}},
      {{255, 255, 255, 255}, 255, 255, {255, 255, 255, 255}},
      {{255, 0, 0, 0}, 28, 38, {255, 10, 10, 0}},          // blue: 29 * 255 / 256; +10 saturates blue
      {{0, 255, 0, 1}, 149, 140, {0, 246, 0, 1}},          // green: 150 * 255 / 256
      {{0, 0, 255, 2}, 76, 0, {0, 0, 179, 2}},             // red: 77 * 255 / 256; -76 floors at 0
      {{40, 60, 200, 128}, 99, 110, {51, 71, 211, 128}},   // (1160 + 9000 + 15400) / 256 = 99.8
      {{10, 250, 128, 64}, 186, 255, {79, 255, 197, 64}},  // +69 saturates green
  };
  for (const Variant& v : kVariants) {
    if (!Runs(v)) continue;
    SCOPED_TRACE(v.name);
    for (const Case& c : cases) {
      // Nine copies so that the SIMD steps and the tail both see the pixel.
      std::vector<uint8_t> in, work(18), out(36);
      for (int i = 0; i < 9; ++i) in.insert(in.end(), c.bgra, c.bgra + 4);
      v.to(in.data(), work.data(), 9);
      for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(work[2 * i], c.luma);
        EXPECT_EQ(work[2 * i + 1], c.luma);
        work[2 * i] = c.filtered;
      }
      v.back(work.data(), in.data(), out.data(), 9);
      for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(std::vector<uint8_t>(out.begin() + 4 * i, out.begin() + 4 * i + 4),
                  std::vector<uint8_t>(c.result, c.result + 4));
      }
    }
  }
}

// Random frames of every length up to a few SIMD steps: identical to the
// reference, the luma pairs unfiltered give the input back exactly, and the
// way back may write over its input.
TEST(PixelBgra, SimdMatchesReferenceAndUnchangedLumaIsIdentity) {
  std::mt19937 random(14);
  for (const Variant& v : kVariants) {
    if (!Runs(v)) continue;
    SCOPED_TRACE(v.name);
    for (size_t pixels = 0; pixels <= 41; ++pixels) {
      SCOPED_TRACE(pixels);
      std::vector<uint8_t> in(4 * pixels + 4);  // a guard pixel after the frame
      for (uint8_t& b : in) b = static_cast<uint8_t>(random() % 4 == 0 ? (random() % 2) * 255 : random());
      std::vector<uint8_t> refWork(2 * pixels + 2, 0x5A), work(2 * pixels + 2, 0x5A);
      pixel::BgraToLumaPairsScalar(in.data(), refWork.data(), pixels);
      v.to(in.data(), work.data(), pixels);
      ASSERT_EQ(work, refWork);

      std::vector<uint8_t> out(in.size(), 0xA5);
      v.back(work.data(), in.data(), out.data(), pixels);
      EXPECT_TRUE(std::equal(in.begin(), in.begin() + 4 * pixels, out.begin()));
      EXPECT_EQ(out[4 * pixels], 0xA5);

      for (size_t i = 0; i < pixels; ++i) work[2 * i] = static_cast<uint8_t>(random());
      std::vector<uint8_t> refOut(in.size(), 0xA5), inPlace = in;
      pixel::ApplyLumaPairsToBgraScalar(work.data(), in.data(), refOut.data(), pixels);
      v.back(work.data(), in.data(), out.data(), pixels);
      EXPECT_EQ(out, refOut);
      v.back(work.data(), inPlace.data(), inPlace.data(), pixels);
      EXPECT_TRUE(std::equal(refOut.begin(), refOut.begin() + 4 * pixels, inPlace.begin()));
    }
  }
}

}  // namespace
}  // namespace qrx
