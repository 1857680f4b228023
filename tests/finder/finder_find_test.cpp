// The finder on pictures with known gratings and on bad input: a weak
// grating beside a strong one gets its own Dot; constant frames and noise
// get none; a picture of nothing but stripes gets a bounded number.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "finder/interference_finder.h"
#include "finder/magnitude_average.h"
#include "finder_test_support.h"
#include "transform/fft_engine.h"

namespace {

using qrx::test::Grating;

std::vector<qrx::FoundFilter> FindIn(const std::vector<std::vector<double>>& frames) {
  qrx::MagnitudeAverage average(qrx::FrameFormatRecord{qrx::test::kWidth, qrx::test::kHeight, 0, 0},
                                qrx::test::kFftLine);
  EXPECT_TRUE(average.IsUsable());
  for (const std::vector<double>& luma : frames) {
    const std::vector<uint8_t> frame = qrx::test::Frame(luma);
    average.Add(frame.data());
  }
  return qrx::FindInterference(average);
}

// Whether a Dot of the list sits within a cell of the grating's peak.
bool HasDotOn(const std::vector<qrx::FoundFilter>& found, const Grating& g, int32_t rows) {
  for (const qrx::FoundFilter& f : found)
    if (std::fabs(f.column - g.column) <= 1.0 && std::fabs(f.row - (rows / 2 - g.row)) <= 1.0) return true;
  return false;
}

TEST(InterferenceFinder, GivesAWeakGratingBesideAStrongOneItsOwnDot) {
  const double scale = qrx::test::kFftLine / 512.0;
  const Grating strong{80.4 * scale, 60.3 * scale, 20.0, 0.3}, weak{130.7 * scale, -40.6 * scale, 3.5, 1.1};
  std::vector<std::vector<double>> frames;
  for (int32_t shift : {0, 8, 16}) {
    std::vector<double> luma = qrx::test::Picture(shift);
    qrx::test::AddGrating(&luma, strong);
    qrx::test::AddGrating(&luma, weak);
    frames.push_back(luma);
  }
  const std::vector<qrx::FoundFilter> found = FindIn(frames);
  const int32_t rows = qrx::test::RowsM();
  EXPECT_EQ(found.size(), 2u);
  EXPECT_TRUE(HasDotOn(found, strong, rows));
  EXPECT_TRUE(HasDotOn(found, weak, rows));
}

TEST(InterferenceFinder, BadInput) {
  const size_t pixels = static_cast<size_t>(qrx::test::kWidth) * qrx::test::kHeight;
  // Frames of one value, black, mid-grey and white.
  for (double value : {0.0, 128.0, 255.0}) {
    SCOPED_TRACE(value);
    EXPECT_TRUE(FindIn({std::vector<double>(pixels, value)}).empty());
  }
  // Pure noise, a few frames of it.
  std::vector<std::vector<double>> noise;
  uint32_t seed = 12345;
  for (int f = 0; f < 3; ++f) {
    std::vector<double> luma(pixels);
    for (double& v : luma) {
      seed = seed * 1664525u + 1013904223u;
      v = 128.0 + 60.0 * (static_cast<double>(seed >> 8) / 16777216.0 - 0.5);
    }
    noise.push_back(luma);
  }
  EXPECT_TRUE(FindIn(noise).empty());
  // A test card: nothing but stripes, bands of bars of many frequencies
  // and a zone plate's rings; no crash, and no more filters than allowed.
  std::vector<double> card(pixels);
  for (int32_t y = 0; y < qrx::test::kHeight; ++y)
    for (int32_t x = 0; x < qrx::test::kWidth; ++x) {
      const double u = static_cast<double>(x) / qrx::test::kWidth, v = static_cast<double>(y) / qrx::test::kHeight;
      const int band = static_cast<int>(v * 6);
      const double bars = std::cos(2.0 * qrx::test::kTestPi * (20 + 35 * band) * u) > 0 ? 60.0 : -60.0;
      const double rings =
          50.0 * std::cos(2.0 * qrx::test::kTestPi * 300.0 * ((u - 0.5) * (u - 0.5) + (v - 0.5) * (v - 0.5)));
      card[static_cast<size_t>(y) * qrx::test::kWidth + x] = 128.0 + (u < 0.5 ? bars : rings);
    }
  const std::vector<qrx::FoundFilter> found = FindIn({card});
  EXPECT_LE(found.size(), static_cast<size_t>(qrx::FinderLimits().maxFilters + 1));
  // A size the filter refuses: nothing, and no crash.
  qrx::MagnitudeAverage refused(qrx::FrameFormatRecord{1, 1, 0, 0}, qrx::test::kFftLine);
  EXPECT_FALSE(refused.IsUsable());
  EXPECT_TRUE(qrx::FindInterference(refused).empty());
}

}  // namespace
