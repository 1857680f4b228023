// The live finder's cost per frame against Process, in one run: a 720 x 576
// stream (FFTLine 512, the plug-in's benchmark filters) goes through the
// plug-in's Process, once alone and once with every frame also fed to a
// LiveFinder. The finder's cost per frame is the difference in the
// process's CPU time (the finder's own thread and its engines' workers
// included) divided by the frames; the Feed call's own time on the frame's
// thread is timed apart. Two streams of 20 s: static interference (one
// grating; its second half is the settled finder's steady cost) and a
// stream in which a second grating appears half-way (its second half holds
// the look that designs a new Dot).
// Each pair of runs is repeated; the medians are printed with the machine's
// load.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

#include "bench_stream.h"
#include "finder/live_finder.h"
#include "platform/math_constants.h"
#include "plugin/plugin_state.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kFrames = 500;   // 20 s of video
constexpr int kPictures = 16;  // distinct pictures, the scene moving
constexpr int kRepeats = 3;
constexpr double kTwoPi = 2.0 * qrx::kPi;

// A picture rather than the plug-in benchmark's pattern of stripes (which
// the finder would take for a test card): shading, soft shapes, a texture
// and a little noise, in the working layout.
std::vector<uint8_t> Picture() {
  std::vector<uint8_t> frame(static_cast<size_t>(qrx::bench::kWidth) * qrx::bench::kHeight * 2);
  uint32_t seed = 7;
  for (int32_t y = 0; y < qrx::bench::kHeight; ++y)
    for (int32_t x = 0; x < qrx::bench::kWidth; ++x) {
      const double u = static_cast<double>(x) / qrx::bench::kWidth, v = static_cast<double>(y) / qrx::bench::kHeight;
      double value =
          90.0 + 60.0 * u + 30.0 * v * v + 40.0 * std::exp(-((u - 0.3) * (u - 0.3) + (v - 0.4) * (v - 0.4)) * 30.0);
      value += 8.0 * std::sin(kTwoPi * (3.1 * u + 1.7 * v)) * std::sin(kTwoPi * 11.0 * u * v);
      seed = seed * 1664525u + 1013904223u;
      value += 2.0 * (static_cast<double>(seed >> 8) / 16777216.0 - 0.5);
      const size_t i = static_cast<size_t>(y) * qrx::bench::kWidth + x;
      frame[2 * i] = static_cast<uint8_t>(std::clamp(std::lround(value), 0L, 255L));
      frame[2 * i + 1] = static_cast<uint8_t>(i % 2 ? 140 : 110);
    }
  return frame;
}

// kPictures frames of the picture moved 4 pixels each, with a grating of
// amplitude 10 (and, with second, another of 6).
std::vector<std::vector<uint8_t>> MakeFrames(bool second) {
  const std::vector<uint8_t> base = Picture();
  std::vector<std::vector<uint8_t>> frames;
  for (int f = 0; f < kPictures; ++f) {
    std::vector<uint8_t> frame(base.size());
    for (int32_t y = 0; y < qrx::bench::kHeight; ++y)
      for (int32_t x = 0; x < qrx::bench::kWidth; ++x) {
        const size_t to = static_cast<size_t>(y) * qrx::bench::kWidth + x;
        const size_t from = static_cast<size_t>(y) * qrx::bench::kWidth + (x + 4 * f) % qrx::bench::kWidth;
        double v = base[2 * from] + 10.0 * std::cos(kTwoPi * (97.3 * x / qrx::bench::kWidth + 61.4 * y / 1024.0));
        if (second) v += 6.0 * std::cos(kTwoPi * (151.6 * x / qrx::bench::kWidth - 83.2 * y / 1024.0) + 0.4 * f);
        frame[2 * to] = static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L));
        frame[2 * to + 1] = base[2 * from + 1];
      }
    frames.push_back(std::move(frame));
  }
  return frames;
}

struct Run {
  double cpuPerFrame = 0, wallPerFrame = 0, feedPerFrame = 0;
  double cpuSecondHalf = 0;  // per frame, the stream's second half
  qrx::LiveFinderStats stats;
};

// The stream through Process, and through the finder when given.
Run Stream(const std::vector<std::vector<uint8_t>>& first, const std::vector<std::vector<uint8_t>>& second,
           bool withFinder) {
  std::unique_ptr<qrx::LiveFinder> finder;
  if (withFinder) {
    qrx::LiveFinderOptions o;
    finder = std::make_unique<qrx::LiveFinder>(o);  // as a live stream runs it
  }
  std::vector<uint8_t> host(first[0].size());
  qrx::bench::Channel channel;
  qrx::FrameInfo info = {};
  info.pixels = host.data();
  info.channel = reinterpret_cast<qrx::ChannelInfo*>(&channel);
  double feed = 0;
  const std::clock_t cpu0 = std::clock();
  const Clock::time_point wall0 = Clock::now();
  std::clock_t cpuHalf = cpu0;
  for (int f = 0; f < kFrames; ++f) {
    if (f == kFrames / 2) cpuHalf = std::clock();
    const std::vector<uint8_t>& source = (f < kFrames / 2 ? first : second)[static_cast<size_t>(f % kPictures)];
    std::memcpy(host.data(), source.data(), host.size());
    if (finder) {
      // The frame as the consumer sees it, before Process filters it.
      const Clock::time_point t0 = Clock::now();
      finder->Feed(host.data(), qrx::bench::kWidth, qrx::bench::kHeight, 512);
      feed += std::chrono::duration<double>(Clock::now() - t0).count();
    }
    qrx::Process(&info);
  }
  if (finder) {
    finder->LookNow();
    finder->WaitForLook(kFrames - 1, 60000);
  }
  Run r;
  r.wallPerFrame = std::chrono::duration<double>(Clock::now() - wall0).count() / kFrames;
  const std::clock_t cpu1 = std::clock();
  r.cpuPerFrame = static_cast<double>(cpu1 - cpu0) / CLOCKS_PER_SEC / kFrames;
  r.cpuSecondHalf = static_cast<double>(cpu1 - cpuHalf) / CLOCKS_PER_SEC / (kFrames - kFrames / 2);
  r.feedPerFrame = feed / kFrames;
  if (finder) r.stats = finder->Stats();
  return r;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

void Measure(const char* name, const std::vector<std::vector<uint8_t>>& first,
             const std::vector<std::vector<uint8_t>>& second) {
  std::vector<double> cpuAlone, wallAlone, finderCpu, finderHalf, feed, wallWith;
  qrx::LiveFinderStats stats;
  for (int i = 0; i < kRepeats; ++i) {
    const Run alone = Stream(first, second, false);
    const Run with = Stream(first, second, true);
    cpuAlone.push_back(alone.cpuPerFrame);
    wallAlone.push_back(alone.wallPerFrame);
    finderCpu.push_back(with.cpuPerFrame - alone.cpuPerFrame);
    finderHalf.push_back(with.cpuSecondHalf - alone.cpuSecondHalf);
    feed.push_back(with.feedPerFrame);
    wallWith.push_back(with.wallPerFrame);
    stats = with.stats;
  }
  const double process = Median(wallAlone), finder = Median(finderCpu);
  const double half = Median(finderHalf);
  std::printf(
      "| %s | %.2f ms | %.2f ms | %.3f ms (%.1f %%) | %.3f ms (%.1f %%) | %.3f ms (%.1f %%) | %lld/%lld/%lld/%lld |\n",
      name, process * 1e3, Median(cpuAlone) * 1e3, finder * 1e3, 100.0 * finder / process, half * 1e3,
      100.0 * half / process, Median(feed) * 1e3, 100.0 * Median(feed) / process,
      static_cast<long long>(stats.framesAnalysed), static_cast<long long>(stats.looks),
      static_cast<long long>(stats.changes), static_cast<long long>(stats.framesPassed));
}

}  // namespace

int main() {
  qrx::bench::StartStream(0);
  const std::vector<std::vector<uint8_t>> one = MakeFrames(false), two = MakeFrames(true);
  std::FILE* load = std::fopen("/proc/loadavg", "r");
  char text[128] = "?";
  if (load != nullptr) {
    if (std::fgets(text, sizeof(text), load) == nullptr) text[0] = '\0';
    std::fclose(load);
  }
  std::printf(
      "live finder against Process, 720 x 576 YUY2, FFTLine 512, %d frames per run, median of %d;\n"
      "load average before: %s",
      kFrames, kRepeats, text);
  std::printf(
      "finder: CPU per frame of the whole run and of its second half, against Process's wall time\n"
      "| stream | Process (wall) | Process (CPU) | finder, whole run | finder, second half |"
      " Feed (frame thread) | analysed/looks/changes/passed |\n|---|---|---|---|---|---|---|\n");
  Measure("static interference", one, one);
  Measure("a grating appears half-way", one, two);
  qrx::Stop();
  return 0;
}
