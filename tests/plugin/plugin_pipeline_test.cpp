// The frame pipeline's cases that need the plug-in's state: the settings
// window's cases through a fake window, demo mode, the mask builder's
// requests, the mask shapes and the adaptive clip on real frames, and the
// lifecycle edges of Start, Stop and RebuildEngines.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "filter/mask_builder.h"
#include "plugin/frame_pipeline.h"
#include "plugin/window_hooks.h"
#include "plugin_core_support.h"
#include "transform/line_transform.h"

namespace {

using namespace qrxtest;
using qrx::State;

class FakeWindow : public qrx::WindowHooks {
 public:
  bool IsOpen() const override { return open; }
  void PostChannelChanged() override { ++posts; }
  bool HasSpectrumView() const override { return open && view; }
  void RenderSpectrum() override {
    ++renders;
    // The view reads the engine's spectrum; the zero-frequency element of a
    // picture is large after the forward half.
    qrx::FftEngine* e = State().pipeline.engine;
    const float* dc = e->Spectrum() + 2 * (static_cast<size_t>(e->Rows() / 2) * e->Pitch());
    lastDc = std::hypot(dc[0], dc[1]);
  }
  void FrameDone() override { ++done; }
  void Open(void*) override {
    ++opens;
    open = true;
  }
  void Focus() override { ++focuses; }
  void Close() override {
    ++closes;
    open = false;
  }
  bool open = false, view = true;
  int posts = 0, renders = 0, done = 0, opens = 0, focuses = 0, closes = 0;
  double lastDc = 0;
};

class PipelineTest : public ::testing::Test {
 protected:
  void SetUp() override { InitCore(); }
  void TearDown() override {
    qrx::Stop();
    qrx::SetWindowHooks(nullptr);
    State().demoActive = 0;
    State().settings.FFTLine = 512;
  }
  // The settled output of a frame on the key after `passes` builder passes.
  std::vector<uint8_t> Filtered(const std::vector<uint8_t>& in, int32_t key, int64_t passes = 1) {
    std::vector<uint8_t> f = in;
    CoreFrame(&f, key);
    EXPECT_TRUE(WaitPasses(passes));
    f = in;
    CoreFrame(&f, key);
    return f;
  }
  static std::vector<uint8_t> Once(const std::vector<uint8_t>& in, int32_t key) {
    std::vector<uint8_t> f = in;
    CoreFrame(&f, key);
    return f;
  }
};

const Grating kGratingA = {100, 0, 1024, 12.0, 0.4};
const Grating kGratingB = {40, 160, 1024, 10.0, 1.3};

TEST_F(PipelineTest, WindowOpenWithProcessingOffShowsSpectrumAndKeepsFrame) {
  FakeWindow window;
  window.open = true;
  qrx::SetWindowHooks(&window);
  const TestPicture p = MakePicture(512, 288, {kGratingA});
  const int32_t k1 = ConfigureChannel(0, DotOn(kGratingA, 512, 288));
  const int32_t k2 = ConfigureChannel(0, "");
  StartCore(512, 288, 0);
  std::vector<uint8_t> f = p.frame;
  EXPECT_EQ(CoreFrame(&f, k1), 1);
  EXPECT_EQ(f, p.frame);
  EXPECT_EQ(window.posts, 1);
  EXPECT_EQ(window.renders, 1);
  EXPECT_GT(window.lastDc, 1000.0);
  for (int i = 0; i < 3; ++i) CoreFrame(&f, k1);
  EXPECT_EQ(f, p.frame);
  EXPECT_EQ(window.posts, 1);  // same channel: no refresh
  EXPECT_EQ(window.renders, 4);
  CoreFrame(&f, k2);
  EXPECT_EQ(window.posts, 2);
  EXPECT_EQ(State().channelName, "Channel " + std::to_string(k2));
  // After a restart the first frame always reports its channel.
  qrx::Stop();
  StartCore(512, 288, 0);
  CoreFrame(&f, k2);
  EXPECT_EQ(window.posts, 3);
  // Without a spectrum view nothing is drawn; with the window closed nothing
  // is posted either.
  window.view = false;
  CoreFrame(&f, k1);
  EXPECT_EQ(window.renders, 6);
  EXPECT_EQ(window.done, 6);  // every picture handed over is started
  EXPECT_EQ(window.posts, 4);
  window.open = false;
  CoreFrame(&f, k2);
  EXPECT_EQ(window.posts, 4);
  EXPECT_EQ(f, p.frame);
}

TEST_F(PipelineTest, WindowOpenWithProcessingOnFiltersAndShowsSpectrum) {
  FakeWindow window;
  window.open = true;
  qrx::SetWindowHooks(&window);
  const TestPicture p = MakePicture(512, 576, {kGratingA});
  const int32_t k = ConfigureChannel(1, DotOn(kGratingA, 512, 576));
  StartCore(512, 576, 0);
  const std::vector<uint8_t> out = Filtered(p.frame, k);
  EXPECT_EQ(window.renders, 2);
  EXPECT_EQ(window.done, 2);
  EXPECT_GE(ResidualDb(out, Once(p.cleanFrame, k), p, kGratingA), 30.0);
}

void CheckDemoFrame(int32_t height) {
  SCOPED_TRACE(height);
  const int32_t w = 512;
  const TestPicture p = MakePicture(w, height, {kGratingA});
  const int32_t k = ConfigureChannel(1, DotOn(kGratingA, 512, height));
  StartCore(w, height, 0);
  std::vector<uint8_t> f = p.frame;
  CoreFrame(&f, k);
  ASSERT_TRUE(WaitPasses(1));
  std::vector<uint8_t> full = p.frame;
  CoreFrame(&full, k);
  State().demoActive = 1;
  std::vector<uint8_t> demo = p.frame;
  CoreFrame(&demo, k);
  State().demoActive = 0;
  const int32_t mid = height / 2;
  auto luma = [&](const std::vector<uint8_t>& b, int32_t row, int32_t x) {
    return b[(static_cast<size_t>(row) * w + x) * 2];
  };
  int upperMismatch = 0, lowerMismatch = 0, markMismatch = 0;
  for (int32_t row = 0; row < height; ++row)
    for (int32_t x = 0; x < w; ++x) {
      const int got = luma(demo, row, x);
      if (row < mid - 1)
        upperMismatch += got != luma(full, row, x);
      else if (row == mid - 1)
        markMismatch += got != std::min(255, luma(full, row, x) + 160);
      else if (row == mid)
        markMismatch += got != std::min(255, luma(p.frame, row, x) + 160);
      else
        lowerMismatch += got != luma(p.frame, row, x);
    }
  EXPECT_EQ(upperMismatch, 0);
  EXPECT_EQ(markMismatch, 0);
  EXPECT_EQ(lowerMismatch, 0);
  EXPECT_TRUE(ChromaEqual(demo, p.frame));
  // The upper half really is filtered.
  EXPECT_NE(std::memcmp(full.data(), p.frame.data(), static_cast<size_t>(w) * 2 * (mid - 1)), 0);
  qrx::Stop();
}

TEST_F(PipelineTest, DemoModeFiltersUpperHalfAndMarksMiddleRows) {
  CheckDemoFrame(576);  // rows 287 and 288 marked
  CheckDemoFrame(575);  // rows 286 and 287 marked
}

std::vector<std::string> g_messages;
void CaptureMessage(const char* text, void*) { g_messages.push_back(text); }

TEST_F(PipelineTest, ShowDialogRefusesOldProcessorsAndOpensOnce) {
  FakeWindow window;
  qrx::SetWindowHooks(&window);
  qrx::platform::SetMessageSink(&CaptureMessage, nullptr);
  const std::string expected =
      "      \xCD\xE0\xF1\xF2\xF0\xEE\xE9\xEA\xE8 \xEF\xEB\xE0\xE3\xE8\xED\xE0 \xED\xE5\xE4\xEE\xF1\xF2\xF3\xEF"
      "\xED\xFB. \n\xD2\xF0\xE5\xE1\xF3\xE5\xF2\xF1\xFF \xEF\xF0\xEE\xF6\xE5\xF1\xF1\xEE\xF0 Pentium III \xE8\xEB"
      "\xE8 \xF1\xF2\xE0\xF0\xF8\xE5.";
  for (int32_t cls : {1, 2}) {
    g_messages.clear();
    StartCore(64, 32, 0, cls);
    int handle = 0;
    qrx::ShowDialog(&handle);
    ASSERT_EQ(g_messages.size(), 1u);
    EXPECT_EQ(g_messages[0], expected);
    EXPECT_EQ(window.opens, 0);
    qrx::Stop();
  }
  g_messages.clear();
  for (int32_t cls : {0, 3, 6}) {
    window.open = false;
    StartCore(64, 32, 0, cls);
    qrx::ShowDialog(nullptr);
    qrx::ShowDialog(nullptr);  // already open: focused, not opened again
    qrx::Stop();
  }
  EXPECT_EQ(window.opens, 3);
  EXPECT_EQ(window.focuses, 3);
  EXPECT_TRUE(g_messages.empty());
  qrx::Exit();  // closes the window before saving
  EXPECT_EQ(window.closes, 1);
  qrx::platform::SetMessageSink(nullptr, nullptr);
}

struct PassLog {
  std::vector<int32_t> firstFx;  // Fx of the first filter each pass saw
};
void RecordPass(const qrx::FilterList& list, void* context) {
  static_cast<PassLog*>(context)->firstFx.push_back(list.Count() > 0 ? list[0].Fx : -1);
}

TEST_F(PipelineTest, BuilderGetsExactlyOneRequestPerChannelSwitch) {
  const std::string filterA = DotOn(kGratingA, 512, 288), filterB = DotOn(kGratingB, 512, 288);
  const int32_t kA = ConfigureChannel(1, filterA), kB = ConfigureChannel(1, filterB);
  StartCore(512, 288, 0);
  PassLog log;
  State().pipeline.maskBuilder->SetPassHook(&RecordPass, &log);
  const TestPicture p = MakePicture(512, 288, {});
  std::vector<uint8_t> f = p.frame;
  int64_t expected = 0;
  for (int32_t key : {kA, kB, kA, kA, kB}) {
    const bool switched = !(key == kA && expected == 3);
    for (int i = 0; i < 4; ++i) CoreFrame(&f, key);
    if (switched) ++expected;
    ASSERT_TRUE(WaitPasses(expected));
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(Passes(), expected) << "frames of the same channel asked for another mask";
  }
  const int32_t fxA = qrxhost::HorizontalKHz(kGratingA.cyclesX, 512);
  const int32_t fxB = qrxhost::HorizontalKHz(kGratingB.cyclesX, 512);
  EXPECT_EQ(log.firstFx, (std::vector<int32_t>{fxA, fxB, fxA, fxB}));
  State().pipeline.maskBuilder->SetPassHook(nullptr, nullptr);
}

TEST_F(PipelineTest, Win1DBandRemovesOnlyTheColumnsInside) {
  const Grating inside = {150, 0, 1024, 12.0, 0.2}, outside = {40, 0, 1024, 12.0, 0.9};
  const TestPicture p = MakePicture(512, 576, {inside, outside});
  const int32_t k = ConfigureChannel(
      1, FilterText(1, qrxhost::HorizontalKHz(150, 512), 0, qrxhost::HorizontalKHz(20, 512), 0, 2, -60, 1));
  StartCore(512, 576, 0);
  const std::vector<uint8_t> out = Filtered(p.frame, k), outClean = Once(p.cleanFrame, k);
  const double in = ResidualDb(out, outClean, p, inside), out40 = ResidualDb(out, outClean, p, outside);
  std::printf("[ measured ] Win 1D: inside -%.1f dB, outside %.2f dB\n", in, out40);
  EXPECT_GE(in, 30.0);
  EXPECT_LT(std::fabs(out40), 1.0);
}

TEST_F(PipelineTest, Win2DRingRemovesGratingsOnTheRingOnly) {
  // Ring of radius 100 bins (horizontal) and 100 rows (vertical).
  const Grating onRing1 = {100, 0, 1024, 10.0, 0.2}, onRing2 = {60, 80, 1024, 10.0, 0.7};
  const Grating within = {30, 0, 1024, 10.0, 1.5}, beyond = {180, 0, 1024, 10.0, 2.5};
  const TestPicture p = MakePicture(512, 576, {onRing1, onRing2, within, beyond});
  const int32_t k =
      ConfigureChannel(1, FilterText(1, qrxhost::HorizontalKHz(100, 512), qrxhost::VerticalKHz(100, 1024, 576),
                                     qrxhost::HorizontalKHz(16, 512), qrxhost::VerticalKHz(16, 1024, 576), 2, -60, 2));
  StartCore(512, 576, 0);
  const std::vector<uint8_t> out = Filtered(p.frame, k), outClean = Once(p.cleanFrame, k);
  const double r1 = ResidualDb(out, outClean, p, onRing1), r2 = ResidualDb(out, outClean, p, onRing2);
  const double w = ResidualDb(out, outClean, p, within), b = ResidualDb(out, outClean, p, beyond);
  std::printf("[ measured ] Win 2D: on ring -%.1f / -%.1f dB, inside %.2f dB, outside %.2f dB\n", r1, r2, w, b);
  EXPECT_GE(r1, 30.0);
  EXPECT_GE(r2, 30.0);
  EXPECT_LT(std::fabs(w), 1.0);
  EXPECT_LT(std::fabs(b), 1.0);
}

TEST_F(PipelineTest, AdaptiveClipFlattensPeaksAndLeavesQuietRegions) {
  const TestPicture p = MakePicture(512, 576, {kGratingA});
  const int32_t neutral = ConfigureChannel(1, "");
  // Strength 0: a 16 x 16 bin rectangle around the grating's peak.
  const int32_t onPeak =
      ConfigureChannel(1, FilterText(1, qrxhost::HorizontalKHz(100, 512), 0, qrxhost::HorizontalKHz(16, 512),
                                     qrxhost::VerticalKHz(16, 1024, 576), 2, 0, 0));
  const int32_t quiet =
      ConfigureChannel(1, FilterText(1, qrxhost::HorizontalKHz(200, 512), qrxhost::VerticalKHz(300, 1024, 576),
                                     qrxhost::HorizontalKHz(16, 512), qrxhost::VerticalKHz(16, 1024, 576), 2, 0, 0));
  StartCore(512, 576, 0);
  // The clip acts on each frame's spectrum at once; the mask stays neutral.
  std::vector<uint8_t> plain = p.frame, clipped = p.frame, untouched = p.frame;
  CoreFrame(&plain, neutral);
  CoreFrame(&clipped, onPeak);
  CoreFrame(&untouched, quiet);
  const double removed = RemovedDb(clipped, p, kGratingA);
  const double quietPsnr = LumaPsnr(untouched, plain, 512, 576);
  std::printf("[ measured ] adaptive clip: peak -%.1f dB; quiet region PSNR vs unclipped %.1f dB\n", removed,
              quietPsnr);
  EXPECT_GE(removed, 20.0);
  EXPECT_GE(quietPsnr, 45.0);
  const double psnr = LumaPsnr(clipped, p.cleanFrame, 512, 576);
  std::printf("[ measured ] adaptive clip: PSNR vs clean %.2f dB\n", psnr);
  EXPECT_GE(psnr, 36.0);
}

TEST_F(PipelineTest, UnusableStartBuildsNothingButFollowsChannels) {
  qrx::PluginState& s = State();
  const int32_t k = ConfigureChannel(1, DotOn(kGratingA, 512, 576));
  for (auto size : {std::make_pair(1, 100), std::make_pair(100, 1), std::make_pair(8193, 8), std::make_pair(8, 8193)}) {
    StartCore(size.first, size.second, 1);
    EXPECT_EQ(s.pipeline.engine, nullptr);
    EXPECT_EQ(s.pipeline.lineTransform, nullptr);
    EXPECT_EQ(s.pipeline.maskBuilder, nullptr);
    EXPECT_EQ(s.conversionBuffer, nullptr);
    std::vector<uint8_t> f(static_cast<size_t>(size.first) * size.second * 3, 91), original = f;
    s.channelName.clear();
    EXPECT_EQ(CoreFrame(&f, k), 1);
    EXPECT_EQ(f, original);
    EXPECT_EQ(s.channelName, "Channel " + std::to_string(k));
    qrx::Stop();
  }
  // A rebuild outside streaming builds nothing.
  qrx::RebuildEngines();
  EXPECT_EQ(s.pipeline.engine, nullptr);
}

TEST_F(PipelineTest, FftLineChoosesTheEnginesAndRebuildReplacesThem) {
  qrx::PluginState& s = State();
  const TestPicture p = MakePicture(720, 576, {kGratingA});
  const int32_t k = ConfigureChannel(1, DotOn(kGratingA, 512, 576));
  s.settings.FFTLine = 300;  // hand-edited file: used as 512, kept as read
  StartCore(720, 576, 1);
  ASSERT_NE(s.pipeline.engine, nullptr);
  EXPECT_EQ(s.pipeline.engine->N(), 512);
  EXPECT_EQ(s.pipeline.engine->M(), 1024);
  EXPECT_EQ(s.pipeline.engine->RowRateKHz(), 9818);
  EXPECT_EQ(s.pipeline.engine->ColRateKHz(), 14727);
  EXPECT_EQ(s.pipeline.lineTransform->OutputLength(), 512);
  EXPECT_EQ(s.settings.FFTLine, 300);
  EXPECT_NE(s.conversionBuffer, nullptr);
  EXPECT_NE(s.meshBuffer, nullptr);

  // The window changes the length while frames flow: all three objects are
  // replaced and the new builder works from the live list.
  std::vector<uint8_t> f = qrxhost::Yuy2ToBgr24(p.frame, 720, 576);
  CoreFrame(&f, k);
  for (int32_t n : {256, 1024}) {
    s.settings.FFTLine = n;
    qrx::RebuildEngines();
    ASSERT_NE(s.pipeline.engine, nullptr);
    EXPECT_EQ(s.pipeline.engine->N(), n);
    EXPECT_EQ(s.pipeline.lineTransform->OutputLength(), n);
    EXPECT_EQ(s.pipeline.engine->RowRateKHz(), qrx::platform::MulDiv(13500, n, 704));
    EXPECT_TRUE(WaitPasses(1));
    std::vector<uint8_t> g = qrxhost::Yuy2ToBgr24(p.frame, 720, 576);
    EXPECT_EQ(CoreFrame(&g, k), 1);
  }
  qrx::Stop();
  EXPECT_EQ(s.pipeline.engine, nullptr);
  EXPECT_EQ(s.pipeline.lineTransform, nullptr);
  EXPECT_EQ(s.pipeline.maskBuilder, nullptr);
  EXPECT_EQ(s.conversionBuffer, nullptr);
  EXPECT_EQ(s.meshBuffer, nullptr);
  // Stop then Start with another size: fresh objects for the new size; the
  // channel's list survives.
  s.settings.FFTLine = 512;
  StartCore(512, 480, 0);
  ASSERT_NE(s.pipeline.engine, nullptr);
  EXPECT_EQ(s.pipeline.engine->M(), 512);
  EXPECT_EQ(s.pipeline.engine->ColRateKHz(), 12273);
  std::vector<uint8_t> g(512 * 480 * 2, 100);
  CoreFrame(&g, k);
  EXPECT_EQ(s.filters.Count(), 1);
}

// A pipeline of its own (as the frei0r module and the host's automatic mode
// own theirs): WaitForMask returns only once the engine holds the mask of the
// last list handed over, and says so when it times out.
TEST(FramePipelineTest, WaitForMaskFollowsTheLastList) {
  qrx::FramePipeline pipeline;
  ASSERT_TRUE(pipeline.Create(qrx::FrameFormatRecord{64, 48, 0, 0}, 256));
  EXPECT_TRUE(pipeline.WaitForMask(0));  // nothing requested yet
  const float* neutral = pipeline.engine->CurrentMask();
  EXPECT_EQ(neutral[0], 1.0f);

  static qrx::platform::Event release = qrx::platform::CreateEvent(false);
  pipeline.maskBuilder->SetPassHook([](const qrx::FilterList&, void*) { qrx::platform::WaitAny(&release, 1, 60000); },
                                    nullptr);
  qrx::FilterList list;
  const std::string text = "En:1/Fx:2000/Fy:0/Wx:400/Wy:400/O:3/S:-60/T:0//";
  qrx::ParseFilterText(text.data(), text.size(), &list);
  pipeline.SetFilters(list);
  EXPECT_FALSE(pipeline.WaitForMask(20));  // the pass is held
  qrx::platform::SetEvent(release);
  ASSERT_TRUE(pipeline.WaitForMask(60000));
  const qrx::FftEngine& engine = *pipeline.engine;
  const float* mask = engine.CurrentMask();
  float lowest = 1.0f;
  for (int32_t i = 0; i < engine.Rows() * engine.Pitch(); ++i) lowest = std::min(lowest, mask[i]);
  EXPECT_LT(lowest, 0.01f);  // the Dot is in the published table
  pipeline.Destroy();
  EXPECT_FALSE(pipeline.Ready());
  EXPECT_FALSE(pipeline.WaitForMask(0));
}

}  // namespace
