// The mask shapes, their composition and the normalisation, checked against
// worked values and an independent long double evaluation of the weights.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
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

class MaskShapes : public ::testing::Test {
 protected:
  void SetUp() override {
    engine_ = MakeEngine();
    ASSERT_NE(engine_, nullptr);
    builder_.reset(new MaskBuilder(engine_->Pitch(), engine_->Bins(), engine_->Rows(),
                                   engine_.get()));
    ASSERT_TRUE(builder_->IsUsable());
    M = engine_->Rows();
    pitch = engine_->Pitch();
    bins = engine_->Bins();
    dc = (M / 2) * pitch;
  }

  // Fresh all-ones table for driving one shape directly.
  float* Ones() {
    float* t = builder_->BuildTable();
    for (int32_t i = 0; i < M * pitch; ++i) t[i] = 1.0f;
    return t;
  }
  std::vector<float> Copy(const float* t) const { return std::vector<float>(t, t + M * pitch); }
  float Rebuild(std::initializer_list<FilterSpec> specs) {
    FilterList list;
    for (const FilterSpec& s : specs) list.Append(s);
    return builder_->Rebuild(list);
  }
  void ExpectAllOnes(const float* t) {
    int32_t bad = 0;
    for (int32_t i = 0; i < M * pitch; ++i) bad += t[i] != 1.0f;
    EXPECT_EQ(bad, 0);
  }

  std::unique_ptr<FftEngine> engine_;
  std::unique_ptr<MaskBuilder> builder_;
  int32_t M = 0, pitch = 0, bins = 0, dc = 0;
};

TEST_F(MaskShapes, ListsThatDoNothingGiveOnesAndUnitGain) {
  EXPECT_EQ(Rebuild({}), 1.0f);
  ExpectAllOnes(builder_->BuildTable());
  // Disabled filters of every shape, strength 0 and an unknown shape.
  EXPECT_EQ(Rebuild({Spec(0, 0, 0, 2000, 2000, 2, -40, 0), Spec(1, 0, 0, 500, 0, 2, -40, 0),
                     Spec(2, 1000, 1000, 300, 300, 2, -40, 0)}),
            1.0f);
  ExpectAllOnes(builder_->BuildTable());
  EXPECT_EQ(Rebuild({Spec(0, 0, 0, 2000, 2000, 2, 0), Spec(1, 0, 0, 500, 0, 2, 0),
                     Spec(2, 1000, 1000, 300, 300, 2, 0), Spec(3, 0, 0, 2000, 2000, 2, -40),
                     Spec(-1, 0, 0, 2000, 2000, 2, -40)}),
            1.0f);
  ExpectAllOnes(builder_->BuildTable());
}

TEST_F(MaskShapes, ExtentsConvertingToZeroLeaveTheTableAlone) {
  // A width of a few kHz is less than half a bin on both axes.
  ASSERT_EQ(engine_->WidthToColumns(5), 0);
  ASSERT_EQ(engine_->WidthToRows(5), 0);
  ASSERT_GT(engine_->WidthToColumns(500), 0);
  ASSERT_GT(engine_->WidthToRows(500), 0);
  const struct { int32_t Wx, Wy; } dots[] = {{11, 1000}, {1000, 11}, {1, 1}, {-1, 1000}};
  for (const auto& d : dots) {
    Ones();
    builder_->ApplyDot(0, 0, d.Wx, d.Wy, 2, -40);
    ExpectAllOnes(builder_->BuildTable());
  }
  const struct { int32_t Fx, Fy, Wx, Wy; } rings[] = {
      {5, 1000, 300, 300}, {1000, 5, 300, 300}, {1000, -5, 300, 300},
      {1000, 1000, 5, 300}, {1000, 1000, 300, 5}};
  for (const auto& r : rings) {
    Ones();
    builder_->ApplyWin2D(r.Fx, r.Fy, r.Wx, r.Wy, 2, -40);
    ExpectAllOnes(builder_->BuildTable());
  }
}

TEST_F(MaskShapes, DotOnZeroFrequencyRaisesEverythingElse) {
  float* t = Ones();
  builder_->ApplyDot(0, 0, 400, 400, 2, -20);
  EXPECT_EQ(t[dc], 0.1f);
  EXPECT_EQ(Rebuild({Spec(0, 0, 0, 400, 400, 2, -20)}), 10.0f);
  t = builder_->BuildTable();
  EXPECT_EQ(t[dc], 1.0f);
  const int32_t far[] = {0, bins - 1, (M - 1) * pitch, (M - 1) * pitch + bins - 1};
  for (int32_t i : far) {
    EXPECT_NEAR(t[i], 10.0f, 0.01f) << i;
    EXPECT_LE(t[i], 10.0f) << i;
  }
}

TEST_F(MaskShapes, Win1DOnColumnZeroGivesStrengthOnEveryRow) {
  float* t = Ones();
  const double m = std::pow(10.0, -12 * 0.05);
  builder_->ApplyWin1D(0, 500, 2, -12);
  for (int32_t q = 0; q < M; ++q) ASSERT_EQ(t[q * pitch], (float)m) << q;
  // Other columns lie outside the band's centre: weights above m, below 1.
  EXPECT_GT(t[1], (float)m);
  EXPECT_LT(t[1], 1.0f);
  EXPECT_EQ(Rebuild({Spec(1, 0, 777, 500, 999, 2, -12)}), (float)(1.0 / (double)(float)m));
  EXPECT_EQ(builder_->BuildTable()[dc], 1.0f);
}

TEST_F(MaskShapes, Win1DActsOnItsCentreColumnOnly) {
  // Width 0: every column but the centre gets D = 1 (weight exactly 1).
  float* t = Ones();
  const int32_t c0 = engine_->FreqToColumn(800);
  ASSERT_LT(c0, bins);
  builder_->ApplyWin1D(800, 0, 3, -20);
  for (int32_t k = 0; k < bins; ++k) {
    EXPECT_EQ(t[5 * pitch + k], k == c0 ? 0.1f : 1.0f) << k;
  }
}

TEST_F(MaskShapes, Win2DKeepsZeroFrequencyAndHitsItsRing) {
  const int32_t Fx = 1000, Fy = -1300;
  const int32_t Rx = engine_->WidthToColumns(Fx), Ry = engine_->WidthToRows(1300);
  ASSERT_NE(Rx, Ry);  // an ellipse, not a circle
  ASSERT_LT(Ry, M / 2);
  ASSERT_LT(Rx, bins);
  float* t = Ones();
  const double m = std::pow(10.0, -30 * 0.05);
  builder_->ApplyWin2D(Fx, Fy, 400, 600, 2, -30);
  EXPECT_EQ(t[dc], 1.0f);
  // On the vertical axis the ring's radius is exactly Ry.
  EXPECT_EQ(t[(M / 2 + Ry) * pitch], (float)m);
  EXPECT_EQ(t[(M / 2 - Ry) * pitch], (float)m);
  // On the horizontal axis it is Rx, up to rounding of the direction.
  EXPECT_NEAR(t[dc + Rx], m, 1e-6);
  // Inside and outside the ring the weight moves back towards 1.
  EXPECT_GT(t[dc + Rx / 4], 0.9f);
  EXPECT_EQ(Rebuild({Spec(2, Fx, Fy, 400, 600, 2, -30)}), 1.0f);
}

TEST_F(MaskShapes, IdenticalFiltersSquareAndOrderDoesNotMatter) {
  const FilterSpec a = Spec(0, 700, -900, 600, 700, 3, -25);
  const FilterSpec b = Spec(1, 900, 0, 300, 0, 2, -15);
  const FilterSpec c = Spec(2, 800, 1200, 300, 500, 2, -20);
  for (const FilterSpec& f : {a, b, c}) {
    float* t = Ones();
    if (f.T == 0) builder_->ApplyDot(f.Fx, f.Fy, f.Wx, f.Wy, f.O, f.S);
    if (f.T == 1) builder_->ApplyWin1D(f.Fx, f.Wx, f.O, f.S);
    if (f.T == 2) builder_->ApplyWin2D(f.Fx, f.Fy, f.Wx, f.Wy, f.O, f.S);
    const std::vector<float> once = Copy(t);
    if (f.T == 0) builder_->ApplyDot(f.Fx, f.Fy, f.Wx, f.Wy, f.O, f.S);
    if (f.T == 1) builder_->ApplyWin1D(f.Fx, f.Wx, f.O, f.S);
    if (f.T == 2) builder_->ApplyWin2D(f.Fx, f.Fy, f.Wx, f.Wy, f.O, f.S);
    int32_t bad = 0, changed = 0;
    for (int32_t q = 0; q < M; ++q) {
      for (int32_t k = 0; k < bins; ++k) {
        const int32_t i = q * pitch + k;
        changed += once[i] < 0.99f;
        bad += std::fabs(t[i] - once[i] * once[i]) > 4e-7f * once[i] * once[i];
      }
    }
    EXPECT_EQ(bad, 0) << "shape " << f.T;
    EXPECT_GT(changed, 0) << "shape " << f.T;
  }
  const float g1 = Rebuild({a, b, c});
  const std::vector<float> abc = Copy(builder_->BuildTable());
  const float g2 = Rebuild({c, a, b});
  const float* cab = builder_->BuildTable();
  EXPECT_NEAR(g1, g2, 1e-6f * g1);
  int32_t bad = 0;
  for (int32_t i = 0; i < M * pitch; ++i) bad += std::fabs(abc[i] - cab[i]) > 1e-6f * abc[i];
  EXPECT_EQ(bad, 0);
}

// The weights written out again, in long double and in another algebraic
// form (the ellipse radius as a b / sqrt(a^2 sin^2 + b^2 cos^2)).
long double RefDot(const FftEngine& e, const FilterSpec& f, int32_t q, int32_t k) {
  const long double a = e.WidthToColumns(f.Wx / 2), b = e.WidthToRows(f.Wy / 2);
  const long double dx = k - e.FreqToColumn(f.Fx), dy = q - e.FreqToRow(f.Fy);
  const long double m = powl(10.0L, f.S / 20.0L);
  if (dx == 0 && dy == 0) return m;
  const long double ratio = a * a * b * b / (a * a * dy * dy + b * b * dx * dx);
  const long double D = 1 / (1 + powl(ratio, f.O));
  return m + D * (1 - m);
}

long double RefWin1D(const FftEngine& e, const FilterSpec& f, int32_t k) {
  const long double c0 = e.FreqToColumn(f.Fx), W = e.WidthToColumns(f.Wx);
  const long double m = powl(10.0L, f.S / 20.0L);
  const long double t = (long double)k * k - c0 * c0;
  if (t == 0) return m;
  const long double D = 1 / (1 + powl(k * W / t, 2.0L * f.O));
  return m + D * (1 - m);
}

long double RefWin2D(const FftEngine& e, const FilterSpec& f, int32_t q, int32_t k) {
  const long double Rx = e.WidthToColumns(f.Fx), Ry = e.WidthToRows(std::abs(f.Fy));
  const long double Wc = e.WidthToColumns(f.Wx), Wr = e.WidthToRows(f.Wy);
  const long double m = powl(10.0L, f.S / 20.0L);
  const long double v = q - e.Rows() / 2;
  const long double d2 = v * v + (long double)k * k;
  if (d2 == 0) return 1;
  const long double R2 = Rx * Rx * Ry * Ry * d2 / (Rx * Rx * v * v + Ry * Ry * k * k);
  const long double W2 = Wc * Wc * Wr * Wr * d2 / (Wc * Wc * v * v + Wr * Wr * k * k);
  const long double t = d2 - R2;
  if (t == 0) return m;
  const long double D = 1 / (1 + powl(d2 * W2 / (t * t), f.O));
  return m + D * (1 - m);
}

TEST_F(MaskShapes, MatchesIndependentLongDoubleEvaluation) {
  const FilterSpec dot = Spec(0, 600, -1100, 500, 700, 3, -30);
  const FilterSpec band = Spec(1, 1000, 0, 300, 0, 2, -18);
  const FilterSpec ring = Spec(2, 700, -1500, 250, 400, 2, -24);
  const FilterSpec dcDot = Spec(0, 0, 0, 300, 300, 1, -6);  // moves the gain off 1
  const float g = Rebuild({dot, band, ring, dcDot});
  const float* t = builder_->BuildTable();
  auto ref = [&](int32_t q, int32_t k) {
    return RefDot(*engine_, dot, q, k) * RefWin1D(*engine_, band, k) *
           RefWin2D(*engine_, ring, q, k) * RefDot(*engine_, dcDot, q, k);
  };
  const long double dcWeight = ref(M / 2, 0);
  EXPECT_NEAR(g, (double)(1 / dcWeight), 1e-6 * g);
  int32_t bad = 0;
  long double worst = 0;
  for (int32_t q = 0; q < M; ++q) {
    for (int32_t k = 0; k < bins; ++k) {
      const long double want = ref(q, k) / dcWeight;
      const long double err = fabsl(t[q * pitch + k] - want) / want;
      if (err > worst) worst = err;
      bad += err > 1e-6L;
    }
  }
  EXPECT_EQ(bad, 0) << "worst relative error " << (double)worst;
  EXPECT_EQ(t[dc], 1.0f);
}

TEST_F(MaskShapes, StrongFiltersOnZeroFrequencyStayFinite) {
  // Six Dots of -160 dB drive the zero-frequency weight to 0 in float: the
  // mask is then left unnormalised.
  const FilterSpec strong = Spec(0, 0, 0, 2000, 2000, 2, -160);
  const float g = Rebuild({strong, strong, strong, strong, strong, strong});
  EXPECT_EQ(g, 1.0f);
  const float* t = builder_->BuildTable();
  int32_t bad = 0;
  for (int32_t i = 0; i < M * pitch; ++i) bad += !std::isfinite(t[i]) || t[i] < 0.0f;
  EXPECT_EQ(bad, 0);
  EXPECT_EQ(t[dc], 0.0f);

  // A tiny but normal zero-frequency weight gives a finite, huge gain; boosted
  // cells would overflow and are zeroed rather than left infinite.
  const FilterSpec boost = Spec(1, 1000, 0, 300, 0, 2, 20);
  const float g2 = Rebuild({strong, strong, strong, strong, Spec(0, 0, 0, 2000, 2000, 2, -100),
                            boost, boost});
  EXPECT_TRUE(std::isfinite(g2));
  EXPECT_GT(g2, 1e36f);
  t = builder_->BuildTable();
  bad = 0;
  for (int32_t i = 0; i < M * pitch; ++i) bad += !std::isfinite(t[i]);
  EXPECT_EQ(bad, 0);
  EXPECT_NEAR(t[dc], 1.0f, 1e-6f);
}

TEST(MaskBuilderSetup, BadSizesMakeAnUnusableBuilder) {
  std::unique_ptr<FftEngine> engine = MakeEngine();
  ASSERT_NE(engine, nullptr);
  const int32_t p = engine->Pitch(), b = engine->Bins(), r = engine->Rows();
  struct { int32_t pitch, bins, rows; FftEngine* engine; } cases[] = {
      {0, 0, 0, engine.get()},       {p, b, r, nullptr},        {p, b, r + 2, engine.get()},
      {p - 2, b, r, engine.get()},   {p, b, 0, engine.get()},   {-p, b, r, engine.get()},
      {p, b, 3, engine.get()},       {p, p + 1, r, engine.get()}};
  for (const auto& c : cases) {
    MaskBuilder builder(c.pitch, c.bins, c.rows, c.engine);
    EXPECT_FALSE(builder.IsUsable());
    FilterList list;
    list.Append(Spec(0, 0, 0, 2000, 2000, 2, -20));
    builder.SetFilters(list);
    EXPECT_EQ(builder.Rebuild(list), 1.0f);
    builder.ApplyDot(0, 0, 2000, 2000, 2, -20);
    builder.ApplyWin1D(0, 500, 2, -20);
    builder.ApplyWin2D(1000, 1000, 300, 300, 2, -20);
    EXPECT_EQ(builder.PassesCompleted(), 0);
  }
  // Nothing reached the engine: its mask is still the initial one.
  const float* mask = engine->CurrentMask();
  int32_t bad = 0;
  for (int32_t i = 0; i < r * p; ++i) bad += mask[i] != 1.0f;
  EXPECT_EQ(bad, 0);
}

}  // namespace
}  // namespace qrx
