// Pixel conversions: worked colour values, line order and edge handling for
// every version, SIMD (SSE2, MMX) against the scalar reference on random and
// extreme frames with guard bytes, the x87 state they leave, the run-time
// choice, and the scalar reference against an independent floating-point
// formulation.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "frame/pixel_convert.h"
#include "platform/cpu.h"
#include "support/x87_state.h"

namespace qrx {
namespace {

using ConvertFn = void (*)(const uint8_t*, uint8_t*, const FrameFormatRecord&, int32_t, int32_t);
using MarkFn = void (*)(uint8_t*, int32_t, int32_t, int32_t, uint32_t);

struct Variant {
  const char* name;
  ConvertFn toWorking;
  ConvertFn fromWorking;
  MarkFn mark;
  bool platform::CpuFeatures::*needs;  // nullptr: runs anywhere
  bool Runs() const { return needs == nullptr || platform::Cpu().*needs; }
};
void PrintTo(const Variant& v, std::ostream* out) { *out << v.name; }

const Variant kScalar = {"Scalar", pixel::ConvertToWorkingScalar, pixel::ConvertFromWorkingScalar,
                         pixel::MarkRowScalar, nullptr};
// Everything that must equal the reference.
const Variant kSimdVariants[] = {
    {"Sse2", pixel::ConvertToWorkingSse2, pixel::ConvertFromWorkingSse2, pixel::MarkRowSse2,
     &platform::CpuFeatures::sse2},
    {"Mmx", pixel::ConvertToWorkingMmx, pixel::ConvertFromWorkingMmx, pixel::MarkRowMmx, &platform::CpuFeatures::sse},
    {"Dispatch", ConvertToWorking, ConvertFromWorking, MarkRow, nullptr},
};
const Variant kVariants[] = {kScalar, kSimdVariants[0], kSimdVariants[1], kSimdVariants[2]};

FrameFormatRecord Format(int32_t width, int32_t height) { return FrameFormatRecord{width, height, 0, 1}; }

struct Bgr {
  int b, g, r;
};

// Restores the detected processor features when a test ends.
struct CpuOverride {
  explicit CpuOverride(const platform::CpuFeatures& f) : features(f) { platform::OverrideCpuFeatures(&features); }
  ~CpuOverride() { platform::OverrideCpuFeatures(nullptr); }
  platform::CpuFeatures features;
};

// Independent formulation with floating-point floors.
int FloorDiv(int value, int divisor) {
  return static_cast<int>(std::floor(static_cast<double>(value) / divisor));
}
uint8_t Clamp(int v) { return static_cast<uint8_t>(std::min(255, std::max(0, v))); }

class PixelVariantTest : public ::testing::TestWithParam<Variant> {
 protected:
  void SetUp() override {
    if (!GetParam().Runs()) GTEST_SKIP() << GetParam().name << " not available on this processor";
  }
  // One line of `pairs` copies of the pixel pair (p0, p1).
  static std::vector<uint8_t> PairLine(Bgr p0, Bgr p1, int pairs) {
    std::vector<uint8_t> line;
    for (int i = 0; i < pairs; ++i) {
      for (const Bgr& p : {p0, p1}) {
        line.push_back(static_cast<uint8_t>(p.b));
        line.push_back(static_cast<uint8_t>(p.g));
        line.push_back(static_cast<uint8_t>(p.r));
      }
    }
    return line;
  }
  // Converts a line of repeated pairs (long enough for the SIMD loop and its
  // tail) and checks the working bytes and the pixels that come back.
  void CheckPair(Bgr p0, Bgr p1, const uint8_t (&working)[4], Bgr back0, Bgr back1) {
    const int pairs = 11;
    const FrameFormatRecord format = Format(2 * pairs, 1);
    const std::vector<uint8_t> bgr = PairLine(p0, p1, pairs);
    std::vector<uint8_t> yuy2(4 * pairs, 0x5A);
    GetParam().toWorking(bgr.data(), yuy2.data(), format, 0, 1);
    for (int i = 0; i < pairs; ++i) {
      for (int k = 0; k < 4; ++k) ASSERT_EQ(yuy2[4 * i + k], working[k]) << "pair " << i << " byte " << k;
    }
    std::vector<uint8_t> out(6 * pairs, 0x5A);
    GetParam().fromWorking(yuy2.data(), out.data(), format, 0, 1);
    EXPECT_EQ(out, PairLine(back0, back1, pairs));
  }
};

TEST_P(PixelVariantTest, WorkedColourValues) {
  // Black, white and grey survive the round trip.
  CheckPair({0, 0, 0}, {0, 0, 0}, {0, 128, 0, 128}, {0, 0, 0}, {0, 0, 0});
  CheckPair({255, 255, 255}, {255, 255, 255}, {255, 128, 255, 128}, {255, 255, 255}, {255, 255, 255});
  CheckPair({160, 160, 160}, {160, 160, 160}, {160, 128, 160, 128}, {160, 160, 160}, {160, 160, 160});
  // Pure primaries (blue, green, red order) lose a little on the way back.
  CheckPair({0, 0, 255}, {0, 0, 255}, {76, 85, 76, 255}, {0, 0, 254}, {0, 0, 254});
  CheckPair({255, 0, 0}, {255, 0, 0}, {28, 255, 28, 107}, {253, 0, 0}, {253, 0, 0});
  CheckPair({0, 255, 0}, {0, 255, 0}, {149, 43, 149, 21}, {0, 253, 0}, {0, 253, 0});
  // Chroma is averaged over the pair, negative sums shift toward minus infinity.
  CheckPair({10, 20, 30}, {200, 100, 50}, {21, 153, 96, 114}, {65, 22, 1}, {140, 97, 76});
}

TEST_P(PixelVariantTest, BottomUpLineOrderBothWays) {
  const int32_t width = 18, height = 3;
  const FrameFormatRecord format = Format(width, height);
  std::vector<uint8_t> bgr(3 * width * height);
  // Memory line m of the 24-bit frame is grey 10·(m + 1).
  for (int m = 0; m < height; ++m) std::memset(&bgr[3 * width * m], 10 * (m + 1), 3 * width);
  std::vector<uint8_t> yuy2(2 * width * height, 0);
  GetParam().toWorking(bgr.data(), yuy2.data(), format, 0, height);
  for (int y = 0; y < height; ++y) {
    const int grey = 10 * (height - y);  // working line y comes from memory line H-1-y
    for (int x = 0; x < width; ++x) {
      ASSERT_EQ(yuy2[2 * width * y + 2 * x], grey) << "line " << y;
      ASSERT_EQ(yuy2[2 * width * y + 2 * x + 1], 128) << "line " << y;
    }
  }
  std::vector<uint8_t> back(bgr.size(), 0);
  GetParam().fromWorking(yuy2.data(), back.data(), format, 0, height);
  EXPECT_EQ(back, bgr);

  // A single working line 0 reads and writes the last memory line only.
  std::vector<uint8_t> one(2 * width * height, 0);
  GetParam().toWorking(bgr.data(), one.data(), format, 0, 1);
  EXPECT_EQ(one[0], 30);
  EXPECT_EQ(one[2 * width], 0);
  std::vector<uint8_t> oneBack(bgr.size(), 7);
  GetParam().fromWorking(yuy2.data(), oneBack.data(), format, 0, 1);
  EXPECT_EQ(oneBack[3 * width * (height - 1)], 30);
  EXPECT_EQ(oneBack[0], 7);
}

TEST_P(PixelVariantTest, OddWidthLeavesLastPixelUntouched) {
  for (int32_t width : {1, 9, 17, 23}) {
    const FrameFormatRecord format = Format(width, 2);
    std::vector<uint8_t> bgr(3 * width * 2, 200);
    std::vector<uint8_t> yuy2(2 * width * 2, 0xEE);
    GetParam().toWorking(bgr.data(), yuy2.data(), format, 0, 2);
    for (int y = 0; y < 2; ++y) {
      const uint8_t* line = &yuy2[2 * width * y];
      for (int x = 0; x + 1 < width; ++x) ASSERT_EQ(line[2 * x], 200) << width;
      EXPECT_EQ(line[2 * width - 2], 0xEE) << width;
      EXPECT_EQ(line[2 * width - 1], 0xEE) << width;
    }
    std::vector<uint8_t> out(3 * width * 2, 0xEE);
    GetParam().fromWorking(std::vector<uint8_t>(2 * width * 2, 128).data(), out.data(), format, 0, 2);
    for (int y = 0; y < 2; ++y) {
      const uint8_t* line = &out[3 * width * y];
      for (int x = 0; x + 1 < width; ++x) ASSERT_EQ(line[3 * x + 1], 128) << width;
      for (int k = 1; k <= 3; ++k) EXPECT_EQ(line[3 * width - k], 0xEE) << width;
    }
  }
}

TEST_P(PixelVariantTest, LineRangesAreClippedToTheFrame) {
  const int32_t width = 20, height = 5;
  const FrameFormatRecord format = Format(width, height);
  std::vector<uint8_t> bgr(3 * width * height, 90);
  const auto converted = [&](int32_t first, int32_t count) {
    std::vector<uint8_t> yuy2(2 * width * height, 0);
    GetParam().toWorking(bgr.data(), yuy2.data(), format, first, count);
    std::vector<bool> lines;
    for (int y = 0; y < height; ++y) lines.push_back(yuy2[2 * width * y] == 90);
    return lines;
  };
  EXPECT_EQ(converted(-2, 4), (std::vector<bool>{true, true, false, false, false}));
  EXPECT_EQ(converted(3, std::numeric_limits<int32_t>::max()), (std::vector<bool>{false, false, false, true, true}));
  EXPECT_EQ(converted(std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()),
            std::vector<bool>(height, false));
  EXPECT_EQ(converted(1, 0), std::vector<bool>(height, false));
  EXPECT_EQ(converted(1, -3), std::vector<bool>(height, false));
  EXPECT_EQ(converted(5, 1), std::vector<bool>(height, false));

  // Unusable frames and buffers are ignored.
  std::vector<uint8_t> out(3 * width * height, 1);
  GetParam().toWorking(nullptr, out.data(), format, 0, height);
  GetParam().fromWorking(nullptr, out.data(), format, 0, height);
  GetParam().toWorking(bgr.data(), nullptr, format, 0, height);
  GetParam().fromWorking(bgr.data(), out.data(), Format(0, height), 0, height);
  GetParam().fromWorking(bgr.data(), out.data(), Format(-4, height), 0, height);
  GetParam().fromWorking(bgr.data(), out.data(), Format(width, 0), 0, 1);
  EXPECT_EQ(out, std::vector<uint8_t>(3 * width * height, 1));
}

TEST_P(PixelVariantTest, MarkRowBrightensGreyRowOnly) {
  const int32_t width = 22, height = 3;  // 5 groups, 2 pixels left over
  std::vector<uint8_t> frame(2 * width * height);
  for (size_t i = 0; i < frame.size(); ++i) frame[i] = (i % 2) ? 100 : 200;
  const std::vector<uint8_t> before = frame;
  GetParam().mark(frame.data(), width, height, 1, 0xA0A0A0);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < 2 * width; ++x) {
      const size_t i = 2 * width * y + x;
      const bool marked = y == 1 && x < 2 * (width / 4) * 4 && x % 2 == 0;
      ASSERT_EQ(frame[i], marked ? 255 : before[i]) << "line " << y << " byte " << x;
    }
  }
  // Luma below 95 does not reach white.
  std::vector<uint8_t> dark(2 * 8, 50);
  GetParam().mark(dark.data(), 8, 1, 0, 0xA0A0A0);
  EXPECT_EQ(dark[0], 210);
  EXPECT_EQ(dark[1], 50);
}

TEST_P(PixelVariantTest, MarkRowEdgeCases) {
  for (int32_t width : {0, 1, 2, 3}) {
    std::vector<uint8_t> frame(2 * 4 + 8, 100);
    GetParam().mark(frame.data(), width, 1, 0, 0xA0A0A0);
    EXPECT_EQ(frame, std::vector<uint8_t>(frame.size(), 100)) << width;
  }
  std::vector<uint8_t> frame(2 * 8 * 2, 100);
  for (int32_t row : {-1, 2, 1000, std::numeric_limits<int32_t>::min()}) {
    GetParam().mark(frame.data(), 8, 2, row, 0xA0A0A0);
    EXPECT_EQ(frame, std::vector<uint8_t>(frame.size(), 100)) << row;
  }
  GetParam().mark(nullptr, 8, 2, 0, 0xA0A0A0);
}

TEST_P(PixelVariantTest, MarkRowColouredSaturates) {
  // Each colour component alone over its range: signed chroma deltas,
  // saturated at both ends, against the float formulation.
  for (int shift : {0, 8, 16}) {
    for (int c = 0; c < 256; c += 5) {
      const uint32_t colour = static_cast<uint32_t>(c) << shift;
      const int r = shift == 0 ? c : 0, g = shift == 8 ? c : 0, b = shift == 16 ? c : 0;
      const int deltas[4] = {FloorDiv(29 * b + 150 * g + 77 * r, 256), FloorDiv(128 * b - 85 * g - 43 * r, 256),
                             FloorDiv(29 * b + 150 * g + 77 * r, 256), FloorDiv(128 * r - 107 * g - 21 * b, 256)};
      std::vector<uint8_t> frame(2 * 8);
      for (int i = 0; i < 16; ++i) frame[i] = static_cast<uint8_t>(i * 17);
      GetParam().mark(frame.data(), 8, 1, 0, colour);
      for (int i = 0; i < 16; ++i) ASSERT_EQ(frame[i], Clamp(i * 17 + deltas[i % 4])) << colour << " " << i;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(AllVersions, PixelVariantTest, ::testing::ValuesIn(kVariants),
                         [](const ::testing::TestParamInfo<Variant>& info) { return info.param.name; });

TEST(PixelReference, ToWorkingMatchesFloatFormulation) {
  std::mt19937 rng(11);
  const int pairs = 4096;
  std::vector<uint8_t> bgr(6 * pairs);
  for (auto& b : bgr) b = static_cast<uint8_t>(rng());
  std::vector<uint8_t> yuy2(4 * pairs);
  pixel::ConvertToWorkingScalar(bgr.data(), yuy2.data(), Format(2 * pairs, 1), 0, 1);
  for (int i = 0; i < pairs; ++i) {
    const uint8_t* p = &bgr[6 * i];
    const int b = (p[0] + p[3]) / 2, g = (p[1] + p[4]) / 2, r = (p[2] + p[5]) / 2;
    const uint8_t want[4] = {Clamp(FloorDiv(29 * p[0] + 150 * p[1] + 77 * p[2], 256)),
                             Clamp(FloorDiv(128 * b - 85 * g - 43 * r, 256) + 128),
                             Clamp(FloorDiv(29 * p[3] + 150 * p[4] + 77 * p[5], 256)),
                             Clamp(FloorDiv(128 * r - 107 * g - 21 * b, 256) + 128)};
    for (int k = 0; k < 4; ++k) ASSERT_EQ(yuy2[4 * i + k], want[k]) << "pair " << i;
  }
}

// Every (Cb, Cr) with a few luma pairs: a 512 x 256 working frame whose pair
// index is Cb and whose line is Cr. Checks the reference against the float
// formulation and the SIMD versions against the reference.
TEST(PixelReference, FromWorkingAllChromaPairs) {
  const int32_t width = 512, height = 256;
  const FrameFormatRecord format = Format(width, height);
  const int lumas[][2] = {{0, 255}, {255, 0}, {128, 1}, {254, 60}};
  for (const auto& luma : lumas) {
    std::vector<uint8_t> yuy2(2 * width * height);
    for (int cr = 0; cr < 256; ++cr) {
      for (int cb = 0; cb < 256; ++cb) {
        uint8_t* q = &yuy2[2 * width * cr + 4 * cb];
        q[0] = static_cast<uint8_t>(luma[0]);
        q[1] = static_cast<uint8_t>(cb);
        q[2] = static_cast<uint8_t>(luma[1]);
        q[3] = static_cast<uint8_t>(cr);
      }
    }
    std::vector<uint8_t> scalar(3 * width * height);
    pixel::ConvertFromWorkingScalar(yuy2.data(), scalar.data(), format, 0, height);
    for (int cr = 0; cr < 256; ++cr) {
      const uint8_t* line = &scalar[3 * width * (height - 1 - cr)];
      for (int cb = 0; cb < 256; ++cb) {
        const int u = 16 * (cb - 128), v = 16 * (cr - 128);
        const int dB = FloorDiv(u * 7264, 65536), dR = FloorDiv(v * 5744, 65536);
        const int dG = FloorDiv(u * -1376, 65536) + FloorDiv(v * -2928, 65536);
        for (int j = 0; j < 2; ++j) {
          const uint8_t* px = line + 6 * cb + 3 * j;
          ASSERT_EQ(px[0], Clamp(luma[j] + dB)) << cb << "," << cr;
          ASSERT_EQ(px[1], Clamp(luma[j] + dG)) << cb << "," << cr;
          ASSERT_EQ(px[2], Clamp(luma[j] + dR)) << cb << "," << cr;
        }
      }
    }
    for (const Variant& v : kSimdVariants) {
      if (!v.Runs()) continue;
      std::vector<uint8_t> simd(3 * width * height);
      v.fromWorking(yuy2.data(), simd.data(), format, 0, height);
      ASSERT_EQ(simd, scalar) << v.name << " " << luma[0] << "," << luma[1];
    }
  }
}

// Random frames through a SIMD-capable version and the reference, with guard
// bytes around every buffer and random initial destinations.
class PixelCompare {
 public:
  static constexpr size_t kGuard = 48;

  PixelCompare(ConvertFn to, ConvertFn from, MarkFn mark) : to_(to), from_(from), mark_(mark) {}

  void Run(int32_t width, int32_t height, int32_t first, int32_t count, std::mt19937& rng, bool extreme) {
    const FrameFormatRecord format = Format(width, height);
    const size_t bgrSize = 3 * static_cast<size_t>(width) * height;
    const size_t yuySize = 2 * static_cast<size_t>(width) * height;
    const auto fill = [&](size_t size) {
      std::vector<uint8_t> v(size + 2 * kGuard);
      for (auto& b : v) b = RandomByte(rng, extreme);
      return v;
    };
    SCOPED_TRACE(::testing::Message() << width << "x" << height << " lines " << first << "+" << count
                                      << (extreme ? " extreme" : ""));
    // 24-bit to working.
    const std::vector<uint8_t> bgr = fill(bgrSize);
    std::vector<uint8_t> want = fill(yuySize);
    std::vector<uint8_t> got = want;
    const std::vector<uint8_t> initial = want;
    pixel::ConvertToWorkingScalar(bgr.data() + kGuard, want.data() + kGuard, format, first, count);
    to_(bgr.data() + kGuard, got.data() + kGuard, format, first, count);
    ASSERT_EQ(got, want);
    ExpectGuards(want, initial);
    // Working to 24-bit.
    const std::vector<uint8_t> yuy = fill(yuySize);
    std::vector<uint8_t> wantBgr = fill(bgrSize);
    std::vector<uint8_t> gotBgr = wantBgr;
    const std::vector<uint8_t> initialBgr = wantBgr;
    pixel::ConvertFromWorkingScalar(yuy.data() + kGuard, wantBgr.data() + kGuard, format, first, count);
    from_(yuy.data() + kGuard, gotBgr.data() + kGuard, format, first, count);
    ASSERT_EQ(gotBgr, wantBgr);
    ExpectGuards(wantBgr, initialBgr);
    // Marking every line with one random colour.
    const uint32_t colour = rng() & 0xFFFFFF;
    std::vector<uint8_t> wantMark = yuy, gotMark = yuy;
    for (int32_t row = 0; row < height; ++row) {
      pixel::MarkRowScalar(wantMark.data() + kGuard, width, height, row, colour);
      mark_(gotMark.data() + kGuard, width, height, row, colour);
    }
    ASSERT_EQ(gotMark, wantMark) << "colour " << colour;
    ExpectGuards(wantMark, yuy);
  }

 private:
  static uint8_t RandomByte(std::mt19937& rng, bool extreme) {
    static const uint8_t kExtremes[] = {0, 1, 127, 128, 129, 254, 255};
    return extreme ? kExtremes[rng() % 7] : static_cast<uint8_t>(rng());
  }
  static void ExpectGuards(const std::vector<uint8_t>& v, const std::vector<uint8_t>& initial) {
    ASSERT_TRUE(std::equal(v.begin(), v.begin() + kGuard, initial.begin()));
    ASSERT_TRUE(std::equal(v.end() - kGuard, v.end(), initial.end() - kGuard));
  }

  ConvertFn to_;
  ConvertFn from_;
  MarkFn mark_;
};

void CompareOnRandomFrames(ConvertFn to, ConvertFn from, MarkFn mark) {
  PixelCompare compare(to, from, mark);
  std::mt19937 rng(20240601);
  for (int32_t width = 1; width <= 70; ++width) {
    for (int32_t height : {1, 3}) {
      for (bool extreme : {false, true}) {
        compare.Run(width, height, 0, height, rng, extreme);
        if (::testing::Test::HasFatalFailure()) return;
      }
    }
  }
#ifdef QRX_SMALL_TESTS
  const int32_t large[][2] = {{720, 2}, {722, 2}, {1366, 1}};
#else
  const int32_t large[][2] = {{720, 6}, {722, 5}, {1366, 4}, {719, 3}};
#endif
  for (const auto& size : large) {
    for (bool extreme : {false, true}) {
      compare.Run(size[0], size[1], 0, size[1], rng, extreme);
      if (::testing::Test::HasFatalFailure()) return;
    }
  }
  // Partial and out-of-range line ranges.
  const int32_t ranges[][2] = {{1, 2}, {-1, 3}, {2, 100}, {4, 1}, {0, 0}, {3, -1}, {5, 2}};
  for (const auto& range : ranges) {
    compare.Run(37, 5, range[0], range[1], rng, false);
    if (::testing::Test::HasFatalFailure()) return;
  }
}

class PixelSimdTest : public ::testing::TestWithParam<Variant> {
 protected:
  void SetUp() override {
    if (!GetParam().Runs()) GTEST_SKIP() << GetParam().name << " not available on this processor";
  }
};

TEST_P(PixelSimdTest, MatchesReferenceOnRandomFrames) {
  CompareOnRandomFrames(GetParam().toWorking, GetParam().fromWorking, GetParam().mark);
}

// After each call the x87 registers are empty, so x87 arithmetic that
// follows is exact. In the 32-bit build the MMX versions use the real MMX
// registers; x86_64 compilers may carry the same intrinsics in SSE
// registers, where there is nothing to leave behind.
TEST_P(PixelSimdTest, LeavesX87RegistersEmpty) {
  const int32_t width = 45, height = 2;
  const FrameFormatRecord format = Format(width, height);
  std::vector<uint8_t> bgr(3 * width * height, 90), yuy2(2 * width * height, 60);
  volatile long double three = 3.0L, half = 0.5L;
  x87::Empty();
  for (int call = 0; call < 3; ++call) {
    if (call == 0) GetParam().toWorking(bgr.data(), yuy2.data(), format, 0, height);
    if (call == 1) GetParam().fromWorking(yuy2.data(), bgr.data(), format, 0, height);
    if (call == 2) GetParam().mark(yuy2.data(), width, height, 1, 0xA0A0A0);
    EXPECT_EQ(x87::TagWord(), 0xFFFF) << "call " << call;
    const long double product = x87::Product(three, half);
    EXPECT_EQ(product, 1.5L) << "call " << call;
    x87::Empty();  // one omission must not hide the next
  }
}

INSTANTIATE_TEST_SUITE_P(SimdVersions, PixelSimdTest, ::testing::ValuesIn(kSimdVariants),
                         [](const ::testing::TestParamInfo<Variant>& info) { return info.param.name; });

// With the features forced to "SSE, no SSE2" the dispatch takes the MMX
// versions, on any processor with SSE, and they equal the reference.
TEST(PixelSimd, ForcedSseOnlyDispatchMatchesReference) {
  if (!platform::Cpu().sse) GTEST_SKIP() << "processor without SSE";
  platform::CpuFeatures sseOnly;
  sseOnly.sse = true;
  CpuOverride override(sseOnly);
  ASSERT_EQ(pixel::SelectedKernel(), pixel::Kernel::kMmx);
  CompareOnRandomFrames(ConvertToWorking, ConvertFromWorking, MarkRow);
}

// Forced features pick SSE2, MMX or the reference; unforced, the choice
// follows the processor (the 32-bit tests under an emulated Pentium III get
// the MMX versions here).
TEST(PixelSimd, DispatchFollowsProcessorFeatures) {
  const platform::CpuFeatures detected = platform::Cpu();
  const pixel::Kernel expected = detected.sse2 ? pixel::Kernel::kSse2
                                 : detected.sse ? pixel::Kernel::kMmx
                                                : pixel::Kernel::kScalar;
  EXPECT_EQ(pixel::SelectedKernel(), expected);
  const struct {
    bool sse, sse2;
    pixel::Kernel kernel;
  } forced[] = {{false, false, pixel::Kernel::kScalar}, {true, false, pixel::Kernel::kMmx},
                {true, true, pixel::Kernel::kSse2}};
  for (const auto& f : forced) {
    if ((f.sse && !detected.sse) || (f.sse2 && !detected.sse2)) continue;  // never run what is missing
    platform::CpuFeatures features;
    features.sse = f.sse;
    features.sse2 = f.sse2;
    CpuOverride override(features);
    EXPECT_EQ(pixel::SelectedKernel(), f.kernel) << f.sse << f.sse2;
    // Whichever path is taken still converts.
    std::vector<uint8_t> bgr(3 * 16, 160), yuy2(2 * 16, 0);
    ConvertToWorking(bgr.data(), yuy2.data(), Format(16, 1), 0, 1);
    EXPECT_EQ(yuy2[0], 160);
    EXPECT_EQ(yuy2[1], 128);
  }
}

}  // namespace
}  // namespace qrx
