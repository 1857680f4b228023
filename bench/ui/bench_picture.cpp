// What the spectrum view adds to a frame, at 720 x 576 and FFT line 512
// (a 257 x 1024 spectrum): the image write alone (the palette loop),
// BuildDisplay (the log scale), the image straight from the spectrum's rows
// (what a drawing thread does), the hand-off of the rows to a deferred
// canvas (all that the frame does with one), and, for comparison, the
// frame's transform (forward and inverse 2-D FFT with the default
// workers). A table of the ratios is printed after the runs; the image
// write should cost under a tenth of the transform.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "transform/fft_engine.h"
#include "ui/deferred_canvas.h"
#include "ui/picture_geometry.h"

namespace {

constexpr int kFftLine = 512, kHeight = 576;
std::map<std::string, double> g_ms;  // mean real time per iteration

qrx::FftEngine& Engine() {
  static qrx::FftEngine engine(kFftLine, kHeight, kFftLine, 0, 2, 0);
  static bool ready = [] {
    engine.BuildWindow(1);
    engine.AllocateDisplay();
    std::mt19937 gen(3);
    std::uniform_real_distribution<float> dist(0.0f, 255.0f);
    float* s = engine.Spectrum();
    for (int m = 0; m < kHeight; ++m)
      for (int n = 0; n < kFftLine; ++n) s[m * 2 * engine.Pitch() + n] = dist(gen);
    engine.Transform(+1);
    return true;
  }();
  (void)ready;
  return engine;
}

void BM_ImageWrite(benchmark::State& state) {
  qrx::FftEngine& e = Engine();
  e.BuildDisplay(255.0f / std::log10(255.0f * e.WindowSum() + 1.0f));
  std::vector<uint32_t> image(static_cast<size_t>(e.Bins()) * e.Rows());
  for (auto _ : state) {
    qrx::ui::WriteSpectrumImage(e.Display(), e.Bins(), e.Rows(), image.data(), e.Bins() * 4);
    benchmark::DoNotOptimize(image.data());
    benchmark::ClobberMemory();
  }
  state.counters["values"] = static_cast<double>(e.Bins()) * e.Rows();
}

void BM_BuildDisplay(benchmark::State& state) {
  qrx::FftEngine& e = Engine();
  const float scale = 255.0f / std::log10(255.0f * e.WindowSum() + 1.0f);
  for (auto _ : state) {
    e.BuildDisplay(scale);
    benchmark::ClobberMemory();
  }
}

void BM_RowsImage(benchmark::State& state) {
  qrx::FftEngine& e = Engine();
  const float scale = 255.0f / std::log10(255.0f * e.WindowSum() + 1.0f);
  std::vector<uint32_t> image(static_cast<size_t>(e.Bins()) * e.Rows());
  for (auto _ : state) {
    qrx::ui::WriteSpectrumRows(e.Spectrum(), e.Pitch(), e.Bins(), e.Rows(), scale, image.data(), e.Bins() * 4);
    benchmark::DoNotOptimize(image.data());
    benchmark::ClobberMemory();
  }
}

// A target that draws nothing: the hand-off is never presented.
class NoCanvas : public qrx::ui::PictureCanvas {
 public:
  bool LockImage(int32_t, int32_t, uint32_t**, int32_t*) override { return false; }
  void UnlockImage() override {}
  void BlitImage() override {}
  void Clear(uint32_t) override {}
  void BeginScene() override {}
  void DrawLineStrip(const qrx::ui::Vertex*, int32_t) override {}
  void EndScene() override {}
  void Present() override {}
};

void BM_HandOff(benchmark::State& state) {
  qrx::FftEngine& e = Engine();
  qrx::ui::DeferredCanvas canvas(std::make_unique<NoCanvas>());
  for (auto _ : state) {
    if (!canvas.BeginFrame()) state.SkipWithError("the drawing thread is busy");
    canvas.DrawSpectrumImage(e.Spectrum(), e.Pitch(), e.Bins(), e.Rows(), 1.0f);
    benchmark::ClobberMemory();
  }
}

void BM_Transform(benchmark::State& state) {
  qrx::FftEngine& e = Engine();
  for (auto _ : state) {
    e.Transform(-1);
    e.Transform(+1);
    benchmark::ClobberMemory();
  }
  state.counters["workers"] = e.WorkerCount();
}

BENCHMARK(BM_ImageWrite)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_BuildDisplay)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RowsImage)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_HandOff)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Transform)->Unit(benchmark::kMillisecond)->UseRealTime();

class Table : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs)
      if (r.run_type == Run::RT_Iteration) g_ms[r.benchmark_name()] = r.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  Table table;
  benchmark::RunSpecifiedBenchmarks(&table);
  const double image = g_ms["BM_ImageWrite/real_time"], display = g_ms["BM_BuildDisplay/real_time"],
               rows = g_ms["BM_RowsImage/real_time"], handOff = g_ms["BM_HandOff/real_time"],
               transform = g_ms["BM_Transform/real_time"];
  if (transform > 0) {
    std::printf("\n257 x 1024 spectrum, 720 x 576 frame, FFT line 512 (ms per frame)\n");
    std::printf("  image write (palette loop) %.3f = %.3f of the transform\n", image, image / transform);
    std::printf("  BuildDisplay (log scale)   %.3f = %.3f of the transform\n", display, display / transform);
    std::printf("  image from the rows        %.3f = %.3f of the transform\n", rows, rows / transform);
    std::printf("  hand-off to the drawing    %.3f = %.3f of the transform\n", handOff, handOff / transform);
    std::printf("  transform (FFT + inverse)  %.3f\n", transform);
  }
  benchmark::Shutdown();
  return 0;
}
