// Resample tables (sizes, edges, weights against an independent Lanczos
// evaluation), the Q14 application, the float-to-byte rounding, the SIMD
// kernels (SSE2, and MMX with SSE) against the scalar ones, the x87 state
// they leave and the run-time choice between them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <random>
#include <vector>

#if defined(__i386__) || defined(__x86_64__)
#include <xmmintrin.h>
#endif

#include "platform/cpu.h"
#include "platform/math_constants.h"
#include "support/x87_state.h"
#include "transform/line_resample.h"

namespace qrx {
namespace {

struct TableDeleter {
  void operator()(ResampleTable* t) const { DestroyResampleTable(t); }
};
using TablePtr = std::unique_ptr<ResampleTable, TableDeleter>;

TablePtr MakeTable(int32_t s, int32_t d) { return TablePtr(CreateResampleTable(s, d)); }

struct SizeCase {
  int32_t source, destination, taps;
};
// The common cases: every line length the plug-in pairs with 720 and 768.
const SizeCase kCommon[] = {{720, 512, 12},  {512, 720, 8},  {720, 1024, 8},
                            {1024, 720, 12}, {720, 256, 20}, {768, 512, 12}};

int32_t CoefficientSum(const ResampleTable& t, int32_t i) {
  int32_t sum = 0;
  for (int32_t j = 0; j < t.taps; ++j) sum += t.Coefficients(i)[j];
  return sum;
}

// The SIMD kernel sets and what the processor must have to run them.
struct SimdVariant {
  const char* name;
  const line::Kernels* (*kernels)();
  bool platform::CpuFeatures::*needs;
  bool Runs() const {
    platform::OverrideCpuFeatures(nullptr);
    return kernels() != nullptr && platform::Cpu().*needs;
  }
};
void PrintTo(const SimdVariant& v, std::ostream* out) { *out << v.name; }
const SimdVariant kSimdVariants[] = {{"Sse2", line::Sse2Kernels, &platform::CpuFeatures::sse2},
                                     {"Mmx", line::MmxKernels, &platform::CpuFeatures::sse}};

TEST(LanczosKernel, KnownValues) {
  EXPECT_DOUBLE_EQ(LanczosKernel(0.0), 1.0);
  // sinc(pi/2) * sinc(pi/6) = (2/pi) * (3/pi) * sin(pi/6)... = 0.6079271
  EXPECT_NEAR(LanczosKernel(0.5), 0.6079271, 1e-6);
  EXPECT_NEAR(LanczosKernel(-0.5), LanczosKernel(0.5), 1e-15);
  EXPECT_NEAR(LanczosKernel(1.0), 0.0, 1e-12);
  EXPECT_NEAR(LanczosKernel(2.0), 0.0, 1e-12);
  EXPECT_LT(LanczosKernel(1.5), 0.0);  // first negative lobe
  EXPECT_GT(LanczosKernel(2.5), 0.0);
  EXPECT_EQ(LanczosKernel(3.0), 0.0);
  EXPECT_EQ(LanczosKernel(-7.0), 0.0);
}

TEST(ResampleTable, TapCountsOfCommonCases) {
  for (const SizeCase& c : kCommon) {
    SCOPED_TRACE(testing::Message() << c.source << " -> " << c.destination);
    EXPECT_EQ(ResampleTapCount(c.source, c.destination), c.taps);
    TablePtr t = MakeTable(c.source, c.destination);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->taps, c.taps);
    EXPECT_EQ(t->sourceLength, c.source);
    EXPECT_EQ(t->destinationLength, c.destination);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(t->rows) % 16, 0u);
  }
}

TEST(ResampleTable, FirstAndLastRowOf720To512) {
  TablePtr t = MakeTable(720, 512);
  ASSERT_TRUE(t);
  EXPECT_EQ(t->Start(0), 0);
  const int16_t* first = t->Coefficients(0);
  for (int32_t j = 0; j < 5; ++j) EXPECT_NE(first[j], 0) << j;
  for (int32_t j = 5; j < 12; ++j) EXPECT_EQ(first[j], 0) << j;
  EXPECT_EQ(t->Start(511), 1416);
  EXPECT_EQ(t->Start(511) / 2, 708);
}

// Every row stays inside the source line, starts on a sample, and its
// weights sum to one; checked on the common cases and odd pairs of sizes.
TEST(ResampleTable, RowsStayInsideAndSumToOne) {
  std::vector<SizeCase> cases(std::begin(kCommon), std::end(kCommon));
  const SizeCase odd[] = {{721, 512, 0}, {333, 256, 0}, {100, 1024, 0}, {1920, 256, 0},
                          {1024, 37, 0}, {8, 256, 0},   {4096, 64, 0},  {9, 8, 0}};
  cases.insert(cases.end(), std::begin(odd), std::end(odd));
  int32_t worst = 0;
  for (const SizeCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.source << " -> " << c.destination);
    TablePtr t = MakeTable(c.source, c.destination);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->taps % 4, 0);
    for (int32_t i = 0; i < c.destination; ++i) {
      const int32_t start = t->Start(i);
      ASSERT_EQ(start % 2, 0) << i;
      ASSERT_GE(start, 0) << i;
      ASSERT_LE(start / 2 + t->taps, c.source) << i;
      const int32_t err = std::abs(CoefficientSum(*t, i) - 16384);
      if (t->taps <= 20 && err > worst) worst = err;
      // Each truncated coefficient is off by less than 1.5; the tables in
      // use (up to 20 taps) stay within a few units.
      ASSERT_LE(err, t->taps <= 20 ? 10 : t->taps) << "row " << i;
    }
  }
  std::printf("worst coefficient-sum error (tables up to 20 taps): %d / 16384\n", worst);
}

// Interior rows against a direct evaluation: kernel centred on the
// destination sample's centre (i + 0.5) * S / D - 0.5 in source indices.
TEST(ResampleTable, InteriorWeightsMatchDirectLanczos) {
  for (const SizeCase& c : kCommon) {
    SCOPED_TRACE(testing::Message() << c.source << " -> " << c.destination);
    TablePtr t = MakeTable(c.source, c.destination);
    ASSERT_TRUE(t);
    const double d = std::min(1.0, double(c.destination) / c.source);
    for (int32_t i = c.destination / 4; i < 3 * c.destination / 4; i += 7) {
      const double centre = (i + 0.5) * c.source / c.destination - 0.5;
      const int32_t first = t->Start(i) / 2;
      double w[64];
      double sum = 0;
      for (int32_t j = 0; j < t->taps; ++j) {
        const double x = d * (first + j - centre);
        const double ax = std::fabs(x) * qrx::kPi;
        w[j] = std::fabs(x) >= 3 ? 0.0 : (ax < 1e-9 ? 1.0 : std::sin(ax) / ax * std::sin(ax / 3) / (ax / 3));
        sum += w[j];
      }
      for (int32_t j = 0; j < t->taps; ++j) {
        ASSERT_NEAR(t->Coefficients(i)[j], w[j] / sum * 16384, 1.5) << "row " << i << " tap " << j;
      }
      // The full kernel fits the window: no tap outside it would carry weight.
      EXPECT_EQ(LanczosKernel(d * (first - 1 - centre)), 0.0);
      EXPECT_EQ(LanczosKernel(d * (first + t->taps - centre)), 0.0);
    }
  }
}

// Edge rows use the first (last) T samples with the kernel still centred on
// the destination sample: the weighted centre of the coefficients lies near
// that sample even though part of the kernel falls outside the line.
TEST(ResampleTable, EdgeRowsUseFirstAndLastSamples) {
  for (const SizeCase& c : kCommon) {
    SCOPED_TRACE(testing::Message() << c.source << " -> " << c.destination);
    TablePtr t = MakeTable(c.source, c.destination);
    ASSERT_TRUE(t);
    const int32_t last = c.destination - 1;
    EXPECT_EQ(t->Start(0), 0);
    EXPECT_EQ(t->Start(1), 0);
    EXPECT_EQ(t->Start(last) / 2, c.source - t->taps);
    EXPECT_EQ(t->Start(last - 1) / 2, c.source - t->taps);
    // Largest coefficient of row 0 sits at the first samples, of the last row
    // at the last samples.
    const int16_t* f = t->Coefficients(0);
    const int16_t* l = t->Coefficients(last);
    int32_t argFirst = 0, argLast = 0;
    for (int32_t j = 0; j < t->taps; ++j) {
      if (f[j] > f[argFirst]) argFirst = j;
      if (l[j] > l[argLast]) argLast = j;
    }
    const double scale = double(c.source) / c.destination;
    EXPECT_LE(argFirst, static_cast<int32_t>(scale));
    EXPECT_GE(argLast, t->taps - 1 - static_cast<int32_t>(scale) - 1);
    // Renormalised, so a constant line comes out unchanged at both ends.
    std::vector<uint16_t> flat(c.source, 200);
    EXPECT_NEAR(line::ApplyRow(*t, 0, flat.data()), 200, 1);
    EXPECT_NEAR(line::ApplyRow(*t, last, flat.data()), 200, 1);
  }
}

TEST(ResampleTable, RefusesLinesShorterThanTheKernel) {
  EXPECT_EQ(CreateResampleTable(4, 256), nullptr);  // T = 8 > 4
  EXPECT_EQ(CreateResampleTable(0, 256), nullptr);
  EXPECT_EQ(CreateResampleTable(256, 0), nullptr);
  EXPECT_EQ(CreateResampleTable(-5, 16), nullptr);
  TablePtr t = MakeTable(8, 256);  // T = 8 = S: the whole line in every row
  ASSERT_TRUE(t);
  for (int32_t i = 0; i < 256; ++i) EXPECT_EQ(t->Start(i), 0);
  DestroyResampleTable(nullptr);
}

// A hand-made table: negative sums shift toward minus infinity.
TEST(ApplyRow, NegativeAccumulatorRoundsDown) {
  std::vector<uint8_t> storage(4 * (4 + 8) + 16);
  ResampleTable t;
  t.sourceLength = 4;
  t.destinationLength = 4;
  t.taps = 4;
  t.rows = storage.data();
  const int16_t coeffs[4][4] = {{-1, 0, 0, 0}, {-16384, 0, 0, 1}, {16384, -16385, 0, 0}, {-3, 5, 0, 0}};
  for (int32_t i = 0; i < 4; ++i) {
    const int32_t start = 0;
    std::memcpy(storage.data() + 12 * i, &start, 4);
    std::memcpy(storage.data() + 12 * i + 4, coeffs[i], 8);
  }
  const uint16_t line[4] = {1, 1, 1, 1};
  EXPECT_EQ(line::ApplyRow(t, 0, line), -1);  // -1 >> 14
  EXPECT_EQ(line::ApplyRow(t, 1, line), -1);  // -16383 >> 14
  EXPECT_EQ(line::ApplyRow(t, 2, line), -1);  // -1 >> 14
  EXPECT_EQ(line::ApplyRow(t, 3, line), 0);   // 2 >> 14
  const uint16_t big[4] = {255, 255, 255, 255};
  EXPECT_EQ(line::ApplyRow(t, 1, big), -255);  // -16384*255 + 255 = -4177665 -> -255
  std::vector<uint8_t> out(8, 0x77);
  line::ScalarKernels().resampleToLuma(t, big, out.data());
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(out[2], 0);
  EXPECT_EQ(out[1], 0x77);
  std::vector<float> window(4, 1.0f), a(4);
  line::ScalarKernels().resampleToFloats(t, line, window.data(), a.data());
  EXPECT_EQ(a[0], -1.0f);
  for (const SimdVariant& v : kSimdVariants) {
    if (!v.Runs()) continue;
    std::vector<uint8_t> simd(8, 0x77);
    v.kernels()->resampleToLuma(t, big, simd.data());
    EXPECT_EQ(simd, out) << v.name;
    std::vector<float> b(4);
    v.kernels()->resampleToFloats(t, line, window.data(), b.data());
    EXPECT_EQ(a, b) << v.name;
  }
}

// Real tables on a hard edge ring below 0 and above 255: the sums are exact
// floor divisions of the 64-bit products.
TEST(ApplyRow, MatchesFloorDivisionOnRingingEdges) {
  for (const SizeCase& c : kCommon) {
    TablePtr t = MakeTable(c.source, c.destination);
    ASSERT_TRUE(t);
    std::vector<uint16_t> line(c.source);
    for (int32_t x = 0; x < c.source; ++x) line[x] = ((x / 17) % 2) ? 255 : 0;
    bool sawNegative = false, sawOver = false;
    for (int32_t i = 0; i < c.destination; ++i) {
      int64_t acc = 0;
      for (int32_t j = 0; j < t->taps; ++j) acc += int64_t(t->Coefficients(i)[j]) * line[t->Start(i) / 2 + j];
      const int64_t expected = static_cast<int64_t>(std::floor(acc / 16384.0));
      const int32_t got = line::ApplyRow(*t, i, line.data());
      ASSERT_EQ(got, expected) << c.source << "->" << c.destination << " row " << i;
      sawNegative |= got < 0;
      sawOver |= got > 255;
    }
    EXPECT_TRUE(sawNegative);
    EXPECT_TRUE(sawOver);
  }
}

TEST(FloatToLuma, RoundsHalfToEvenAndSaturates) {
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const struct {
    float in;
    int out;
  } cases[] = {{0.0f, 0},      {-0.0f, 0},    {0.5f, 0},      {0.50001f, 1}, {1.5f, 2},
               {2.5f, 2},      {3.49999f, 3}, {127.5f, 128},  {128.5f, 128}, {254.5f, 254},
               {254.51f, 255}, {255.0f, 255}, {255.49f, 255}, {255.5f, 255}, {256.0f, 255},
               {1e9f, 255},    {-0.4f, 0},    {-0.5f, 0},     {-0.6f, 0},    {-1e9f, 0},
               {inf, 255},     {-inf, 0},     {nan, 0},       {1e-40f, 0},   {100.0f, 100}};
  for (const auto& c : cases) EXPECT_EQ(line::FloatToLuma(c.in), c.out) << c.in;
}

// ---------------------------------------------------------------- SIMD
#ifdef QRX_SMALL_TESTS
constexpr int kRounds = 20;
#else
constexpr int kRounds = 200;
#endif

std::vector<float> SpecialFloats(std::mt19937& rng, size_t n) {
  const float inf = std::numeric_limits<float>::infinity();
  const float specials[] = {std::numeric_limits<float>::quiet_NaN(),
                            inf,
                            -inf,
                            0.5f,
                            1.5f,
                            2.5f,
                            254.5f,
                            255.5f,
                            256.5f,
                            -0.5f,
                            -1.0f,
                            1e30f,
                            -1e30f,
                            1e-42f,
                            0.0f,
                            -0.0f};
  std::uniform_real_distribution<float> value(-40.0f, 300.0f);
  std::uniform_int_distribution<int> pick(0, 9), which(0, 15), whole(-5, 260);
  std::vector<float> v(n);
  for (float& f : v) {
    const int p = pick(rng);
    f = p == 0 ? specials[which(rng)] : (p == 1 ? whole(rng) + 0.5f : value(rng));
  }
  return v;
}

// Each SIMD kernel set against the scalar one, on this processor (the MMX
// set runs wherever SSE does, so natively it is tested beside SSE2).
class LineSimdKernels : public ::testing::TestWithParam<SimdVariant> {
 protected:
  void SetUp() override {
    if (!GetParam().Runs()) GTEST_SKIP() << GetParam().name << " not available on this processor";
  }
  const line::Kernels& Simd() const { return *GetParam().kernels(); }
  static const line::Kernels& Scalar() { return line::ScalarKernels(); }
};

// The per-sample kernels on every length up to 72 (below one step, odd, not
// a multiple of 4 or 8) and on random longer ones; nothing past n changes.
TEST_P(LineSimdKernels, PerSampleKernelsMatchScalar) {
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> lengths(73, 300), byte(0, 255);
  std::vector<int32_t> ns;
  for (int32_t n = 1; n <= 72; ++n) ns.push_back(n);
  for (int round = 0; round < kRounds; ++round) ns.push_back(lengths(rng));
  for (const int32_t n : ns) {
    SCOPED_TRACE(testing::Message() << "n " << n);
    std::vector<uint8_t> frame(2 * n);
    for (uint8_t& b : frame) b = static_cast<uint8_t>(byte(rng));
    const std::vector<float> window = SpecialFloats(rng, n);
    std::vector<float> a(n + 4, 9.0f), b(n + 4, 9.0f);
    Scalar().lumaToFloats(frame.data(), window.data(), a.data(), n);
    Simd().lumaToFloats(frame.data(), window.data(), b.data(), n);
    ASSERT_EQ(0, std::memcmp(a.data(), b.data(), 4 * (n + 4)));

    const std::vector<float> in = SpecialFloats(rng, n);
    std::vector<float> inverse(n);
    for (float& f : inverse) f = 1.0f + (byte(rng) - 128) / 512.0f;
    std::vector<uint8_t> fa = frame, fb = frame;
    fa.resize(2 * n + 8, 0x5A);
    fb.resize(2 * n + 8, 0x5A);
    Scalar().floatsToLuma(in.data(), inverse.data(), fa.data(), n);
    Simd().floatsToLuma(in.data(), inverse.data(), fb.data(), n);
    ASSERT_EQ(fa, fb);
    for (int32_t x = 0; x < n; ++x) ASSERT_EQ(fa[2 * x + 1], frame[2 * x + 1]);

    std::vector<uint16_t> la(n + 8, 0xABCD), lb(n + 8, 0xABCD);
    Scalar().floatsToSamples(in.data(), inverse.data(), la.data(), n);
    Simd().floatsToSamples(in.data(), inverse.data(), lb.data(), n);
    ASSERT_EQ(la, lb);
    EXPECT_EQ(la[n], 0xABCD);

    std::vector<uint16_t> sa(n + 8, 0xABCD), sb(n + 8, 0xABCD);
    Scalar().lumaToSamples(frame.data(), sa.data(), n);
    Simd().lumaToSamples(frame.data(), sb.data(), n);
    ASSERT_EQ(sa, sb);
    for (int32_t x = 0; x < n; ++x) ASSERT_EQ(sa[x], frame[2 * x]);
    EXPECT_EQ(sb[n], 0xABCD);
  }
}

// Both resampling kernels on every common table and on random sizes.
TEST_P(LineSimdKernels, ResamplingMatchesScalar) {
  std::mt19937 rng(11);
  std::vector<SizeCase> cases(std::begin(kCommon), std::end(kCommon));
  std::uniform_int_distribution<int> sizes(16, 1100), byte(0, 255);
  for (int k = 0; k < kRounds / 10 + 6; ++k) cases.push_back({sizes(rng), sizes(rng), 0});
  for (const SizeCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.source << " -> " << c.destination);
    TablePtr t = MakeTable(c.source, c.destination);
    ASSERT_TRUE(t);
    std::vector<uint16_t> line(c.source);
    for (int pattern = 0; pattern < 3; ++pattern) {
      for (int32_t x = 0; x < c.source; ++x) {
        line[x] = pattern == 0 ? byte(rng) : (pattern == 1 ? ((x / 3) % 2) * 255 : (x % 2) * 255);
      }
      std::vector<float> window(c.destination);
      for (float& f : window) f = 0.08f + byte(rng) / 270.0f;
      std::vector<float> a(c.destination), b(c.destination);
      Scalar().resampleToFloats(*t, line.data(), window.data(), a.data());
      Simd().resampleToFloats(*t, line.data(), window.data(), b.data());
      ASSERT_EQ(0, std::memcmp(a.data(), b.data(), 4 * a.size()));
      std::vector<uint8_t> frame(2 * c.destination);
      for (uint8_t& x : frame) x = static_cast<uint8_t>(byte(rng));
      std::vector<uint8_t> fa = frame, fb = frame;
      Scalar().resampleToLuma(*t, line.data(), fa.data());
      Simd().resampleToLuma(*t, line.data(), fb.data());
      ASSERT_EQ(fa, fb);
      for (int32_t x = 0; x < c.destination; ++x) ASSERT_EQ(fa[2 * x + 1], frame[2 * x + 1]);
    }
  }
}

// Around every half and whole number of the byte range, one to four units in
// the last place either side, under each rounding mode of the caller: the
// SIMD rounding must agree with the scalar one bit for bit (inverse 1.0 keeps
// the products exact) and hand the caller's mode back.
#if defined(__i386__) || defined(__x86_64__)
TEST_P(LineSimdKernels, RoundingMatchesScalarNearHalvesInEveryMode) {
  std::vector<float> in;
  for (int k = -3; k <= 258; ++k) {
    for (float base : {static_cast<float>(k), k + 0.5f}) {
      float up = base, down = base;
      in.push_back(base);
      for (int step = 0; step < 4; ++step) {
        up = std::nextafter(up, 1e9f);
        down = std::nextafter(down, -1e9f);
        in.push_back(up);
        in.push_back(down);
      }
    }
  }
  const int32_t n = static_cast<int32_t>(in.size());
  const std::vector<float> ones(n, 1.0f);
  const unsigned original = _mm_getcsr();
  for (unsigned mode : {_MM_ROUND_NEAREST, _MM_ROUND_DOWN, _MM_ROUND_UP, _MM_ROUND_TOWARD_ZERO}) {
    SCOPED_TRACE(testing::Message() << "rounding mode " << std::hex << mode);
    _mm_setcsr((original & ~static_cast<unsigned>(_MM_ROUND_MASK)) | mode);
    std::vector<uint16_t> a(n), b(n);
    Scalar().floatsToSamples(in.data(), ones.data(), a.data(), n);
    Simd().floatsToSamples(in.data(), ones.data(), b.data(), n);
    std::vector<uint8_t> fa(2 * n, 0x33), fb(2 * n, 0x33);
    Scalar().floatsToLuma(in.data(), ones.data(), fa.data(), n);
    Simd().floatsToLuma(in.data(), ones.data(), fb.data(), n);
    const unsigned after = _mm_getcsr() & _MM_ROUND_MASK;
    _mm_setcsr(original);
    EXPECT_EQ(after, mode);
    for (int32_t i = 0; i < n; ++i) {
      ASSERT_EQ(a[i], b[i]) << in[i];
      ASSERT_EQ(a[i], line::FloatToLuma(in[i])) << in[i];
      ASSERT_EQ(fa[2 * i], fb[2 * i]) << in[i];
    }
    ASSERT_EQ(fa, fb);
  }
  EXPECT_EQ(line::FloatToLuma(2.5f), 2);
  EXPECT_EQ(line::FloatToLuma(std::nextafter(2.5f, 3.0f)), 3);
}
#endif

// After every kernel the x87 registers are empty, so x87 arithmetic that
// follows is exact. In the 32-bit build the MMX kernels use the real MMX
// registers; x86_64 compilers may carry the same intrinsics in SSE
// registers, where there is nothing to leave behind.
TEST_P(LineSimdKernels, LeaveX87RegistersEmpty) {
  TablePtr forward = MakeTable(720, 512), backward = MakeTable(512, 720);
  ASSERT_TRUE(forward && backward);
  std::vector<uint8_t> frame(2 * 720, 100);
  std::vector<uint16_t> source(720, 100), middle(512, 100);
  std::vector<float> window(720, 0.5f), rows(720, 50.0f);
  const line::Kernels& k = Simd();
  const struct {
    const char* name;
    std::function<void()> run;
  } calls[] = {
      {"lumaToFloats", [&] { k.lumaToFloats(frame.data(), window.data(), rows.data(), 720); }},
      {"resampleToFloats", [&] { k.resampleToFloats(*forward, source.data(), window.data(), rows.data()); }},
      {"floatsToLuma", [&] { k.floatsToLuma(rows.data(), window.data(), frame.data(), 720); }},
      {"floatsToSamples", [&] { k.floatsToSamples(rows.data(), window.data(), middle.data(), 512); }},
      {"resampleToLuma", [&] { k.resampleToLuma(*backward, middle.data(), frame.data()); }},
      {"lumaToSamples", [&] { k.lumaToSamples(frame.data(), source.data(), 720); }},
  };
  volatile long double three = 3.0L, half = 0.5L;
  x87::Empty();
  for (const auto& call : calls) {
    call.run();
    EXPECT_EQ(x87::TagWord(), 0xFFFF) << call.name;
    const long double product = x87::Product(three, half);
    EXPECT_EQ(product, 1.5L) << call.name;
    x87::Empty();  // one omission must not hide the next
  }
}

INSTANTIATE_TEST_SUITE_P(AllSets, LineSimdKernels, ::testing::ValuesIn(kSimdVariants),
                         [](const ::testing::TestParamInfo<SimdVariant>& info) { return info.param.name; });

// The probe above does see registers left in use: an MMX instruction without
// EMMS shows in the tag word (on x86 builds).
TEST(X87Probe, SeesRegistersLeftInUse) {
#if defined(__i386__) || defined(__x86_64__)
  x87::Empty();
  ASSERT_EQ(x87::TagWord(), 0xFFFF);
  x87::LeaveMmxInUse();
  const uint16_t inUse = x87::TagWord();
  x87::Empty();
  EXPECT_NE(inUse, 0xFFFF);
  EXPECT_EQ(x87::TagWord(), 0xFFFF);
#else
  GTEST_SKIP() << "no x87 registers on this processor";
#endif
}

// SSE2 where the processor has it, MMX with SSE where it has SSE only, the
// scalar kernels otherwise; unforced, the choice follows the processor (the
// 32-bit tests under an emulated Pentium III take the MMX set here).
TEST(LineKernelChoice, FollowsProcessorFeatures) {
  platform::OverrideCpuFeatures(nullptr);
  const platform::CpuFeatures detected = platform::Cpu();
  const line::Kernels* expected = &line::ScalarKernels();
  if (detected.sse2 && line::Sse2Kernels()) {
    expected = line::Sse2Kernels();
  } else if (detected.sse && line::MmxKernels()) {
    expected = line::MmxKernels();
  }
  EXPECT_EQ(&line::SelectKernels(), expected);

  platform::CpuFeatures none, sseOnly, sse2;
  sseOnly.sse = true;
  sse2.sse = sse2.sse2 = true;
  platform::OverrideCpuFeatures(&none);
  EXPECT_EQ(&line::SelectKernels(), &line::ScalarKernels());
  platform::OverrideCpuFeatures(&sseOnly);
  EXPECT_EQ(&line::SelectKernels(), line::MmxKernels() ? line::MmxKernels() : &line::ScalarKernels());
  platform::OverrideCpuFeatures(&sse2);
  EXPECT_EQ(&line::SelectKernels(), line::Sse2Kernels() ? line::Sse2Kernels() : &line::ScalarKernels());
  platform::OverrideCpuFeatures(nullptr);
}

}  // namespace
}  // namespace qrx
