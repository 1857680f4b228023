// The interference finder on a test picture with gratings of known
// frequencies: where its Dots sit, what the mask the plug-in builds from
// them does at the gratings and at zero frequency, and what it leaves alone.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <vector>

#include "demo_picture.h"
#include "filter/mask_builder.h"
#include "finder/interference_finder.h"
#include "finder/magnitude_average.h"
#include "transform/fft_engine.h"

namespace {

using qrx::FoundFilter;
using qrxhost::Grating;

constexpr int32_t kWidth = 720;
constexpr int32_t kHeight = 576;

// Two frames of the test picture with the gratings (cycles across the
// picture, cycles down it); the second moved, as a picture moves under
// interference that stays.
std::vector<std::vector<uint8_t>> Frames(const std::vector<Grating>& gratings) {
  std::vector<std::vector<uint8_t>> frames;
  for (int32_t shift : {0, 6}) {
    const std::vector<double> clean = qrxhost::MakeCleanLuma(kWidth, kHeight);
    std::vector<double> luma(clean.size());
    for (int32_t y = 0; y < kHeight; ++y)
      for (int32_t x = 0; x < kWidth; ++x)
        luma[static_cast<size_t>(y) * kWidth + x] = clean[static_cast<size_t>(y) * kWidth + (x + shift) % kWidth];
    for (const Grating& g : gratings) qrxhost::AddGrating(&luma, kWidth, kHeight, g);
    frames.push_back(qrxhost::MakeYuy2(luma, kWidth, kHeight));
  }
  return frames;
}

std::vector<FoundFilter> Suggest(const std::vector<Grating>& gratings, int32_t fftLine) {
  qrx::MagnitudeAverage average(qrx::FrameFormatRecord{kWidth, kHeight, 0, 0}, fftLine);
  EXPECT_TRUE(average.IsUsable());
  for (const std::vector<uint8_t>& frame : Frames(gratings)) average.Add(frame.data());
  return qrx::FindInterference(average);
}

// The mask the plug-in builds from a list, on an engine of the stream's
// sizes and scale.
struct Mask {
  std::unique_ptr<qrx::FftEngine> engine;
  std::vector<float> table;
  float gain = 0.0f;
  float At(int32_t row, int32_t column) const { return table[static_cast<size_t>(row) * engine->Pitch() + column]; }
};

Mask BuildMask(const std::vector<FoundFilter>& filters, int32_t fftLine) {
  Mask mask;
  mask.engine = std::make_unique<qrx::FftEngine>(fftLine, kHeight, fftLine, 0, 2, 1);
  mask.engine->AllocateMask();
  mask.engine->SetRates(qrx::ScaleRowRateKHz(fftLine), qrx::ScaleColRateKHz(kHeight));
  qrx::MaskBuilder builder(mask.engine->Pitch(), mask.engine->Bins(), mask.engine->Rows(), mask.engine.get());
  mask.gain = builder.Rebuild(qrx::ToFilterList(filters));
  const float* table = builder.BuildTable();
  mask.table.assign(table, table + static_cast<size_t>(mask.engine->Rows()) * mask.engine->Pitch());
  return mask;
}

struct FindCase {
  const char* name;
  std::vector<Grating> gratings;
  int32_t fftLine;
};

// Every grating gets a Dot centred on its peak (one with little or no
// horizontal frequency two, on both vertical frequencies that column 0
// holds), the mask takes each peak down by at least 20 dB, and the
// picture's mean brightness is untouched.
TEST(SuggestFilters, PutsADotOnEveryGratingAndNothingElse) {
  const std::vector<FindCase> cases = {
      {"vertical stripes", {{87.3, 0, kHeight, 10, 0.4}}, 512},
      {"horizontal bars", {{0, 40.2, kHeight, 8, 1.0}}, 512},
      {"bars slanting a little", {{1.6, 60.3, kHeight, 10, 0.7}}, 512},
      {"diagonal", {{61.7, 52.3, kHeight, 12, 0.2}}, 512},
      {"diagonal the other way", {{143.1, -71.9, kHeight, 6, 2.0}}, 512},
      {"stripes and bars, FFT line 1024", {{120.4, 0, kHeight, 10, 0.0}, {0, 90.6, kHeight, 10, 0.5}}, 1024},
      {"diagonal, FFT line 256", {{71.2, -33.4, kHeight, 14, 1.3}}, 256},
  };
  for (const FindCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<FoundFilter> filters = Suggest(c.gratings, c.fftLine);
    const Mask mask = BuildMask(filters, c.fftLine);
    const qrx::FftEngine& e = *mask.engine;
    size_t expected = 0;
    for (const Grating& g : c.gratings) {
      // The stored peak of cos(2 pi (cx x / W + cy y / H)) lies at column
      // cx and at cy * M / H rows above the middle row. Its mirror, at -cx
      // and as many rows below, is not stored; column 0 holds it, and with
      // cx within the window's main lobe of 0 that part needs a Dot too.
      const double row = e.Rows() / 2 - g.cyclesY * e.Rows() / kHeight;
      std::vector<std::pair<double, double>> peaks = {{g.cyclesX, row}};
      if (g.cyclesX < 2.5) peaks.emplace_back(0.0, e.Rows() - row);
      for (const auto& [column, r] : peaks) {
        ++expected;
        bool centred = false;
        for (const FoundFilter& f : filters) {
          EXPECT_EQ(f.spec.T, qrx::kShapeDot);
          EXPECT_LT(f.spec.S, 0);
          centred |=
              std::fabs(e.FreqToColumn(f.spec.Fx) - column) <= 1.0 && std::fabs(e.FreqToRow(f.spec.Fy) - r) <= 1.0;
        }
        EXPECT_TRUE(centred) << "no Dot on column " << column << ", row " << r;
        const float weight = mask.At(static_cast<int32_t>(std::lround(r)), static_cast<int32_t>(std::lround(column)));
        EXPECT_LT(20.0 * std::log10(weight), -20.0) << "at column " << column << ", row " << r;
      }
    }
    EXPECT_EQ(filters.size(), expected);
    EXPECT_NEAR(mask.gain, 1.0f, 0.01f);
    EXPECT_FLOAT_EQ(mask.At(e.Rows() / 2, 0), 1.0f);
  }
}

// What is not interference gets no filter: the picture itself, a pattern
// too faint to see, and one so close to zero frequency that the picture's
// own structure is there.
TEST(SuggestFilters, LeavesWhatIsNotInterferenceAlone) {
  const std::vector<FindCase> cases = {
      {"clean picture", {}, 512},
      {"below one level", {{87.3, 0, kHeight, 0.6, 0.4}}, 512},
      {"near zero frequency", {{4.2, 2.1, kHeight, 10, 0.4}}, 512},
  };
  for (const FindCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_TRUE(Suggest(c.gratings, c.fftLine).empty());
  }
}

TEST(SuggestFilters, NeedsAFrame) {
  qrx::MagnitudeAverage average(qrx::FrameFormatRecord{kWidth, kHeight, 0, 0}, 512);
  EXPECT_TRUE(qrx::FindInterference(average).empty());
}

}  // namespace
