// The window's axes and the notch model, against the filter's real
// pipeline: what the finder predicts a Dot removes of a grating between
// bins is what the plug-in's own transform removes, wherever the grating
// sits relative to the bins.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "finder/interference_finder.h"
#include "finder/magnitude_average.h"
#include "finder/notch_model.h"
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

}  // namespace
