// The deferred canvas: what a frame draws reaches the target exactly as the
// frame drew it (order, image, lines), on the drawing thread once the frame
// is done, the spectrum's image from the rows as they were when the frame
// handed them over; while the target is still drawing, no new picture is
// begun and the frame does not wait; the canvas ends while a frame is being
// drawn.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "recording_canvas.h"
#include "ui/deferred_canvas.h"
#include "ui/picture_view.h"

namespace {

using namespace qrx::ui;
using qrxtest::RecordingCanvas;
using Clock = std::chrono::steady_clock;

// A recording target whose image and Present can be held until the test
// lets them go.
class HeldCanvas : public RecordingCanvas {
 public:
  bool LockImage(int32_t width, int32_t height, uint32_t** pixels, int32_t* pitch) override {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      ++locks_;
      changed_.wait(lock, [this] { return !held_; });
    }
    return RecordingCanvas::LockImage(width, height, pixels, pitch);
  }
  void Present() override {
    RecordingCanvas::Present();
    std::unique_lock<std::mutex> lock(mutex_);
    ++presented_;
    changed_.notify_all();
    changed_.wait(lock, [this] { return !held_; });
  }
  void Hold(bool held) {
    std::lock_guard<std::mutex> lock(mutex_);
    held_ = held;
    changed_.notify_all();
  }
  int Locks() {
    std::lock_guard<std::mutex> lock(mutex_);
    return locks_;
  }
  // Waits until n frames have been presented.
  bool WaitPresented(int n) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return presented_ >= n; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool held_ = false;
  int presented_ = 0;
  int locks_ = 0;
};

constexpr int32_t kW = 300, kH = 150;

// A spectrum frame (rows of 129 complex elements, 131 apart) and a 3-D
// frame, as RenderPicture draws them; the 3-D frame is done at once, the
// spectrum frame leaves FrameDone to the test.
constexpr int32_t kBins = 129, kRows = 64, kPitch = 131;
void SpectrumFrame(PictureView& view, const std::vector<float>& spectrum, const qrx::FilterList& filters) {
  if (!view.Canvas().BeginFrame()) return;
  view.Canvas().DrawSpectrumImage(spectrum.data(), kPitch, kBins, kRows, 31.0f);
  view.Canvas().BlitImage();
  view.DrawOutlines(filters, 1, 9818, 14727);
  view.Canvas().Present();
}
void MeshFrame(PictureView& view, const std::vector<float>& mask) {
  if (!view.Canvas().BeginFrame()) return;
  std::vector<Vertex> mesh(kMeshColumns * kMeshRows);
  FillMesh(mesh.data(), mask.data(), 32, 16, 32, kW, kH);
  view.Canvas().Clear(kMeshBackground);
  view.DrawMesh(mesh.data(), 30, 70);
  view.Canvas().Present();
  view.Canvas().FrameDone();
}

// The calls a recording shows, without the frame's own question.
std::vector<std::string> Drawn(const RecordingCanvas& c) {
  std::vector<std::string> calls;
  for (const std::string& call : c.calls)
    if (call != "frame") calls.push_back(call);
  return calls;
}

TEST(DeferredCanvas, TheTargetDrawsWhatTheFrameDrew) {
  std::vector<float> spectrum(kPitch * kRows * 2);
  for (size_t i = 0; i < spectrum.size(); ++i) spectrum[i] = static_cast<float>(i * i % 40009) - 7000.0f;
  qrx::FilterList filters;
  filters.Append({1, 2000, 0, 300, 300, 3, -60, 0});
  filters.Append({1, 1000, 1500, 200, 300, 2, -40, 2});
  std::vector<float> mask(32 * 16, 1.0f);
  for (size_t i = 0; i < mask.size(); i += 3) mask[i] = 0.25f;

  auto* direct = new RecordingCanvas;
  PictureView directView(std::unique_ptr<PictureCanvas>(direct), kW, kH, Rect{0, 0, kW, kH});
  auto* target = new HeldCanvas;
  PictureView deferredView(std::make_unique<DeferredCanvas>(std::unique_ptr<PictureCanvas>(target)), kW, kH,
                           Rect{0, 0, kW, kH});
  SpectrumFrame(directView, spectrum, filters);
  // The frame hands its rows over; nothing is drawn until the frame is done,
  // by which time its inverse transform has overwritten them.
  target->Hold(true);
  SpectrumFrame(deferredView, spectrum, filters);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(target->Locks(), 0);
  std::fill(spectrum.begin(), spectrum.end(), 1.0e6f);
  deferredView.Canvas().FrameDone();
  target->Hold(false);
  ASSERT_TRUE(target->WaitPresented(1));
  MeshFrame(directView, mask);
  // The next frame may begin once the drawing thread is done with this one.
  const auto until = Clock::now() + std::chrono::seconds(10);
  while (!deferredView.Canvas().BeginFrame() && Clock::now() < until) std::this_thread::yield();
  MeshFrame(deferredView, mask);  // asks again: the drawing thread is free now
  ASSERT_TRUE(target->WaitPresented(2));
  EXPECT_EQ(Drawn(*target), Drawn(*direct));
  ASSERT_EQ(target->imageWidth, kBins);
  EXPECT_EQ(target->image, direct->image);
  EXPECT_EQ(target->strips.size(), direct->strips.size());
  for (size_t s = 0; s < target->strips.size() && s < direct->strips.size(); ++s)
    EXPECT_EQ(
        0, std::memcmp(target->strips[s].data(), direct->strips[s].data(), direct->strips[s].size() * sizeof(Vertex)));
  ASSERT_EQ(target->lists.size(), 1u);
  EXPECT_EQ(0, std::memcmp(target->lists[0].data(), direct->lists[0].data(), direct->lists[0].size() * sizeof(Vertex)));
}

TEST(DeferredCanvas, NoNewPictureWhileTheLastIsDrawnAndTheFrameNeverWaits) {
  std::vector<float> mask(32 * 16, 1.0f);
  auto* target = new HeldCanvas;
  target->Hold(true);
  auto canvas = std::make_unique<DeferredCanvas>(std::unique_ptr<PictureCanvas>(target));
  DeferredCanvas* deferred = canvas.get();
  PictureView view(std::move(canvas), kW, kH, Rect{0, 0, kW, kH});
  MeshFrame(view, mask);
  ASSERT_TRUE(target->WaitPresented(1));  // the drawing thread is in Present, held
  const auto start = Clock::now();
  for (int i = 0; i < 1000; ++i) {
    ASSERT_FALSE(deferred->BeginFrame());
    MeshFrame(view, mask);  // draws nothing
  }
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
  target->Hold(false);
  const auto until = Clock::now() + std::chrono::seconds(10);
  bool free = false;
  while (!(free = deferred->BeginFrame()) && Clock::now() < until) std::this_thread::yield();
  EXPECT_TRUE(free);
  EXPECT_EQ(target->lists.size(), 1u);  // one picture drawn, none of the refused frames
}

TEST(DeferredCanvas, EndsWhileAFrameIsBeingDrawn) {
  auto* target = new HeldCanvas;
  target->Hold(true);
  auto canvas = std::make_unique<DeferredCanvas>(std::unique_ptr<PictureCanvas>(target));
  ASSERT_TRUE(canvas->BeginFrame());
  canvas->Clear(1);
  canvas->Present();
  canvas->FrameDone();
  ASSERT_TRUE(target->WaitPresented(1));
  std::thread release([target] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    target->Hold(false);
  });
  canvas.reset();  // waits for the frame being drawn, then ends the thread
  release.join();
}

}  // namespace
