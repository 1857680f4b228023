// A canvas that records what the spectrum view asks of it: the calls in
// order, the line strips' and lists' vertices and the image's pixels.
#pragma once

#include <string>
#include <vector>

#include "ui/picture_canvas.h"

namespace qrxtest {

class RecordingCanvas : public qrx::ui::PictureCanvas {
 public:
  // Image rows are padded, so a writer that ignores the pitch shows.
  static constexpr int32_t kPadPixels = 3;

  bool BeginFrame() override {
    calls.push_back("frame");
    return !busy;
  }
  bool LockImage(int32_t width, int32_t height, uint32_t** pixels, int32_t* pitch) override {
    calls.push_back("lock " + std::to_string(width) + "x" + std::to_string(height));
    if (lockFails) return false;
    imageWidth = width;
    imageHeight = height;
    image.assign(static_cast<size_t>(width + kPadPixels) * height, kUntouched);
    *pixels = image.data();
    *pitch = (width + kPadPixels) * 4;
    return true;
  }
  void UnlockImage() override { calls.push_back("unlock"); }
  void BlitImage() override { calls.push_back("blit"); }
  void Clear(uint32_t colour) override { calls.push_back("clear " + std::to_string(colour)); }
  void BeginScene() override { calls.push_back("begin"); }
  void DrawLineStrip(const qrx::ui::Vertex* v, int32_t count) override {
    calls.push_back("strip " + std::to_string(count));
    strips.emplace_back(v, v + count);
  }
  void DrawLineList(const qrx::ui::Vertex* v, int32_t count) override {
    calls.push_back("list " + std::to_string(count));
    lists.emplace_back(v, v + count);
  }
  void EndScene() override { calls.push_back("end"); }
  void Present() override { calls.push_back("present"); }

  uint32_t Pixel(int32_t x, int32_t y) const { return image[static_cast<size_t>(y) * (imageWidth + kPadPixels) + x]; }
  void Reset() {
    calls.clear();
    strips.clear();
    lists.clear();
  }

  static constexpr uint32_t kUntouched = 0xDEADBEEF;
  std::vector<std::string> calls;
  std::vector<std::vector<qrx::ui::Vertex>> strips;
  std::vector<std::vector<qrx::ui::Vertex>> lists;
  std::vector<uint32_t> image;
  int32_t imageWidth = 0, imageHeight = 0;
  bool lockFails = false;
  bool busy = false;  // the device still drawing the last picture
};

}  // namespace qrxtest
