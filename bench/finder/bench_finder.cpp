// The live finder's cost per frame against Process, in one run: a 720 x 576
// stream (FFTLine 512, the plug-in's benchmark filters) goes through the
// plug-in's Process alone, then through the finder alone (every frame fed,
// the finder waited for, so that it analyses and looks at exactly the
// frames it asks for), then through both as a live stream runs them. The
// finder's cost per frame is the process's CPU time in the finder-alone run
// (its own thread and its engines' workers; the frame copies timed apart
// and taken off) divided by the frames; beside it, how much longer Process
// takes per frame with the finder running next to it, and the Feed call's
// own time on the frame's thread. Two streams of 20 s: static interference
// (one grating; its second half is the settled finder's steady cost) and a
// stream in which a second grating appears half-way (its second half holds
// the look that designs a new Dot).
// Each run is repeated; the medians are printed with the machine's load.
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

double CpuSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

const std::vector<uint8_t>& Source(const std::vector<std::vector<uint8_t>>& first,
                                   const std::vector<std::vector<uint8_t>>& second, int f) {
  return (f < kFrames / 2 ? first : second)[static_cast<size_t>(f % kPictures)];
}

// The stream through Process, and through a live finder beside it when
// given (as a live stream runs it: Feed never waits).
Run Stream(const std::vector<std::vector<uint8_t>>& first, const std::vector<std::vector<uint8_t>>& second,
           bool withFinder) {
  std::unique_ptr<qrx::LiveFinder> finder;
  if (withFinder) finder = std::make_unique<qrx::LiveFinder>(qrx::LiveFinderOptions());
  std::vector<uint8_t> host(first[0].size());
  qrx::bench::Channel channel;
  qrx::FrameInfo info = {};
  info.pixels = host.data();
  info.channel = reinterpret_cast<qrx::ChannelInfo*>(&channel);
  double feed = 0;
  const double cpu0 = CpuSeconds();
  const Clock::time_point wall0 = Clock::now();
  for (int f = 0; f < kFrames; ++f) {
    std::memcpy(host.data(), Source(first, second, f).data(), host.size());
    if (finder) {
      // The frame as the consumer sees it, before Process filters it.
      const Clock::time_point t0 = Clock::now();
      finder->Feed(host.data(), qrx::bench::kWidth, qrx::bench::kHeight, 512);
      feed += std::chrono::duration<double>(Clock::now() - t0).count();
    }
    qrx::Process(&info);
  }
  Run r;
  r.wallPerFrame = std::chrono::duration<double>(Clock::now() - wall0).count() / kFrames;
  r.cpuPerFrame = (CpuSeconds() - cpu0) / kFrames;
  r.feedPerFrame = feed / kFrames;
  return r;
}

// The finder alone: CPU per frame over the whole stream and its second
// half, the frame copies (timed in a run without the finder) taken off.
Run FinderAlone(const std::vector<std::vector<uint8_t>>& first, const std::vector<std::vector<uint8_t>>& second) {
  std::vector<uint8_t> host(first[0].size());
  double copies = CpuSeconds();
  for (int f = 0; f < kFrames; ++f) std::memcpy(host.data(), Source(first, second, f).data(), host.size());
  copies = CpuSeconds() - copies;
  qrx::LiveFinderOptions options;
  options.waitForFinder = true;
  qrx::LiveFinder finder(options);
  const double cpu0 = CpuSeconds();
  double cpuHalf = cpu0;
  for (int f = 0; f < kFrames; ++f) {
    if (f == kFrames / 2) {
      // The first half's last look is done before the second half counts.
      finder.WaitForLook(f - 1 - (f - 1) % options.lookEvery, 60000);
      cpuHalf = CpuSeconds();
    }
    std::memcpy(host.data(), Source(first, second, f).data(), host.size());
    finder.Feed(host.data(), qrx::bench::kWidth, qrx::bench::kHeight, 512);
  }
  finder.LookNow();
  finder.WaitForLook(kFrames - 1, 60000);
  const double cpu1 = CpuSeconds();
  Run r;
  r.cpuPerFrame = (cpu1 - cpu0 - copies) / kFrames;
  r.cpuSecondHalf = (cpu1 - cpuHalf - copies / 2) / (kFrames - kFrames / 2);
  r.stats = finder.Stats();
  return r;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

void Measure(const char* name, const std::vector<std::vector<uint8_t>>& first,
             const std::vector<std::vector<uint8_t>>& second) {
  std::vector<double> wallAlone, cpuAlone, finderCpu, finderHalf, feed, wallWith;
  qrx::LiveFinderStats stats;
  for (int i = 0; i < kRepeats; ++i) {
    const Run alone = Stream(first, second, false);
    wallAlone.push_back(alone.wallPerFrame);
    cpuAlone.push_back(alone.cpuPerFrame);
    const Run finder = FinderAlone(first, second);
    finderCpu.push_back(finder.cpuPerFrame);
    finderHalf.push_back(finder.cpuSecondHalf);
    stats = finder.stats;
    const Run with = Stream(first, second, true);
    wallWith.push_back(with.wallPerFrame);
    feed.push_back(with.feedPerFrame);
  }
  const double process = Median(wallAlone), processCpu = Median(cpuAlone);
  const double finder = Median(finderCpu), half = Median(finderHalf), with = Median(wallWith);
  std::printf(
      "| %s | %.2f ms | %.2f ms | %.3f ms (%.1f %% / %.1f %%) | %.3f ms (%.1f %% / %.1f %%) | %.2f ms (%+.1f %%) | "
      "%.3f ms "
      "| %lld/%lld/%lld |\n",
      name, process * 1e3, processCpu * 1e3, finder * 1e3, 100.0 * finder / process, 100.0 * finder / processCpu,
      half * 1e3, 100.0 * half / process, 100.0 * half / processCpu, with * 1e3, 100.0 * (with - process) / process,
      Median(feed) * 1e3, static_cast<long long>(stats.framesAnalysed), static_cast<long long>(stats.looks),
      static_cast<long long>(stats.changes));
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
      "finder: its CPU per frame over the whole run and over its second half, against Process's wall time / CPU "
      "time;\nProcess's wall time per frame with the finder beside it; Feed on the frame's thread\n"
      "| stream | Process (wall) | Process (CPU) | finder, whole run | finder, second half | Process with the "
      "finder | Feed | analysed/looks/changes |\n|---|---|---|---|---|---|---|---|\n");
  Measure("static interference", one, one);
  Measure("a grating appears half-way", one, two);
  qrx::Stop();
  return 0;
}
