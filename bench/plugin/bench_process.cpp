// Process on a 720 x 576 frame (FFTLine 512, one filter of each shape plus an
// adaptive clip, processing on), YUY2 and BGR24, with the default worker
// count; beside it the bare FFTW r2c + c2r pair on the same 1024 x 512 grid
// with the same thread count, and each pipeline stage on its own.
#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

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
    std::memcpy(frame.data(), source.data(), frame.size());
    qrx::Process(&info);
    benchmark::ClobberMemory();
  }
  state.counters["workers"] = qrx::State().pipeline.engine->WorkerCount();
  state.SetLabel(pixelFormat == 1 ? "BGR24" : "YUY2");
  qrx::Stop();
}
BENCHMARK(BM_Process)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same 2-D work in FFTW: a real 1024 x 512 forward transform and its
// inverse, planned with FFTW_MEASURE on the engine's worker count.
void BM_FftwPair(benchmark::State& state) {
  StartStream(0);
  const int threads = qrx::State().pipeline.engine != nullptr ? qrx::State().pipeline.engine->WorkerCount() : 1;
  qrx::Stop();
  const int rows = 1024, columns = 512;
  fftwf_init_threads();
  fftwf_plan_with_nthreads(threads);
  float* real = fftwf_alloc_real(static_cast<size_t>(rows) * columns);
  fftwf_complex* spectrum = fftwf_alloc_complex(static_cast<size_t>(rows) * (columns / 2 + 1));
  fftwf_plan forward = fftwf_plan_dft_r2c_2d(rows, columns, real, spectrum, FFTW_MEASURE);
  fftwf_plan inverse = fftwf_plan_dft_c2r_2d(rows, columns, spectrum, real, FFTW_MEASURE);
  for (int i = 0; i < rows * columns; ++i) real[i] = static_cast<float>((i * 37) % 255);
  for (auto _ : state) {
    fftwf_execute(forward);
    fftwf_execute(inverse);
    benchmark::ClobberMemory();
  }
  state.counters["threads"] = threads;
  fftwf_destroy_plan(forward);
  fftwf_destroy_plan(inverse);
  fftwf_free(real);
  fftwf_free(spectrum);
}
BENCHMARK(BM_FftwPair)->Unit(benchmark::kMillisecond)->UseRealTime();

// Each stage of a BGR24 frame on its own, on the stream's own objects.
enum Stage { kConvert, kForwardLine, kFftForward, kClipMask, kFftInverse, kBackwardLine, kConvertBack };

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
  qrx::ConvertToWorking(host.data(), s.conversionBuffer, s.format, 0, kHeight);
  s.pipeline.lineTransform->Forward(s.conversionBuffer, e->Spectrum(), e->Pitch(), e->Window());
  for (auto _ : state) {
    switch (stage) {
      case kConvert: qrx::ConvertToWorking(host.data(), s.conversionBuffer, s.format, 0, kHeight); break;
      case kForwardLine: s.pipeline.lineTransform->Forward(s.conversionBuffer, e->Spectrum(), e->Pitch(), e->Window()); break;
      case kFftForward: e->Transform(+1); break;
      case kClipMask:
        qrx::AdaptiveClip(s.filters, e);
        e->ApplyMask();
        break;
      case kFftInverse: e->Transform(-1); break;
      case kBackwardLine:
        s.pipeline.lineTransform->Backward(s.conversionBuffer, e->Spectrum(), e->Pitch(), e->InverseWindow(), 1.0f, 0);
        break;
      case kConvertBack: qrx::ConvertFromWorking(s.conversionBuffer, host.data(), s.format, 0, kHeight); break;
    }
    benchmark::ClobberMemory();
  }
  static const char* names[] = {"convert", "forward line", "FFT fwd", "clip+mask", "FFT inv", "backward line",
                                "convert back"};
  state.SetLabel(names[stage]);
  qrx::Stop();
}
BENCHMARK(BM_Stage)->DenseRange(kConvert, kConvertBack)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
