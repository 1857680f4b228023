// Each per-frame stage and the whole of Process (720 x 576, FFTLine 512),
// once on the full path (everything this processor has) and once with the
// features forced to "SSE, no SSE2", the path of the plug-in's minimum
// processor. The repetitions of all of them run interleaved in random order,
// so that other load on the machine falls on both paths alike; the run ends
// with tables of both times and their ratio, from the medians and from the
// fastest repetitions.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "bench_args.h"
#include "bench_stream.h"
#include "frame/pixel_convert.h"
#include "platform/cpu.h"
#include "plugin/plugin_state.h"
#include "transform/fft_engine.h"
#include "transform/line_transform.h"

namespace {

using namespace qrx;

enum Stage {
  kProcessYuy2,
  kProcessBgr24,
  kForwardLine,
  kBackwardLine,
  kToWorking,
  kFromWorking,
  kFftForward,
  kFftInverse,
  kStageCount
};
enum Path { kFull, kSseOnly, kPathCount };

const char* const kStageNames[kStageCount] = {"Process YUY2",
                                              "Process BGR24",
                                              "forward line transform",
                                              "backward line transform",
                                              "to working layout",
                                              "from working layout",
                                              "FFT forward",
                                              "FFT inverse"};

void ForcePath(Path path) {
  static platform::CpuFeatures sseOnly = [] {
    platform::CpuFeatures f;
    f.sse = true;
    return f;
  }();
  platform::OverrideCpuFeatures(path == kSseOnly ? &sseOnly : nullptr);
}

void RunStage(Stage stage, std::vector<uint8_t>& host, const std::vector<uint8_t>& source) {
  PluginState& s = State();
  FftEngine* e = s.pipeline.engine;
  switch (stage) {
    case kProcessYuy2:
    case kProcessBgr24: {
      bench::Channel channel;
      FrameInfo info = {};
      info.pixels = host.data();
      info.channel = reinterpret_cast<ChannelInfo*>(&channel);
      std::memcpy(host.data(), source.data(), host.size());
      Process(&info);
      break;
    }
    case kForwardLine:
      s.pipeline.lineTransform->Forward(s.conversionBuffer, e->Spectrum(), e->Pitch(), e->Window());
      break;
    case kBackwardLine:
      s.pipeline.lineTransform->Backward(s.conversionBuffer, e->Spectrum(), e->Pitch(), e->InverseWindow(), 1.0f, 0);
      break;
    case kToWorking:
      ConvertToWorking(host.data(), s.conversionBuffer, s.format, 0, bench::kHeight);
      break;
    case kFromWorking:
      ConvertFromWorking(s.conversionBuffer, host.data(), s.format, 0, bench::kHeight);
      break;
    case kFftForward:
      e->Transform(+1);
      break;
    case kFftInverse:
      e->Transform(-1);
      break;
    default:
      break;
  }
}

void BM_Path(benchmark::State& state) {
  const Stage stage = static_cast<Stage>(state.range(0));
  const Path path = static_cast<Path>(state.range(1));
  const int32_t pixelFormat = stage == kProcessYuy2 ? 0 : 1;
  ForcePath(path);
  bench::StartStream(pixelFormat);
  PluginState& s = State();
  if (s.pipeline.engine == nullptr || s.pipeline.lineTransform == nullptr) {
    state.SkipWithError("no engine");
    platform::OverrideCpuFeatures(nullptr);
    return;
  }
  const std::vector<uint8_t> source = bench::TestFrame(pixelFormat);
  std::vector<uint8_t> host = source;
  if (pixelFormat == 1) {
    // The stages on their own start from a converted, transformed frame.
    ConvertToWorking(host.data(), s.conversionBuffer, s.format, 0, bench::kHeight);
    s.pipeline.lineTransform->Forward(s.conversionBuffer, s.pipeline.engine->Spectrum(), s.pipeline.engine->Pitch(),
                                      s.pipeline.engine->Window());
  }
  for (auto _ : state) {
    RunStage(stage, host, source);
    benchmark::ClobberMemory();
  }
  state.SetLabel(path == kFull ? "full" : "SSE only");
  Stop();
  platform::OverrideCpuFeatures(nullptr);
}

std::string BenchName(int stage, int path) {
  return std::string(kStageNames[stage]) + (path == kFull ? " / full" : " / SSE only");
}

void RegisterAll() {
  for (int stage = 0; stage < kStageCount; ++stage) {
    for (int path = 0; path < kPathCount; ++path) {
      benchmark::RegisterBenchmark(BenchName(stage, path).c_str(), BM_Path)
          ->Args({stage, path})
          ->Unit(benchmark::kMicrosecond)
          ->UseRealTime()
          ->Repetitions(7)
          ->ComputeStatistics("min", [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); })
          ->ReportAggregatesOnly(true);
    }
  }
}

// The console output as usual, then the medians side by side.
class PathTable : public benchmark::ConsoleReporter {
 public:
  PathTable() : ConsoleReporter(OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Aggregate) continue;
      msByStatistic_[run.aggregate_name][run.run_name.function_name] = run.GetAdjustedRealTime() / 1000.0;  // from us
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    PrintTable("median");
    PrintTable("min");
  }

 private:
  void PrintTable(const std::string& statistic) {
    std::map<std::string, double>& ms = msByStatistic_[statistic];
    std::printf("\n%s of the repetitions\n| stage | full path | SSE only | ratio |\n|---|---|---|---|\n",
                statistic.c_str());
    for (int stage = 0; stage < kStageCount; ++stage) {
      const double full = ms[BenchName(stage, kFull)];
      const double sseOnly = ms[BenchName(stage, kSseOnly)];
      if (full <= 0 || sseOnly <= 0) continue;
      std::printf("| %s | %.2f ms | %.2f ms | %.2fx |\n", kStageNames[stage], full, sseOnly, sseOnly / full);
    }
  }

  std::map<std::string, std::map<std::string, double>> msByStatistic_;
};

}  // namespace

int main(int argc, char** argv) {
  RegisterAll();
  if (!qrx::bench::InitializeInterleaved(argc, argv)) return 1;
  PathTable table;
  benchmark::RunSpecifiedBenchmarks(&table);
  benchmark::Shutdown();
  return 0;
}
