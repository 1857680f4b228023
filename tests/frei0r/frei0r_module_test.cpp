// The module as hosts see it: loaded from the built qrx_freqfilter.so, driven
// through its frei0r entry points only. What it declares and exports, every
// frame filtered from the first whichever way the filters are given, a
// change followed from the next frame, bad input (one line, frames passed
// unchanged, the settings file never written), and independent instances
// running at the same time.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "clip_picture.h"

extern "C" {
#include <frei0r.h>
}

namespace {

using qrxtest::CleanFrame;
using qrxtest::GratingKHz;
using qrxtest::GratingsOfFilterText;
using qrxtest::Judge;
using qrxtest::WithInterference;

const char* const kTwoDots =
    "En:1/Fx:2301/Fy:0/Wx:300/Wy:300/O:3/S:-60/T:0//En:1/Fx:1151/Fy:-2876/Wx:300/Wy:300/O:3/S:-60/T:0//";
// Dots where the test pictures have no interference.
const char* const kElsewhere = "En:1/Fx:5000/Fy:4000/Wx:300/Wy:300/O:3/S:-60/T:0//";
constexpr double kAmplitude = 12.0;

struct Module {
  void* handle = nullptr;
  int (*init)();
  void (*deinit)();
  void (*pluginInfo)(f0r_plugin_info_t*);
  void (*paramInfo)(f0r_param_info_t*, int);
  f0r_instance_t (*construct)(unsigned int, unsigned int);
  void (*destruct)(f0r_instance_t);
  void (*setParam)(f0r_instance_t, f0r_param_t, int);
  void (*getParam)(f0r_instance_t, f0r_param_t, int);
  void (*update)(f0r_instance_t, double, const uint32_t*, uint32_t*);

  template <class T>
  void Resolve(T* fn, const char* name) {
    *fn = reinterpret_cast<T>(dlsym(handle, name));
  }
  Module() {
    handle = dlopen(QRX_FREI0R_MODULE, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return;
    Resolve(&init, "f0r_init");
    Resolve(&deinit, "f0r_deinit");
    Resolve(&pluginInfo, "f0r_get_plugin_info");
    Resolve(&paramInfo, "f0r_get_param_info");
    Resolve(&construct, "f0r_construct");
    Resolve(&destruct, "f0r_destruct");
    Resolve(&setParam, "f0r_set_param_value");
    Resolve(&getParam, "f0r_get_param_value");
    Resolve(&update, "f0r_update");
    init();
  }
};

Module& Frei0r() {
  static Module module;
  return module;
}

// One instance with its parameters set the way hosts do (strings as char**).
class Instance {
 public:
  Instance(unsigned width, unsigned height) : width_(width), height_(height) {
    instance_ = Frei0r().construct(width, height);
  }
  ~Instance() { Frei0r().destruct(instance_); }
  Instance& Text(int index, const std::string& value) {
    const char* text = value.c_str();
    Frei0r().setParam(instance_, &text, index);
    return *this;
  }
  Instance& Number(int index, double value) {
    Frei0r().setParam(instance_, &value, index);
    return *this;
  }
  std::vector<uint8_t> Filter(const std::vector<uint8_t>& in, double time = 0.0) {
    std::vector<uint8_t> out(in.size(), 0xCD);
    Frei0r().update(instance_, time, reinterpret_cast<const uint32_t*>(in.data()),
                    reinterpret_cast<uint32_t*>(out.data()));
    return out;
  }
  f0r_instance_t Handle() const { return instance_; }

 private:
  unsigned width_, height_;
  f0r_instance_t instance_;
};

enum { kSettings = 0, kSection = 1, kFilters = 2, kFftLine = 3 };

// Standard error captured in a file for the scope's lifetime.
class CapturedStderr {
 public:
  CapturedStderr() {
    std::fflush(stderr);
    file_ = std::tmpfile();
    saved_ = dup(2);
    dup2(fileno(file_), 2);
  }
  std::vector<std::string> Lines() {
    std::fflush(stderr);
    std::vector<std::string> lines;
    std::rewind(file_);
    char line[1024];
    while (std::fgets(line, sizeof(line), file_) != nullptr) lines.emplace_back(line);
    return lines;
  }
  ~CapturedStderr() {
    std::fflush(stderr);
    dup2(saved_, 2);
    close(saved_);
    std::fclose(file_);
  }

 private:
  std::FILE* file_;
  int saved_;
};

std::string WriteFile(const std::string& name, const std::string& text) {
  const std::string path = testing::TempDir() + name;
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void ExpectFiltered(const std::vector<uint8_t>& clean, const std::vector<uint8_t>& in, const std::vector<uint8_t>& out,
                    int32_t width, int32_t height, const std::vector<GratingKHz>& gratings) {
  const qrxtest::FrameVerdict v = Judge(clean.data(), in.data(), out.data(), width, height, gratings);
  EXPECT_GE(v.worstRemovedDb, 20.0);
  EXPECT_LE(v.cleanMaxChange, qrxtest::kCleanMaxChange);
  EXPECT_GE(v.cleanShareWithinOne, qrxtest::kCleanShareWithinOne);
  EXPECT_TRUE(v.alphaKept);
}

TEST(Frei0rModule, DeclaresABgraFilterAndExportsOnlyTheFrei0rFunctions) {
  Module& m = Frei0r();
  ASSERT_NE(m.handle, nullptr) << dlerror();
  f0r_plugin_info_t info = {};
  m.pluginInfo(&info);
  EXPECT_STREQ(info.name, "QRX FreqFilter");
  EXPECT_EQ(info.plugin_type, F0R_PLUGIN_TYPE_FILTER);
  EXPECT_EQ(info.color_model, F0R_COLOR_MODEL_BGRA8888);
  EXPECT_EQ(info.frei0r_version, FREI0R_MAJOR_VERSION);
  ASSERT_EQ(info.num_params, 4);
  const std::pair<const char*, int> expected[] = {{"settings", F0R_PARAM_STRING},
                                                  {"section", F0R_PARAM_STRING},
                                                  {"filters", F0R_PARAM_STRING},
                                                  {"fft_line", F0R_PARAM_DOUBLE}};
  for (int i = 0; i < info.num_params; ++i) {
    f0r_param_info_t p = {};
    m.paramInfo(&p, i);
    EXPECT_STREQ(p.name, expected[i].first);
    EXPECT_EQ(p.type, expected[i].second);
    EXPECT_NE(p.explanation, nullptr);
  }

  std::FILE* nm = popen("nm -D --defined-only '" QRX_FREI0R_MODULE "'", "r");
  ASSERT_NE(nm, nullptr);
  std::set<std::string> exported;
  char line[512];
  while (std::fgets(line, sizeof(line), nm) != nullptr) {
    char type[8], name[256];
    if (std::sscanf(line, "%*s %7s %255s", type, name) == 2 && (type[0] == 'T' || type[0] == 'D' || type[0] == 'B')) {
      exported.insert(name);
    }
  }
  ASSERT_EQ(pclose(nm), 0);
  EXPECT_EQ(exported, (std::set<std::string>{"f0r_init", "f0r_deinit", "f0r_get_plugin_info", "f0r_get_param_info",
                                             "f0r_construct", "f0r_destruct", "f0r_set_param_value",
                                             "f0r_get_param_value", "f0r_update"}));

  // The settings store, and with it the settings file's writer, is not in
  // the module at all (its symbol table, local symbols included).
  std::FILE* all = popen("nm -C '" QRX_FREI0R_MODULE "'", "r");
  ASSERT_NE(all, nullptr);
  bool store = false, any = false;
  while (std::fgets(line, sizeof(line), all) != nullptr) {
    any = true;
    if (std::strstr(line, "SettingsStore") != nullptr) store = true;
  }
  pclose(all);
  EXPECT_TRUE(any);
  EXPECT_FALSE(store);
}

TEST(Frei0rModule, ParametersReadBackAsSetAndStringsAreCopied) {
  Instance instance(64, 48);
  char buffer[] = "my.ini";
  char* text = buffer;
  Frei0r().setParam(instance.Handle(), &text, kSettings);
  buffer[0] = 'X';
  instance.Number(kFftLine, 0.25);
  const char* settings = nullptr;
  double fftLine = 0.0;
  Frei0r().getParam(instance.Handle(), &settings, kSettings);
  Frei0r().getParam(instance.Handle(), &fftLine, kFftLine);
  EXPECT_STREQ(settings, "my.ini");
  EXPECT_EQ(fftLine, 0.25);
  // GStreamer passes a string changed on a running element as the string
  // itself (char*), not its address: read the same, short strings too.
  for (const char* value : {"12", "", "DEFAULT", kTwoDots, "/tmp/a settings file.ini"}) {
    SCOPED_TRACE(value);
    char direct[256] = {};
    std::strncpy(direct, value, sizeof(direct) - 1);
    Frei0r().setParam(instance.Handle(), direct, kSection);
    const char* read = nullptr;
    Frei0r().getParam(instance.Handle(), &read, kSection);
    EXPECT_STREQ(read, value);
  }
  // Defaults of a new instance: empty texts, fft_line 0.
  Instance fresh(64, 48);
  for (int i : {kSettings, kSection, kFilters}) {
    const char* value = nullptr;
    Frei0r().getParam(fresh.Handle(), &value, i);
    EXPECT_STREQ(value, "");
  }
  Frei0r().getParam(fresh.Handle(), &fftLine, kFftLine);
  EXPECT_EQ(fftLine, 0.0);
}

// Every way of giving the filters: each frame, the first included, leaves
// with the interference removed, the clean area kept within rounding and
// alpha untouched.
TEST(Frei0rModule, FiltersEveryFrameFromTheFirst) {
  const int32_t width = 360, height = 288;
  const std::string settings =
      WriteFile("module_settings.ini", std::string("[GLOBAL]\r\nFFTLine=1024\r\n[DEFAULT]\r\nProcEnable=1\r\nFilter=") +
                                           kElsewhere + "\r\n[12]\r\nProcEnable=1\r\nFilter=" + kTwoDots + "\r\n");
  const std::string channelOnly =
      WriteFile("module_channel.ini",
                std::string("[GLOBAL]\r\nFFTLine=256\r\n[5]\r\nProcEnable=1\r\nFilter=") + kTwoDots + "\r\n");
  struct Case {
    const char* name;
    const char* settings;
    const char* section;
    const char* filters;
    double fftLine;
  };
  const Case cases[] = {
      {"filters", "", "", kTwoDots, 0.0},
      {"filters, fft_line 1024", "", "", kTwoDots, 1024.0},
      {"filters, fft_line 0.25", "", "", kTwoDots, 0.25},
      {"settings, section 12", settings.c_str(), "12", "", 0.0},
      {"settings, first channel", channelOnly.c_str(), "", "", 0.0},
      {"settings [DEFAULT] replaced by filters", settings.c_str(), "", kTwoDots, 512.0},
  };
  const auto gratings = GratingsOfFilterText(kTwoDots, kAmplitude);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CapturedStderr err;
    Instance instance(width, height);
    instance.Text(kSettings, c.settings)
        .Text(kSection, c.section)
        .Text(kFilters, c.filters)
        .Number(kFftLine, c.fftLine);
    for (int32_t frame = 0; frame < 2; ++frame) {
      SCOPED_TRACE(frame);
      const std::vector<uint8_t> clean = CleanFrame(width, height, frame);
      const std::vector<uint8_t> in = WithInterference(clean, width, height, gratings);
      ExpectFiltered(clean, in, instance.Filter(in, frame * 0.04), width, height, gratings);
    }
    EXPECT_TRUE(err.Lines().empty());
  }
}

// A change between frames shows on the very next frame; a host that filters
// in place gets the same pixels as with two buffers.
TEST(Frei0rModule, FollowsAChangeFromTheNextFrame) {
  const int32_t width = 360, height = 288;
  const auto gratings = GratingsOfFilterText(kTwoDots, kAmplitude);
  const std::vector<uint8_t> clean = CleanFrame(width, height, 0);
  const std::vector<uint8_t> in = WithInterference(clean, width, height, gratings);
  Instance instance(width, height);

  instance.Text(kFilters, kElsewhere);
  std::vector<uint8_t> out = instance.Filter(in);
  EXPECT_LT(Judge(clean.data(), in.data(), out.data(), width, height, gratings).worstRemovedDb, 3.0);

  instance.Text(kFilters, kTwoDots);
  ExpectFiltered(clean, in, instance.Filter(in), width, height, gratings);

  instance.Number(kFftLine, 1024.0);
  out = instance.Filter(in);
  ExpectFiltered(clean, in, out, width, height, gratings);
  std::vector<uint8_t> inPlace = in;
  Frei0r().update(instance.Handle(), 0.0, reinterpret_cast<const uint32_t*>(inPlace.data()),
                  reinterpret_cast<uint32_t*>(inPlace.data()));
  EXPECT_EQ(inPlace, out);

  instance.Text(kFilters, "");
  EXPECT_EQ(instance.Filter(in), in);
}

// Bad input: one line on standard error however many frames follow, every
// frame passed unchanged, the settings file left as it was (a missing one
// is not created); once the parameters are good again the frames are
// filtered.
TEST(Frei0rModule, BadInputPassesFramesUnchangedWithOneLine) {
  const std::string settingsText =
      std::string("[GLOBAL]\r\nFFTLine=512\r\n[DEFAULT]\r\nProcEnable=1\r\nFilter=") + kTwoDots + "\r\n";
  const std::string settings = WriteFile("user_settings.ini", settingsText);
  struct stat before;
  ASSERT_EQ(stat(settings.c_str(), &before), 0);
  const std::string missing = testing::TempDir() + "no_such_settings.ini";
  std::remove(missing.c_str());
  struct Case {
    const char* reason;
    unsigned width, height;
    std::string settings, section, filters;
    double fftLine;
  };
  const Case cases[] = {
      {"cannot read the settings file", 64, 48, missing, "", "", 0.0},
      {"cannot read the settings file", 64, 48, testing::TempDir(), "", "", 0.0},
      {"no section [3]", 64, 48, settings, "3", "", 0.0},
      {"malformed filters text", 64, 48, "", "", "En:1/Fx:2301/Fy:0", 0.0},
      {"malformed filters text", 64, 48, settings, "", "Filter=" + std::string(kTwoDots), 0.0},
      {"fft_line 2048", 64, 48, "", "", kTwoDots, 2048.0},
      {"fft_line 0.3", 64, 48, settings, "", "", 0.3},
      {"outside 8 x 6", 7, 48, "", "", kTwoDots, 0.0},
      {"outside 8 x 6", 64, 5, settings, "", "", 0.0},
      {"outside 8 x 6", 8193, 8, "", "", kTwoDots, 0.0},
      {"no settings and no filters", 64, 48, "", "", "", 0.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.reason) + " " + std::to_string(c.width) + "x" + std::to_string(c.height));
    CapturedStderr err;
    Instance instance(c.width, c.height);
    instance.Text(kSettings, c.settings)
        .Text(kSection, c.section)
        .Text(kFilters, c.filters)
        .Number(kFftLine, c.fftLine);
    for (int32_t frame = 0; frame < 3; ++frame) {
      // Frames of any content, including the smallest and largest sizes.
      std::vector<uint8_t> in(static_cast<size_t>(c.width) * c.height * 4);
      for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<uint8_t>(i * 7 + frame);
      EXPECT_EQ(instance.Filter(in), in);
      // MLT sets every value again before each frame: still one line.
      instance.Text(kSettings, c.settings).Text(kFilters, c.filters).Number(kFftLine, c.fftLine);
    }
    const std::vector<std::string> lines = err.Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("qrx_freqfilter: ", 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find(c.reason), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("frames pass unchanged"), std::string::npos) << lines[0];
  }
  // Null frames and unknown parameter indices are ignored.
  Instance instance(64, 48);
  double value = 1.0;
  Frei0r().setParam(instance.Handle(), &value, 9);
  Frei0r().setParam(instance.Handle(), nullptr, kFftLine);
  Frei0r().update(instance.Handle(), 0.0, nullptr, nullptr);

  // The settings file is exactly as it was; the missing one was not made.
  struct stat after;
  ASSERT_EQ(stat(settings.c_str(), &after), 0);
  EXPECT_EQ(ReadFile(settings), settingsText);
  EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
  EXPECT_NE(access(missing.c_str(), F_OK), 0);
}

// Instances share nothing: several run at once on threads of their own
// (the way MLT keeps one per thread), each giving the pixels it gives alone;
// one of them has odd sizes.
TEST(Frei0rModule, IndependentInstancesRunConcurrently) {
  struct Stream {
    int32_t width, height;
    const char* filters;
    double fftLine;
  };
  const Stream streams[] = {
      {128, 96, kTwoDots, 0.0}, {96, 64, kElsewhere, 256.0}, {160, 120, kTwoDots, 1024.0}, {101, 77, kTwoDots, 0.5}};
  constexpr int kStreams = 4, kFrames = 3;
  auto run = [&](int s, std::vector<std::vector<uint8_t>>* outputs) {
    const Stream& stream = streams[s];
    const auto gratings = GratingsOfFilterText(kTwoDots, kAmplitude);
    Instance instance(stream.width, stream.height);
    instance.Text(kFilters, stream.filters).Number(kFftLine, stream.fftLine);
    for (int frame = 0; frame < kFrames; ++frame) {
      const auto in =
          WithInterference(CleanFrame(stream.width, stream.height, frame), stream.width, stream.height, gratings);
      outputs->push_back(instance.Filter(in));
    }
  };
  std::vector<std::vector<uint8_t>> alone[kStreams], together[kStreams];
  for (int s = 0; s < kStreams; ++s) run(s, &alone[s]);
  std::vector<std::thread> threads;
  for (int s = 0; s < kStreams; ++s) threads.emplace_back(run, s, &together[s]);
  for (std::thread& t : threads) t.join();
  for (int s = 0; s < kStreams; ++s) {
    SCOPED_TRACE(s);
    ASSERT_EQ(together[s].size(), static_cast<size_t>(kFrames));
    EXPECT_TRUE(together[s] == alone[s]);
  }

  // MLT with a frei0r filter's "threads" set calls one instance from several
  // threads at once (a slice each): the calls are taken one at a time.
  const int32_t width = 128, height = 48;
  const auto gratings = GratingsOfFilterText(kTwoDots, kAmplitude);
  const auto slice = WithInterference(CleanFrame(width, height, 0), width, height, gratings);
  Instance shared(width, height);
  shared.Text(kFilters, kTwoDots);
  const std::vector<uint8_t> reference = shared.Filter(slice);
  std::vector<std::vector<uint8_t>> outputs(3);
  std::vector<std::thread> slices;
  for (auto& out : outputs) {
    slices.emplace_back([&shared, &slice, &out]() {
      for (int frame = 0; frame < 3; ++frame) out = shared.Filter(slice);
    });
  }
  for (std::thread& t : slices) t.join();
  for (const auto& out : outputs) EXPECT_TRUE(out == reference);
}

}  // namespace
