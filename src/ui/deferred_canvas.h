// A canvas that takes a frame's drawing without touching the device and
// draws it on a thread of its own. The frame records what it draws (the
// image into memory of the canvas's own, a copy of the spectrum's rows, the
// line strips and lists, the clears and scenes) up to Present; FrameDone,
// once the rest of the frame is done, hands the recording to the drawing
// thread, which draws it on the target canvas: the spectrum's log scale and
// palette and the device work are done there. Until that is done,
// BeginFrame says that no new picture is begun: frames that come meanwhile
// draw nothing, so pictures never queue up. For a device that is slower
// than a frame lasts (Wine's software renderer), the frame waits for
// nothing and the pictures come as fast as the device draws them.
//
// Threads: the frame thread calls everything but the destructor, which the
// thread that made the canvas calls; the target is used by the drawing
// thread alone from construction on.
#pragma once

#include <atomic>
#include <memory>
#include <vector>

#include "platform/platform.h"
#include "ui/picture_canvas.h"

namespace qrx {
namespace ui {

class DeferredCanvas : public PictureCanvas {
 public:
  explicit DeferredCanvas(std::unique_ptr<PictureCanvas> target);
  // Ends the drawing thread (it finishes the frame it is drawing first).
  ~DeferredCanvas() override;
  DeferredCanvas(const DeferredCanvas&) = delete;
  DeferredCanvas& operator=(const DeferredCanvas&) = delete;

  // False while the last frame is still being drawn.
  bool BeginFrame() override;
  // Always the canvas's own memory, width x height pixels, kept between
  // frames while the size stays.
  bool LockImage(int32_t width, int32_t height, uint32_t** pixels, int32_t* pitch) override;
  void UnlockImage() override;
  void BlitImage() override;
  void Clear(uint32_t colour) override;
  void BeginScene() override;
  void DrawLineStrip(const Vertex* vertices, int32_t count) override;
  void DrawLineList(const Vertex* vertices, int32_t count) override;
  void EndScene() override;
  // Copies the rows that are shown (bins complex elements of each); the
  // drawing thread makes the image of them on the target.
  void DrawSpectrumImage(const float* spectrum, int32_t pitch, int32_t bins, int32_t rows, float scale) override;
  // Ends the recording; FrameDone hands it to the drawing thread.
  void Present() override;
  void FrameDone() override;

 private:
  struct Step {
    enum Kind { kImage, kSpectrum, kBlit, kClear, kBeginScene, kStrip, kList, kEndScene } kind;
    uint32_t colour;       // kClear
    int32_t first, count;  // kStrip, kList: vertices; kImage, kSpectrum: width, height
    float scale;           // kSpectrum
  };
  static uint32_t Run(void* self);
  void Draw();
  void Record(Step::Kind kind, uint32_t colour = 0, int32_t first = 0, int32_t count = 0, float scale = 0.0f);
  void RecordLines(Step::Kind kind, const Vertex* vertices, int32_t count);

  std::unique_ptr<PictureCanvas> target_;
  // The frame: the frame thread's until Present, the drawing thread's while
  // inFlight_ is set.
  std::vector<Step> steps_;
  std::vector<Vertex> vertices_;
  std::vector<uint32_t> image_;
  int32_t imageWidth_ = 0, imageHeight_ = 0;
  std::vector<float> spectrum_;  // bins complex elements a row, no spare
  bool presented_ = false;       // the frame thread's: a recording waits for FrameDone
  std::atomic<bool> inFlight_{false};
  platform::Event work_ = nullptr;
  platform::Event stop_ = nullptr;
  platform::Thread thread_ = nullptr;
};

}  // namespace ui
}  // namespace qrx
