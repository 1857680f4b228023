// The spectrum picture's arithmetic: the colour palette, the mapping between
// kHz and the picture's pixels, the half-power edges of the band-stops, the
// filters' outlines as vertex lists, the 3-D mesh of the mask, and the
// layout of the MHz axis labels.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "filter/filter_list.h"
#include "ui/dialog_rules.h"
#include "ui/picture_canvas.h"

namespace qrx {

namespace platform {
struct CpuFeatures;
}

namespace ui {

// 256 colours 0x00RRGGBB indexed by display value: near black through blue,
// purple, red, orange and yellow to near white.
const uint32_t* SpectrumPalette();

// Writes the display (rows x bins floats) as palette colours into a locked
// image: each value rounded to nearest (ties to even, whatever the
// processor's rounding mode), below 0 or not a number taken as 0, above 255
// as 255. The scalar reference defines the result; the SSE2 and AVX2
// versions give the same pixels. WriteSpectrumImage is the version for this
// processor, chosen at the first call.
void WriteSpectrumImage(const float* display, int32_t bins, int32_t rows, uint32_t* pixels, int32_t pitchBytes);
void WriteSpectrumImageScalar(const float* display, int32_t bins, int32_t rows, uint32_t* pixels, int32_t pitchBytes);
void WriteSpectrumImageSse2(const float* display, int32_t bins, int32_t rows, uint32_t* pixels, int32_t pitchBytes);
void WriteSpectrumImageAvx2(const float* display, int32_t bins, int32_t rows, uint32_t* pixels, int32_t pitchBytes);
using WriteSpectrumImageFn = void (*)(const float* display, int32_t bins, int32_t rows, uint32_t* pixels,
                                      int32_t pitchBytes);
// The widest version a processor with these features runs.
WriteSpectrumImageFn WriteSpectrumImageFor(const platform::CpuFeatures& cpu);

// The image of a spectrum straight from its complex elements (rows `pitch`
// complex elements apart, bins of each shown): scale * log10(1 + |S|)
// through the palette, the same pixels as FftEngine::BuildDisplay followed
// by WriteSpectrumImage, without a display table (a row is built and
// written a piece at a time).
void WriteSpectrumRows(const float* spectrum, int32_t pitch, int32_t bins, int32_t rows, float scale, uint32_t* pixels,
                       int32_t pitchBytes);

// Mappings between kHz and the picture of w x h pixels for the engine's
// rates R (rowRateKHz) and V (colRateKHz). Left edge 0 kHz, right edge R/2;
// vertical centre 0 kHz, top -V/2, bottom +V/2.
struct PictureGeometry {
  int32_t w = 0, h = 0, R = 0, V = 0;

  bool Valid() const { return w > 0 && h > 0 && R >= 2 && V >= 2; }
  bool Contains(int32_t x, int32_t y) const { return x >= 0 && x < w && y >= 0 && y < h; }
  int32_t X(int32_t kHz) const;        // horizontal frequency -> x
  int32_t Y(int32_t kHz) const;        // vertical frequency -> y
  int32_t ExtentX(int32_t kHz) const;  // horizontal width -> pixels
  int32_t ExtentY(int32_t kHz) const;  // vertical width -> pixels
  int32_t ReadoutFx(int32_t x) const;  // x -> horizontal frequency
  int32_t ReadoutFy(int32_t y) const;  // y -> vertical frequency
};

// The band-stop response of the Win shapes: 0 at F, 1 far from it.
double WinResponse(int32_t f, int32_t F, int32_t W, int32_t O);
// Where the response crosses one half below and above F (kHz).
int32_t LowerHalfPowerEdge(int32_t F, int32_t W, int32_t O);
int32_t UpperHalfPowerEdge(int32_t F, int32_t W, int32_t O);

// A filter's outline on the picture: one or two line strips, a rectangle (5
// vertices) or ellipses of 64 segments (65 vertices, the last equal to the
// first). Held in place, so that drawing outlines every frame allocates
// nothing.
struct OutlineStrip {
  static constexpr int32_t kMaxVertices = 65;
  Vertex vertices[kMaxVertices];
  int32_t count = 0;
  size_t size() const { return static_cast<size_t>(count); }
  const Vertex& operator[](size_t i) const { return vertices[i]; }
  const Vertex* begin() const { return vertices; }
  const Vertex* end() const { return vertices + count; }
};
struct Outline {
  OutlineStrip strips[2];
  int32_t count = 0;
  size_t size() const { return static_cast<size_t>(count); }
  const OutlineStrip& operator[](size_t i) const { return strips[i]; }
  const OutlineStrip* begin() const { return strips; }
  const OutlineStrip* end() const { return strips + count; }
};
Outline FilterOutline(const FilterSpec& filter, const PictureGeometry& g, uint32_t colour);

// The 3-D view's grid: 100 x 60 vertices over the picture.
constexpr int32_t kMeshColumns = 100;
constexpr int32_t kMeshRows = 60;
// The grid's lines as one line list: every row's 99 segments, then every
// column's 59, two vertices each.
constexpr int32_t kMeshLineVertices = 2 * (kMeshRows * (kMeshColumns - 1) + kMeshColumns * (kMeshRows - 1));
// Fills the grid from a mask of `columns` x `rows` cells with row pitch
// `pitch`: vertex (i, j) at index j * 100 + i, height (value - 1) * h / 2.
void FillMesh(Vertex* mesh, const float* mask, int32_t columns, int32_t rows, int32_t pitch, int32_t w, int32_t h);
// Turns the grid in place: angle z in its own plane, angle x tilts it (0 seen
// from above, 90 edge-on), orthographic, shaded by depth; then centred on
// the picture.
void TransformMesh(Vertex* mesh, int32_t count, int32_t angleZ, int32_t angleX, int32_t w, int32_t h);
// The turned grid's lines as they are drawn (kMeshLineVertices vertices):
// the same points and colours in the order the rows' and columns' strips
// would draw them, z and reciprocal-w 0. The turned depth stays in the
// grid: pre-transformed vertices with a z outside 0 ... 1 may be clipped.
void MeshLines(const Vertex* mesh, Vertex* lines);

// The MHz labels around the picture, placed in the window's coordinates from
// the picture's rectangle there; measure gives a text's width and height.
struct AxisLabel {
  std::string text;
  int32_t x, y;  // left, top
};
using MeasureText = std::function<void(const std::string& text, int32_t* width, int32_t* height)>;
std::vector<AxisLabel> LayOutAxisLabels(const Rect& view, int32_t R, int32_t V, const MeasureText& measure);

}  // namespace ui
}  // namespace qrx
