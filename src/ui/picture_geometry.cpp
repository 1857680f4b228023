// The spectrum picture's arithmetic (see picture_geometry.h).
#include "ui/picture_geometry.h"

#include <cmath>
#include <cstdio>

#include "platform/math_constants.h"
#include "platform/platform.h"

namespace qrx {
namespace ui {

namespace {

struct Anchor {
  int index;
  uint32_t colour;
};
// The palette's fixed points; the entries between them are interpolated
// linearly per channel (no channel then moves by more than 8 a step).
constexpr Anchor kAnchors[] = {
    {0, 0x000001},   {16, 0x00000A},  {32, 0x000015},  {48, 0x000023},  {64, 0x000033},  {68, 0x030038},
    {80, 0x280045},  {92, 0x530050},  {100, 0x5C0047}, {112, 0x6B0014}, {116, 0x6F0100}, {128, 0x7E3D00},
    {144, 0x917C00}, {154, 0x9E9E00}, {160, 0xA5A50C}, {176, 0xB6B84A}, {192, 0xC7C99C}, {206, 0xD4D4D4},
    {224, 0xE4E4E4}, {240, 0xF0EFEF}, {255, 0xF9F9F8},
};

struct Palette {
  uint32_t colours[256];
  Palette() {
    for (size_t a = 0; a + 1 < sizeof(kAnchors) / sizeof(kAnchors[0]); ++a) {
      const Anchor& lo = kAnchors[a];
      const Anchor& hi = kAnchors[a + 1];
      for (int i = lo.index; i <= hi.index; ++i) {
        uint32_t colour = 0;
        for (int shift = 0; shift <= 16; shift += 8) {
          const int c0 = static_cast<int>((lo.colour >> shift) & 0xFF);
          const int c1 = static_cast<int>((hi.colour >> shift) & 0xFF);
          const double c = c0 + (c1 - c0) * static_cast<double>(i - lo.index) / (hi.index - lo.index);
          colour |= static_cast<uint32_t>(std::lround(c)) << shift;
        }
        colours[i] = colour;
      }
    }
  }
};

constexpr uint32_t kMeshColour = 0x80FFFFFF;
constexpr int32_t kEllipseSegments = 64;
constexpr int32_t kEdgeSearchTopKHz = 16000;

std::string Format(const char* format, double value) {
  char text[32];
  std::snprintf(text, sizeof(text), format, value);
  return text;
}

}  // namespace

const uint32_t* SpectrumPalette() {
  static const Palette palette;
  return palette.colours;
}

// ---------------------------------------------------------------- geometry

int32_t PictureGeometry::X(int32_t kHz) const { return platform::MulDiv(kHz, w, R / 2); }
int32_t PictureGeometry::Y(int32_t kHz) const { return platform::MulDiv(kHz, h, V) + h / 2; }
int32_t PictureGeometry::ExtentX(int32_t kHz) const { return platform::MulDiv(kHz, w, R / 2); }
int32_t PictureGeometry::ExtentY(int32_t kHz) const { return platform::MulDiv(kHz, h, V); }
int32_t PictureGeometry::ReadoutFx(int32_t x) const { return platform::MulDiv(x, R / 2, w); }
int32_t PictureGeometry::ReadoutFy(int32_t y) const { return platform::MulDiv(y - h / 2, V / 2, h / 2); }

double WinResponse(int32_t f, int32_t F, int32_t W, int32_t O) {
  if (f == F) return 0.0;
  const int32_t difference = f * f - F * F;  // 32-bit, as the shapes form it
  const double ratio = static_cast<double>(f) * W / difference;
  // ratio^(2 O) by squaring, so that an order from a hand-edited file costs
  // no more than a few steps.
  double power = 1.0, base = ratio * ratio;
  for (int64_t n = O; n > 0; n >>= 1) {
    if (n & 1) power *= base;
    base *= base;
  }
  return 1.0 / (1.0 + power);
}

// Both searches run on a grid of half kHz (mid counts half kHz), within 0 to
// 16000 kHz: a centre beyond that (only a hand-edited file has one) is
// taken at the end of the range.
int32_t LowerHalfPowerEdge(int32_t F, int32_t W, int32_t O) {
  F = F < 0 ? 0 : (F > kEdgeSearchTopKHz ? kEdgeSearchTopKHz : F);
  int32_t lo = 1, hi = 2 * F + 1, mid = lo;
  for (;;) {
    mid = (lo + hi) >> 1;
    if (mid == lo) break;
    if (WinResponse(mid >> 1, F, W, O) < 0.5)
      hi = mid;
    else
      lo = mid;
  }
  return mid >> 1;
}

int32_t UpperHalfPowerEdge(int32_t F, int32_t W, int32_t O) {
  F = F < 0 ? 0 : (F > kEdgeSearchTopKHz ? kEdgeSearchTopKHz : F);
  int32_t lo = 2 * F + 1, hi = 2 * kEdgeSearchTopKHz + 1, mid = lo;
  for (;;) {
    mid = (lo + hi) >> 1;
    if (mid == lo) break;
    if (WinResponse(mid >> 1, F, W, O) <= 0.5)
      lo = mid;
    else
      hi = mid;
  }
  return mid >> 1;
}

// ---------------------------------------------------------------- outlines

namespace {

void AddRect(Outline* o, int32_t left, int32_t top, int32_t right, int32_t bottom, uint32_t colour) {
  OutlineStrip& strip = o->strips[o->count++];
  const float l = static_cast<float>(left), t = static_cast<float>(top);
  const float r = static_cast<float>(right - 1), b = static_cast<float>(bottom - 1);
  const Vertex corners[5] = {
      {l, t, 0, 0, colour}, {r, t, 0, 0, colour}, {r, b, 0, 0, colour}, {l, b, 0, 0, colour}, {l, t, 0, 0, colour}};
  for (int32_t i = 0; i < 5; ++i) strip.vertices[i] = corners[i];
  strip.count = 5;
}

void AddEllipse(Outline* o, int32_t cx, int32_t cy, int32_t rx, int32_t ry, uint32_t colour) {
  OutlineStrip& strip = o->strips[o->count++];
  const int32_t n = kEllipseSegments;
  for (int32_t i = 0; i <= n; ++i) {
    const double a = 2.0 * kPi * (i == n ? 0 : i) / n;
    strip.vertices[i] = {static_cast<float>(cx + rx * std::cos(a)), static_cast<float>(cy + ry * std::sin(a)), 0, 0,
                         colour};
  }
  strip.count = n + 1;
}

}  // namespace

Outline FilterOutline(const FilterSpec& f, const PictureGeometry& g, uint32_t colour) {
  Outline outline;
  switch (f.T) {
    case kShapeDot: {
      const int32_t cx = g.X(f.Fx), cy = g.Y(f.Fy);
      const int32_t a = g.ExtentX(f.Wx) / 2, b = g.ExtentY(f.Wy) / 2;
      // A strength-0 dot is the adaptive clip's rectangle.
      if (f.S == 0)
        AddRect(&outline, cx - a, cy - b, cx + a, cy + b, colour);
      else
        AddEllipse(&outline, cx, cy, a, b, colour);
      break;
    }
    case kShapeWin1D:
      AddRect(&outline, g.X(LowerHalfPowerEdge(f.Fx, f.Wx, f.O)), 0, g.X(UpperHalfPowerEdge(f.Fx, f.Wx, f.O)), g.h,
              colour);
      break;
    case kShapeWin2D: {
      // The ring around zero frequency: half-ellipses on the left edge.
      const int32_t fy = f.Fy < 0 ? -f.Fy : f.Fy;
      AddEllipse(&outline, 0, g.h / 2, g.X(LowerHalfPowerEdge(f.Fx, f.Wx, f.O)),
                 g.ExtentY(LowerHalfPowerEdge(fy, f.Wy, f.O)), colour);
      AddEllipse(&outline, 0, g.h / 2, g.X(UpperHalfPowerEdge(f.Fx, f.Wx, f.O)),
                 g.ExtentY(UpperHalfPowerEdge(fy, f.Wy, f.O)), colour);
      break;
    }
    default:
      break;
  }
  return outline;
}

// ---------------------------------------------------------------- mesh

void FillMesh(Vertex* mesh, const float* mask, int32_t columns, int32_t rows, int32_t pitch, int32_t w, int32_t h) {
  const float halfW = w * 0.5f, halfH = h * 0.5f;
  for (int32_t j = 0; j < kMeshRows; ++j) {
    const size_t row = static_cast<size_t>(platform::MulDiv(j, rows - 1, kMeshRows - 1)) * pitch;
    for (int32_t i = 0; i < kMeshColumns; ++i) {
      const float value = mask[row + platform::MulDiv(i, columns - 1, kMeshColumns - 1)];
      Vertex& v = mesh[j * kMeshColumns + i];
      v.x = platform::MulDiv(i, w - 1, kMeshColumns - 1) - halfW;
      v.y = platform::MulDiv(j, h - 1, kMeshRows - 1) - halfH;
      v.z = (value - 1.0f) * halfH;
      v.rhw = 0.0f;
      v.colour = kMeshColour;
    }
  }
}

void TransformMesh(Vertex* mesh, int32_t count, int32_t angleZ, int32_t angleX, int32_t w, int32_t h) {
  const long double toRadians = kPiLong / 180.0L;
  const float cz = static_cast<float>(std::cos(angleZ * toRadians));
  const float sz = static_cast<float>(std::sin(angleZ * toRadians));
  const float cx = static_cast<float>(std::cos(angleX * toRadians));
  const float sx = static_cast<float>(std::sin(angleX * toRadians));
  const float halfW = w * 0.5f, halfH = h * 0.5f;
  for (int32_t n = 0; n < count; ++n) {
    Vertex& v = mesh[n];
    const float x1 = cz * v.x - sz * v.y;
    const float y1 = sz * v.x + cz * v.y;
    const float z2 = cx * v.z + sx * y1;
    const float y2 = cx * y1 - sx * v.z;
    // Depth shade: nearer is brighter.
    float u = (z2 + 100.0f) / 200.0f;
    u = u < 0.0f ? 0.0f : (u > 1.0f ? 1.0f : u);
    uint32_t colour = v.colour & 0xFF000000u;
    for (int shift = 0; shift <= 16; shift += 8)
      colour |= static_cast<uint32_t>(u * static_cast<float>((v.colour >> shift) & 0xFF)) << shift;
    v = {x1 + halfW, y2 + halfH, z2, v.rhw, colour};
  }
}

void MeshLines(const Vertex* mesh, Vertex* lines) {
  const auto flat = [](const Vertex& v) { return Vertex{v.x, v.y, 0.0f, 0.0f, v.colour}; };
  Vertex* out = lines;
  for (int32_t j = 0; j < kMeshRows; ++j) {
    const Vertex* row = mesh + j * kMeshColumns;
    for (int32_t i = 0; i + 1 < kMeshColumns; ++i) {
      *out++ = flat(row[i]);
      *out++ = flat(row[i + 1]);
    }
  }
  for (int32_t i = 0; i < kMeshColumns; ++i) {
    for (int32_t j = 0; j + 1 < kMeshRows; ++j) {
      *out++ = flat(mesh[j * kMeshColumns + i]);
      *out++ = flat(mesh[(j + 1) * kMeshColumns + i]);
    }
  }
}

// ---------------------------------------------------------------- labels

namespace {

// Where the MHz labels sit around the picture, in pixels of the window.
constexpr int32_t kVerticalScaleOffset = 20;  // the vertical scale's labels are centred this far left of the picture
constexpr int32_t kVerticalClearance = 4;     // least room between a vertical label and a unit label
constexpr int32_t kHorizontalScaleDrop = 8;   // the horizontal scale's top, below the picture
constexpr int32_t kHorizontalClearance = 6;   // least room between a horizontal label and the unit label
// One label per MHz up and down, one per half MHz across.
constexpr int32_t kVerticalStepKHz = 1000;
constexpr int32_t kHorizontalStepKHz = 500;
constexpr double kMHzPerKHz = 0.001;

}  // namespace

std::vector<AxisLabel> LayOutAxisLabels(const Rect& view, int32_t R, int32_t V, const MeasureText& measure) {
  std::vector<AxisLabel> labels;
  const int32_t L = view.left, T = view.top, Rr = view.right, B = view.bottom;
  const int32_t Hh = (B - T) / 2, Yc = T + Hh, Wd = Rr - L, Xv = L - kVerticalScaleOffset;
  int32_t cx = 0, cy = 0;
  const std::string unit = "MHz";

  // The vertical scale: 0 and the positive frequencies below the centre
  // line, the negative ones above it, and the unit at both ends; a label
  // that would touch a unit label is left out.
  measure(unit, &cx, &cy);
  const int32_t bottomUnitTop = B - cy / 2;
  labels.push_back({unit, Xv - cx / 2, bottomUnitTop});
  for (int32_t s = 0; s <= V / 2; s += kVerticalStepKHz) {
    const std::string text = Format("%.1f", s * kMHzPerKHz);
    measure(text, &cx, &cy);
    const int32_t y = Yc - cy / 2 + platform::MulDiv(s, Hh, V / 2);
    if (y + cy + kVerticalClearance < bottomUnitTop) labels.push_back({text, Xv - cx / 2, y});
  }
  measure(unit, &cx, &cy);
  const int32_t topUnitTop = T - cy / 2;
  labels.push_back({unit, Xv - cx / 2, topUnitTop});
  for (int32_t s = kVerticalStepKHz; s <= V / 2; s += kVerticalStepKHz) {
    const std::string text = Format("-%.1f", s * kMHzPerKHz);
    measure(text, &cx, &cy);
    const int32_t y = Yc - cy / 2 - platform::MulDiv(s, Hh, V / 2);
    if (y > topUnitTop + cy + kVerticalClearance) labels.push_back({text, Xv - cx / 2, y});
  }

  // The horizontal scale below the picture.
  const int32_t top = B + kHorizontalScaleDrop;
  measure(unit, &cx, &cy);
  const int32_t unitLeft = Rr - cx / 2;
  labels.push_back({unit, unitLeft, top});
  for (int32_t s = 0; s <= R / 2; s += kHorizontalStepKHz) {
    const std::string text = Format("%.1f", s * kMHzPerKHz);
    measure(text, &cx, &cy);
    const int32_t x = L + platform::MulDiv(s, Wd, R / 2) - cx / 2;
    if (x + cx + kHorizontalClearance < unitLeft) labels.push_back({text, x, top});
  }
  return labels;
}

}  // namespace ui
}  // namespace qrx
