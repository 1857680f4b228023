// LineTransform as the pipeline uses it: construction, the direct and the
// resampling paths, row padding, saturation, chroma, the demonstration split,
// and the SIMD paths against the scalar one on whole frames.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "platform/cpu.h"
#include "transform/line_resample.h"
#include "transform/line_transform.h"

namespace qrx {
namespace {

#ifdef QRX_SMALL_TESTS
constexpr int32_t kHeight = 12;
#else
constexpr int32_t kHeight = 576;
#endif

FrameFormatRecord Format(int32_t w, int32_t h) { return FrameFormatRecord{w, h, 0, 0}; }

// The engine's Hamming window and its inverse, built the same way.
struct Windows {
  std::vector<float> window, inverse;
};

Windows Hamming(int32_t n, int32_t h) {
  auto weight = [](int32_t i, int32_t p) { return 0.54 - 0.46 * std::cos(6.28318530718 * (i + 0.5) / p); };
  Windows w;
  w.window.resize(size_t(n) * h);
  w.inverse.resize(size_t(n) * h);
  for (int32_t m = 0; m < h; ++m) {
    for (int32_t x = 0; x < n; ++x) {
      w.window[size_t(m) * n + x] = float(weight(x, n) * weight(m, h));
      w.inverse[size_t(m) * n + x] = float((1.0 / weight(m, h)) / weight(x, n));
    }
  }
  return w;
}

// Spectrum-like buffer: rows of 2 * pitch floats, pitch = N/2 + 2, with more
// rows than the frame (as the engine's M >= H).
struct Spectrum {
  int32_t pitch;
  int32_t rows;
  std::vector<float> data;
  Spectrum(int32_t n, int32_t h, float fill) : pitch(n / 2 + 2), rows(h + 3), data(size_t(2 * pitch) * rows, fill) {}
  float* Row(int32_t r) { return data.data() + size_t(2 * pitch) * r; }
};

enum class Content { Smooth, Detailed };

std::vector<uint8_t> MakeFrame(int32_t w, int32_t h, Content content, uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> byte(0, 255);
  std::vector<uint8_t> f(size_t(2) * w * h);
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      const double t = double(x) / w;
      const int v = content == Content::Smooth
                        ? int(std::lround(128 + 60 * std::sin(6.2831853 * 3 * t + 0.1 * y) + 40 * std::cos(6.2831853 * 7 * t)))
                        : byte(rng);
      f[(size_t(y) * w + x) * 2] = static_cast<uint8_t>(v);
      f[(size_t(y) * w + x) * 2 + 1] = static_cast<uint8_t>(byte(rng));
    }
  }
  return f;
}

void ExpectChromaEqual(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  ASSERT_EQ(a.size(), b.size());
  for (size_t i = 1; i < a.size(); i += 2) ASSERT_EQ(a[i], b[i]) << "chroma byte " << i;
}

struct Error {
  int max = 0;
  double mean = 0;  // of |output - input|
  double bias = 0;  // of output - input
};

Error LumaError(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, int32_t w, int32_t rows) {
  Error e;
  double sum = 0, signedSum = 0;
  for (size_t i = 0; i < size_t(w) * rows; ++i) {
    const int d = int(a[2 * i]) - int(b[2 * i]);
    e.max = std::max(e.max, std::abs(d));
    sum += std::abs(d);
    signedSum += d;
  }
  e.mean = sum / (double(w) * rows);
  e.bias = signedSum / (double(w) * rows);
  return e;
}

// Forward then Backward with nothing in between.
Error NeutralRoundTrip(int32_t w, int32_t n, int32_t h, Content content) {
  LineTransform lt(Format(w, h), n);
  EXPECT_TRUE(lt.IsUsable());
  const Windows win = Hamming(n, h);
  const std::vector<uint8_t> input = MakeFrame(w, h, content, 1234 + w + n);
  std::vector<uint8_t> frame = input;
  Spectrum s(n, h, 0.0f);
  lt.Forward(frame.data(), s.data.data(), s.pitch, win.window.data());
  lt.Backward(frame.data(), s.data.data(), s.pitch, win.inverse.data(), 1.0f, 0);
  ExpectChromaEqual(frame, input);
  return LumaError(frame, input, w, h);
}

TEST(LineTransform, BuildsTablesOnlyWhenWidthDiffers) {
  LineTransform direct(Format(512, kHeight), 512);
  ASSERT_TRUE(direct.IsUsable());
  EXPECT_EQ(direct.ForwardTable(), nullptr);
  EXPECT_EQ(direct.BackwardTable(), nullptr);
  EXPECT_EQ(direct.OutputLength(), 512);
  EXPECT_EQ(direct.OutputHeight(), kHeight);

  LineTransform pal(Format(720, kHeight), 512);
  ASSERT_TRUE(pal.IsUsable());
  EXPECT_EQ(pal.ForwardTaps(), 12);
  EXPECT_EQ(pal.BackwardTaps(), 8);
  EXPECT_EQ(pal.OutputLength(), 512);
  EXPECT_EQ(pal.OutputHeight(), kHeight);
  ASSERT_NE(pal.ForwardTable(), nullptr);
  EXPECT_EQ(pal.ForwardTable()->Start(0) / 2, 0);
  EXPECT_EQ(pal.ForwardTable()->Start(511) / 2, 708);
  EXPECT_EQ(pal.BackwardTable()->destinationLength, 720);

  LineTransform wide(Format(720, kHeight), 1024);
  EXPECT_EQ(wide.ForwardTaps(), 8);
  EXPECT_EQ(wide.BackwardTaps(), 12);
  LineTransform narrow(Format(720, kHeight), 256);
  EXPECT_EQ(narrow.ForwardTaps(), 20);
  LineTransform vga(Format(768, kHeight), 512);
  EXPECT_EQ(vga.ForwardTaps(), 12);
}

TEST(LineTransform, UnusableSizesAreRefusedAndHarmless) {
  const struct {
    int32_t w, h, n;
  } bad[] = {{1, 100, 256},   {100, 1, 256},   {0, 0, 512},     {-720, 576, 512}, {720, -576, 512},
             {720, 576, 0},   {720, 576, 3},   {720, 576, 2},   {720, 576, 100},  {720, 576, -512},
             {720, 576, 16384}, {9000, 576, 512}, {720, 9000, 512}, {4, 16, 256}};
  for (const auto& b : bad) {
    LineTransform lt(Format(b.w, b.h), b.n);
    EXPECT_FALSE(lt.IsUsable()) << b.w << "x" << b.h << " / " << b.n;
    // Calls on an unusable object do nothing.
    std::vector<uint8_t> frame(64, 7);
    std::vector<float> rows(64, 3.0f), window(64, 1.0f);
    lt.Forward(frame.data(), rows.data(), 4, window.data());
    lt.Backward(frame.data(), rows.data(), 4, window.data(), 1.0f, 0);
    EXPECT_EQ(frame, std::vector<uint8_t>(64, 7));
    EXPECT_EQ(rows, std::vector<float>(64, 3.0f));
  }
  LineTransform tiny(Format(2, 2), 4);  // smallest accepted direct... resampling case
  EXPECT_FALSE(tiny.IsUsable());        // 2 samples cannot hold an 8-tap row
  LineTransform small(Format(4, 2), 4);
  EXPECT_TRUE(small.IsUsable());
}

TEST(LineTransform, NeutralDirectPathWithinOneLevel) {
  for (Content c : {Content::Smooth, Content::Detailed}) {
    const Error e = NeutralRoundTrip(512, 512, kHeight, c);
    EXPECT_LE(e.max, 1);
    std::printf("direct 512/512 %s: max %d mean %.4f\n", c == Content::Smooth ? "smooth" : "detailed", e.max, e.mean);
  }
}

// Resampling round trips without a filter in between: the error comes from
// the Q14 sums (each >> 14 drops on average half a level, so two passes
// darken smooth content by about one level), the byte rounding of the middle
// line and, for detailed content, the frequencies the narrower line or the
// kernels cannot carry. Bounds sit a little above the measured figures.
TEST(LineTransform, NeutralResamplingPathMeasuredBounds) {
  const struct {
    int32_t w, n;
    int detailedMax;
    double detailedMean;
  } cases[] = {
      {720, 512, 175, 37.0}, {768, 512, 185, 40.0}, {640, 512, 165, 31.0},
      {720, 1024, 65, 14.0}, {720, 256, 210, 55.0}, {704, 512, 170, 36.0},
  };
  for (const auto& c : cases) {
    for (Content content : {Content::Smooth, Content::Detailed}) {
      const Error e = NeutralRoundTrip(c.w, c.n, kHeight, content);
      const bool smooth = content == Content::Smooth;
      std::printf("%d -> %d -> %d %s: max %d mean %.4f bias %+.4f\n", c.w, c.n, c.w,
                  smooth ? "smooth" : "detailed", e.max, e.mean, e.bias);
      if (smooth) {
        EXPECT_LE(e.max, 3) << c.w << "/" << c.n;
        EXPECT_LE(e.mean, 1.1) << c.w << "/" << c.n;
        EXPECT_LE(e.bias, 0.0) << c.w << "/" << c.n;
        EXPECT_GE(e.bias, -1.1) << c.w << "/" << c.n;
      } else {
        EXPECT_LE(e.max, c.detailedMax) << c.w << "/" << c.n;
        EXPECT_LE(e.mean, c.detailedMean) << c.w << "/" << c.n;
      }
    }
  }
}

// Forward output against an independent evaluation of the table, padding
// zeroed, rows beyond H untouched.
TEST(LineTransform, ForwardFillsEveryRowAndClearsPadding) {
  for (int32_t w : {512, 720}) {
    const int32_t n = 512, h = 7;
    LineTransform lt(Format(w, h), n);
    ASSERT_TRUE(lt.IsUsable());
    const Windows win = Hamming(n, h);
    const std::vector<uint8_t> frame = MakeFrame(w, h, Content::Detailed, 5);
    Spectrum s(n, h, std::numeric_limits<float>::quiet_NaN());
    std::fill(s.Row(h), s.data.data() + s.data.size(), 42.0f);
    lt.Forward(frame.data(), s.data.data(), s.pitch, win.window.data());
    for (int32_t r = 0; r < h; ++r) {
      for (int32_t i = 0; i < n; ++i) {
        float expected;
        if (w == n) {
          expected = float(frame[(size_t(r) * w + i) * 2]) * win.window[size_t(r) * n + i];
        } else {
          const ResampleTable& t = *lt.ForwardTable();
          int64_t acc = 0;
          for (int32_t j = 0; j < t.taps; ++j) acc += t.Coefficients(i)[j] * int64_t(frame[(size_t(r) * w + t.Start(i) / 2 + j) * 2]);
          expected = float(std::floor(acc / 16384.0)) * win.window[size_t(r) * n + i];
        }
        ASSERT_EQ(s.Row(r)[i], expected) << "w " << w << " row " << r << " col " << i;
      }
      for (int32_t i = n; i < 2 * s.pitch; ++i) ASSERT_EQ(s.Row(r)[i], 0.0f) << i;
    }
    for (int32_t r = h; r < s.rows; ++r) {
      for (int32_t i = 0; i < 2 * s.pitch; ++i) ASSERT_EQ(s.Row(r)[i], 42.0f);
    }
  }
}

// Direct path: every float-to-byte conversion saturates and rounds to even.
TEST(LineTransform, DirectBackwardSaturatesBothEnds) {
  const int32_t w = 16, h = 2;
  LineTransform lt(Format(w, h), w);
  ASSERT_TRUE(lt.IsUsable());
  const float inf = std::numeric_limits<float>::infinity();
  const float values[w] = {-1000.0f, -0.6f, -0.5f, 0.49f, 0.5f, 1.5f, 2.5f, 254.5f,
                           255.49f, 255.5f, 256.0f, 1e6f,  inf,  -inf, std::numeric_limits<float>::quiet_NaN(), 77.0f};
  const int expected[w] = {0, 0, 0, 0, 0, 2, 2, 254, 255, 255, 255, 255, 255, 0, 0, 77};
  Spectrum s(w, h, 0.0f);
  for (int32_t r = 0; r < h; ++r) std::copy(values, values + w, s.Row(r));
  std::vector<float> ones(size_t(w) * h, 1.0f);
  std::vector<uint8_t> frame(size_t(2) * w * h, 0x5A);
  platform::CpuFeatures scalar, sseOnly;  // nothing: forces the scalar kernels
  sseOnly.sse = true;
  const platform::CpuFeatures* paths[] = {&scalar, &sseOnly, nullptr};  // nullptr: the processor's own
  for (int path = 0; path < 3; ++path) {
    platform::OverrideCpuFeatures(paths[path]);
    std::vector<uint8_t> out = frame;
    lt.Backward(out.data(), s.data.data(), s.pitch, ones.data(), 1.0f, 0);
    for (int32_t r = 0; r < h; ++r) {
      for (int32_t x = 0; x < w; ++x) EXPECT_EQ(out[(r * w + x) * 2], expected[x]) << "path " << path << " x " << x;
    }
    ExpectChromaEqual(out, frame);
  }
  platform::OverrideCpuFeatures(nullptr);
}

// Resampling path: both byte conversions saturate. A middle line that is a
// hard 0/255 square wave makes the backward kernel overshoot on both sides.
TEST(LineTransform, ResamplingBackwardSaturatesBothConversions) {
  const int32_t w = 720, n = 512, h = 2;
  LineTransform lt(Format(w, h), n);
  ASSERT_TRUE(lt.IsUsable());
  Spectrum s(n, h, 0.0f);
  for (int32_t i = 0; i < n; ++i) s.Row(0)[i] = ((i / 8) % 2) ? 900.0f : -900.0f;  // clips to 255 / 0
  for (int32_t i = 0; i < n; ++i) s.Row(1)[i] = ((i / 8) % 2) ? 255.0f : 0.0f;
  std::vector<float> ones(size_t(n) * h, 1.0f);
  std::vector<uint8_t> frame(size_t(2) * w * h, 0x80);
  lt.Backward(frame.data(), s.data.data(), s.pitch, ones.data(), 1.0f, 0);
  // Row 0 had out-of-range floats; clipped first, it must equal row 1.
  std::vector<uint16_t> middle(n);
  for (int32_t i = 0; i < n; ++i) middle[i] = ((i / 8) % 2) ? 255 : 0;
  int low = 0, high = 0;
  for (int32_t x = 0; x < w; ++x) {
    const int32_t raw = line::ApplyRow(*lt.BackwardTable(), x, middle.data());
    const int expected = std::min(255, std::max(0, raw));
    low += raw < 0;
    high += raw > 255;
    ASSERT_EQ(frame[2 * x], expected) << x;
    ASSERT_EQ(frame[(w + x) * 2], expected) << x;
  }
  EXPECT_GT(low, 0);
  EXPECT_GT(high, 0);
  for (size_t i = 1; i < frame.size(); i += 2) ASSERT_EQ(frame[i], 0x80);
}

TEST(LineTransform, DemoFlagWritesUpperHalfOnly) {
  for (int32_t w : {512, 720}) {
    for (int32_t h : {10, 11}) {
      const int32_t n = 512;
      LineTransform lt(Format(w, h), n);
      ASSERT_TRUE(lt.IsUsable());
      Spectrum s(n, h, 0.0f);
      for (int32_t r = 0; r < h; ++r) std::fill(s.Row(r), s.Row(r) + n, 200.0f);
      std::vector<float> ones(size_t(n) * h, 1.0f);
      const std::vector<uint8_t> input = MakeFrame(w, h, Content::Detailed, 9);
      std::vector<uint8_t> frame = input;
      lt.Backward(frame.data(), s.data.data(), s.pitch, ones.data(), 1.0f, 1);
      for (int32_t r = 0; r < h; ++r) {
        for (int32_t x = 0; x < w; ++x) {
          const size_t i = (size_t(r) * w + x) * 2;
          if (r < h / 2) {
            ASSERT_EQ(frame[i], 200) << w << "x" << h << " row " << r;
          } else {
            ASSERT_EQ(frame[i], input[i]) << w << "x" << h << " row " << r;
          }
        }
      }
      ExpectChromaEqual(frame, input);
    }
  }
}

// Whole frames through both passes on every path the processor can take:
// the full one, the one forced to "SSE, no SSE2" (MMX kernels) and the
// scalar one, with widths that are not multiples of 4 or 8 (the tails take
// the scalar route).
TEST(LineTransform, SimdPathsMatchScalarOnWholeFrames) {
  platform::OverrideCpuFeatures(nullptr);
  const platform::CpuFeatures full = platform::Cpu();
  platform::CpuFeatures sseOnly, scalar;
  sseOnly.sse = full.sse;
  const platform::CpuFeatures* paths[] = {&scalar, &sseOnly, nullptr};
  std::mt19937 rng(3);
  std::uniform_int_distribution<int> widths(17, 1100);
  std::vector<int32_t> ws = {720, 721, 722, 723, 725, 256, 512, 768, 640, 33};
#ifndef QRX_SMALL_TESTS
  for (int k = 0; k < 10; ++k) ws.push_back(widths(rng));
#endif
  const int32_t h = 9;
  for (int32_t w : ws) {
    for (int32_t n : {256, 512, 1024}) {
      SCOPED_TRACE(testing::Message() << w << " / " << n);
      LineTransform lt(Format(w, h), n);
      ASSERT_TRUE(lt.IsUsable());
      const Windows win = Hamming(n, h);
      const std::vector<uint8_t> input = MakeFrame(w, h, Content::Detailed, w * 7 + n);
      std::vector<float> result[3];
      std::vector<uint8_t> frames[3];
      for (int path = 0; path < 3; ++path) {
        platform::OverrideCpuFeatures(paths[path]);
        Spectrum s(n, h, -1.0f);
        frames[path] = input;
        lt.Forward(frames[path].data(), s.data.data(), s.pitch, win.window.data());
        result[path] = s.data;
        // Disturb the rows a little so the backward pass sees non-integers.
        for (size_t i = 0; i < s.data.size(); ++i) s.data[i] = s.data[i] * 1.37f - 20.0f;
        lt.Backward(frames[path].data(), s.data.data(), s.pitch, win.inverse.data(), 1.0f, 0);
      }
      platform::OverrideCpuFeatures(nullptr);
      for (int path = 1; path < 3; ++path) {
        SCOPED_TRACE(path == 1 ? "SSE only" : "full");
        ASSERT_EQ(0, std::memcmp(result[0].data(), result[path].data(), result[0].size() * 4));
        ASSERT_EQ(frames[0], frames[path]);
      }
      ExpectChromaEqual(frames[0], input);
    }
  }
}

}  // namespace
}  // namespace qrx
