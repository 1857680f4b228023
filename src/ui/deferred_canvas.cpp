// A canvas drawn on a thread of its own (see deferred_canvas.h).
#include "ui/deferred_canvas.h"

#include <cstring>

#include "ui/picture_geometry.h"

namespace qrx {
namespace ui {

DeferredCanvas::DeferredCanvas(std::unique_ptr<PictureCanvas> target) : target_(std::move(target)) {
  // Room for the 3-D view's lines and a few outlines: the frames allocate
  // nothing once the first ones have run.
  vertices_.reserve(static_cast<size_t>(kMeshLineVertices) + 1024);
  steps_.reserve(64);
  work_ = platform::CreateEvent(false);
  stop_ = platform::CreateEvent(false);
  if (work_ != nullptr && stop_ != nullptr) thread_ = platform::StartThread(&DeferredCanvas::Run, this);
}

DeferredCanvas::~DeferredCanvas() {
  if (thread_ != nullptr) {
    platform::SetEvent(stop_);
    // The thread uses this object until it is out of the frame it draws, so
    // it is waited for however long that takes.
    platform::JoinThread(thread_, platform::kInfinite);
    platform::CloseThread(thread_);
  }
  platform::CloseEvent(work_);
  platform::CloseEvent(stop_);
}

uint32_t DeferredCanvas::Run(void* self) {
  DeferredCanvas* canvas = static_cast<DeferredCanvas*>(self);
  const platform::Event events[2] = {canvas->stop_, canvas->work_};
  for (;;) {
    const platform::WaitAnyResult woken = platform::WaitAny(events, 2, platform::kInfinite);
    if (woken.status != platform::WaitStatus::Ok || woken.index == 0) return 0;
    platform::ResetEvent(canvas->work_);
    canvas->Draw();
    canvas->inFlight_.store(false, std::memory_order_release);
  }
}

void DeferredCanvas::Draw() {
  for (const Step& step : steps_) {
    switch (step.kind) {
      case Step::kImage: {
        uint32_t* pixels = nullptr;
        int32_t pitch = 0;
        if (!target_->LockImage(step.first, step.count, &pixels, &pitch)) break;
        const size_t rowBytes = static_cast<size_t>(step.first) * sizeof(uint32_t);
        for (int32_t r = 0; r < step.count; ++r)
          std::memcpy(reinterpret_cast<uint8_t*>(pixels) + static_cast<ptrdiff_t>(r) * pitch,
                      &image_[static_cast<size_t>(r) * step.first], rowBytes);
        target_->UnlockImage();
        break;
      }
      case Step::kSpectrum:
        target_->DrawSpectrumImage(spectrum_.data(), step.first, step.first, step.count, step.scale);
        break;
      case Step::kBlit:
        target_->BlitImage();
        break;
      case Step::kClear:
        target_->Clear(step.colour);
        break;
      case Step::kBeginScene:
        target_->BeginScene();
        break;
      case Step::kStrip:
        target_->DrawLineStrip(&vertices_[static_cast<size_t>(step.first)], step.count);
        break;
      case Step::kList:
        target_->DrawLineList(&vertices_[static_cast<size_t>(step.first)], step.count);
        break;
      case Step::kEndScene:
        target_->EndScene();
        break;
    }
  }
  target_->Present();
}

bool DeferredCanvas::BeginFrame() {
  if (thread_ == nullptr || inFlight_.load(std::memory_order_acquire)) return false;
  steps_.clear();
  vertices_.clear();
  presented_ = false;
  return true;
}

bool DeferredCanvas::LockImage(int32_t width, int32_t height, uint32_t** pixels, int32_t* pitch) {
  if (width <= 0 || height <= 0) return false;
  if (width != imageWidth_ || height != imageHeight_) {
    image_.assign(static_cast<size_t>(width) * height, 0);  // only when the engine's size changes
    imageWidth_ = width;
    imageHeight_ = height;
  }
  *pixels = image_.data();
  *pitch = width * static_cast<int32_t>(sizeof(uint32_t));
  return true;
}

void DeferredCanvas::UnlockImage() { Record(Step::kImage, 0, imageWidth_, imageHeight_); }
void DeferredCanvas::BlitImage() { Record(Step::kBlit); }
void DeferredCanvas::Clear(uint32_t colour) { Record(Step::kClear, colour); }
void DeferredCanvas::BeginScene() { Record(Step::kBeginScene); }
void DeferredCanvas::DrawLineStrip(const Vertex* vertices, int32_t count) {
  RecordLines(Step::kStrip, vertices, count);
}
void DeferredCanvas::DrawLineList(const Vertex* vertices, int32_t count) { RecordLines(Step::kList, vertices, count); }
void DeferredCanvas::EndScene() { Record(Step::kEndScene); }

void DeferredCanvas::DrawSpectrumImage(const float* spectrum, int32_t pitch, int32_t bins, int32_t rows, float scale) {
  if (bins <= 0 || rows <= 0) return;
  const size_t rowFloats = static_cast<size_t>(bins) * 2;
  // Sized once per engine size: the frames allocate nothing.
  if (spectrum_.size() != rowFloats * rows) spectrum_.assign(rowFloats * rows, 0.0f);
  for (int32_t r = 0; r < rows; ++r)
    std::memcpy(&spectrum_[r * rowFloats], spectrum + static_cast<size_t>(r) * pitch * 2, rowFloats * sizeof(float));
  Record(Step::kSpectrum, 0, bins, rows, scale);
}

void DeferredCanvas::Present() {
  if (thread_ == nullptr || inFlight_.load(std::memory_order_acquire)) return;
  presented_ = true;
}

void DeferredCanvas::FrameDone() {
  if (!presented_) return;
  presented_ = false;
  inFlight_.store(true, std::memory_order_release);
  platform::SetEvent(work_);
}

void DeferredCanvas::Record(Step::Kind kind, uint32_t colour, int32_t first, int32_t count, float scale) {
  steps_.push_back(Step{kind, colour, first, count, scale});
}

void DeferredCanvas::RecordLines(Step::Kind kind, const Vertex* vertices, int32_t count) {
  if (count < 2) return;
  const int32_t first = static_cast<int32_t>(vertices_.size());
  vertices_.insert(vertices_.end(), vertices, vertices + count);
  Record(kind, 0, first, count);
}

}  // namespace ui
}  // namespace qrx
