// The frei0r module's own cost beside Process: a 720 x 576 frame with the
// plug-in benchmark stream's filters (FFTLine 512, one filter of each shape
// plus an adaptive clip), BGRA in and BGRA out through one module instance
// against Process on the same frame as 24-bit BGR, each with the default
// worker count, each on its own and both in turn frame by frame (the ratio
// that a shared machine's load disturbs least); and the BGRA conversions
// alone (scalar and SSE2) beside the 24-bit ones.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <vector>

#include "../plugin/bench_stream.h"
#include "frame/pixel_bgra.h"
#include "frame/pixel_convert.h"
#include "frei0r/stream_filter.h"
#include "transform/fft_engine.h"

namespace {

using qrx::bench::kHeight;
using qrx::bench::kWidth;

constexpr size_t kPixels = static_cast<size_t>(kWidth) * kHeight;

// The 24-bit test frame's pixels with an alpha byte each.
std::vector<uint8_t> BgraFrame() {
  const std::vector<uint8_t> bgr = qrx::bench::TestFrame(1);
  std::vector<uint8_t> bgra(kPixels * 4);
  for (size_t i = 0; i < kPixels; ++i) {
    std::memcpy(&bgra[4 * i], &bgr[3 * i], 3);
    bgra[4 * i + 3] = static_cast<uint8_t>(i);
  }
  return bgra;
}

void BM_ProcessBgr24(benchmark::State& state) {
  qrx::bench::StartStream(1);
  if (qrx::State().pipeline.engine == nullptr) {
    state.SkipWithError("no engine");
    return;
  }
  const std::vector<uint8_t> source = qrx::bench::TestFrame(1);
  std::vector<uint8_t> frame = source;
  qrx::bench::Channel channel;
  qrx::FrameInfo info = {};
  info.pixels = frame.data();
  info.channel = reinterpret_cast<qrx::ChannelInfo*>(&channel);
  for (auto _ : state) {
    // Process filters in place: each frame starts from the source.
    std::memcpy(frame.data(), source.data(), frame.size());
    qrx::Process(&info);
    benchmark::ClobberMemory();
  }
  state.counters["workers"] = qrx::State().pipeline.engine->WorkerCount();
  qrx::Stop();
}
BENCHMARK(BM_ProcessBgr24)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Frei0rBgra(benchmark::State& state) {
  qrx::StreamFilter stream(kWidth, kHeight);
  stream.SetFilters(qrx::bench::BenchFilters());
  const std::vector<uint8_t> in = BgraFrame();
  std::vector<uint8_t> out(in.size());
  stream.Update(in.data(), out.data());  // builds the pipeline and waits for the mask
  if (!stream.Filtering()) {
    state.SkipWithError("not filtering");
    return;
  }
  for (auto _ : state) {
    // Separate input and output buffers, as hosts pass them: no copy.
    stream.Update(in.data(), out.data());
    benchmark::ClobberMemory();
  }
  state.counters["workers"] = stream.Pipeline().engine->WorkerCount();
}
BENCHMARK(BM_Frei0rBgra)->Unit(benchmark::kMillisecond)->UseRealTime();

// Both in turn, frame by frame, so that the load of a shared machine falls
// on both alike: wall-clock milliseconds per frame of each and their ratio.
void BM_Interleaved(benchmark::State& state) {
  qrx::bench::StartStream(1);
  qrx::StreamFilter stream(kWidth, kHeight);
  stream.SetFilters(qrx::bench::BenchFilters());
  const std::vector<uint8_t> in = BgraFrame();
  std::vector<uint8_t> out(in.size());
  stream.Update(in.data(), out.data());
  if (qrx::State().pipeline.engine == nullptr || !stream.Filtering()) {
    state.SkipWithError("no stream");
    return;
  }
  const std::vector<uint8_t> source = qrx::bench::TestFrame(1);
  std::vector<uint8_t> frame = source;
  qrx::bench::Channel channel;
  qrx::FrameInfo info = {};
  info.pixels = frame.data();
  info.channel = reinterpret_cast<qrx::ChannelInfo*>(&channel);
  using Clock = std::chrono::steady_clock;
  Clock::duration process{}, module{};
  for (auto _ : state) {
    std::memcpy(frame.data(), source.data(), frame.size());
    const Clock::time_point t0 = Clock::now();
    qrx::Process(&info);
    const Clock::time_point t1 = Clock::now();
    stream.Update(in.data(), out.data());
    const Clock::time_point t2 = Clock::now();
    benchmark::ClobberMemory();
    process += t1 - t0;
    module += t2 - t1;
  }
  const double n = static_cast<double>(state.iterations());
  const double processMs = std::chrono::duration<double, std::milli>(process).count() / n;
  const double moduleMs = std::chrono::duration<double, std::milli>(module).count() / n;
  state.counters["process_ms"] = processMs;
  state.counters["module_ms"] = moduleMs;
  state.counters["ratio"] = moduleMs / processMs;
  qrx::Stop();
}
BENCHMARK(BM_Interleaved)->Unit(benchmark::kMillisecond)->UseRealTime();

// The conversions alone: 0 BGRA to luma pairs, 1 back; 2 BGR24 to the
// working layout, 3 back. Argument 1: the scalar reference instead.
void BM_Conversion(benchmark::State& state) {
  const int which = static_cast<int>(state.range(0));
  const bool scalar = state.range(1) != 0;
  const std::vector<uint8_t> bgra = BgraFrame();
  std::vector<uint8_t> bgr = qrx::bench::TestFrame(1), work(kPixels * 2, 100), out(bgra.size());
  const qrx::FrameFormatRecord format = {kWidth, kHeight, 0, 1};
  for (auto _ : state) {
    switch (which) {
      case 0:
        (scalar ? qrx::pixel::BgraToLumaPairsScalar : qrx::BgraToLumaPairs)(bgra.data(), work.data(), kPixels);
        break;
      case 1:
        (scalar ? qrx::pixel::ApplyLumaPairsToBgraScalar : qrx::ApplyLumaPairsToBgra)(work.data(), bgra.data(),
                                                                                      out.data(), kPixels);
        break;
      case 2:
        (scalar ? qrx::pixel::ConvertToWorkingScalar : qrx::ConvertToWorking)(bgr.data(), work.data(), format, 0,
                                                                              kHeight);
        break;
      default:
        (scalar ? qrx::pixel::ConvertFromWorkingScalar : qrx::ConvertFromWorking)(work.data(), bgr.data(), format, 0,
                                                                                  kHeight);
        break;
    }
    benchmark::ClobberMemory();
  }
  static const char* names[] = {"BGRA to luma pairs", "luma pairs to BGRA", "BGR24 to working", "working to BGR24"};
  state.SetLabel(std::string(names[which]) + (scalar ? ", scalar" : ", dispatched"));
}
BENCHMARK(BM_Conversion)->ArgsProduct({{0, 1, 2, 3}, {0, 1}})->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
