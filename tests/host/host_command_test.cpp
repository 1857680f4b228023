// The qrx_host program as a user runs it: streams through a pipe, the
// suggestion written to a settings file and filtered with, and the one-line
// errors of bad input.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#if QRX_TEST_SPECTRUM
#include <cairo.h>
#endif

#include "platform/platform.h"
#include "plugin_test_support.h"

namespace {

using qrxhost::Grating;
using qrxtest::ReadFileText;

constexpr int32_t kWidth = 720;
constexpr int32_t kHeight = 576;

// A folder of its own for each test, removed afterwards.
class HostProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/qrx_host_test.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  struct Result {
    int status;
    std::string out, err;
  };
  Result Run(const std::string& arguments) const {
    const std::string command = std::string("'") + QRX_HOST_PROGRAM + "' " + arguments + " >'" + Path("stdout") +
                                "' 2>'" + Path("stderr") + "'";
    const int raw = std::system(command.c_str());
    return Result{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadFileText(Path("stdout")), ReadFileText(Path("stderr"))};
  }

  void Write(const std::string& name, const std::string& bytes) const {
    std::ofstream(Path(name), std::ios::binary | std::ios::trunc) << bytes;
  }
  void WriteFrames(const std::string& name, const std::vector<uint8_t>& frame, int count) const {
    std::ofstream out(Path(name), std::ios::binary | std::ios::trunc);
    for (int i = 0; i < count; ++i) out.write(reinterpret_cast<const char*>(frame.data()), frame.size());
  }
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    DIR* d = opendir(dir_.c_str());
    while (dirent* e = readdir(d)) {
      const std::string name = e->d_name;
      if (name != "." && name != ".." && name != "stdout" && name != "stderr") names.push_back(name);
    }
    closedir(d);
    return names;
  }

  std::string dir_;
};

// Frames as ffmpeg gives them: packed 4:2:2, or 24-bit BGR top line first.
std::vector<uint8_t> AsFormat(const std::vector<uint8_t>& yuy2, bool bgr24) {
  if (!bgr24) return yuy2;
  std::vector<uint8_t> bottomUp = qrxhost::Yuy2ToBgr24(yuy2, kWidth, kHeight), topDown(bottomUp.size());
  const size_t line = static_cast<size_t>(kWidth) * 3;
  for (int32_t y = 0; y < kHeight; ++y) std::copy_n(&bottomUp[(kHeight - 1 - y) * line], line, &topDown[y * line]);
  return topDown;
}

// Luma of one frame in either format.
std::vector<double> Luma(const uint8_t* frame, bool bgr24) {
  std::vector<double> y(static_cast<size_t>(kWidth) * kHeight);
  for (size_t i = 0; i < y.size(); ++i)
    y[i] = bgr24 ? 0.114 * frame[3 * i] + 0.587 * frame[3 * i + 1] + 0.299 * frame[3 * i + 2] : frame[2 * i];
  return y;
}

// The grating's amplitude in (frame - clean) against the input's, in dB.
double RemovedDb(const uint8_t* output, const qrxtest::TestPicture& p, const Grating& g, bool bgr24) {
  const std::vector<uint8_t> clean = AsFormat(p.cleanFrame, bgr24), input = AsFormat(p.frame, bgr24);
  const std::vector<double> c = Luma(clean.data(), bgr24), in = Luma(input.data(), bgr24), out = Luma(output, bgr24);
  std::vector<double> before(c.size()), after(c.size());
  for (size_t i = 0; i < c.size(); ++i) {
    before[i] = in[i] - c[i];
    after[i] = out[i] - c[i];
  }
  return qrxhost::PowerRatioDb(qrxhost::GratingAmplitude(before, kWidth, kHeight, g),
                               qrxhost::GratingAmplitude(after, kWidth, kHeight, g));
}

std::string FormatArguments(bool bgr24) { return bgr24 ? "--format bgr24 --top-down " : "--format yuy2 "; }

struct StreamCase {
  const char* name;
  bool bgr24;
  int32_t fftLine;
  std::vector<Grating> gratings;
};

// Through a pipe, at file speed, a repeated interfered frame: every output
// frame, the first included, is the last one, and that one is filtered.
TEST_F(HostProgram, EveryFrameOfAStreamIsFilteredWithTheChannelsMask) {
  const std::vector<StreamCase> cases = {
      {"yuy2, one Dot", false, 512, {{120, 0, 1024, 12.0, 0.3}}},
      {"bgr24 top-down, three Dots, FFT line 1024",
       true,
       1024,
       {{120, 0, 1024, 12.0, 0.3}, {60, 200, 1024, 10.0, 1.1}, {20, 300, 1024, 10.0, 2.0}}},
  };
  for (const StreamCase& c : cases) {
    SCOPED_TRACE(c.name);
    const qrxtest::TestPicture p = qrxtest::MakePicture(kWidth, kHeight, c.gratings);
    std::vector<std::string> channel = {"[1]", "ProcEnable=1"};
    std::string filters;
    for (const Grating& g : c.gratings) filters += qrxtest::DotOn(g, c.fftLine, kHeight);
    channel.push_back("Filter=" + filters);
    std::ofstream settings(Path("stream.ini"), std::ios::binary | std::ios::trunc);
    for (const std::string& line : qrxtest::SettingsWith(c.fftLine, channel)) settings << line << "\r\n";
    settings.close();

    const std::vector<uint8_t> frame = AsFormat(p.frame, c.bgr24);
    const int kFrames = 12;
    const std::string command = std::string("'") + QRX_HOST_PROGRAM + "' " + FormatArguments(c.bgr24) + "--settings '" +
                                Path("stream.ini") + "' - '" + Path("stream.out") + "'";
    std::FILE* pipe = popen(command.c_str(), "w");
    ASSERT_NE(pipe, nullptr);
    for (int i = 0; i < kFrames; ++i) ASSERT_EQ(std::fwrite(frame.data(), 1, frame.size(), pipe), frame.size());
    ASSERT_EQ(pclose(pipe), 0);

    const std::string out = ReadFileText(Path("stream.out"));
    ASSERT_EQ(out.size(), frame.size() * kFrames);
    const std::string last = out.substr(out.size() - frame.size());
    for (int i = 0; i < kFrames; ++i)
      EXPECT_TRUE(out.compare(i * frame.size(), frame.size(), last) == 0) << "frame " << i;
    for (const Grating& g : c.gratings)
      EXPECT_GT(RemovedDb(reinterpret_cast<const uint8_t*>(last.data()), p, g, c.bgr24), 20.0);
  }
}

// Different frames through the stream command, which reads, filters and
// writes on threads of their own: the output holds the first --frames of
// them in order, each the same bytes as the frame filtered alone (the
// channel's mask in place), for both pixel formats, the top-down flip
// included.
TEST_F(HostProgram, StreamedFramesLeaveInOrderEachFilteredAsAlone) {
  const Grating g = {120, 0, 1024, 12.0, 0.3};
  std::ofstream settings(Path("order.ini"), std::ios::binary | std::ios::trunc);
  for (const std::string& line :
       qrxtest::SettingsWith(512, {"[1]", "ProcEnable=1", "Filter=" + qrxtest::DotOn(g, 512, kHeight)}))
    settings << line << "\r\n";
  settings.close();
  const int kFrames = 7, kKept = 5;
  for (bool bgr24 : {false, true}) {
    SCOPED_TRACE(bgr24 ? "bgr24 top-down" : "yuy2");
    std::vector<std::vector<uint8_t>> frames;
    std::string all;
    for (int i = 0; i < kFrames; ++i) {
      // The same picture a little brighter each frame, and a grating to remove.
      qrxtest::TestPicture p = qrxtest::MakePicture(kWidth, kHeight, {g});
      for (size_t b = 0; b < p.frame.size(); b += 2)
        p.frame[b] = static_cast<uint8_t>(std::min(255, p.frame[b] + 4 * i));
      frames.push_back(AsFormat(p.frame, bgr24));
      all.append(frames.back().begin(), frames.back().end());
    }
    Write("in.raw", all);
    const std::string args = FormatArguments(bgr24) + "--settings '" + Path("order.ini") + "' ";
    ASSERT_EQ(
        Run(args + "--frames " + std::to_string(kKept) + " '" + Path("in.raw") + "' '" + Path("out.raw") + "'").status,
        0);
    const std::string out = ReadFileText(Path("out.raw"));
    ASSERT_EQ(out.size(), frames[0].size() * kKept);
    for (int i = 0; i < kKept; ++i) {
      Write("one.raw", std::string(frames[i].begin(), frames[i].end()));
      ASSERT_EQ(Run(args + "'" + Path("one.raw") + "' '" + Path("one.out") + "'").status, 0);
      const std::string alone = ReadFileText(Path("one.out"));
      ASSERT_EQ(alone.size(), frames[i].size());
      EXPECT_TRUE(out.compare(i * alone.size(), alone.size(), alone) == 0) << "frame " << i;
      EXPECT_NE(alone, std::string(frames[i].begin(), frames[i].end())) << "frame " << i << " was not filtered";
    }
  }
}

// --suggest on a file, its settings written and then used to filter the
// same file: the interference goes; the rest of a given settings file
// stays; a clean picture turns processing off.
TEST_F(HostProgram, SuggestionWrittenToSettingsRemovesTheInterference) {
  const std::vector<StreamCase> cases = {
      {"yuy2, no settings given", false, 512, {{87.3, 0, kHeight, 10, 0.4}, {0, 61.3, kHeight, 8, 1.0}}},
      {"bgr24 top-down, FFT line 1024 from the given settings", true, 1024, {{61.7, -52.3, kHeight, 12, 0.2}}},
      {"clean picture", false, 512, {}},
  };
  for (const StreamCase& c : cases) {
    SCOPED_TRACE(c.name);
    const qrxtest::TestPicture p = qrxtest::MakePicture(kWidth, kHeight, c.gratings);
    WriteFrames("in.raw", AsFormat(p.frame, c.bgr24), 2);
    std::string given;
    if (c.fftLine != 512) {
      Write("given.ini", "[GLOBAL]\r\nFFTLine=" + std::to_string(c.fftLine) +
                             "\r\n[7]\r\nProcEnable=1\r\nFilter=En:1/Fx:1000/Fy:0/Wx:100/Wy:100/O:2/S:-20/T:0//\r\n");
      given = "--settings '" + Path("given.ini") + "' ";
    }
    const Result suggest = Run("--suggest " + FormatArguments(c.bgr24) + given + "--write-settings '" + Path("s.ini") +
                               "' '" + Path("in.raw") + "'");
    ASSERT_EQ(suggest.status, 0) << suggest.err;
    ASSERT_EQ(suggest.out.compare(0, 7, "Filter="), 0) << suggest.out;
    const std::string filterText = suggest.out.substr(7, suggest.out.find('\n') - 7);
    EXPECT_EQ(filterText.empty(), c.gratings.empty());

    const std::string written = ReadFileText(Path("s.ini"));
    EXPECT_NE(written.find("[GLOBAL]\r\nFFTLine=" + std::to_string(c.fftLine) + "\r\n"), std::string::npos) << written;
    EXPECT_NE(written.find("[1]\r\nProcEnable=" + std::string(c.gratings.empty() ? "0" : "1") +
                           "\r\nFilter=" + filterText + "\r\n"),
              std::string::npos)
        << written;
    if (!given.empty()) {
      EXPECT_NE(written.find("[7]\r\nProcEnable=1\r\nFilter=En:1/Fx:1000/"), std::string::npos);
    }
    if (c.gratings.empty()) continue;

    const Result filter = Run(FormatArguments(c.bgr24) + "--settings '" + Path("s.ini") + "' '" + Path("in.raw") +
                              "' '" + Path("out.raw") + "'");
    ASSERT_EQ(filter.status, 0) << filter.err;
    const std::string out = ReadFileText(Path("out.raw"));
    ASSERT_EQ(out.size(), AsFormat(p.frame, c.bgr24).size() * 2);
    for (const Grating& g : c.gratings)
      EXPECT_GT(RemovedDb(reinterpret_cast<const uint8_t*>(out.data()), p, g, c.bgr24), 20.0);
  }
}

// A bad command line: one line on stderr that names the option (or the
// argument) and what it accepts, exit status 2, nothing on stdout and no
// file made.
TEST_F(HostProgram, BadOptionsGetOneLineNamingTheOption) {
  const struct {
    std::string arguments;
    const char* message;
  } cases[] = {
      {"--width 0", "--width takes a whole number from 1 to 65536, not '0'"},
      {"--height 576x", "--height takes a whole number from 1 to 65536, not '576x'"},
      {"--format rgb", "--format takes yuy2 or bgr24, not 'rgb'"},
      {"--frames -1", "--frames takes a whole number, 0 or more, not '-1'"},
      {"--fps 0", "--fps takes a number above 0, at most 1000, not '0'"},
      {"--channel-key 1:x", "--channel-key takes one or two whole 32-bit numbers, L or L:H, not '1:x'"},
      {"--width", "--width needs W: a whole number from 1 to 65536"},
      {"--no-such-option", "unknown option --no-such-option"},
      {"a.raw b.raw c.raw", "at most two files"},
      {"--write-settings {dir}/s.ini a.raw", "--write-settings goes with --suggest"},
      {"--suggest --spectrum {dir}/s.png a.raw", "--suggest and --spectrum are separate runs"},
      {"--suggest", "--suggest needs INPUT"},
      {"--auto", "--auto needs INPUT"},
      {"--auto --suggest a.raw", "--suggest and --auto are separate runs"},
  };
  for (const auto& c : cases) {
    std::string arguments = c.arguments;
    for (size_t at; (at = arguments.find("{dir}")) != std::string::npos;) arguments.replace(at, 5, dir_);
    const Result r = Run(arguments);
    EXPECT_EQ(r.status, 2) << c.arguments;
    EXPECT_EQ(r.out, "") << c.arguments;
    EXPECT_EQ(r.err.find("qrx_host: "), 0u) << c.arguments << ": " << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.arguments << ": " << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << c.arguments << ": " << r.err;
    EXPECT_TRUE(Files().empty()) << c.arguments;
  }
  // Asked for, the usage goes to stdout with every option.
  const Result help = Run("--help");
  EXPECT_EQ(help.status, 0);
  for (const char* option : {"--width", "--top-down", "--write-settings", "--spectrum"})
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
}

struct BadCase {
  const char* name;
  std::string arguments;  // {in}, {out}, {dir} are replaced
  std::string input;      // bytes of in.raw ("" with no file)
  const char* message;    // part of the one line on stderr
};

// Bad input, for --suggest and --auto with --write-settings and for --spectrum: a
// clear one-line error, exit status 1, and nothing written under the output
// name (a file that was there before is left as it was) and no temporary
// file left beside it.
TEST_F(HostProgram, FileCommandsRefuseBadInputInOneLine) {
  const size_t frameBytes = static_cast<size_t>(kWidth) * kHeight * 2;
  const std::string frame(frameBytes, '\x40');
  const std::vector<BadCase> cases = {
      {"a frame size the plug-in refuses", "--width 1 --height 576 {in} {write} {out}", frame,
       "does not process 1x576 frames"},
      {"a truncated last frame", "{in} {write} {out}", frame + frame.substr(0, 1000), "incomplete"},
      {"no frames", "{in} {write} {out}", "", "no frames"},
      {"an input that does not exist", "{dir}/missing.raw {write} {out}", frame, "cannot open"},
      {"an input that is a folder", "{dir} {write} {out}", frame, "cannot read"},
      {"settings that cannot be read", "--settings {dir}/missing.ini {in} {write} {out}", frame, "cannot read"},
      {"an output in a folder that does not exist", "{in} {write} {dir}/no/such.out", frame, "cannot write"},
      {"an output that is a folder", "{in} {write} {dir}", frame, "cannot write"},
  };
#if QRX_TEST_SPECTRUM
  const std::vector<const char*> commands = {"--suggest --write-settings", "--auto --write-settings", "--spectrum"};
#else
  const std::vector<const char*> commands = {"--suggest --write-settings", "--auto --write-settings"};
#endif
  for (const char* write : commands) {
    for (const BadCase& c : cases) {
      SCOPED_TRACE(std::string(write) + ": " + c.name);
      std::remove(Path("in.raw").c_str());
      if (!c.input.empty() || std::string(c.name) == "no frames") Write("in.raw", c.input);
      Write("out.file", "before\r\n");
      std::string arguments = c.arguments;
      for (const auto& [key, value] : std::vector<std::pair<std::string, std::string>>{
               {"{in}", Path("in.raw")}, {"{out}", Path("out.file")}, {"{dir}", dir_}, {"{write}", write}}) {
        for (size_t at; (at = arguments.find(key)) != std::string::npos;) arguments.replace(at, key.size(), value);
      }
      const std::vector<std::string> before = Files();
      const Result r = Run(arguments);
      EXPECT_EQ(r.status, 1);
      EXPECT_TRUE(r.out.empty()) << r.out;
      EXPECT_EQ(r.err.compare(0, 10, "qrx_host: "), 0) << r.err;
      EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
      EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
      EXPECT_EQ(ReadFileText(Path("out.file")), "before\r\n");
      EXPECT_EQ(Files(), before);
    }
  }
}

#if QRX_TEST_SPECTRUM
// The spectrum picture: the grating's spot where its frequency maps, the
// channel's Dot drawn around it, the MHz labels beside the picture.
TEST_F(HostProgram, SpectrumPictureShowsInterferenceAndFilters) {
  const Grating g = {100, 40, 1024, 14.0, 0.3};
  const qrxtest::TestPicture p = qrxtest::MakePicture(kWidth, kHeight, {g});
  WriteFrames("in.raw", p.frame, 2);
  const int32_t fx = qrxhost::HorizontalKHz(100, 512), fy = -qrxhost::VerticalKHz(40, 1024, kHeight);
  Write("s.ini", "[GLOBAL]\r\nFFTLine=512\r\n[1]\r\nProcEnable=0\r\nFilter=" +
                     qrxtest::FilterText(1, fx, fy, 300, 300, 3, -60, 0) + "\r\n");
  const Result r =
      Run("--spectrum '" + Path("s.png") + "' --settings '" + Path("s.ini") + "' '" + Path("in.raw") + "'");
  ASSERT_EQ(r.status, 0) << r.err;
  cairo_surface_t* png = cairo_image_surface_create_from_png(Path("s.png").c_str());
  ASSERT_EQ(cairo_surface_status(png), CAIRO_STATUS_SUCCESS);
  ASSERT_EQ(cairo_image_surface_get_width(png), 775);
  ASSERT_EQ(cairo_image_surface_get_height(png), 364);
  const uint8_t* data = cairo_image_surface_get_data(png);
  const int stride = cairo_image_surface_get_stride(png);
  const auto pixel = [&](int x, int y) { return *reinterpret_cast<const uint32_t*>(data + y * stride + 4 * x); };
  const auto channel = [](uint32_t c, int shift) { return static_cast<int>((c >> shift) & 0xFF); };
  // The view: 714 x 322 at (44, 13); 9818 and 14727 kHz scales at FFT line 512.
  const int spotX = 44 + qrx::platform::MulDiv(fx, 714, 9818 / 2);
  const int spotY = 13 + qrx::platform::MulDiv(fy, 322, 14727) + 161;
  int bestX = 0, bestY = 0, best = -1;
  for (int y = spotY - 15; y <= spotY + 15; ++y)
    for (int x = spotX - 15; x <= spotX + 15; ++x) {
      const uint32_t c = pixel(x, y);
      const int v = channel(c, 16) + channel(c, 8) + channel(c, 0);
      if (v > best) best = v, bestX = x, bestY = y;
    }
  EXPECT_NEAR(bestX, spotX, 2);
  EXPECT_NEAR(bestY, spotY, 2);
  // The Dot's outline (cyan at alpha 96, blended) at its right end: no
  // palette colour, nor a blend of two, has green above red by more than 2.
  const int edgeX = spotX + qrx::platform::MulDiv(300, 714, 9818 / 2) / 2;
  bool cyan = false;
  for (int y = spotY - 2; y <= spotY + 2; ++y)
    for (int x = edgeX - 2; x <= edgeX + 2; ++x)
      cyan = cyan || (channel(pixel(x, y), 8) - channel(pixel(x, y), 16) > 10 &&
                      channel(pixel(x, y), 0) > channel(pixel(x, y), 16));
  EXPECT_TRUE(cyan);
  // Purple label text left of the picture, on the light background.
  int purple = 0;
  for (int y = 13; y < 335; ++y)
    for (int x = 0; x < 40; ++x) purple += channel(pixel(x, y), 8) + 40 < channel(pixel(x, y), 16) ? 1 : 0;
  EXPECT_GT(purple, 50);
  cairo_surface_destroy(png);
}
#endif

}  // namespace
