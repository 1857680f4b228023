// The live finder's cost per frame against Process, in one run: a 720 x 576
// stream (FFTLine 512, the plug-in's benchmark filters) goes through the
// plug-in's Process alone, then through the finder alone, every frame fed
// and the finder waited for, so that it analyses and looks at exactly the
// frames it asks for. It is fed as the frei0r module feeds it: the pixels
// until it has found something, then the spectra the filter's own pipeline
// computes of the frames it filters (taken here from the pipeline
// beforehand, so that only the finder's work is timed); and, apart, the
// pixels all along (a stream that filters nothing passes its frames
// unchanged, and the finder transforms them itself). The finder's cost per
// frame is the process's CPU time in a finder-alone run (its own thread
// and its engines' workers; Feed's copies included, the benchmark's own
// frame copies timed apart and taken off) divided by the frames. Beside
// it: how much longer a filtering stream (the pipeline's passes, as the
// frei0r module runs them) takes per frame with the finder fed its spectra,
// and FeedSpectrum's own time on the frame's thread. Two streams of 20 s:
// static interference (one grating; its second half is the settled
// finder's steady cost) and a stream in which a second grating appears
// half-way (its second half holds the look that designs a new Dot).
// Each run is repeated; the medians are printed with the machine's load.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench_stream.h"
#include "filter/filter_list.h"
#include "finder/live_finder.h"
#include "platform/math_constants.h"
#include "plugin/frame_pipeline.h"
#include "plugin/plugin_state.h"
#include "transform/fft_engine.h"

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

using Frames = std::vector<std::vector<uint8_t>>;

// A frame's spectrum as the pipeline computed it, rows x bins packed.
struct Spectrum {
  std::vector<float> values;
  int32_t rows = 0, bins = 0;
  qrx::FrameSpectrum View() const { return qrx::FrameSpectrum{values.data(), rows, bins, bins}; }
};

class SpectrumCopy final : public qrx::SpectrumObserver {
 public:
  explicit SpectrumCopy(Spectrum* to) : to_(to) {}
  void ObserveSpectrum(const qrx::FftEngine& e) override {
    to_->rows = e.Rows();
    to_->bins = e.Bins();
    to_->values.resize(static_cast<size_t>(e.Rows()) * e.Bins() * 2);
    for (int32_t q = 0; q < e.Rows(); ++q)
      std::memcpy(&to_->values[static_cast<size_t>(q) * e.Bins() * 2], e.Spectrum() + static_cast<size_t>(q) * e.Pitch() * 2,
                  static_cast<size_t>(e.Bins()) * 2 * sizeof(float));
  }

 private:
  Spectrum* to_;
};

// Hands the spectrum of each filtered frame to a live finder, as the frei0r
// module does, timing the call.
class FinderFeed final : public qrx::SpectrumObserver {
 public:
  explicit FinderFeed(qrx::LiveFinder* finder) : finder_(finder) {}
  void ObserveSpectrum(const qrx::FftEngine& e) override {
    const Clock::time_point t0 = Clock::now();
    finder_->FeedSpectrum(qrx::FrameSpectrum{e.Spectrum(), e.Rows(), e.Bins(), e.Pitch()}, qrx::bench::kWidth,
                          qrx::bench::kHeight, 512);
    seconds += std::chrono::duration<double>(Clock::now() - t0).count();
  }
  double seconds = 0;

 private:
  qrx::LiveFinder* finder_;
};

struct Run {
  double cpuPerFrame = 0, wallPerFrame = 0, feedPerFrame = 0;
  double cpuSecondHalf = 0;  // per frame, the stream's second half
  double worstFrame = 0;
  qrx::LiveFinderStats stats;
};

double CpuSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

template <typename T>
const T& Source(const std::vector<T>& first, const std::vector<T>& second, int f) {
  return (f < kFrames / 2 ? first : second)[static_cast<size_t>(f % kPictures)];
}

// The stream through the plug-in's Process.
Run Process(const Frames& first, const Frames& second) {
  std::vector<uint8_t> host(first[0].size());
  qrx::bench::Channel channel;
  qrx::FrameInfo info = {};
  info.pixels = host.data();
  info.channel = reinterpret_cast<qrx::ChannelInfo*>(&channel);
  const double cpu0 = CpuSeconds();
  const Clock::time_point wall0 = Clock::now();
  for (int f = 0; f < kFrames; ++f) {
    std::memcpy(host.data(), Source(first, second, f).data(), host.size());
    qrx::Process(&info);
  }
  Run r;
  r.wallPerFrame = std::chrono::duration<double>(Clock::now() - wall0).count() / kFrames;
  r.cpuPerFrame = (CpuSeconds() - cpu0) / kFrames;
  return r;
}

// The stream through the pipeline's passes with the benchmark's filters,
// as the frei0r module filters it, and a live finder fed the spectra when
// given (as a live stream runs it: Feed never waits). Back to back, or
// paced at 25 frames a second as live video comes (the wall time is then
// the frames' own, the waits between them left out).
Run Filtering(qrx::FramePipeline& pipeline, const qrx::FilterList& filters, const Frames& first, const Frames& second,
              bool withFinder, bool paced) {
  std::unique_ptr<qrx::LiveFinder> finder;
  if (withFinder) finder = std::make_unique<qrx::LiveFinder>(qrx::LiveFinderOptions());
  FinderFeed feed(finder.get());
  std::vector<uint8_t> work(first[0].size());
  Run r;
  double busy = 0;
  const double cpu0 = CpuSeconds();
  const Clock::time_point start = Clock::now();
  for (int f = 0; f < kFrames; ++f) {
    if (paced) std::this_thread::sleep_until(start + std::chrono::milliseconds(40 * f));
    const Clock::time_point t0 = Clock::now();
    std::memcpy(work.data(), Source(first, second, f).data(), work.size());
    pipeline.Analyse(work.data(), filters, true, finder ? &feed : nullptr);
    pipeline.Synthesise(work.data(), 0);
    const double took = std::chrono::duration<double>(Clock::now() - t0).count();
    busy += took;
    r.worstFrame = std::max(r.worstFrame, took);
  }
  r.wallPerFrame = busy / kFrames;
  r.cpuPerFrame = (CpuSeconds() - cpu0) / kFrames;
  r.feedPerFrame = feed.seconds / kFrames;
  return r;
}

// The finder alone: CPU per frame over the whole stream and its second
// half, the frame copies (timed in a run without the finder) taken off.
// With spectra, a frame goes in by its spectrum once the finder has handed
// out a list, by its pixels before.
Run FinderAlone(const Frames& first, const Frames& second, const std::vector<Spectrum>& firstSpectra,
                const std::vector<Spectrum>& secondSpectra, bool spectra) {
  std::vector<uint8_t> host(first[0].size());
  double copies = CpuSeconds();
  for (int f = 0; f < kFrames; ++f) std::memcpy(host.data(), Source(first, second, f).data(), host.size());
  copies = CpuSeconds() - copies;
  qrx::LiveFinderOptions options;
  options.waitForFinder = true;
  qrx::LiveFinder finder(options);
  bool filtering = false;
  const double cpu0 = CpuSeconds();
  double cpuHalf = cpu0;
  for (int f = 0; f < kFrames; ++f) {
    if (f == kFrames / 2) {
      // The first half's last look is done before the second half counts.
      finder.WaitForLook(f - 1 - (f - 1) % options.lookEvery, 60000);
      cpuHalf = CpuSeconds();
    }
    if (filtering) {
      finder.FeedSpectrum(Source(firstSpectra, secondSpectra, f).View(), qrx::bench::kWidth, qrx::bench::kHeight,
                          512);
    } else {
      std::memcpy(host.data(), Source(first, second, f).data(), host.size());
      finder.Feed(host.data(), qrx::bench::kWidth, qrx::bench::kHeight, 512);
    }
    qrx::LiveFinderUpdate u;
    while (spectra && finder.Poll(&u)) filtering = u.filters.Count() > 0;
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

std::vector<Spectrum> SpectraOf(qrx::FramePipeline& pipeline, const Frames& frames) {
  std::vector<Spectrum> spectra(frames.size());
  for (size_t i = 0; i < frames.size(); ++i) {
    SpectrumCopy copy(&spectra[i]);
    pipeline.Analyse(frames[i].data(), qrx::FilterList(), false, &copy);
  }
  return spectra;
}

struct Rows {
  std::string cost, stream;
};

Rows Measure(const char* name, const Frames& first, const Frames& second) {
  qrx::FramePipeline pipeline;
  qrx::FilterList filters;
  const char* text = qrx::bench::BenchFilters();
  qrx::ParseFilterText(text, std::strlen(text), &filters);
  if (!pipeline.Create(qrx::FrameFormatRecord{qrx::bench::kWidth, qrx::bench::kHeight, 0, 0}, 512))
    return Rows{std::string("| ") + name + " | the pipeline could not be built |", ""};
  const std::vector<Spectrum> firstSpectra = SpectraOf(pipeline, first), secondSpectra = SpectraOf(pipeline, second);
  pipeline.SetFilters(filters);
  pipeline.WaitForMask(30000);
  std::vector<double> wallAlone, cpuAlone, finderCpu, finderHalf, pixelsCpu, pixelsHalf, feed;
  std::vector<double> plainWall, plainCpu, withWall, withCpu;
  qrx::LiveFinderStats stats;
  for (int i = 0; i < kRepeats; ++i) {
    const Run alone = Process(first, second);
    wallAlone.push_back(alone.wallPerFrame);
    cpuAlone.push_back(alone.cpuPerFrame);
    const Run finder = FinderAlone(first, second, firstSpectra, secondSpectra, true);
    finderCpu.push_back(finder.cpuPerFrame);
    finderHalf.push_back(finder.cpuSecondHalf);
    stats = finder.stats;
    const Run pixels = FinderAlone(first, second, firstSpectra, secondSpectra, false);
    pixelsCpu.push_back(pixels.cpuPerFrame);
    pixelsHalf.push_back(pixels.cpuSecondHalf);
    const Run plain = Filtering(pipeline, filters, first, second, false, false);
    plainWall.push_back(plain.wallPerFrame);
    plainCpu.push_back(plain.cpuPerFrame);
    const Run both = Filtering(pipeline, filters, first, second, true, false);
    withWall.push_back(both.wallPerFrame);
    withCpu.push_back(both.cpuPerFrame);
    feed.push_back(both.feedPerFrame);
  }
  // Once at the pace of live video.
  const Run pacedPlain = Filtering(pipeline, filters, first, second, false, true);
  const Run pacedWith = Filtering(pipeline, filters, first, second, true, true);
  const double process = Median(wallAlone), processCpu = Median(cpuAlone);
  // A cost per frame and its share of Process's wall / CPU time.
  auto share = [&](const std::vector<double>& v) {
    char cell[64];
    const double m = Median(v);
    std::snprintf(cell, sizeof(cell), "%.3f ms (%.1f %% / %.1f %%)", m * 1e3, 100.0 * m / process,
                  100.0 * m / processCpu);
    return std::string(cell);
  };
  char line[512];
  Rows rows;
  std::snprintf(line, sizeof(line), "| %s | %.2f ms | %.2f ms | %s | %s | %s | %s | %.3f ms | %lld/%lld/%lld |", name,
                process * 1e3, processCpu * 1e3, share(finderCpu).c_str(), share(finderHalf).c_str(),
                share(pixelsCpu).c_str(), share(pixelsHalf).c_str(), Median(feed) * 1e3,
                static_cast<long long>(stats.framesAnalysed), static_cast<long long>(stats.looks),
                static_cast<long long>(stats.changes));
  rows.cost = line;
  auto change = [](double without, double with) {
    char cell[64];
    std::snprintf(cell, sizeof(cell), "%.2f -> %.2f ms (%+.1f %%)", without * 1e3, with * 1e3,
                  100.0 * (with - without) / without);
    return std::string(cell);
  };
  std::snprintf(line, sizeof(line), "| %s | %s | %s | %s | %s |", name,
                change(Median(plainWall), Median(withWall)).c_str(), change(Median(plainCpu), Median(withCpu)).c_str(),
                change(pacedPlain.wallPerFrame, pacedWith.wallPerFrame).c_str(),
                change(pacedPlain.worstFrame, pacedWith.worstFrame).c_str());
  rows.stream = line;
  return rows;
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
      "time,\nfed as a filtering stream feeds it (spectra once it found something) and fed pixels all along; "
      "FeedSpectrum on the frame's thread\n"
      "| stream | Process (wall) | Process (CPU) | finder, whole run | finder, second half | fed pixels, whole run | "
      "fed pixels, second half | FeedSpectrum | analysed/looks/changes |\n"
      "|---|---|---|---|---|---|---|---|---|\n");
  const Rows still = Measure("static interference", one, one);
  const Rows appearing = Measure("a grating appears half-way", one, two);
  std::printf("%s\n%s\n\n", still.cost.c_str(), appearing.cost.c_str());
  std::printf(
      "a filtering stream (the pipeline's passes) per frame, without -> with the finder fed its spectra:\n"
      "| stream | back to back, wall | back to back, CPU | 25 frames a second, mean | 25 frames a second, worst "
      "|\n|---|---|---|---|---|\n%s\n%s\n",
      still.stream.c_str(), appearing.stream.c_str());
  qrx::Stop();
  return 0;
}
