// Process on a 720 x 576 frame (FFTLine 512, one filter of each shape plus an
// adaptive clip, processing on), YUY2 and BGR24, with the default worker
// count; beside it the bare FFTW r2c + c2r pair on the same 1024 x 512 grid
// with the same thread count, and the stages of a BGR24 frame. Repetitions
// of all of them run interleaved in random order, so that other load on the
// machine falls on every one alike, and the run ends with a table of each
// time and its ratio to the FFTW pair, from the medians and from the
// fastest repetitions.
#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "bench_args.h"
#include "bench_stream.h"
#include "frame/pixel_convert.h"
#include "plugin/plugin_state.h"
#include "transform/fft_engine.h"
#include "transform/line_transform.h"

namespace {

using qrx::bench::Channel;
using qrx::bench::kHeight;
using qrx::bench::kWidth;
using qrx::bench::StartStream;
using qrx::bench::TestFrame;

void BM_Process(benchmark::State& state) {
  const int32_t pixelFormat = static_cast<int32_t>(state.range(0));
  StartStream(pixelFormat);
  if (qrx::State().pipeline.engine == nullptr) {
    state.SkipWithError("no engine");
    return;
  }
  const std::vector<uint8_t> source = TestFrame(pixelFormat);
  std::vector<uint8_t> frame = source;
  Channel channel;
  qrx::FrameInfo info = {};
  info.pixels = frame.data();
  info.channel = reinterpret_cast<qrx::ChannelInfo*>(&channel);
  for (auto _ : state) {
    // The copy back to the source picture stays outside the time.
    state.PauseTiming();
    std::memcpy(frame.data(), source.data(), frame.size());
    state.ResumeTiming();
    qrx::Process(&info);
    benchmark::ClobberMemory();
  }
  state.counters["workers"] = qrx::State().pipeline.engine->WorkerCount();
  qrx::Stop();
}

// The same 2-D work in FFTW: a real 1024 x 512 forward transform and its
// inverse, planned with FFTW_MEASURE on the engine's worker count.
struct FftwPair {
  static constexpr int kRows = 1024, kColumns = 512;
  float* real = nullptr;
  fftwf_complex* spectrum = nullptr;
  fftwf_plan forward = nullptr, inverse = nullptr;
  int threads = 1;
  FftwPair() {
    StartStream(0);
    threads = qrx::State().pipeline.engine != nullptr ? qrx::State().pipeline.engine->WorkerCount() : 1;
    qrx::Stop();
    fftwf_plan_with_nthreads(threads);
    real = fftwf_alloc_real(static_cast<size_t>(kRows) * kColumns);
    spectrum = fftwf_alloc_complex(static_cast<size_t>(kRows) * (kColumns / 2 + 1));
    forward = fftwf_plan_dft_r2c_2d(kRows, kColumns, real, spectrum, FFTW_MEASURE);
    inverse = fftwf_plan_dft_c2r_2d(kRows, kColumns, spectrum, real, FFTW_MEASURE);
    for (int i = 0; i < kRows * kColumns; ++i) real[i] = static_cast<float>((i * 37) % 255);
  }
  ~FftwPair() {
    fftwf_destroy_plan(forward);
    fftwf_destroy_plan(inverse);
    fftwf_free(real);
    fftwf_free(spectrum);
  }
};

void BM_FftwPair(benchmark::State& state) {
  static FftwPair fftw;  // planned once: FFTW_MEASURE takes a while
  for (auto _ : state) {
    fftwf_execute(fftw.forward);
    fftwf_execute(fftw.inverse);
    benchmark::ClobberMemory();
  }
  state.counters["threads"] = fftw.threads;
}

// The stages of a BGR24 frame, on the stream's own objects: the conversions
// and line transforms alone on one thread, the FFT passes on the workers
// alone and with the conversions and line transforms riding on them (as
// Process runs them).
enum Stage {
  kConvert,
  kForwardLine,
  kFftForward,
  kClipMask,
  kFftInverse,
  kBackwardLine,
  kConvertBack,
  kForwardPass,
  kInversePass,
  kStageCount
};
const char* const kStageNames[kStageCount] = {"convert to working (1 thread)",
                                              "forward line transform (1 thread)",
                                              "FFT forward (workers)",
                                              "clip + mask",
                                              "FFT inverse (workers)",
                                              "backward line transform (1 thread)",
                                              "convert back (1 thread)",
                                              "convert + line + FFT forward (workers)",
                                              "FFT inverse + line + convert back (workers)"};

void BM_Stage(benchmark::State& state) {
  const Stage stage = static_cast<Stage>(state.range(0));
  StartStream(1);
  qrx::PluginState& s = qrx::State();
  if (s.pipeline.engine == nullptr) {
    state.SkipWithError("no engine");
    return;
  }
  std::vector<uint8_t> host = TestFrame(1);
  qrx::FftEngine* e = s.pipeline.engine;
  qrx::FrameAccess frame;
  frame.host = host.data();
  frame.work = s.conversionBuffer;
  frame.toWorking = qrx::ConvertToWorking;
  frame.fromWorking = qrx::ConvertFromWorking;
  qrx::ConvertToWorking(host.data(), s.conversionBuffer, s.format, 0, kHeight);
  s.pipeline.lineTransform->Forward(s.conversionBuffer, e->Spectrum(), e->Pitch(), e->Window());
  for (auto _ : state) {
    switch (stage) {
      case kConvert:
        qrx::ConvertToWorking(host.data(), s.conversionBuffer, s.format, 0, kHeight);
        break;
      case kForwardLine:
        s.pipeline.lineTransform->Forward(s.conversionBuffer, e->Spectrum(), e->Pitch(), e->Window());
        break;
      case kFftForward:
        e->Transform(+1);
        break;
      case kClipMask:
        qrx::AdaptiveClip(s.filters, e);
        e->ApplyMask();
        break;
      case kFftInverse:
        e->Transform(-1);
        break;
      case kBackwardLine:
        s.pipeline.lineTransform->Backward(s.conversionBuffer, e->Spectrum(), e->Pitch(), e->InverseWindow(), 1.0f, 0);
        break;
      case kConvertBack:
        qrx::ConvertFromWorking(s.conversionBuffer, host.data(), s.format, 0, kHeight);
        break;
      case kForwardPass:
        s.pipeline.AnalyseFrame(frame, s.filters, false);
        break;
      case kInversePass:
        s.pipeline.SynthesiseFrame(frame, 0, 0);
        break;
      default:
        break;
    }
    benchmark::ClobberMemory();
  }
  qrx::Stop();
}

double Min(const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); }

const char* const kFftwName = "FFTW r2c + c2r pair, 1024 x 512";
const char* const kProcessNames[2] = {"Process YUY2", "Process BGR24"};

void RegisterAll(int repetitions) {
  auto common = [repetitions](benchmark::internal::Benchmark* b) {
    b->Unit(benchmark::kMicrosecond)
        ->UseRealTime()
        ->Repetitions(repetitions)
        ->ComputeStatistics("min", Min)
        ->ReportAggregatesOnly(true);
  };
  common(benchmark::RegisterBenchmark(kFftwName, BM_FftwPair));
  for (int f = 0; f < 2; ++f) common(benchmark::RegisterBenchmark(kProcessNames[f], BM_Process)->Arg(f));
  for (int stage = 0; stage < kStageCount; ++stage) {
    common(benchmark::RegisterBenchmark(kStageNames[stage], BM_Stage)->Arg(stage));
  }
}

// The console output as usual, then each time beside the FFTW pair's.
class RatioTable : public benchmark::ConsoleReporter {
 public:
  RatioTable() : ConsoleReporter(OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Aggregate) continue;
      usByStatistic_[run.aggregate_name][run.run_name.function_name] = run.GetAdjustedRealTime();
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    PrintTable("median");
    PrintTable("min");
  }

 private:
  void PrintTable(const std::string& statistic) {
    std::map<std::string, double>& us = usByStatistic_[statistic];
    const double fftw = us[kFftwName];
    if (fftw <= 0) return;
    std::printf("\n%s of the repetitions, 720 x 576, FFTLine 512\n| stage | time | / FFTW pair |\n|---|---|---|\n",
                statistic.c_str());
    std::vector<const char*> names = {kFftwName, kProcessNames[0], kProcessNames[1]};
    names.insert(names.end(), kStageNames, kStageNames + kStageCount);
    for (const char* name : names) {
      const double t = us[name];
      if (t > 0) std::printf("| %s | %.0f us | %.2fx |\n", name, t, t / fftw);
    }
  }

  std::map<std::string, std::map<std::string, double>> usByStatistic_;
};

}  // namespace

int main(int argc, char** argv) {
  fftwf_init_threads();
  if (!qrx::bench::InitializeInterleaved(argc, argv)) return 1;
  RegisterAll(15);
  RatioTable table;
  benchmark::RunSpecifiedBenchmarks(&table);
  benchmark::Shutdown();
  fftwf_cleanup_threads();
  return 0;
}
