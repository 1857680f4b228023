// qrx_host: a reference host for the plug-in. It loads the module, drives it
// through its exports and entry points only, and feeds it raw frames from a
// file or a pipe, or a built-in test picture with known interference.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "demo_picture.h"
#include "frame_reader.h"
#include "module_loader.h"
#include "plugin_module.h"
#include "window_host.h"
#include "priming.h"
#include "settle.h"
#include "suggest_command.h"

namespace qrxhost {
namespace {

struct Options {
  std::string input, output, modulePath, settings, pngIn, pngOut, channelName = "Demo";
  int32_t width = 720, height = 576;
  bool bgr24 = false, topDown = false, demo = false, haveSize = false;
  bool window = false;
  double fps = 25.0, seconds = 0;
  bool suggest = false;
  std::string writeSettings, spectrumPng;
  int32_t keyLow = 1, keyHigh = 0;
  long maxFrames = -1;
};

void Usage() {
  std::fprintf(stderr,
               "usage: qrx_host [options] [INPUT [OUTPUT]]\n"
               "  INPUT, OUTPUT        raw frames; '-' for stdin/stdout (no INPUT: --demo)\n"
               "  --width W --height H frame size (default 720x576)\n"
               "  --format yuy2|bgr24  packed 4:2:2 top-down, or 24-bit BGR bottom-up\n"
               "  --top-down           24-bit frames arrive top line first (as from ffmpeg)\n"
               "  --channel-key L[:H]  channel key of every frame (default 1:0)\n"
               "  --channel-name NAME  channel name (default Demo)\n"
               "  --settings FILE      settings file for the plug-in (copied where it looks)\n"
               "  --png-in F --png-out F  first input / output frame as PNG\n"
               "  --frames N           stop after N frames\n"
               "  --module PATH        the plug-in module (default: beside the host)\n"
               "  --demo               built-in test picture with interference\n"
               "  --window             (Windows) show the picture and the settings window, frames\n"
               "                       looped at --fps (default 25) until either window closes;\n"
               "                       the tuned settings are copied back to --settings FILE\n"
               "  --seconds S          with --window: close the settings window after S seconds\n"
               "  --suggest            find periodic interference in INPUT, print a Filter= line\n"
               "  --write-settings F   with --suggest: write the settings with the suggestion to F\n"
               "  --spectrum F.png     (Linux) draw INPUT's averaged spectrum with the channel's\n"
               "                       filters and MHz scales, as the settings window shows it\n");
}

bool ParseInt(const char* text, int32_t* value) {
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (end == text) return false;
  *value = static_cast<int32_t>(v);
  return true;
}

bool ParseArgs(int argc, char** argv, Options* o) {
  std::vector<std::string> positional;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto next = [&](std::string* into) {
      if (i + 1 >= argc) return false;
      *into = argv[++i];
      return true;
    };
    std::string v;
    if (a == "--width" && next(&v)) {
      if (!ParseInt(v.c_str(), &o->width)) return false;
      o->haveSize = true;
    } else if (a == "--height" && next(&v)) {
      if (!ParseInt(v.c_str(), &o->height)) return false;
      o->haveSize = true;
    } else if (a == "--format" && next(&v)) {
      if (v == "yuy2") o->bgr24 = false;
      else if (v == "bgr24") o->bgr24 = true;
      else return false;
    } else if (a == "--top-down") {
      o->topDown = true;
    } else if (a == "--channel-key" && next(&v)) {
      const size_t colon = v.find(':');
      if (!ParseInt(v.substr(0, colon).c_str(), &o->keyLow)) return false;
      if (colon != std::string::npos && !ParseInt(v.substr(colon + 1).c_str(), &o->keyHigh)) return false;
    } else if (a == "--channel-name" && next(&v)) {
      o->channelName = v;
    } else if (a == "--settings" && next(&v)) {
      o->settings = v;
    } else if (a == "--png-in" && next(&v)) {
      o->pngIn = v;
    } else if (a == "--png-out" && next(&v)) {
      o->pngOut = v;
    } else if (a == "--frames" && next(&v)) {
      o->maxFrames = std::strtol(v.c_str(), nullptr, 10);
    } else if (a == "--module" && next(&v)) {
      o->modulePath = v;
    } else if (a == "--demo") {
      o->demo = true;
    } else if (a == "--window") {
      o->window = true;
    } else if (a == "--fps" && next(&v)) {
      o->fps = std::strtod(v.c_str(), nullptr);
      if (!(o->fps > 0 && o->fps <= 1000)) return false;
    } else if (a == "--seconds" && next(&v)) {
      o->seconds = std::strtod(v.c_str(), nullptr);
      if (!(o->seconds > 0)) return false;
    } else if (a == "--suggest") {
      o->suggest = true;
    } else if (a == "--write-settings" && next(&v)) {
      o->writeSettings = v;
    } else if (a == "--spectrum" && next(&v)) {
      o->spectrumPng = v;
    } else if (a == "-" || a.empty() || a[0] != '-') {
      positional.push_back(a);
    } else {
      return false;
    }
  }
  if (positional.size() > 2) return false;
  if (!positional.empty()) o->input = positional[0];
  if (positional.size() > 1) o->output = positional[1];
  const bool spectrum = !o->spectrumPng.empty();
  if (o->input.empty() && !o->suggest && !spectrum) o->demo = true;
  if ((o->suggest || spectrum) && o->input.empty()) return false;
  if (o->suggest && spectrum) return false;  // one pass over the input each
  if (!o->writeSettings.empty() && !o->suggest) return false;
  return o->width > 0 && o->height > 0;
}

// The host's channelCheck: it knows every channel.
int32_t KnowsEveryChannel(int32_t, int32_t) { return 1; }

bool WritePng(const Options& o, const std::string& path, const std::vector<uint8_t>& frame) {
  if (path.empty()) return true;
  const bool ok = o.bgr24 ? WritePngFromBgr24(path, frame, o.width, o.height)
                          : WritePngFromYuy2(path, frame, o.width, o.height);
  if (!ok) std::fprintf(stderr, "qrx_host: cannot write %s%s\n", path.c_str(), PngAvailable() ? "" : " (no PNG support)");
  return ok;
}

class Session {
 public:
  Session(PluginModule& plugin, const Options& o) : plugin_(plugin), o_(o) {
    channel_.keyLow = o.keyLow;
    channel_.keyHigh = o.keyHigh;
    std::snprintf(channel_.name, sizeof(channel_.name), "%s", o.channelName.c_str());
  }
  void Begin() {
    qrx::InitInfo init = {0, &KnowsEveryChannel};
    plugin_.Descriptor().init(&init);
    qrx::FrameFormat format = {o_.width, o_.height, 0, o_.bgr24 ? 1 : 0, 3};
    plugin_.Descriptor().start(&format);
  }
  int32_t Frame(std::vector<uint8_t>* frame) {
    qrx::FrameInfo info = {};
    info.pixels = frame->data();
    info.channel = channel_.Info();
    return plugin_.Descriptor().process(&info);
  }
  void End() {
    plugin_.Descriptor().stop();
    plugin_.Descriptor().exit();
  }

 private:
  PluginModule& plugin_;
  const Options& o_;
  ChannelRecord channel_;
};

int RunStream(PluginModule& plugin, const Options& o) {
  const size_t lineBytes = static_cast<size_t>(o.width) * (o.bgr24 ? 3 : 2);
  FrameReader reader;
  std::string error;
  if (!reader.Open(o.input, lineBytes * o.height, &error)) {
    std::fprintf(stderr, "qrx_host: %s\n", error.c_str());
    return 1;
  }
  std::FILE* out = nullptr;
  if (!o.output.empty()) {
    out = o.output == "-" ? stdout : std::fopen(o.output.c_str(), "wb");
    if (out == nullptr) {
      std::fprintf(stderr, "qrx_host: cannot create %s\n", o.output.c_str());
      return 1;
    }
  }
  if (out == stdout) SetBinaryMode(stdout);

  std::vector<uint8_t> frame;
  Session session(plugin, o);
  session.Begin();
  const bool progress = StderrIsTerminal();
  const auto start = std::chrono::steady_clock::now();
  auto lastReport = start;
  long frames = 0;
  int status = 0;
  while (o.maxFrames < 0 || frames < o.maxFrames) {
    const FrameReader::Result got = reader.Next(&frame);
    if (got == FrameReader::Result::kEnd) break;
    if (got == FrameReader::Result::kError) {
      std::fprintf(stderr, "qrx_host: cannot read %s\n", o.input.c_str());
      status = 1;
      break;
    }
    if (got == FrameReader::Result::kTruncated) {
      std::fprintf(stderr, "qrx_host: last frame incomplete (%zu of %zu bytes), dropped\n", reader.BytesRead(),
                   frame.size());
      break;
    }
    if (o.bgr24 && o.topDown) FlipLines(&frame, lineBytes, o.height);
    if (frames == 0) {
      WritePng(o, o.pngIn, frame);
      // No frame leaves with the mask that was there before the channel's:
      // the first frame goes out once the output has settled.
      const Settled primed = SettleOutput(frame, [&](std::vector<uint8_t>* f) { session.Frame(f); },
                                          StreamPrimingLimits(o.settings, o.keyLow, o.keyHigh, o.height));
      if (!primed.settled) std::fprintf(stderr, "qrx_host: the output did not settle; streaming all the same\n");
      frame = primed.output;
      WritePng(o, o.pngOut, frame);
    } else {
      session.Frame(&frame);
    }
    if (o.bgr24 && o.topDown) FlipLines(&frame, lineBytes, o.height);
    if (out != nullptr && std::fwrite(frame.data(), 1, frame.size(), out) != frame.size()) {
      std::fprintf(stderr, "qrx_host: write failed\n");
      status = 1;
      break;
    }
    ++frames;
    const auto now = std::chrono::steady_clock::now();
    if (progress && now - lastReport > std::chrono::milliseconds(500)) {
      const double seconds = std::chrono::duration<double>(now - start).count();
      std::fprintf(stderr, "\rframes %ld, %.1f fps", frames, frames / seconds);
      lastReport = now;
    }
  }
  session.End();
  if (progress) {
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::fprintf(stderr, "\rframes %ld, %.1f fps\n", frames, seconds > 0 ? frames / seconds : 0.0);
  }
  if (out != nullptr && out != stdout) std::fclose(out);
  else if (out == stdout) std::fflush(stdout);
  return status;
}

// The demo's interference: three gratings placed on exact bins of the
// 512-point line and the 1024-row column of a 576-line frame.
std::vector<Grating> DemoGratings() {
  return {{120, 0, 1024, 12.0, 0.3}, {60, 200, 1024, 10.0, 1.1}, {20, 300, 1024, 10.0, 2.0}};
}

int RunDemo(PluginModule& plugin, Options o) {
  if (!o.haveSize) {
    o.width = 720;
    o.height = 576;
  }
  const std::vector<double> clean = MakeCleanLuma(o.width, o.height);
  std::vector<double> noisy = clean;
  const std::vector<Grating> gratings = DemoGratings();
  for (const Grating& g : gratings) AddGrating(&noisy, o.width, o.height, g);
  const std::vector<uint8_t> cleanFrame = MakeYuy2(clean, o.width, o.height);
  const std::vector<uint8_t> input422 = MakeYuy2(noisy, o.width, o.height);
  const std::vector<uint8_t> input = o.bgr24 ? Yuy2ToBgr24(input422, o.width, o.height) : input422;

  Session session(plugin, o);
  session.Begin();
  // Feed the picture until the output has stayed the same for a second.
  const Settled settled =
      SettleOutput(input, [&](std::vector<uint8_t>* f) { session.Frame(f); }, SettleLimits{1000, 1000, 30000, 20});
  const std::vector<uint8_t>& output = settled.output;
  // The same mask on the clean picture: what the filter does to the picture
  // itself, so that the interference left over can be told apart from it.
  std::vector<uint8_t> outputClean = o.bgr24 ? Yuy2ToBgr24(cleanFrame, o.width, o.height) : cleanFrame;
  session.Frame(&outputClean);
  session.End();

  const std::string before = o.pngIn.empty() ? "demo_before.png" : o.pngIn;
  const std::string after = o.pngOut.empty() ? "demo_after.png" : o.pngOut;
  WritePng(o, before, input);
  WritePng(o, after, output);

  // Measure on luma; 24-bit frames are taken back to luma through BT.601.
  auto lumaOf = [&](const std::vector<uint8_t>& f) {
    if (!o.bgr24) return LumaOfYuy2(f, o.width, o.height);
    std::vector<double> y(static_cast<size_t>(o.width) * o.height);
    for (int32_t r = 0; r < o.height; ++r)
      for (int32_t x = 0; x < o.width; ++x) {
        const uint8_t* p = &f[(static_cast<size_t>(o.height - 1 - r) * o.width + x) * 3];
        y[static_cast<size_t>(r) * o.width + x] = 0.114 * p[0] + 0.587 * p[1] + 0.299 * p[2];
      }
    return y;
  };
  const std::vector<double> cleanY = o.bgr24 ? lumaOf(Yuy2ToBgr24(cleanFrame, o.width, o.height))
                                             : LumaOfYuy2(cleanFrame, o.width, o.height);
  const std::vector<double> inY = lumaOf(input), outY = lumaOf(output), outCleanY = lumaOf(outputClean);
  std::vector<double> errIn(inY.size()), errOut(outY.size());
  for (size_t i = 0; i < inY.size(); ++i) {
    errIn[i] = inY[i] - cleanY[i];
    errOut[i] = outY[i] - outCleanY[i];
  }
  std::printf("qrx_host demo: %dx%d %s, %d frames fed until the output settled\n", o.width, o.height,
              o.bgr24 ? "bgr24" : "yuy2", settled.frames);
  for (const Grating& g : gratings) {
    const double a0 = GratingAmplitude(errIn, o.width, o.height, g);
    const double a1 = GratingAmplitude(errOut, o.width, o.height, g);
    std::printf("  grating %3.0f cycles/line x %3.0f/%d rows: amplitude %.3f -> %.4f, interference removed %.1f dB\n",
                g.cyclesX, g.cyclesY, g.rowsM, a0, a1, PowerRatioDb(a0, a1));
  }
  const double e0 = SquaredError(inY, cleanY), e1 = SquaredError(outY, outCleanY);
  std::printf("  interference energy (input - clean vs output - filtered clean): %.1f dB lower\n",
              e1 > 0 ? 10 * std::log10(e0 / e1) : 200.0);
  std::printf("  PSNR vs clean: input %.2f dB, output %.2f dB\n",
              Psnr(inY, cleanY, o.width, 0, 0, o.width, o.height),
              Psnr(outY, cleanY, o.width, 0, 0, o.width, o.height));
  if (PngAvailable()) std::printf("  pictures: %s, %s\n", before.c_str(), after.c_str());
  return 0;
}

// The frames the window host loops: the input's first frames (at most
// kMaxWindowFrames), or the demo picture.
constexpr long kMaxWindowFrames = 250;

int RunWindow(PluginModule& plugin, const Options& o) {
  WindowRun run;
  run.width = o.width;
  run.height = o.height;
  run.bgr24 = o.bgr24;
  run.keyLow = o.keyLow;
  run.keyHigh = o.keyHigh;
  run.channelName = o.channelName;
  run.framesPerSecond = o.fps;
  run.closeAfterSeconds = o.seconds;
  const size_t lineBytes = static_cast<size_t>(o.width) * (o.bgr24 ? 3 : 2);
  if (o.demo) {
    std::vector<double> luma = MakeCleanLuma(o.width, o.height);
    for (const Grating& g : DemoGratings()) AddGrating(&luma, o.width, o.height, g);
    const std::vector<uint8_t> frame = MakeYuy2(luma, o.width, o.height);
    run.frames.push_back(o.bgr24 ? Yuy2ToBgr24(frame, o.width, o.height) : frame);
  } else {
    FrameReader reader;
    std::string error;
    if (!reader.Open(o.input, lineBytes * o.height, &error)) {
      std::fprintf(stderr, "qrx_host: %s\n", error.c_str());
      return 1;
    }
    std::vector<uint8_t> frame;
    while (static_cast<long>(run.frames.size()) < kMaxWindowFrames &&
           reader.Next(&frame) == FrameReader::Result::kFrame) {
      if (o.bgr24 && o.topDown) FlipLines(&frame, lineBytes, o.height);
      run.frames.push_back(frame);
    }
    if (run.frames.empty()) {
      std::fprintf(stderr, "qrx_host: no whole frame in %s\n", o.input.c_str());
      return 1;
    }
  }
  return RunWindowHost(plugin, run);
}

}  // namespace
}  // namespace qrxhost

int main(int argc, char** argv) {
  using namespace qrxhost;
  Options o;
  if (!ParseArgs(argc, argv, &o)) {
    Usage();
    return 2;
  }
  if (o.suggest || !o.spectrumPng.empty()) {
    // Work on the spectrum alone: no module, no settings copy.
    SuggestRequest request;
    request.input = o.input;
    request.settings = o.settings;
    request.writeSettings = o.writeSettings;
    request.spectrumPng = o.spectrumPng;
    request.width = o.width;
    request.height = o.height;
    request.bgr24 = o.bgr24;
    request.topDown = o.topDown;
    request.keyLow = o.keyLow;
    request.keyHigh = o.keyHigh;
    request.maxFrames = o.maxFrames;
    return o.suggest ? RunSuggest(request) : RunSpectrum(request);
  }
  if (o.modulePath.empty()) o.modulePath = ExecutableFolder() + "QRX_FreqFilter" + ModuleSuffix();
  if (o.window && !WindowHostAvailable()) {
    PluginModule none;
    return RunWindowHost(none, WindowRun());
  }
  const bool userSettings = !o.settings.empty();
  if (o.demo && o.settings.empty()) {
    // The demo's settings file ships beside the host.
    o.settings = ExecutableFolder() + "demo/QRX_FreqFilter.ini";
  }
  // The module's base name decides the settings file's name.
  std::string base = o.modulePath.substr(o.modulePath.find_last_of("/\\") + 1);
  base = base.substr(0, base.find_last_of('.'));
  std::string placed;
  if (!o.settings.empty()) {
    if (!PrepareSettingsFile(base, o.settings, &placed)) {
      std::fprintf(stderr, "qrx_host: cannot prepare settings from %s\n", o.settings.c_str());
      CleanUpSettingsFile();
      return 1;
    }
  }
  PluginModule plugin;
  std::string error;
  if (!plugin.Load(o.modulePath, &error)) {
    std::fprintf(stderr, "qrx_host: cannot load %s: %s\n", o.modulePath.c_str(), error.c_str());
    CleanUpSettingsFile();
    return 1;
  }
  if (plugin.Version() != 3) {
    std::fprintf(stderr, "qrx_host: interface version %d, expected 3\n", plugin.Version());
    CleanUpSettingsFile();
    return 1;
  }
  int status = 0;
  if (o.window) {
    status = RunWindow(plugin, o);
    // What the user tuned goes back into the file they named.
    if (status == 0 && userSettings && !CopyFileBytes(placed, o.settings)) {
      std::fprintf(stderr, "qrx_host: cannot write the settings back to %s\n", o.settings.c_str());
      status = 1;
    }
  } else {
    status = o.demo ? RunDemo(plugin, o) : RunStream(plugin, o);
  }
  plugin.Unload();
  CleanUpSettingsFile();
  return status;
}
