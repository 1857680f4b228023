// The adaptive clip on synthetic spectra: peaks inside a strength-0 Dot's
// rectangle are flattened to the border mean with their phase kept.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "filter/filter_list.h"
#include "filter/mask_builder.h"
#include "mask_test_engine.h"
#include "transform/fft_engine.h"

namespace qrx {
namespace {

using testing_mask::MakeEngine;
using testing_mask::Spec;

// Background elements of magnitude exactly 5 with varying phase.
const float kBackground[][2] = {{3, 4}, {4, 3}, {-3, 4}, {5, 0}, {0, -5}, {-4, -3}};

class MaskClip : public ::testing::Test {
 protected:
  void SetUp() override {
    engine_ = MakeEngine();
    ASSERT_NE(engine_, nullptr);
    M = engine_->Rows();
    pitch = engine_->Pitch();
    bins = engine_->Bins();
    float* s = engine_->Spectrum();
    for (int32_t i = 0; i < M * pitch; ++i) {
      s[2 * i] = kBackground[i % 6][0];
      s[2 * i + 1] = kBackground[i % 6][1];
    }
  }
  float* At(int32_t q, int32_t k) { return engine_->Spectrum() + 2 * (q * pitch + k); }
  std::vector<float> Snapshot() {
    return std::vector<float>(engine_->Spectrum(), engine_->Spectrum() + 2 * M * pitch);
  }
  void Clip(std::initializer_list<FilterSpec> specs) {
    FilterList list;
    for (const FilterSpec& s : specs) list.Append(s);
    AdaptiveClip(list, engine_.get());
  }
  // Count of floats that differ bit for bit from the snapshot.
  int32_t Differences(const std::vector<float>& before) {
    int32_t n = 0;
    for (size_t i = 0; i < before.size(); ++i) {
      n += std::memcmp(&before[i], engine_->Spectrum() + i, sizeof(float)) != 0;
    }
    return n;
  }

  std::unique_ptr<FftEngine> engine_;
  int32_t M = 0, pitch = 0, bins = 0;
};

TEST_F(MaskClip, PeakInsideIsFlattenedToBorderMeanWithPhaseKept) {
  const int32_t Fx = 600, Fy = -700, Wx = 300, Wy = 200;
  const int32_t c = engine_->FreqToColumn(Fx), r = engine_->FreqToRow(Fy);
  const int32_t w = engine_->WidthToColumns(Wx), h = engine_->WidthToRows(Wy);
  ASSERT_GE(w, 4);
  ASSERT_GE(h, 4);
  const int32_t x0 = c - w / 2, x1 = x0 + w, y0 = r - h / 2;
  // The border gets two levels so the mean is not a background value:
  // row y0 magnitude 10 (6, 8), everything else on the border 5.
  for (int32_t k = x0; k <= x1; ++k) {
    At(y0, k)[0] = 6;
    At(y0, k)[1] = -8;
  }
  const double perimeter = 2.0 * (w + 1) + 2.0 * (h - 1);
  const double mean = (10.0 * (w + 1) + 5.0 * (perimeter - (w + 1))) / perimeter;
  // Peaks inside: one strong, one just above the mean, one just below it.
  At(r, c)[0] = 300;
  At(r, c)[1] = -400;
  At(r + 1, c + 1)[0] = (float)(mean * 1.01);
  At(r + 1, c + 1)[1] = 0;
  At(r - 1, c - 1)[0] = 0;
  At(r - 1, c - 1)[1] = (float)(mean * 0.99);
  const std::vector<float> before = Snapshot();

  Clip({Spec(0, Fx, Fy, Wx, Wy, 2, 0)});

  EXPECT_NEAR(At(r, c)[0], mean * 0.6, 1e-5);
  EXPECT_NEAR(At(r, c)[1], -mean * 0.8, 1e-5);
  EXPECT_NEAR(At(r + 1, c + 1)[0], mean, 1e-5);
  EXPECT_EQ(At(r + 1, c + 1)[1], 0.0f);
  EXPECT_EQ(At(r - 1, c - 1)[1], (float)(mean * 0.99));
  // The border row above the mean lies inside the rectangle too.
  for (int32_t k = x0; k <= x1; ++k) {
    EXPECT_NEAR(At(y0, k)[0], mean * 0.6, 1e-5);
    EXPECT_NEAR(At(y0, k)[1], -mean * 0.8, 1e-5);
  }
  // re and im of the strong peak and the border row, re of the weak peak.
  EXPECT_EQ(Differences(before), 3 + 2 * (w + 1));
}

TEST_F(MaskClip, PeakFreeRectangleAndOtherFiltersChangeNothing) {
  const int32_t c = engine_->FreqToColumn(500), r = engine_->FreqToRow(300);
  At(r, c)[0] = 1000;  // a peak that only the clip could touch
  const std::vector<float> before = Snapshot();
  // Not clip filters: strength not 0, disabled, other shapes.
  Clip({Spec(0, 500, 300, 400, 400, 2, -20), Spec(0, 500, 300, 400, 400, 2, 0, 0),
        Spec(1, 500, 300, 400, 400, 2, 0), Spec(2, 500, 300, 400, 400, 2, 0)});
  EXPECT_EQ(Differences(before), 0);
  // A clip rectangle elsewhere, over background only.
  Clip({Spec(0, 900, -1000, 300, 300, 2, 0)});
  EXPECT_EQ(Differences(before), 0);
}

TEST_F(MaskClip, DegenerateRectanglesChangeNothing) {
  const int32_t c = engine_->FreqToColumn(500), r = engine_->FreqToRow(300);
  At(r, c)[0] = 1000;
  const std::vector<float> before = Snapshot();
  // w = h = 0: the single cell is its own border.
  ASSERT_EQ(engine_->WidthToColumns(5), 0);
  ASSERT_EQ(engine_->WidthToRows(5), 0);
  Clip({Spec(0, 500, 300, 5, 5, 2, 0), Spec(0, 500, 300, 0, 0, 2, 0)});
  EXPECT_EQ(Differences(before), 0);
  // Negative widths give x1 < x0 or y1 < y0.
  Clip({Spec(0, 500, 300, -300, -300, 2, 0), Spec(0, 500, 300, -300, 300, 2, 0),
        Spec(0, 500, 300, 300, -300, 2, 0)});
  EXPECT_EQ(Differences(before), 0);
}

TEST_F(MaskClip, OneColumnRectangleCountsItsInnerCellsTwice) {
  // w = 0, h > 0: rows y0 and y1 contribute one cell each, the column cells
  // between them are on both side lines.
  const int32_t c = engine_->FreqToColumn(500), r = engine_->FreqToRow(-400);
  const int32_t h = engine_->WidthToRows(100);
  ASSERT_GE(h, 3);
  const int32_t y0 = r - h / 2, y1 = y0 + h;
  for (int32_t q = y0; q <= y1; ++q) {
    At(q, c)[0] = 5;
    At(q, c)[1] = 0;
  }
  At(y0, c)[0] = 50;  // ends: once each
  At(r, c)[0] = 200;  // inner: twice
  ASSERT_NE(r, y0);
  const double count = 2 + 2.0 * (h - 1);
  const double mean = (50.0 + 5.0 + 2 * 200.0 + 2 * 5.0 * (h - 2)) / count;
  Clip({Spec(0, 500, -400, 5, 100, 2, 0)});
  EXPECT_NEAR(At(r, c)[0], mean, 1e-4);
  EXPECT_NEAR(At(y0, c)[0], mean, 1e-4);
  EXPECT_EQ(At(y1, c)[0], 5.0f);
}

TEST_F(MaskClip, RectanglesAtTheEdgesAreClampedInside) {
  // Rectangles reaching over every edge of the spectrum (and extreme values
  // whose conversions fail): no access outside, and the clip never raises
  // a magnitude.
  At(1, 1)[0] = 900;
  At(M - 2, bins - 2)[1] = 900;
  const std::vector<float> before = Snapshot();
  const int32_t nyquist = engine_->RowRateKHz() / 2, half = engine_->ColRateKHz() / 2;
  Clip({Spec(0, 0, 0, 100000, 100000, 2, 0), Spec(0, nyquist, half - 50, 500, 500, 2, 0),
        Spec(0, 0, -half, 500, 500, 2, 0), Spec(0, nyquist + 5000, 0, 300, 300, 2, 0),
        Spec(0, INT32_MAX, INT32_MIN, INT32_MAX, INT32_MAX, 2, 0),
        Spec(0, INT32_MIN, INT32_MAX, INT32_MIN, INT32_MIN, 2, 0)});
  int32_t raised = 0;
  for (int32_t i = 0; i < M * pitch; ++i) {
    const float* s = engine_->Spectrum() + 2 * i;
    raised += std::hypot(s[0], s[1]) > std::hypot(before[2 * i], before[2 * i + 1]) + 1e-4;
  }
  EXPECT_EQ(raised, 0);
  // The first rectangle covers everything and its border is background only.
  EXPECT_NEAR(std::hypot(At(1, 1)[0], At(1, 1)[1]), 5.0, 1e-4);
  EXPECT_NEAR(std::hypot(At(M - 2, bins - 2)[0], At(M - 2, bins - 2)[1]), 5.0, 1e-4);
}

TEST_F(MaskClip, NonFiniteCellsAndBordersAreLeftAlone) {
  const int32_t c = engine_->FreqToColumn(500), r = engine_->FreqToRow(300);
  const int32_t w = engine_->WidthToColumns(300);
  At(r, c)[0] = INFINITY;
  At(r, c + 1)[0] = 400;
  Clip({Spec(0, 500, 300, 300, 300, 2, 0)});
  EXPECT_TRUE(std::isinf(At(r, c)[0]));
  EXPECT_NEAR(At(r, c + 1)[0], 5.0, 1e-4);
  // An infinite border makes the mean useless: nothing changes.
  At(r, c - w / 2)[1] = INFINITY;
  At(r, c + 1)[0] = 400;
  Clip({Spec(0, 500, 300, 300, 300, 2, 0)});
  EXPECT_EQ(At(r, c + 1)[0], 400.0f);
}

}  // namespace
}  // namespace qrx
