// The window's axes and the notch model, against the filter's real
// pipeline: what the finder predicts a Dot removes of a grating between
// bins is what the plug-in's own transform removes, wherever the grating
// sits relative to the bins.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "finder/dot_designer.h"
#include "finder/interference_finder.h"
#include "finder/magnitude_average.h"
#include "finder/notch_model.h"
#include "finder/peak_finder.h"
#include "finder/sampled_inverse.h"
#include "finder_test_support.h"
#include "transform/fft_engine.h"

namespace {

using qrx::test::Grating;

// Offsets read back from magnitudes that follow the window's own
// transform; the weights of a whole period add up to 1 (a mask of zeros
// takes the whole pattern).
TEST(WindowAxis, ReadsOffsetsAndSharesThePattern) {
  qrx::MagnitudeAverage average(qrx::FrameFormatRecord{qrx::test::kWidth, qrx::test::kHeight, 0, 0},
                                qrx::test::kFftLine, 0, 1);
  ASSERT_TRUE(average.IsUsable());
  for (const qrx::WindowAxis& axis :
       {qrx::WindowAxis::Rows(average.Engine()), qrx::WindowAxis::Columns(average.Engine())}) {
    for (double f : {-0.5, -0.31, -0.1, 0.0, 0.2, 0.33, 0.49}) {
      SCOPED_TRACE(f);
      const double left = std::abs(axis.Transform(-1.0 - f)), mid = std::abs(axis.Transform(-f)),
                   right = std::abs(axis.Transform(1.0 - f));
      EXPECT_NEAR(axis.Offset(left, mid, right), f, 0.01);
      double sum = 0.0;
      for (int32_t d = 0; d < axis.Length(); ++d) sum += axis.Weight(d - f);
      EXPECT_NEAR(sum, 1.0, 1e-6);
    }
    // Not a maximum: no offset.
    EXPECT_EQ(axis.Offset(3.0, 2.0, 1.0), 0.0);
  }
}

// A grating between bins on a picture, one frame: the finder's Dot, its
// predicted removal, and the removal measured through FramePipeline over a
// grid of positions and amplitudes. Within 3 dB everywhere (down to what
// 8-bit output can show), and at least the 20 dB the finder aims for.
TEST(NotchModel, PredictsTheRemovalMeasuredThroughThePipeline) {
#ifdef QRX_SMALL_TESTS
  const std::vector<double> offsetsK = {0.0, 0.5}, offsetsQ = {0.33}, amplitudes = {12.0};
  const double column = 37.0, row = 45.0;
#else
  const std::vector<double> offsetsK = {0.0, 0.25, 0.5}, offsetsQ = {0.0, 0.33, 0.5}, amplitudes = {3.0, 12.0, 30.0};
  const double column = 73.0, row = 90.0;
#endif
  double worst = 0.0, sum = 0.0, sumSquares = 0.0;
  int cases = 0;
  for (double amplitude : amplitudes)
    for (double fk : offsetsK)
      for (double fq : offsetsQ) {
        const Grating g{column + fk, row + fq, amplitude, 0.9};
        char name[96];
        std::snprintf(name, sizeof(name), "grating at column %.2f, row %.2f, amplitude %.0f", g.column, g.row,
                      amplitude);
        SCOPED_TRACE(name);
        const std::vector<double> clean = qrx::test::Picture();
        std::vector<double> luma = clean;
        qrx::test::AddGrating(&luma, g);
        const std::vector<uint8_t> cleanFrame = qrx::test::Frame(clean), input = qrx::test::Frame(luma);
        qrx::MagnitudeAverage average(qrx::FrameFormatRecord{qrx::test::kWidth, qrx::test::kHeight, 0, 0},
                                      qrx::test::kFftLine);
        average.Add(input.data());
        const std::vector<qrx::FoundFilter> found = qrx::FindInterference(average);
        ASSERT_EQ(found.size(), 1u);
        const std::vector<uint8_t> output = qrx::test::Filtered(input, qrx::ToFilterList(found));
        ASSERT_FALSE(output.empty());
        const double measured = 20.0 * std::log10(qrx::test::AmplitudeIn(input, cleanFrame, g) /
                                                  qrx::test::AmplitudeIn(output, cleanFrame, g));
        // The output is whole levels: a remainder below a tenth of a level is
        // rounded away or grown into noise, so neither side counts beyond.
        const double floor = 20.0 * std::log10(amplitude / 0.1);
        const double error = std::min(found[0].predictedDb, floor) - std::min(measured, floor);
        EXPECT_LE(std::fabs(error), 3.0) << "predicted " << found[0].predictedDb << " dB, measured " << measured;
        EXPECT_GE(measured, 20.0);
        std::printf(
            "  column %6.2f row %6.2f amplitude %4.1f: Dot %d x %d kHz O %d S %d, predicted %5.1f dB, measured %5.1f "
            "dB\n",
            g.column, g.row, amplitude, found[0].spec.Wx, found[0].spec.Wy, found[0].spec.O, found[0].spec.S,
            found[0].predictedDb, measured);
        worst = std::max(worst, std::fabs(error));
        // The model alone for a narrow Dot of 150 kHz, order 3, -60 dB on the
        // same cell, which leaves far more of an off-bin pattern.
        const qrx::FftEngine& e = average.Engine();
        const qrx::FilterSpec narrow{1, found[0].spec.Fx, found[0].spec.Fy, 150, 150, 3, -60, qrx::kShapeDot};
        const qrx::DotShape shape{e.WidthToColumns(75), e.WidthToRows(75), 3, -60};
        const qrx::WindowAxis rows = qrx::WindowAxis::Rows(e), columns = qrx::WindowAxis::Columns(e);
        const qrx::NotchModel model(rows, columns, g.column - found[0].column, (e.Rows() / 2 - g.row) - found[0].row,
                                    40, 70, found[0].column, false);
        qrx::FilterList list;
        list.Append(narrow);
        const std::vector<uint8_t> narrowOutput = qrx::test::Filtered(input, list);
        const double narrowMeasured = 20.0 * std::log10(qrx::test::AmplitudeIn(input, cleanFrame, g) /
                                                        qrx::test::AmplitudeIn(narrowOutput, cleanFrame, g));
        const double narrowError = std::min(model.RemovalDb(shape), floor) - std::min(narrowMeasured, floor);
        EXPECT_LE(std::fabs(narrowError), 3.0)
            << "150 kHz Dot: predicted " << model.RemovalDb(shape) << " dB, measured " << narrowMeasured;
        std::printf("  %44s 150 x 150 kHz O 3 S -60, predicted %5.1f dB, measured %5.1f dB\n", "",
                    model.RemovalDb(shape), narrowMeasured);
        worst = std::max(worst, std::fabs(narrowError));
        sum += narrowError;
        sumSquares += narrowError * narrowError;
        ++cases;
        sum += error;
        sumSquares += error * error;
        ++cases;
      }
  std::printf("model against pipeline: %d cases, mean error %+.2f dB, rms %.2f dB, worst %.2f dB\n", cases, sum / cases,
              std::sqrt(sumSquares / cases), worst);
}

// What the model says a Dot leaves: nothing for no Dot, less at the
// pattern's frequency for a deeper one and where the pattern sits on the
// centre cell, less over the picture for a wider one.
TEST(NotchModel, RemovesMoreWithDepthAndWidth) {
  qrx::MagnitudeAverage average(qrx::FrameFormatRecord{qrx::test::kWidth, qrx::test::kHeight, 0, 0},
                                qrx::test::kFftLine, 0, 1);
  ASSERT_TRUE(average.IsUsable());
  const qrx::WindowAxis rows = qrx::WindowAxis::Rows(average.Engine());
  const qrx::WindowAxis columns = qrx::WindowAxis::Columns(average.Engine());
  const qrx::NotchModel onBin(rows, columns, 0.0, 0.0, 40, 70, 60, false);
  const qrx::NotchModel offBin(rows, columns, 0.4, -0.4, 40, 70, 60, false);
  EXPECT_NEAR(onBin.RemovalDb(qrx::DotShape{}), 0.0, 1e-9);
  const qrx::DotShape narrow{2, 4, 3, -40}, deep{2, 4, 3, -60}, wide{4, 7, 3, -40};
  EXPECT_GT(onBin.RemovalDb(deep), onBin.RemovalDb(narrow));
  EXPECT_GT(onBin.RemovalDb(narrow), offBin.RemovalDb(narrow));
  std::vector<double> removed;
  offBin.Removed(narrow, &removed);
  std::vector<double> widerRemoved;
  offBin.Removed(wide, &widerRemoved);
  EXPECT_LT(offBin.EnergyLeft(widerRemoved), offBin.EnergyLeft(removed));
  EXPECT_LT(offBin.EnergyLeft(removed), 0.5);
}

// The Dot designed with the picture's loss judged on sampled pixels against
// the same judged on every pixel: for gratings across the band, steep and
// shallow, on and between bins, the same kind of Dot with the same removal
// and error to a few per cent.
TEST(DotDesigner, SampledLossDesignsAsTheFullOne) {
  struct Case {
    double column, row, amplitude;
  };
#ifdef QRX_SMALL_TESTS
  const std::vector<Case> cases = {{30.4, 20.3, 12.0}, {61.0, -50.5, 6.0}, {90.7, 71.0, 20.0}};
#else
  const std::vector<Case> cases = {{60.4, 40.3, 12.0}, {122.0, -101.5, 6.0}, {181.7, 143.0, 20.0}, {97.25, 3.0, 9.0}};
#endif
  qrx::MagnitudeAverage average(qrx::FrameFormatRecord{qrx::test::kWidth, qrx::test::kHeight, 0, 0},
                                qrx::test::kFftLine, 0, 1);
  ASSERT_TRUE(average.IsUsable());
  const qrx::FftEngine& e = average.Engine();
  const qrx::WindowAxis rows = qrx::WindowAxis::Rows(e), columns = qrx::WindowAxis::Columns(e);
  qrx::PeakFinder peaks(e, rows, columns);
  qrx::DotDesigner sampled(e, rows, columns, true), full(e, rows, columns, false);
  ASSERT_TRUE(sampled.IsUsable() && full.IsUsable());
  for (const Case& c : cases) {
    char name[64];
    std::snprintf(name, sizeof(name), "column %.2f row %.2f", c.column, c.row);
    SCOPED_TRACE(name);
    std::vector<double> luma = qrx::test::Picture();
    qrx::test::AddGrating(&luma, Grating{c.column, c.row, c.amplitude, 0.4});
    const std::vector<uint8_t> frame = qrx::test::Frame(luma);
    qrx::MagnitudeAverage one(qrx::FrameFormatRecord{qrx::test::kWidth, qrx::test::kHeight, 0, 0}, qrx::test::kFftLine,
                              0, 1);
    one.Add(frame.data());
    const std::vector<qrx::Peak> found = peaks.Find(one.Mean(), qrx::PeakLimits());
    ASSERT_FALSE(found.empty());
    const qrx::DesignLimits limits;
    const qrx::DotDesign a = sampled.Design(found[0], false, one.Newest(), peaks, limits);
    const qrx::DotDesign b = full.Design(found[0], false, one.Newest(), peaks, limits);
    std::printf("  %s: sampled %d x %d O %d %.2f dB error %.4g; full %d x %d O %d %.2f dB error %.4g\n", name,
                a.shape.a, a.shape.b, a.shape.order, a.removalDb, a.error, b.shape.a, b.shape.b, b.shape.order,
                b.removalDb, b.error);
    ASSERT_NE(b.shape.order, 0);
    EXPECT_EQ(a.shape.order, b.shape.order);
    EXPECT_NEAR(a.removalDb, b.removalDb, 1.0);
    EXPECT_NEAR(a.error, b.error, 0.05 * b.error);
  }
}

// The sampled inverse gives the full-size inverse transform's values at its
// pixels, for cells anywhere in the half spectrum: inside it, on columns 0
// and N/2, on row 0 and on rows that fold onto each other.
TEST(SampledInverse, EqualsTheFullInverseAtItsPixels) {
  const int32_t N = qrx::test::kFftLine, H = qrx::test::kHeight;
  int32_t M = 2;
  while (M < H) M *= 2;
  qrx::FftEngine full(N, H, N, M, 2, 1);
  ASSERT_TRUE(full.IsUsable());
  const int32_t pitch = full.Pitch();
  struct Case {
    const char* name;
    int32_t stepRows, stepColumns;
    std::vector<std::pair<int32_t, int32_t>> cells;  // (row, column)
  };
  const std::vector<Case> cases = {
      {"inside", 4, 4, {{M / 2 + 61, N / 5}, {M / 2 - 90, N / 3}, {3, N / 4 + 1}}},
      {"edge columns", 4, 4, {{M / 2 + 17, 0}, {M / 2 - 17, 0}, {M / 3, N / 2}, {0, 0}}},
      {"folding together", 2, 8, {{M / 2 + 5, 3}, {5, 3 + N / 8}, {M / 2 - 40, N / 8 - 1}}},
      {"no steps", 1, 1, {{M / 2 + 9, 7}, {M / 2 - 3, N / 2 - 2}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    qrx::SampledInverse sampled(full, c.stepRows, c.stepColumns);
    ASSERT_TRUE(sampled.IsUsable());
    // The cells, then the same turned a quarter.
    const std::vector<float>* quarter = nullptr;
    const std::vector<float>* got = nullptr;
    for (int turn = 0; turn < 2; ++turn) {
      float* s = full.Spectrum();
      std::fill(s, s + static_cast<size_t>(M) * pitch * 2, 0.0f);
      if (turn == 0) sampled.Clear();
      double value = 0.7;
      for (const auto& cell : c.cells) {
        std::complex<double> v(value, 1.3 - value);
        value += 0.9;
        if (turn == 0) sampled.Add(cell.first, cell.second, v);
        if (turn == 1) v *= std::complex<double>(0.0, -1.0);
        float* at = s + (static_cast<size_t>(cell.first) * pitch + cell.second) * 2;
        at[0] += static_cast<float>(v.real());
        at[1] += static_cast<float>(v.imag());
      }
      full.Transform(-1);
      if (turn == 0) got = &sampled.Run(&quarter);
      const std::vector<float>& values = turn == 0 ? *got : *quarter;
      double most = 0.0, worst = 0.0;
      for (int32_t i = 0; i < sampled.Rows(); ++i)
        for (int32_t j = 0; j < sampled.Columns(); ++j) {
          const float want = s[static_cast<size_t>(i * c.stepRows) * pitch * 2 + j * c.stepColumns];
          most = std::max(most, static_cast<double>(std::fabs(want)));
          worst = std::max(
              worst, static_cast<double>(std::fabs(want - values[static_cast<size_t>(i) * sampled.Columns() + j])));
        }
      ASSERT_GT(most, 0.0);
      EXPECT_LT(worst, 1e-5 * most) << (turn == 0 ? "cells" : "turned a quarter");
    }
  }
}

// AddRow is Add cell by cell: the same bits, whole rows across both edge
// columns and the columns that fold onto the small engine's edges, cells
// folding together, a row starting left of column 0 and ending past N/2.
TEST(SampledInverse, AddRowGivesTheSumsOfAdd) {
  const int32_t N = qrx::test::kFftLine, H = qrx::test::kHeight;
  int32_t M = 2;
  while (M < H) M *= 2;
  qrx::FftEngine full(N, H, N, M, 2, 1);
  for (const auto& steps : {std::make_pair(4, 4), std::make_pair(2, 8)}) {
    qrx::SampledInverse byCell(full, steps.first, steps.second), byRow(full, steps.first, steps.second);
    ASSERT_TRUE(byCell.IsUsable() && byRow.IsUsable());
    const int32_t firstK = -3, count = N / 2 + 7;
    std::vector<std::complex<double>> row(static_cast<size_t>(count));
    uint32_t seed = 11;
    for (const int32_t q : {0, 1, 37, M / 2, M / 2 + 7, M - 1}) {
      for (auto& v : row) {
        seed = seed * 1664525u + 1013904223u;
        v = std::complex<double>(static_cast<double>(seed >> 20) - 2048.0, static_cast<double>(seed & 0xfff) - 2048.0);
      }
      for (int32_t j = 0; j < count; ++j) byCell.Add(q, firstK + j, row[static_cast<size_t>(j)]);
      byRow.AddRow(q, firstK, count, row.data());
    }
    const std::vector<float>*cellQuarter = nullptr, *rowQuarter = nullptr;
    const std::vector<float> cells = byCell.Run(&cellQuarter);
    const std::vector<float>& rows = byRow.Run(&rowQuarter);
    EXPECT_TRUE(cells == rows);
    EXPECT_TRUE(*cellQuarter == *rowQuarter);
  }
}

}  // namespace
