// The plug-in as the host sees it: the module is loaded by file name and
// driven only through its two exports and the descriptor's entry points.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "frame/pixel_convert.h"
#include "plugin_module.h"
#include "plugin_test_support.h"

namespace {

using namespace qrxtest;
using qrxhost::ChannelRecord;
using qrxhost::PluginModule;

int32_t KnowsEveryChannel(int32_t, int32_t) { return 1; }

class ModuleTest : public ::testing::Test {
 protected:
  void SetUp() override { UseProgramFolderSettings(); }
  void TearDown() override { plugin_.Unload(); }

  // Writes the settings file first: the module reads it at Init.
  void Load(const std::vector<std::string>& settingsLines) {
    WriteSettings("QRX_FreqFilter", settingsLines);
    std::string error;
    const std::string path = qrxhost::ExecutableFolder() + "QRX_FreqFilter" + qrxhost::ModuleSuffix();
    ASSERT_TRUE(plugin_.Load(path, &error)) << path << ": " << error;
  }
  const qrx::PluginDescriptor& D() { return plugin_.Descriptor(); }
  void Init() {
    qrx::InitInfo info = {7, &KnowsEveryChannel};
    D().init(&info);
  }
  int32_t Start(int32_t w, int32_t h, int32_t pixelFormat, int32_t processorClass = 3) {
    qrx::FrameFormat f = {w, h, 0, pixelFormat, processorClass};
    return D().start(&f);
  }
  int32_t Frame(std::vector<uint8_t>* frame, int32_t channel, bool withChannel = true) {
    ChannelRecord record;
    record.keyLow = channel;
    std::snprintf(record.name, sizeof(record.name), "Channel %d", channel);
    qrx::FrameInfo info = {};
    info.pixels = frame->data();
    info.channel = withChannel ? record.Info() : nullptr;
    return D().process(&info);
  }
  std::vector<uint8_t> Settled(const std::vector<uint8_t>& in, int32_t channel) {
    return SettledOutput(in, [&](std::vector<uint8_t>* f) { Frame(f, channel); });
  }
  std::vector<uint8_t> Once(const std::vector<uint8_t>& in, int32_t channel) {
    std::vector<uint8_t> f = in;
    Frame(&f, channel);
    return f;
  }

  PluginModule plugin_;
};

const Grating kGratingA = {100, 0, 1024, 12.0, 0.4};    // vertical stripes, period 5.1 px at width 512
const Grating kGratingB = {40, 160, 1024, 10.0, 1.3};   // diagonal

TEST_F(ModuleTest, ExportsVersionAndDescriptor) {
  Load(SettingsWith(512, {}));
  EXPECT_EQ(plugin_.Version(), 3);
  const qrx::PluginDescriptor* d = plugin_.DescriptorFromExport();
  EXPECT_EQ(d, plugin_.DescriptorFromExport());
  // "Частотный фильтр" in code page 1251.
  const unsigned char name[] = {0xD7, 0xE0, 0xF1, 0xF2, 0xEE, 0xF2, 0xED, 0xFB, 0xE9, 0x20,
                                0xF4, 0xE8, 0xEB, 0xFC, 0xF2, 0xF0, 0x00};
  EXPECT_EQ(std::memcmp(d->name, name, sizeof(name)), 0);
  EXPECT_STREQ(d->secondText, "");
  EXPECT_TRUE(d->init && d->start && d->process && d->stop && d->showDialog && d->exit);
  Init();
  EXPECT_EQ(Start(64, 32, 0), 1);
  EXPECT_EQ(plugin_.Version(), 3);
  D().stop();
  D().exit();
  EXPECT_EQ(plugin_.Version(), 3);
}

TEST_F(ModuleTest, MissingFrameIsRefused) {
  Load(SettingsWith(512, {"[1]", "ProcEnable=1", "Filter="}));
  Init();
  Start(64, 32, 0);
  qrx::FrameInfo info = {};
  EXPECT_EQ(D().process(&info), 0);
  EXPECT_EQ(D().process(nullptr), 0);
  D().stop();
  D().exit();
}

TEST_F(ModuleTest, ProcessingOffLeavesFramesBitForBit) {
  const TestPicture p = MakePicture(720, 576, {kGratingA});
  Load(SettingsWith(512, {"[1]", "ProcEnable=0", "Filter=" + DotOn(kGratingA, 512, 576)}));
  Init();
  D().showDialog(nullptr);  // a window without a host window: frames still pass unchanged
  Start(720, 576, 0);
  for (int i = 0; i < 3; ++i) {
    std::vector<uint8_t> f = p.frame;
    EXPECT_EQ(Frame(&f, 1), 1);
    EXPECT_EQ(f, p.frame);
  }
  D().stop();
  const std::vector<uint8_t> bgr = qrxhost::Yuy2ToBgr24(p.frame, 720, 576);
  Start(720, 576, 1);
  for (int i = 0; i < 3; ++i) {
    std::vector<uint8_t> f = bgr;
    EXPECT_EQ(Frame(&f, 1), 1);
    EXPECT_EQ(f, bgr);
  }
  D().stop();
  D().exit();
}

TEST_F(ModuleTest, NeutralMaskDirectPathKeepsLumaWithinOneLevel) {
  const TestPicture p = MakePicture(512, 576, {});
  Load(SettingsWith(512, {"[1]", "ProcEnable=1", "Filter="}));
  Init();
  Start(512, 576, 0);
  std::vector<uint8_t> f = p.frame;
  Frame(&f, 1);
  int maxDiff = 0;
  for (size_t i = 0; i < f.size(); i += 2) maxDiff = std::max(maxDiff, std::abs(f[i] - p.frame[i]));
  EXPECT_LE(maxDiff, 1);
  EXPECT_TRUE(ChromaEqual(f, p.frame));
  std::printf("[ measured ] direct path 512x576: max luma change %d\n", maxDiff);
  D().stop();
  D().exit();
}

TEST_F(ModuleTest, NeutralMaskResamplingPathStaysClose) {
  const TestPicture p = MakePicture(720, 576, {});
  Load(SettingsWith(512, {"[1]", "ProcEnable=1", "Filter="}));
  Init();
  Start(720, 576, 0);
  std::vector<uint8_t> f = p.frame;
  Frame(&f, 1);
  const double psnr = LumaPsnr(f, p.frame, 720, 576);
  std::printf("[ measured ] resampling path 720->512->720: luma PSNR %.2f dB\n", psnr);
  // The round trip through 512 samples loses detail above 256 cycles per
  // line; the test picture carries little there.
  EXPECT_GE(psnr, 35.0);
  EXPECT_TRUE(ChromaEqual(f, p.frame));
  D().stop();
  D().exit();
}

TEST_F(ModuleTest, Bgr24FramesPassBothConversions) {
  // Colour that changes from pixel to pixel does not survive 4:2:2, so the
  // result shows whether the frame went through both conversions.
  const int32_t w = 512, h = 288;
  std::vector<uint8_t> bgr(static_cast<size_t>(w) * h * 3);
  uint32_t seed = 99;
  for (uint8_t& b : bgr) {
    seed = seed * 1664525u + 1013904223u;
    b = static_cast<uint8_t>(40 + (seed >> 24) % 170);
  }
  qrx::FrameFormatRecord format = {w, h, 0, 1};
  std::vector<uint8_t> work(static_cast<size_t>(w) * h * 2), roundTrip(bgr.size());
  qrx::pixel::ConvertToWorkingScalar(bgr.data(), work.data(), format, 0, h);
  qrx::pixel::ConvertFromWorkingScalar(work.data(), roundTrip.data(), format, 0, h);

  Load(SettingsWith(512, {"[1]", "ProcEnable=1", "Filter="}));
  Init();
  Start(w, h, 1);
  std::vector<uint8_t> f = bgr;
  Frame(&f, 1);
  int maxFromRoundTrip = 0;
  size_t changedByConversion = 0;
  for (size_t i = 0; i < f.size(); ++i) {
    maxFromRoundTrip = std::max(maxFromRoundTrip, std::abs(f[i] - roundTrip[i]));
    if (std::abs(roundTrip[i] - bgr[i]) > 8) ++changedByConversion;
  }
  // Luma may move by one level, which moves each colour by about as much.
  EXPECT_LE(maxFromRoundTrip, 3);
  EXPECT_GT(changedByConversion, f.size() / 4);
  D().stop();
  D().exit();
}

TEST_F(ModuleTest, DotFilterRemovesGratingAndKeepsPicture) {
  const TestPicture p = MakePicture(512, 576, {kGratingA, kGratingB});
  Load(SettingsWith(512, {"[1]", "ProcEnable=1",
                          "Filter=" + DotOn(kGratingA, 512, 576) + DotOn(kGratingB, 512, 576)}));
  Init();
  Start(512, 576, 0);
  const std::vector<uint8_t> out = Settled(p.frame, 1);
  const std::vector<uint8_t> outClean = Once(p.cleanFrame, 1);
  const double removedA = ResidualDb(out, outClean, p, kGratingA);
  const double removedB = ResidualDb(out, outClean, p, kGratingB);
  const double psnr = LumaPsnr(out, p.cleanFrame, 512, 576);
  std::printf("[ measured ] Dot filters: grating A -%.1f dB, grating B -%.1f dB, PSNR vs clean %.2f dB\n", removedA,
              removedB, psnr);
  EXPECT_GE(removedA, 30.0);
  EXPECT_GE(removedB, 30.0);
  EXPECT_GE(psnr, 40.0);
  EXPECT_TRUE(ChromaEqual(out, p.frame));
  D().stop();
  D().exit();
}

TEST_F(ModuleTest, UnusableFrameSizesPassFramesUnchanged) {
  Load(SettingsWith(512, {"[1]", "ProcEnable=1", "Filter=" + DotOn(kGratingA, 512, 576)}));
  Init();
  struct Size { int32_t w, h; } sizes[] = {{1, 64}, {64, 1}, {0, 0}, {9000, 4}, {4, 9000}, {-5, 10}};
  for (const Size& s : sizes) {
    EXPECT_EQ(Start(s.w, s.h, 0), 1);
    const size_t bytes = static_cast<size_t>(std::max(s.w, 1)) * std::max(s.h, 1) * 2;
    std::vector<uint8_t> f(bytes, 77), original = f;
    EXPECT_EQ(Frame(&f, 1), 1) << s.w << "x" << s.h;
    EXPECT_EQ(f, original) << s.w << "x" << s.h;
    D().stop();
  }
  // A good size afterwards processes again.
  const TestPicture p = MakePicture(512, 576, {kGratingA});
  Start(512, 576, 0);
  const std::vector<uint8_t> out = Settled(p.frame, 1);
  EXPECT_GE(ResidualDb(out, Once(p.cleanFrame, 1), p, kGratingA), 30.0);
  D().stop();
  D().exit();
}

TEST_F(ModuleTest, FrameWithoutChannelKeepsTheCurrentOne) {
  const TestPicture p = MakePicture(512, 576, {kGratingA});
  Load(SettingsWith(512, {"[1]", "ProcEnable=1", "Filter=" + DotOn(kGratingA, 512, 576), "[2]", "ProcEnable=0",
                          "Filter="}));
  Init();
  Start(512, 576, 0);
  const std::vector<uint8_t> filtered = Settled(p.frame, 1);
  std::vector<uint8_t> f = p.frame;
  EXPECT_EQ(Frame(&f, 0, false), 1);
  EXPECT_EQ(f, filtered);
  f = p.frame;
  Frame(&f, 2);  // channel 2: processing off
  EXPECT_EQ(f, p.frame);
  f = p.frame;
  Frame(&f, 0, false);
  EXPECT_EQ(f, p.frame);
  D().stop();
  D().exit();
}

TEST_F(ModuleTest, ChannelsSwitchFiltersAndSettingsSurviveExit) {
  const TestPicture p = MakePicture(512, 576, {kGratingA, kGratingB});
  const std::string filterA = DotOn(kGratingA, 512, 576), filterB = DotOn(kGratingB, 512, 576);
  // An FFTLine the window never offers is used as 512 and kept in the file.
  Load(SettingsWith(300, {"[1]", "ProcEnable=1", "Filter=" + filterA, "[2]", "ProcEnable=1", "Filter=" + filterB}));
  Init();
  Start(512, 576, 0);
  // Frame-by-frame switching first; then each channel held until its mask is in.
  for (int i = 0; i < 20; ++i) {
    std::vector<uint8_t> f = p.frame;
    EXPECT_EQ(Frame(&f, 1 + (i & 1)), 1);
  }
  const std::vector<uint8_t> outB = Settled(p.frame, 2);
  EXPECT_GE(ResidualDb(outB, Once(p.cleanFrame, 2), p, kGratingB), 30.0);
  EXPECT_LT(std::fabs(RemovedDb(outB, p, kGratingA)), 1.0);
  const std::vector<uint8_t> outA = Settled(p.frame, 1);
  EXPECT_GE(ResidualDb(outA, Once(p.cleanFrame, 1), p, kGratingA), 30.0);
  EXPECT_LT(std::fabs(RemovedDb(outA, p, kGratingB)), 1.0);
  // A channel never seen before starts from the defaults: processing off.
  std::vector<uint8_t> f = p.frame;
  Frame(&f, 9);
  EXPECT_EQ(f, p.frame);
  D().stop();
  D().exit();

  const std::string saved = ReadFileText(SettingsPath("QRX_FreqFilter"));
  EXPECT_NE(saved.find("FFTLine=300\r\n"), std::string::npos) << saved;
  EXPECT_NE(saved.find("[1]\r\nProcEnable=1\r\nFilter=" + filterA + "\r\n"), std::string::npos) << saved;
  EXPECT_NE(saved.find("[2]\r\nProcEnable=1\r\nFilter=" + filterB + "\r\n"), std::string::npos) << saved;
  EXPECT_NE(saved.find("[9]\r\nProcEnable=0\r\n"), std::string::npos) << saved;

  // A fresh module reads the saved file back: channel 1 still filters A, and
  // the same as a module whose file says FFTLine=512.
  plugin_.Unload();
  std::string error;
  ASSERT_TRUE(plugin_.Load(qrxhost::ExecutableFolder() + "QRX_FreqFilter" + qrxhost::ModuleSuffix(), &error));
  Init();
  Start(512, 576, 0);
  const std::vector<uint8_t> again = Settled(p.frame, 1);
  EXPECT_EQ(again, outA);
  D().stop();
  D().exit();
  plugin_.Unload();
  Load(SettingsWith(512, {"[1]", "ProcEnable=1", "Filter=" + filterA}));
  Init();
  Start(512, 576, 0);
  EXPECT_EQ(Settled(p.frame, 1), outA);
  D().stop();
  D().exit();
}

}  // namespace
