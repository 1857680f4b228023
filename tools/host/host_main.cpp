// qrx_host: a reference host for the plug-in. It loads the module, drives it
// through its exports and entry points only, and feeds it raw frames from a
// file or a pipe, or a built-in test picture with known interference.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "auto_command.h"
#include "demo_picture.h"
#include "frame_queue.h"
#include "frame_reader.h"
#include "host_options.h"
#include "host_platform.h"
#include "platform/platform.h"
#include "plugin_module.h"
#include "priming.h"
#include "settle.h"
#include "stream_session.h"
#include "suggest_command.h"
#include "window_host.h"

namespace qrxhost {
namespace {

int Fail(const std::string& message) {
  std::fprintf(stderr, "qrx_host: %s\n", message.c_str());
  return 1;
}

bool WritePng(const StreamFormat& f, const std::string& path, const std::vector<uint8_t>& frame) {
  if (path.empty()) return true;
  const bool ok =
      f.bgr24 ? WritePngFromBgr24(path, frame, f.width, f.height) : WritePngFromYuy2(path, frame, f.width, f.height);
  if (!ok) Fail("cannot write " + path + (PngAvailable() ? "" : " (no PNG support)"));
  return ok;
}

// Where the filtered frames go: nowhere, a file, or standard output.
class FrameWriter {
 public:
  ~FrameWriter() {
    if (file_ != nullptr && file_ != stdout) std::fclose(file_);
    if (file_ == stdout) std::fflush(stdout);
  }
  bool Open(const std::string& path) {
    if (path.empty()) return true;
    file_ = path == "-" ? stdout : std::fopen(path.c_str(), "wb");
    if (file_ == stdout) SetBinaryMode(stdout);
    return file_ != nullptr;
  }
  bool Write(const std::vector<uint8_t>& frame) {
    return file_ == nullptr || std::fwrite(frame.data(), 1, frame.size(), file_) == frame.size();
  }

 private:
  std::FILE* file_ = nullptr;
};

// Frames and frame rate on stderr, twice a second, when it is a terminal.
class Progress {
 public:
  void Count(long frames) {
    const auto now = std::chrono::steady_clock::now();
    if (!shown_ || now - last_ < std::chrono::milliseconds(500)) return;
    Show(frames, "\r");
    last_ = now;
  }
  void Finish(long frames) {
    if (shown_) Show(frames, "\n");
  }

 private:
  void Show(long frames, const char* end) const {
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    std::fprintf(stderr, "\rframes %ld, %.1f fps%s", frames, s > 0 ? frames / s : 0.0, end);
  }
  const bool shown_ = StderrIsTerminal();
  const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point last_ = start_;
};

// The next whole frame; false at the end of the input, with *status 1 and a
// message when the input failed.
bool ReadFrame(FrameReader& reader, const std::string& input, std::vector<uint8_t>* frame, int* status) {
  switch (reader.Next(frame)) {
    case FrameReader::Result::kFrame:
      return true;
    case FrameReader::Result::kEnd:
      return false;
    case FrameReader::Result::kError:
      *status = Fail("cannot read " + input);
      return false;
    case FrameReader::Result::kTruncated:
      std::fprintf(stderr, "qrx_host: last frame incomplete (%zu of %zu bytes), dropped\n", reader.BytesRead(),
                   frame->size());
      return false;
  }
  return false;
}

// No frame leaves with the mask that was there before the channel's: the
// first frame goes out once the output has settled.
void PrimeFirstFrame(const Options& o, StreamSession& session, std::vector<uint8_t>* frame) {
  WritePng(o.format, o.pngIn, *frame);
  const Settled primed = SettleOutput(
      *frame, [&](std::vector<uint8_t>* f) { session.Frame(f); },
      StreamPrimingLimits(o.settings, o.keyLow, o.keyHigh, o.format.height));
  if (!primed.settled) Fail("the output did not settle; streaming all the same");
  *frame = primed.output;
  WritePng(o.format, o.pngOut, *frame);
}

// Frames waiting between the threads of the stream command, each way: a
// few frames of slack are enough to keep reading, filtering and writing
// going side by side.
constexpr size_t kQueuedFrames = 3;

// The stream's frames, read on a thread of their own: each whole frame, in
// the plug-in's line order, into `read` (buffers from `spare` when there
// are any); `read` is closed at the end of the input, after maxFrames, or
// on a read error (*status 1).
void ReadStream(FrameReader& reader, const Options& o, FrameQueue& read, FrameQueue& spare, int* status) {
  // Reading and writing give way to the filter's workers, which wait for
  // each other at every pass.
  qrx::platform::LowerThisThreadPriority();
  std::vector<uint8_t> frame;
  for (long frames = 0; o.maxFrames < 0 || frames < o.maxFrames; ++frames) {
    spare.TryPop(&frame);
    if (!ReadFrame(reader, o.input, &frame, status)) break;
    o.format.FlipIfTopDown(&frame);
    if (!read.Push(&frame)) break;
  }
  read.Close();
}

// The filtered frames, written on a thread of their own in the order they
// come; the buffers go back to `spare`. False when a write failed (then
// both queues are closed, so that the other threads stop).
bool WriteStream(FrameWriter& out, const StreamFormat& format, FrameQueue& filtered, FrameQueue& read,
                 FrameQueue& spare) {
  // As reading does (ReadStream).
  qrx::platform::LowerThisThreadPriority();
  std::vector<uint8_t> frame;
  while (filtered.Pop(&frame)) {
    format.FlipIfTopDown(&frame);
    if (!out.Write(frame)) {
      filtered.Close();
      read.Close();
      return false;
    }
    spare.TryPush(&frame);
  }
  return true;
}

// Reading and writing run on threads of their own, side by side with the
// filtering on this one.
int RunStream(PluginModule& plugin, const Options& o) {
  FrameReader reader;
  std::string error;
  if (!reader.Open(o.input, o.format.FrameBytes(), &error)) return Fail(error);
  FrameWriter out;
  if (!out.Open(o.output)) return Fail("cannot create " + o.output);

  StreamSession session(plugin, o.format, o.keyLow, o.keyHigh, o.channelName);
  session.Begin();
  FrameQueue read(kQueuedFrames), filtered(kQueuedFrames), spare(2 * kQueuedFrames + 2);
  int status = 0;
  bool written = true;
  std::thread reading([&] { ReadStream(reader, o, read, spare, &status); });
  std::thread writing([&] { written = WriteStream(out, o.format, filtered, read, spare); });
  Progress progress;
  std::vector<uint8_t> frame;
  long frames = 0;
  while (read.Pop(&frame)) {
    if (frames == 0) {
      PrimeFirstFrame(o, session, &frame);
    } else {
      session.Frame(&frame);
    }
    if (!filtered.Push(&frame)) break;
    progress.Count(++frames);
  }
  filtered.Close();
  writing.join();
  read.Close();
  reading.join();
  session.End();
  progress.Finish(frames);
  if (!written) status = Fail("write failed");
  return status;
}

// The demo's interference: three gratings placed on exact bins of the
// 512-point line and the 1024-row column of a 576-line frame.
std::vector<Grating> DemoGratings() {
  return {{120, 0, 1024, 12.0, 0.3}, {60, 200, 1024, 10.0, 1.1}, {20, 300, 1024, 10.0, 2.0}};
}

// The demo picture with its gratings, in the stream's pixel format.
std::vector<uint8_t> DemoFrame(const StreamFormat& f, bool withGratings) {
  std::vector<double> luma = MakeCleanLuma(f.width, f.height);
  if (withGratings)
    for (const Grating& g : DemoGratings()) AddGrating(&luma, f.width, f.height, g);
  const std::vector<uint8_t> frame = MakeYuy2(luma, f.width, f.height);
  return f.bgr24 ? Yuy2ToBgr24(frame, f.width, f.height) : frame;
}

// Luma of a frame in the stream's pixel format; 24-bit frames are taken back
// to luma through BT.601.
std::vector<double> LumaOfFrame(const StreamFormat& f, const std::vector<uint8_t>& frame) {
  if (!f.bgr24) return LumaOfYuy2(frame, f.width, f.height);
  std::vector<double> y(static_cast<size_t>(f.width) * f.height);
  for (int32_t r = 0; r < f.height; ++r)
    for (int32_t x = 0; x < f.width; ++x) {
      const uint8_t* p = &frame[(static_cast<size_t>(f.height - 1 - r) * f.width + x) * 3];
      y[static_cast<size_t>(r) * f.width + x] = 0.114 * p[0] + 0.587 * p[1] + 0.299 * p[2];
    }
  return y;
}

// The demo's frames: the input, the settled output, and the same mask on the
// clean picture, so that the interference left over can be told apart from
// what the filter does to the picture itself.
struct DemoFrames {
  std::vector<uint8_t> clean, input, output, outputClean;
  int settledAfter = 0;
};

void ReportDemo(const StreamFormat& f, const DemoFrames& d) {
  const std::vector<double> cleanY = LumaOfFrame(f, d.clean), inY = LumaOfFrame(f, d.input),
                            outY = LumaOfFrame(f, d.output), outCleanY = LumaOfFrame(f, d.outputClean);
  std::vector<double> errIn(inY.size()), errOut(outY.size());
  for (size_t i = 0; i < inY.size(); ++i) {
    errIn[i] = inY[i] - cleanY[i];
    errOut[i] = outY[i] - outCleanY[i];
  }
  std::printf("qrx_host demo: %dx%d %s, %d frames fed until the output settled\n", f.width, f.height,
              f.bgr24 ? "bgr24" : "yuy2", d.settledAfter);
  for (const Grating& g : DemoGratings()) {
    const double a0 = GratingAmplitude(errIn, f.width, f.height, g);
    const double a1 = GratingAmplitude(errOut, f.width, f.height, g);
    std::printf("  grating %3.0f cycles/line x %3.0f/%d rows: amplitude %.3f -> %.4f, interference removed %.1f dB\n",
                g.cyclesX, g.cyclesY, g.rowsM, a0, a1, PowerRatioDb(a0, a1));
  }
  const double e0 = SquaredError(inY, cleanY), e1 = SquaredError(outY, outCleanY);
  std::printf("  interference energy (input - clean vs output - filtered clean): %.1f dB lower\n",
              e1 > 0 ? 10 * std::log10(e0 / e1) : 200.0);
  std::printf("  PSNR vs clean: input %.2f dB, output %.2f dB\n", Psnr(inY, cleanY, f.width, 0, 0, f.width, f.height),
              Psnr(outY, cleanY, f.width, 0, 0, f.width, f.height));
}

int RunDemo(PluginModule& plugin, Options o) {
  if (!o.haveSize) {
    o.format.width = 720;
    o.format.height = 576;
  }
  const StreamFormat& f = o.format;
  DemoFrames d;
  d.clean = DemoFrame(f, false);
  d.input = DemoFrame(f, true);

  StreamSession session(plugin, f, o.keyLow, o.keyHigh, o.channelName);
  session.Begin();
  // Feed the picture until the output has stayed the same for a second.
  const Settled settled = SettleOutput(
      d.input, [&](std::vector<uint8_t>* frame) { session.Frame(frame); }, SettleLimits{1000, 1000, 30000, 20});
  d.output = settled.output;
  d.settledAfter = settled.frames;
  d.outputClean = d.clean;
  session.Frame(&d.outputClean);
  session.End();

  const std::string before = o.pngIn.empty() ? "demo_before.png" : o.pngIn;
  const std::string after = o.pngOut.empty() ? "demo_after.png" : o.pngOut;
  WritePng(f, before, d.input);
  WritePng(f, after, d.output);
  ReportDemo(f, d);
  if (PngAvailable()) std::printf("  pictures: %s, %s\n", before.c_str(), after.c_str());
  return 0;
}

// The frames the window host loops: the input's first frames (at most
// kMaxWindowFrames), or the demo picture.
constexpr size_t kMaxWindowFrames = 250;

int RunWindow(PluginModule& plugin, const Options& o) {
  WindowRun run;
  run.format = o.format;
  run.keyLow = o.keyLow;
  run.keyHigh = o.keyHigh;
  run.channelName = o.channelName;
  run.framesPerSecond = o.fps;
  run.closeAfterSeconds = o.seconds;
  if (o.demo) {
    run.frames.push_back(DemoFrame(o.format, true));
    return RunWindowHost(plugin, run);
  }
  FrameReader reader;
  std::string error;
  if (!reader.Open(o.input, o.format.FrameBytes(), &error)) return Fail(error);
  std::vector<uint8_t> frame;
  while (run.frames.size() < kMaxWindowFrames && reader.Next(&frame) == FrameReader::Result::kFrame) {
    o.format.FlipIfTopDown(&frame);
    run.frames.push_back(frame);
  }
  if (run.frames.empty()) return Fail("no whole frame in " + o.input);
  return RunWindowHost(plugin, run);
}

// The fields the module-less commands' requests share, from the options.
template <class Request>
Request RequestFrom(const Options& o) {
  Request request;
  request.input = o.input;
  request.settings = o.settings;
  request.writeSettings = o.writeSettings;
  request.format = o.format;
  request.keyLow = o.keyLow;
  request.keyHigh = o.keyHigh;
  request.maxFrames = o.maxFrames;
  return request;
}

// --suggest and --spectrum work on the spectrum alone: no module, no
// settings copy.
int RunSpectrumCommand(const Options& o) {
  SuggestRequest request = RequestFrom<SuggestRequest>(o);
  request.spectrumPng = o.spectrumPng;
  return o.suggest ? RunSuggest(request) : RunSpectrum(request);
}

// --auto filters in the host's own process: no module.
int RunAutoCommand(const Options& o) {
  AutoRequest request = RequestFrom<AutoRequest>(o);
  request.output = o.output;
  return RunAuto(request);
}

// Loads the module with the settings file placed where it looks, and runs
// the command that needs it.
int RunWithModule(Options o) {
  const bool userSettings = !o.settings.empty();
  // The demo's settings file ships beside the host.
  if (o.demo && !userSettings) o.settings = ExecutableFolder() + "demo/QRX_FreqFilter.ini";
  // The module's base name decides the settings file's name.
  std::string base = o.modulePath.substr(o.modulePath.find_last_of("/\\") + 1);
  base = base.substr(0, base.find_last_of('.'));
  std::string placed, error;
  if (!o.settings.empty() && !PrepareSettingsFile(base, o.settings, &placed))
    return Fail("cannot prepare settings from " + o.settings);
  PluginModule plugin;
  if (!plugin.Load(o.modulePath, &error)) return Fail("cannot load " + o.modulePath + ": " + error);
  if (plugin.Version() != 3) return Fail("interface version " + std::to_string(plugin.Version()) + ", expected 3");
  int status = 0;
  if (o.window) {
    status = RunWindow(plugin, o);
    // What the user tuned goes back into the file they named.
    if (status == 0 && userSettings && !CopyFileBytes(placed, o.settings))
      status = Fail("cannot write the settings back to " + o.settings);
  } else {
    status = o.demo ? RunDemo(plugin, o) : RunStream(plugin, o);
  }
  plugin.Unload();
  return status;
}

}  // namespace
}  // namespace qrxhost

int main(int argc, char** argv) {
  using namespace qrxhost;
  Options o;
  std::string error;
  switch (ParseOptions(argc, argv, &o, &error)) {
    case ParseStatus::kHelp:
      PrintUsage(stdout);
      return 0;
    case ParseStatus::kError:
      std::fprintf(stderr, "qrx_host: %s\n", error.c_str());
      return 2;
    case ParseStatus::kRun:
      break;
  }
  if (o.suggest || !o.spectrumPng.empty()) return RunSpectrumCommand(o);
  if (o.autoFilter) return RunAutoCommand(o);
  if (o.window && !WindowHostAvailable()) {
    PluginModule none;
    return RunWindowHost(none, WindowRun());
  }
  if (o.modulePath.empty()) o.modulePath = ExecutableFolder() + "QRX_FreqFilter" + ModuleSuffix();
  const int status = RunWithModule(o);
  CleanUpSettingsFile();
  return status;
}
