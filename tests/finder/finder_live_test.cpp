// The live finder on running streams: interference that appears, moves and
// goes away is followed within a second of video (25 frames); static
// interference keeps the very same list; a change of size restarts it;
// constant frames get nothing; destroying it at any time is safe.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <memory>
#include <vector>

#include "filter/filter_list.h"
#include "finder/live_finder.h"
#include "finder_test_support.h"
#include "plugin/frame_pipeline.h"
#include "transform/fft_engine.h"

namespace {

using qrx::test::Grating;

constexpr int32_t kSecond = 25;

struct Change {
  int64_t frame;
  int32_t filters;
  std::vector<int32_t> fx;  // kHz
  bool operator==(const Change& o) const { return frame == o.frame && filters == o.filters && fx == o.fx; }
};

// Horizontal kHz per bin of the frequency scale, at every FFT line.
constexpr double kKHzPerBin = 13500.0 / 704.0;

Change ChangeOf(const qrx::LiveFinderUpdate& u) {
  Change c{u.frame, u.filters.Count(), {}};
  for (int32_t i = 0; i < u.filters.Count(); ++i) c.fx.push_back(u.filters[i].Fx);
  return c;
}

bool HasDotAt(const Change& c, double column) {
  for (int32_t fx : c.fx)
    if (std::fabs(fx - column * kKHzPerBin) < 2.0 * kKHzPerBin) return true;
  return false;
}

// Hands the filter's spectrum of each frame to the finder, as a stream
// that filters does.
class SpectrumFeed final : public qrx::SpectrumObserver {
 public:
  explicit SpectrumFeed(qrx::LiveFinder* finder) : finder_(finder) {}
  void ObserveSpectrum(const qrx::FftEngine& engine) override {
    finder_->FeedSpectrum(qrx::FrameSpectrum{engine.Spectrum(), engine.Rows(), engine.Bins(), engine.Pitch()},
                          qrx::test::kWidth, qrx::test::kHeight, qrx::test::kFftLine);
  }

 private:
  qrx::LiveFinder* finder_;
};

// Feeds the frames (the picture moving, the gratings of each frame) and
// collects the changes, after a last look at the end. From frame
// spectraFrom on, the finder gets the filter pipeline's spectra instead of
// the pixels.
std::vector<Change> Stream(qrx::LiveFinder* finder, int32_t frames, std::vector<Grating> (*gratingsAt)(int32_t frame),
                           int32_t spectraFrom = std::numeric_limits<int32_t>::max()) {
  qrx::FramePipeline pipeline;
  if (spectraFrom < frames) {
    EXPECT_TRUE(
        pipeline.Create(qrx::FrameFormatRecord{qrx::test::kWidth, qrx::test::kHeight, 0, 0}, qrx::test::kFftLine));
  }
  SpectrumFeed feed(finder);
  std::vector<Change> changes;
  for (int32_t f = 0; f < frames; ++f) {
    std::vector<double> luma = qrx::test::Picture(4 * f % qrx::test::kWidth);
    for (const Grating& g : gratingsAt(f)) qrx::test::AddGrating(&luma, g);
    const std::vector<uint8_t> frame = qrx::test::Frame(luma);
    if (f >= spectraFrom) {
      pipeline.Analyse(frame.data(), qrx::FilterList(), false, &feed);
    } else {
      finder->Feed(frame.data(), qrx::test::kWidth, qrx::test::kHeight, qrx::test::kFftLine);
    }
  }
  finder->LookNow();
  EXPECT_TRUE(finder->WaitForLook(frames - 1, 60000));
  qrx::LiveFinderUpdate u;
  while (finder->Poll(&u)) changes.push_back(ChangeOf(u));
  return changes;
}

qrx::LiveFinderOptions FileOptions() {
  qrx::LiveFinderOptions o;
  o.waitForFinder = true;  // the same result whatever the machine's load
  return o;
}

const double kScale = qrx::test::kFftLine / 512.0;

#ifdef QRX_SMALL_TESTS
constexpr int32_t kAppear = 16, kMove = 48, kGone = 80, kFrames = 112;
#else
constexpr int32_t kAppear = 40, kMove = 120, kGone = 200, kFrames = 260;
#endif

// Absent, then at one place, then 770 kHz (40 bins) further, beyond any
// Dot the finder makes, then
// gone.
std::vector<Grating> Scenario(int32_t f) {
  if (f < kAppear || f >= kGone) return {};
  const double column = (f < kMove ? 90.3 : 130.5) * kScale;
  return {Grating{column, 70.4 * kScale, 10.0, 0.1 * f}};
}

// Fed the pixels, or from the move on the filter's spectra (as a stream
// feeds it once it filters): the same changes either way.
TEST(LiveFinder, FollowsInterferenceThatAppearsMovesAndGoes) {
  std::vector<Change> fromPixels;
  for (const int32_t spectraFrom : {kFrames, kMove}) {
    SCOPED_TRACE(spectraFrom == kFrames ? "pixels" : "spectra from the move on");
    qrx::LiveFinder finder(FileOptions());
    ASSERT_TRUE(finder.IsUsable());
    const std::vector<Change> changes = Stream(&finder, kFrames, Scenario, spectraFrom);
    // Appeared: one Dot within a second. Moved: a Dot on the new place
    // within a second (the old one goes when it is no longer seen, at once
    // or a look later). Gone: an empty list within a second.
    ASSERT_GE(changes.size(), 3u);
    ASSERT_LE(changes.size(), 4u);
    EXPECT_GE(changes.front().frame, kAppear);
    EXPECT_LE(changes.front().frame, kAppear + kSecond);
    EXPECT_EQ(changes.front().filters, 1);
    EXPECT_TRUE(HasDotAt(changes.front(), 90.3 * kScale));
    EXPECT_GE(changes[1].frame, kMove);
    EXPECT_LE(changes[1].frame, kMove + kSecond);
    EXPECT_TRUE(HasDotAt(changes[1], 130.5 * kScale));
    const Change& settled = changes[changes.size() - 2];
    EXPECT_LE(settled.frame, kMove + kSecond);
    EXPECT_EQ(settled.filters, 1);
    EXPECT_TRUE(HasDotAt(settled, 130.5 * kScale));
    EXPECT_GE(changes.back().frame, kGone);
    EXPECT_LE(changes.back().frame, kGone + kSecond);
    EXPECT_EQ(changes.back().filters, 0);
    for (const Change& c : changes)
      std::printf("  change at frame %lld: %d filters\n", static_cast<long long>(c.frame), c.filters);
    const qrx::LiveFinderStats stats = finder.Stats();
    EXPECT_EQ(stats.framesFed, kFrames);
    EXPECT_EQ(stats.framesPassed, 0);
    EXPECT_EQ(stats.framesAnalysed, (kFrames + 7) / 8);
    EXPECT_EQ(stats.changes, static_cast<int64_t>(changes.size()));
    if (fromPixels.empty()) {
      fromPixels = changes;
    } else {
      EXPECT_TRUE(changes == fromPixels);
    }
  }
}

// Static interference, two gratings, one weak, under a moving picture: one
// change at the start, none after.
std::vector<Grating> Static(int32_t f) {
  return {Grating{120.6 * kScale, -50.3 * kScale, 16.0, 0.2 * f}, Grating{60.2 * kScale, 80.5 * kScale, 4.0, 0.3}};
}

TEST(LiveFinder, KeepsTheSameListForStaticInterference) {
  qrx::LiveFinder finder(FileOptions());
  const std::vector<Change> changes = Stream(&finder, kFrames / 2, Static);
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_LE(changes[0].frame, kSecond);
  EXPECT_EQ(changes[0].filters, 2);
}

TEST(LiveFinder, BadInput) {
  // Constant frames: nothing, and the finder looks all the same.
  {
    qrx::LiveFinder finder(FileOptions());
    const std::vector<uint8_t> grey(static_cast<size_t>(qrx::test::kWidth) * qrx::test::kHeight * 2, 128);
    for (int f = 0; f < 40; ++f) finder.Feed(grey.data(), qrx::test::kWidth, qrx::test::kHeight, qrx::test::kFftLine);
    finder.LookNow();
    EXPECT_TRUE(finder.WaitForLook(39, 60000));
    qrx::LiveFinderUpdate u;
    EXPECT_FALSE(finder.Poll(&u));
    EXPECT_GT(finder.Stats().looks, 0);
  }
  // A change of size restarts it: the list found so far is dropped from the
  // first frame of the new size; a size the filter refuses gets nothing.
  {
    qrx::LiveFinder finder(FileOptions());
    std::vector<double> luma = qrx::test::Picture();
    qrx::test::AddGrating(&luma, Grating{100.3 * kScale, 40.2 * kScale, 12.0, 0.0});
    const std::vector<uint8_t> frame = qrx::test::Frame(luma);
    for (int f = 0; f < 24; ++f) finder.Feed(frame.data(), qrx::test::kWidth, qrx::test::kHeight, qrx::test::kFftLine);
    const std::vector<uint8_t> tiny(2 * 2 * 2, 128);
    int64_t first = -1;
    for (int f = 0; f < 12; ++f) {
      const int64_t n = finder.Feed(tiny.data(), 2, 2, qrx::test::kFftLine);
      if (f == 0) first = n;
    }
    finder.LookNow();
    ASSERT_TRUE(finder.WaitForLook(35, 60000));
    qrx::LiveFinderUpdate u;
    std::vector<Change> changes;
    while (finder.Poll(&u)) changes.push_back(ChangeOf(u));
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_EQ(changes[0].filters, 1);
    EXPECT_EQ(changes[1].frame, first);
    EXPECT_EQ(changes[1].filters, 0);
    EXPECT_EQ(finder.Stats().restarts, 2);
  }
}

// Destroyed while it works, without a look ever finishing, or before any
// frame: no hang, no crash (the sanitizer builds check the rest).
TEST(LiveFinder, CanBeDestroyedAtAnyTime) {
  std::vector<double> luma = qrx::test::Picture();
  qrx::test::AddGrating(&luma, Grating{100.3 * kScale, 40.2 * kScale, 12.0, 0.0});
  qrx::test::AddGrating(&luma, Grating{150.7 * kScale, -60.2 * kScale, 12.0, 0.0});
  const std::vector<uint8_t> frame = qrx::test::Frame(luma);
  for (int frames : {0, 1, 5, 9}) {
    qrx::LiveFinderOptions o;
    o.analyseEvery = 1;
    o.lookEvery = 1;
    auto finder = std::make_unique<qrx::LiveFinder>(o);
    for (int f = 0; f < frames; ++f)
      finder->Feed(frame.data(), qrx::test::kWidth, qrx::test::kHeight, qrx::test::kFftLine);
    finder.reset();
  }
}

}  // namespace
