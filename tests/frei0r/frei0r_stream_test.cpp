// The module's parameters and settings (what a stream makes of them, and
// what it refuses), and the stream's waiting: the mask of a new list is in
// place before the frame after a change leaves, and a host that sets the
// same values before every frame (MLT) causes no new mask at all.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "clip_picture.h"
#include "filter/mask_builder.h"
#include "frei0r/stream_filter.h"
#include "frei0r/stream_settings.h"

namespace qrx {
namespace {

const char* const kDot = "En:1/Fx:2301/Fy:0/Wx:300/Wy:300/O:3/S:-60/T:0//";
const char* const kWin = "En:1/Fx:3500/Fy:0/Wx:200/Wy:0/O:2/S:-40/T:1//";

// A settings file in a folder of its own, removed at the end.
class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/qrx_frei0r_XXXXXX";
    path_ = mkdtemp(pattern);
  }
  ~TempDir() { std::system(("rm -rf '" + path_ + "'").c_str()); }
  std::string Write(const std::string& name, const std::string& text) const {
    const std::string file = path_ + "/" + name;
    std::ofstream(file, std::ios::binary) << text;
    return file;
  }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

std::string SettingsText(const std::string& defaultFilter, const std::string& channelFilter, int fftLine = 1024,
                         int defaultEnable = 1) {
  std::string text = "[DIALOG]\r\nDlgWndPosX=-100\r\n[GLOBAL]\r\nFFTLine=" + std::to_string(fftLine) + "\r\n";
  if (!defaultFilter.empty()) {
    text += "[DEFAULT]\r\nProcEnable=" + std::to_string(defaultEnable) + "\r\nFilter=" + defaultFilter + "\r\n";
  }
  return text + "[1]\r\nProcEnable=1\r\nFilter=" + channelFilter + "\r\n";
}

TEST(Frei0rSettings, ResolvesWhatTheParametersSay) {
  TempDir dir;
  const std::string both = dir.Write("both.ini", SettingsText(kDot, kWin));
  const std::string channelOnly = dir.Write("channel.ini", SettingsText("", kWin, 256));
  const std::string defaultOff = dir.Write("off.ini", SettingsText(kDot, kWin, 512, 0));
  const std::string oddLine = dir.Write("odd.ini", SettingsText(kDot, kWin, 700));
  struct Case {
    const char* name;
    ModuleParameters parameters;
    int32_t fftLine;
    bool filtering;
    int32_t shape;  // of the only filter; -1: none
  };
  const Case cases[] = {
      {"filters alone", {"", "", kDot, 0.0}, 512, true, kShapeDot},
      {"[DEFAULT] first", {both, "", "", 0.0}, 1024, true, kShapeDot},
      {"channel section", {both, "1", "", 0.0}, 1024, true, kShapeWin1D},
      {"section in brackets", {both, " [1] ", "", 0.0}, 1024, true, kShapeWin1D},
      {"first channel without [DEFAULT]", {channelOnly, "", "", 0.0}, 256, true, kShapeWin1D},
      {"filters replace the file's", {both, "", kWin, 0.0}, 1024, true, kShapeWin1D},
      {"fft_line over the file's", {both, "", "", 256.0}, 256, true, kShapeDot},
      {"fft_line as a fraction", {both, "", "", 0.5}, 512, true, kShapeDot},
      {"fft_line 1", {"", "", kDot, 1.0}, 1024, true, kShapeDot},
      {"FFTLine not 256/512/1024 works as 512", {oddLine, "", "", 0.0}, 512, true, kShapeDot},
      {"ProcEnable=0", {defaultOff, "", "", 0.0}, 512, false, kShapeDot},
      {"ProcEnable=0 yields to given filters", {defaultOff, "", kWin, 0.0}, 512, true, kShapeWin1D},
      {"a disabled filter only",
       {"", "", "En:0/Fx:2301/Fy:0/Wx:300/Wy:300/O:3/S:-60/T:0//", 0.0},
       512,
       false,
       kShapeDot},
      {"nothing given", {"", "", "  ", 0.0}, 512, false, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StreamSettings settings;
    std::string error;
    ASSERT_TRUE(ResolveStreamSettings(c.parameters, &settings, &error)) << error;
    EXPECT_EQ(settings.fftLine, c.fftLine);
    EXPECT_EQ(settings.filtering, c.filtering);
    EXPECT_EQ(settings.idleReason.empty(), c.filtering);
    if (c.shape < 0) {
      EXPECT_EQ(settings.filters.Count(), 0);
    } else {
      ASSERT_EQ(settings.filters.Count(), 1);
      EXPECT_EQ(settings.filters[0].T, c.shape);
    }
  }
}

TEST(Frei0rSettings, RefusesBadInputWithAReasonAndCreatesNothing) {
  TempDir dir;
  const std::string good = dir.Write("good.ini", SettingsText(kDot, kWin));
  const std::string noSections = dir.Write("bare.ini", "[GLOBAL]\r\nFFTLine=512\r\n");
  const std::string missing = dir.Path() + "/missing.ini";
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    ModuleParameters parameters;
    const char* reason;  // a piece of the one-line reason
  };
  const Case cases[] = {
      {{missing, "", "", 0.0}, "cannot read the settings file"},
      {{dir.Path(), "", "", 0.0}, "cannot read the settings file"},
      {{good, "7", "", 0.0}, "no section [7]"},
      {{noSections, "", "", 0.0}, "no [DEFAULT] and no channel section"},
      {{"", "1", kDot, 0.0}, "without a settings file"},
      {{"", "", "En:1/Fx:2301", 0.0}, "malformed filters text"},
      {{good, "", "nonsense", 0.0}, "malformed filters text"},
      {{"", "", "En:1/Fx:2301/Fy:0/Wx:300/Wy:300/O:3/S:-60/T:7//", 0.0}, "shape T:7"},
      {{"", "", kDot, 300.0}, "fft_line 300"},
      {{"", "", kDot, 2048.0}, "fft_line 2048"},
      {{"", "", kDot, 0.7}, "fft_line 0.7"},
      {{"", "", kDot, -512.0}, "fft_line -512"},
      {{"", "", kDot, nan}, "fft_line nan"},
      {{"", "", kDot, std::numeric_limits<double>::infinity()}, "fft_line inf"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reason);
    StreamSettings settings;
    std::string error;
    EXPECT_FALSE(ResolveStreamSettings(c.parameters, &settings, &error));
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos);
  }
  // Reading a missing file does not make one.
  EXPECT_NE(access(missing.c_str(), F_OK), 0);
}

TEST(Frei0rSettings, FilterTextIsReadStrictly) {
  struct Case {
    const char* text;
    int32_t count;  // -1: refused
  };
  const Case cases[] = {
      {"En:1/Fx:2301/Fy:0/Wx:300/Wy:300/O:3/S:-60/T:0//", 1},
      {" En:1 / Fx:1151/Fy:-2876/Wx:300/Wy:300/O:2/S:0/T:0 //\n En:0/Fx:1/Fy:2/Wx:3/Wy:4/O:5/S:6/T:2// ", 2},
      {"", 0},
      {"En:1/Fx:2301/Fy:0/Wx:300/Wy:300/O:3/S:-60/T:0/", -1},   // one slash short
      {"En:1/Fy:0/Fx:2301/Wx:300/Wy:300/O:3/S:-60/T:0//", -1},  // fields out of order
      {"En:1/Fx:2301/Fy:0/Wx:300/Wy:300/O:3/S:-60/T:0//En", -1},
      {"En:x/Fx:2301/Fy:0/Wx:300/Wy:300/O:3/S:-60/T:0//", -1},
      {"En:1/Fx:99999999999/Fy:0/Wx:300/Wy:300/O:3/S:-60/T:0//", -1},
      {"En:1/Fx:2301/Fy:0/Wx:300/Wy:300/O:3/S:-60/T:-1//", -1},
      {"En\\:1/Fx\\:2301/Fy\\:0/Wx\\:300/Wy\\:300/O\\:3/S\\:-60/T\\:0//", -1},  // escapes left by a host
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    FilterList list;
    std::string error;
    const bool accepted = ParseFilterParameter(c.text, &list, &error);
    EXPECT_EQ(accepted, c.count >= 0) << error;
    EXPECT_EQ(list.Count(), c.count >= 0 ? c.count : 0);
  }
  FilterList list;
  std::string error;
  ASSERT_TRUE(ParseFilterParameter("En:1/Fx:1151/Fy:-2876/Wx:300/Wy:250/O:2/S:-45/T:2//", &list, &error));
  const FilterSpec& f = list[0];
  EXPECT_EQ((std::vector<int32_t>{f.En, f.Fx, f.Fy, f.Wx, f.Wy, f.O, f.S, f.T}),
            (std::vector<int32_t>{1, 1151, -2876, 300, 250, 2, -45, 2}));
}

// A frame after a change waits for its mask; frames with the same values
// set again (as MLT does before every frame) hand nothing to the builder.
TEST(Frei0rStream, WaitsOnlyAfterAChange) {
  const int32_t width = 64, height = 48;
  StreamFilter stream(width, height);
  const std::vector<uint8_t> in = qrxtest::CleanFrame(width, height, 0);
  std::vector<uint8_t> out(in.size());
  auto requests = [&]() { return stream.Pipeline().maskBuilder->RequestsMade(); };
  auto published = [&]() { return stream.Pipeline().maskBuilder->RequestsPublished(); };

  stream.SetFilters(kDot);
  stream.Update(in.data(), out.data());
  ASSERT_TRUE(stream.Filtering());
  EXPECT_EQ(requests(), 1);
  EXPECT_EQ(published(), 1);
  for (int frame = 0; frame < 5; ++frame) {
    stream.SetSettingsPath("");
    stream.SetSection("");
    stream.SetFilters(kDot);
    stream.SetFftLine(0.0);
    stream.Update(in.data(), out.data());
  }
  EXPECT_EQ(requests(), 1);

  stream.SetFilters(kWin);
  stream.Update(in.data(), out.data());
  EXPECT_EQ(requests(), 2);
  EXPECT_EQ(published(), 2);

  // A new FFT line builds a new pipeline, whose first list is awaited too.
  stream.SetFftLine(256.0);
  stream.Update(in.data(), out.data());
  EXPECT_EQ(requests(), 1);
  EXPECT_EQ(published(), 1);
}

}  // namespace
}  // namespace qrx
