// What the spectrum view needs from a graphics back end: a device bound to
// one window, a 32-bit image written by the processor and stretched onto the
// picture with bilinear filtering, alpha-blended anti-aliased line strips
// with per-vertex colour in pixel coordinates, clearing, presenting, and
// recovery after the device was lost. Direct3D 9 provides it on Windows; a
// recording canvas serves the tests and a 2-D library the Linux host.
#pragma once

#include <cstdint>

namespace qrx {
namespace ui {

// A pre-transformed vertex: pixel coordinates of the picture, z and
// reciprocal-w (always 0 when drawn), colour 0xAARRGGBB.
struct Vertex {
  float x, y, z, rhw;
  uint32_t colour;
};
static_assert(sizeof(Vertex) == 20, "vertices are 20 bytes");

class PictureCanvas {
 public:
  virtual ~PictureCanvas() = default;

  // Whether this frame's picture is drawn at all: false while the device
  // is still busy with the last one (the frame then draws nothing).
  virtual bool BeginFrame() { return true; }

  // Makes (or keeps) the image width x height and locks it for writing:
  // pixels 0x00RRGGBB, rows `pitch` bytes apart. False when there is no
  // image to write (no device, or it could not be made or locked).
  virtual bool LockImage(int32_t width, int32_t height, uint32_t** pixels, int32_t* pitch) = 0;
  virtual void UnlockImage() = 0;
  // Stretches the whole image onto the whole picture, bilinear.
  virtual void BlitImage() = 0;
  virtual void Clear(uint32_t colour) = 0;
  // A scene holds any number of line strips (count vertices each) and line
  // lists (count / 2 separate lines, drawn in order).
  virtual void BeginScene() = 0;
  virtual void DrawLineStrip(const Vertex* vertices, int32_t count) = 0;
  virtual void DrawLineList(const Vertex* vertices, int32_t count) {
    for (int32_t i = 0; i + 1 < count; i += 2) DrawLineStrip(vertices + i, 2);
  }
  virtual void EndScene() = 0;
  // The spectrum's image, bins x rows pixels, from its complex elements
  // (real first, rows `pitch` complex elements apart): WriteSpectrumRows
  // (picture_geometry.h) into the locked image. A canvas that draws later
  // keeps a copy of the rows and writes the image then, off the frame.
  virtual void DrawSpectrumImage(const float* spectrum, int32_t pitch, int32_t bins, int32_t rows, float scale);
  // Shows the picture; a lost device is recovered here (that frame shows
  // nothing).
  virtual void Present() = 0;
  // The frame's own work is done. A canvas that draws on a thread of its
  // own starts on the presented picture only now, so that its drawing does
  // not take a processor from the frame's transforms.
  virtual void FrameDone() {}
};

}  // namespace ui
}  // namespace qrx
