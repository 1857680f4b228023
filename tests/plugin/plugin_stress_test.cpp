// The lifecycle under load: restarts with changing sizes, engine rebuilds
// from a second thread while frames flow, and a flood of mask requests.
// Meant to run clean under ThreadSanitizer too.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "plugin_core_support.h"

namespace {

using namespace qrxtest;
using qrx::State;

#if defined(QRX_SMALL_TESTS)
constexpr int kRounds = 4;
#else
constexpr int kRounds = 12;
#endif

const Grating kGrating = {100, 0, 1024, 12.0, 0.4};

class StressTest : public ::testing::Test {
 protected:
  void SetUp() override { InitCore(); }
  void TearDown() override {
    qrx::Stop();
    State().settings.FFTLine = 512;
  }
};

TEST_F(StressTest, RestartsWithChangingSizesAndFormats) {
  const int32_t k = ConfigureChannel(1, DotOn(kGrating, 512, 576));
  struct Size {
    int32_t w, h, format;
  } sizes[] = {{720, 576, 0}, {352, 288, 1}, {1, 1, 0},     {640, 480, 1},
               {16, 2, 0},    {9000, 2, 0},  {720, 575, 1}, {2, 16, 1}};
  for (int round = 0; round < kRounds; ++round) {
    const Size& s = sizes[round % (sizeof(sizes) / sizeof(sizes[0]))];
    StartCore(s.w, s.h, s.format);
    const size_t bytes = static_cast<size_t>(s.w) * s.h * (s.format == 1 ? 3 : 2);
    std::vector<uint8_t> f(bytes, 120);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(CoreFrame(&f, k), 1);
    qrx::Stop();
  }
}

TEST_F(StressTest, RebuildFromAnotherThreadWhileFramesFlow) {
  const TestPicture p = MakePicture(512, 576, {kGrating});
  const int32_t k = ConfigureChannel(1, DotOn(kGrating, 512, 576));
  StartCore(512, 576, 0);
  std::atomic<bool> done{false};
  std::thread window([&] {
    const int32_t lengths[] = {256, 1024, 512};
    for (int i = 0; i < kRounds; ++i) {
      {
        // The window changes the setting under the lock, then rebuilds.
        qrx::platform::ScopedLock lock(State().pluginLock);
        State().settings.FFTLine = lengths[i % 3];
      }
      qrx::RebuildEngines();
      std::this_thread::sleep_for(std::chrono::milliseconds(15));
    }
    done = true;
  });
  int frames = 0;
  while (!done) {
    std::vector<uint8_t> f = p.frame;
    EXPECT_EQ(CoreFrame(&f, k), 1);
    EXPECT_TRUE(ChromaEqual(f, p.frame));
    ++frames;
  }
  window.join();
  EXPECT_GT(frames, 0);
  // The last rebuild left 512: once its mask is in, the grating is gone.
  ASSERT_NE(State().pipeline.engine, nullptr);
  EXPECT_EQ(State().pipeline.engine->N(), 512);
  std::vector<uint8_t> f = p.frame;
  CoreFrame(&f, k);
  ASSERT_TRUE(WaitPasses(1));
  f = p.frame;
  CoreFrame(&f, k);
  std::vector<uint8_t> outClean = p.cleanFrame;
  CoreFrame(&outClean, k);
  EXPECT_GE(ResidualDb(f, outClean, p, kGrating), 30.0);
}

TEST_F(StressTest, FloodOfMaskRequestsEndsWithTheLastList) {
  const TestPicture p = MakePicture(512, 288, {kGrating});
  const int32_t kOn = ConfigureChannel(1, DotOn(kGrating, 512, 288));
  const int32_t kOff = ConfigureChannel(1, "");
  StartCore(512, 288, 0);
  std::atomic<bool> stop{false};
  // The window hands the list to the builder again and again.
  std::thread editor([&] {
    while (!stop) {
      qrx::platform::ScopedLock lock(State().pluginLock);
      if (State().pipeline.maskBuilder != nullptr) State().pipeline.maskBuilder->SetFilters(State().filters);
    }
  });
  // Frames switch channel every time: one request per frame on top.
  for (int i = 0; i < 20 * kRounds; ++i) {
    std::vector<uint8_t> f = p.frame;
    EXPECT_EQ(CoreFrame(&f, (i & 1) ? kOn : kOff), 1);
  }
  stop = true;
  editor.join();
  // Held on one channel, the output settles on that channel's mask.
  const std::vector<uint8_t> out = SettledOutput(p.frame, [&](std::vector<uint8_t>* g) { CoreFrame(g, kOn); });
  std::vector<uint8_t> outClean = p.cleanFrame;
  CoreFrame(&outClean, kOn);
  EXPECT_GE(ResidualDb(out, outClean, p, kGrating), 30.0);
}

}  // namespace
