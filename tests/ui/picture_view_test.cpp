// The spectrum picture: palette, image writing, frequency geometry, the
// half-power edges, outlines, the 3-D mesh, axis labels, and the sequence of
// drawing calls one frame makes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

#include "filter/mask_builder.h"
#include "platform/cpu.h"
#include "plugin/plugin_state.h"
#include "recording_canvas.h"
#include "transform/fft_engine.h"
#include "ui/picture_render.h"
#include "ui/picture_view.h"

namespace {

using namespace qrx::ui;
using qrxtest::RecordingCanvas;

// The picture at the template's size, FFT line 512 of a 720 x 576 frame.
const PictureGeometry kG = {612, 322, 9818, 14727};

int Channel(uint32_t colour, int shift) { return static_cast<int>((colour >> shift) & 0xFF); }

TEST(SpectrumPalette, AnchorsAndGentleSteps) {
  const uint32_t* p = SpectrumPalette();
  const std::pair<int, uint32_t> anchors[] = {{0, 0x000001},   {16, 0x00000A},  {64, 0x000033},  {68, 0x030038},
                                              {92, 0x530050},  {116, 0x6F0100}, {128, 0x7E3D00}, {154, 0x9E9E00},
                                              {160, 0xA5A50C}, {192, 0xC7C99C}, {206, 0xD4D4D4}, {255, 0xF9F9F8}};
  for (const auto& a : anchors) EXPECT_EQ(p[a.first], a.second) << a.first;
  for (int i = 1; i < 256; ++i)
    for (int shift : {0, 8, 16}) EXPECT_LE(std::abs(Channel(p[i], shift) - Channel(p[i - 1], shift)), 8) << i;
  for (int i = 0; i < 256; ++i) EXPECT_EQ(p[i] >> 24, 0u);
}

TEST(SpectrumImage, RoundsToEvenClampsAndKeepsThePitch) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float display[] = {0.5f, 1.5f, 2.5f, 2.4999f, -3.0f, 300.0f, nan, 254.5f, 254.51f, 17.0f};
  const int expected[] = {0, 2, 2, 2, 0, 255, 0, 254, 255, 17};
  const int32_t bins = 5, rows = 2, pitchPixels = 7;
  std::vector<uint32_t> image(pitchPixels * rows, 0xDEADBEEF);
  WriteSpectrumImage(display, bins, rows, image.data(), pitchPixels * 4);
  for (int r = 0; r < rows; ++r) {
    for (int k = 0; k < bins; ++k) EXPECT_EQ(image[r * pitchPixels + k], SpectrumPalette()[expected[r * bins + k]]);
    for (int k = bins; k < pitchPixels; ++k) EXPECT_EQ(image[r * pitchPixels + k], 0xDEADBEEFu);  // padding
  }
}

TEST(SpectrumImage, SimdVersionsMatchTheReference) {
  if (!qrx::platform::Cpu().sse2) GTEST_SKIP() << "no SSE2 on this processor";
  const bool avx2 = qrx::platform::Cpu().avx2;
  std::mt19937 gen(5);
  std::uniform_real_distribution<float> value(-20.0f, 280.0f);
  for (int32_t bins : {1, 3, 4, 7, 8, 9, 129, 257}) {
    const int32_t rows = 5, pitch = bins + 2;
    std::vector<float> display(static_cast<size_t>(bins) * rows);
    for (size_t i = 0; i < display.size(); ++i) {
      // Plenty of exact halves, for the ties.
      display[i] = i % 3 == 0 ? std::floor(value(gen)) + 0.5f : value(gen);
    }
    display[0] = std::numeric_limits<float>::quiet_NaN();
    std::vector<uint32_t> a(static_cast<size_t>(pitch) * rows, 1), b(a.size(), 1), c(a.size(), 1);
    WriteSpectrumImageScalar(display.data(), bins, rows, a.data(), pitch * 4);
    WriteSpectrumImageSse2(display.data(), bins, rows, b.data(), pitch * 4);
    EXPECT_EQ(a, b) << bins;
    if (avx2) {
      WriteSpectrumImageAvx2(display.data(), bins, rows, c.data(), pitch * 4);
      EXPECT_EQ(a, c) << bins;
    }
  }
}

// The image straight from the spectrum's rows is the engine's display
// table through the palette, pixel for pixel, over rows wider than the
// pieces it is built in, into an image with a pitch of its own.
TEST(SpectrumImage, StraightFromTheRowsIsTheDisplayTableThroughThePalette) {
  std::mt19937 gen(11);
  std::uniform_real_distribution<float> exponent(-3.0f, 5.0f);
  for (int32_t n : {16, 256, 1024}) {
    qrx::FftEngine e(n, 8, n, 0, 2, 1);
    ASSERT_TRUE(e.IsUsable() && e.AllocateDisplay());
    float* s = e.Spectrum();
    for (size_t i = 0; i < static_cast<size_t>(e.Rows()) * e.Pitch() * 2; ++i)
      s[i] = (i % 7 == 0 ? 0.0f : std::pow(10.0f, exponent(gen))) * (i % 2 == 0 ? 1.0f : -1.0f);
    const float scale = 37.0f;  // magnitudes 0 .. 10^5: the whole palette
    e.BuildDisplay(scale);
    const int32_t bins = e.Bins(), rows = e.Rows(), pitch = bins + 5;
    std::vector<uint32_t> expected(static_cast<size_t>(pitch) * rows, 1), image(expected.size(), 1);
    WriteSpectrumImage(e.Display(), bins, rows, expected.data(), pitch * 4);
    WriteSpectrumRows(s, e.Pitch(), bins, rows, scale, image.data(), pitch * 4);
    EXPECT_EQ(image, expected) << n;
  }
}

TEST(SpectrumGeometryTest, MappingsAndReadoutAtTheEdges) {
  EXPECT_EQ(kG.ReadoutFx(0), 0);             // left edge
  EXPECT_EQ(kG.ReadoutFy(kG.h / 2), 0);      // centre line
  EXPECT_EQ(kG.ReadoutFy(0), -kG.V / 2);     // top
  EXPECT_LT(kG.ReadoutFy(kG.h / 2 - 1), 0);  // just above the centre: negative
  EXPECT_GT(kG.ReadoutFy(kG.h / 2 + 1), 0);
  EXPECT_EQ(kG.X(kG.R / 2), kG.w);  // right edge
  EXPECT_EQ(kG.Y(0), kG.h / 2);
  EXPECT_EQ(kG.Y(-kG.V / 2), 0);
  for (int32_t x : {0, 1, 100, 305, 611}) EXPECT_NEAR(kG.X(kG.ReadoutFx(x)), x, 1) << x;
  for (int32_t y : {0, 1, 160, 161, 162, 321}) EXPECT_NEAR(kG.Y(kG.ReadoutFy(y)), y, 1) << y;
  EXPECT_TRUE(kG.Contains(0, 0) && kG.Contains(611, 321));
  EXPECT_FALSE(kG.Contains(612, 0) || kG.Contains(0, 322) || kG.Contains(-1, 5));
}

TEST(HalfPowerEdges, IndependentOfOrderAndAtTheLimits) {
  for (int32_t order = 1; order <= 20; ++order) {
    EXPECT_EQ(LowerHalfPowerEdge(1000, 200, order), 904) << order;
    EXPECT_EQ(UpperHalfPowerEdge(1000, 200, order), 1104) << order;
    EXPECT_EQ(LowerHalfPowerEdge(0, 300, order), 0) << order;
    EXPECT_EQ(UpperHalfPowerEdge(0, 300, order), 300) << order;
    EXPECT_EQ(LowerHalfPowerEdge(1500, 0, order), 1499) << order;
    EXPECT_EQ(UpperHalfPowerEdge(1500, 0, order), 1500) << order;
  }
  EXPECT_EQ(WinResponse(1000, 1000, 200, 3), 0.0);
  EXPECT_NEAR(WinResponse(20000, 1000, 200, 3), 1.0, 1e-6);
  // A hand-edited order or centre costs a few steps and stays in range.
  EXPECT_GE(UpperHalfPowerEdge(2000000000, 300, 2000000000), 0);
}

TEST(Outlines, EveryShape) {
  // Dot: an ellipse of 64 segments around the centre, or the clip's rectangle.
  const qrx::FilterSpec dot = {1, 2301, -900, 300, 400, 3, -60, 0};
  const int32_t cx = kG.X(2301), cy = kG.Y(-900), a = kG.ExtentX(300) / 2, b = kG.ExtentY(400) / 2;
  auto strips = FilterOutline(dot, kG, 0x12345678);
  ASSERT_EQ(strips.size(), 1u);
  ASSERT_EQ(strips[0].size(), 65u);
  EXPECT_FLOAT_EQ(strips[0][0].x, static_cast<float>(cx + a));
  EXPECT_FLOAT_EQ(strips[0][0].y, static_cast<float>(cy));
  EXPECT_NEAR(strips[0][16].x, cx, 1e-3);
  EXPECT_NEAR(strips[0][16].y, cy + b, 1e-3);
  EXPECT_EQ(strips[0][64].x, strips[0][0].x);
  EXPECT_EQ(strips[0][64].y, strips[0][0].y);
  for (const Vertex& v : strips[0]) EXPECT_TRUE(v.colour == 0x12345678 && v.z == 0 && v.rhw == 0);
  qrx::FilterSpec clip = dot;
  clip.S = 0;
  strips = FilterOutline(clip, kG, 1);
  ASSERT_EQ(strips.size(), 1u);
  ASSERT_EQ(strips[0].size(), 5u);
  EXPECT_EQ(strips[0][0].x, cx - a);
  EXPECT_EQ(strips[0][0].y, cy - b);
  EXPECT_EQ(strips[0][2].x, cx + a - 1);
  EXPECT_EQ(strips[0][2].y, cy + b - 1);
  EXPECT_EQ(strips[0][4].x, strips[0][0].x);

  // Win 1D: a band over the whole height between the half-power edges.
  const qrx::FilterSpec band = {1, 1000, 0, 200, 0, 4, -40, 1};
  strips = FilterOutline(band, kG, 1);
  ASSERT_EQ(strips.size(), 1u);
  EXPECT_EQ(strips[0][0].x, kG.X(904));
  EXPECT_EQ(strips[0][2].x, kG.X(1104) - 1);
  EXPECT_EQ(strips[0][0].y, 0);
  EXPECT_EQ(strips[0][2].y, kG.h - 1);

  // Win 2D: two half-rings around the left edge's middle; Fy's sign is ignored.
  qrx::FilterSpec ring = {1, 1000, 2000, 200, 300, 2, -40, 2};
  strips = FilterOutline(ring, kG, 1);
  ASSERT_EQ(strips.size(), 2u);
  EXPECT_FLOAT_EQ(strips[0][0].x, static_cast<float>(kG.X(904)));
  EXPECT_FLOAT_EQ(strips[1][0].x, static_cast<float>(kG.X(1104)));
  EXPECT_NEAR(strips[0][16].y, kG.h / 2 + kG.ExtentY(LowerHalfPowerEdge(2000, 300, 2)), 1e-3);
  EXPECT_NEAR(strips[1][16].y, kG.h / 2 + kG.ExtentY(UpperHalfPowerEdge(2000, 300, 2)), 1e-3);
  ring.Fy = -2000;
  const auto mirrored = FilterOutline(ring, kG, 1);
  for (size_t s = 0; s < 2; ++s)
    for (size_t i = 0; i < strips[s].size(); ++i) EXPECT_EQ(mirrored[s][i].y, strips[s][i].y);
}

TEST(Mesh, FillAndTransform) {
  // A mask of 16 x 8 cells (pitch 18), passing everywhere but one stopped cell.
  std::vector<float> mask(18 * 8, 1.0f);
  mask[7 * 18 + 15] = 0.0f;  // the last cell: vertex (99, 59)
  std::vector<Vertex> mesh(kMeshColumns * kMeshRows);
  const int32_t w = 612, h = 322;
  FillMesh(mesh.data(), mask.data(), 16, 8, 18, w, h);
  EXPECT_EQ(mesh[0].z, 0.0f);
  EXPECT_EQ(mesh.back().z, -h / 2.0f);  // a full stop lies h/2 below the plane
  EXPECT_EQ(mesh.back().colour, 0x80FFFFFFu);
  // Angles 0/0: the grid lies flat over the picture, shaded at mid depth.
  std::vector<Vertex> flat = mesh;
  TransformMesh(flat.data(), static_cast<int32_t>(flat.size()), 0, 0, w, h);
  for (int32_t j = 0; j < kMeshRows; j += 59)
    for (int32_t i = 0; i < kMeshColumns; i += 33) {
      const Vertex& v = flat[j * kMeshColumns + i];
      if (j == kMeshRows - 1 && i == kMeshColumns - 1) continue;  // the stopped cell
      EXPECT_EQ(v.x, qrx::platform::MulDiv(i, w - 1, 99));
      EXPECT_EQ(v.y, qrx::platform::MulDiv(j, h - 1, 59));
      EXPECT_EQ(v.colour, 0x807F7F7Fu);
    }
  EXPECT_EQ(flat.back().colour, 0x80000000u);  // the deep cell is dark
  // Angle x 90: seen edge-on, the passing plane is one line across the middle.
  std::vector<Vertex> edge = mesh;
  TransformMesh(edge.data(), static_cast<int32_t>(edge.size()), 0, 90, w, h);
  for (size_t n = 0; n + 1 < edge.size(); n += 97) EXPECT_NEAR(edge[n].y, h / 2.0, 1e-3) << n;
  EXPECT_NEAR(edge.back().y, h / 2.0 + h / 2.0, 1e-3);
  // Angle z 90 turns the grid in its plane: x takes the old -y.
  std::vector<Vertex> turned = mesh;
  TransformMesh(turned.data(), static_cast<int32_t>(turned.size()), 90, 0, w, h);
  EXPECT_NEAR(turned[0].x, -mesh[0].y + w / 2.0, 1e-3);
  EXPECT_NEAR(turned[0].y, mesh[0].x + h / 2.0, 1e-3);
}

TEST(AxisLabels, LayoutAroundThePicture) {
  const Rect view = {37, 13, 649, 335};  // 612 x 322
  const auto measure = [](const std::string& text, int32_t* w, int32_t* h) {
    *w = 6 * static_cast<int32_t>(text.size());
    *h = 10;
  };
  const std::vector<AxisLabel> labels = LayOutAxisLabels(view, 9818, 14727, measure);
  const int32_t Xv = view.left - 20, Hh = (view.bottom - view.top) / 2, Yc = view.top + Hh;
  std::vector<AxisLabel> units, vertical, horizontal;
  for (const AxisLabel& l : labels) {
    if (l.text == "MHz")
      units.push_back(l);
    else if (l.y == view.bottom + 8)
      horizontal.push_back(l);
    else
      vertical.push_back(l);
  }
  ASSERT_EQ(units.size(), 3u);
  EXPECT_EQ(units[0].x, Xv - 9);
  EXPECT_EQ(units[0].y, view.bottom - 5);
  EXPECT_EQ(units[1].y, view.top - 5);
  EXPECT_EQ(units[2].x, view.right - 9);
  // Vertical: "0.0" on the centre line, a label per MHz each way, none
  // touching a unit label; all centred on Xv.
  ASSERT_FALSE(vertical.empty());
  EXPECT_EQ(vertical[0].text, "0.0");
  EXPECT_EQ(vertical[0].y, Yc - 5);
  for (const AxisLabel& l : vertical) {
    EXPECT_EQ(l.x + 6 * static_cast<int32_t>(l.text.size()) / 2, Xv) << l.text;
    EXPECT_LT(l.y + 10 + 4, units[0].y) << l.text;
    EXPECT_GT(l.y, units[1].y + 10 + 4) << l.text;
  }
  const auto find = [&](const std::string& t) {
    for (const AxisLabel& l : vertical)
      if (l.text == t) return l.y;
    return -1;
  };
  EXPECT_EQ(find("1.0"), Yc - 5 + qrx::platform::MulDiv(1000, Hh, 7363));
  EXPECT_EQ(find("-1.0"), Yc - 5 - qrx::platform::MulDiv(1000, Hh, 7363));
  EXPECT_EQ(find("7.0"), -1);  // would touch the unit label
  // Horizontal: every 0.5 MHz from 0.0 at the left edge, clear of the unit.
  ASSERT_GE(horizontal.size(), 9u);
  EXPECT_EQ(horizontal[0].text, "0.0");
  EXPECT_EQ(horizontal[0].x, view.left - 9);
  EXPECT_EQ(horizontal[2].text, "1.0");
  EXPECT_EQ(horizontal[2].x, view.left + qrx::platform::MulDiv(1000, 612, 4909) - 9);
  for (const AxisLabel& l : horizontal) EXPECT_LT(l.x + 6 * static_cast<int32_t>(l.text.size()) + 6, units[2].x);
}

// One frame's drawing calls through a real stream's engine and mask.
class RenderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    qrx::PluginState& s = qrx::State();
    s.settings.FFTLine = 256;
    qrx::FrameFormat f = {96, 64, 0, 0, 3};
    qrx::Start(&f);
    ASSERT_TRUE(qrx::ProcessingReady(s));
    const qrx::FilterSpec list[] = {
        {1, 2000, 0, 300, 300, 3, -60, 0}, {0, 1000, 0, 200, 0, 2, -40, 1}, {1, 1000, 1500, 200, 300, 2, -40, 2}};
    s.filters.Clear();
    for (const qrx::FilterSpec& spec : list) s.filters.Append(spec);
    s.settings.ProcEnable = 1;
  }
  void TearDown() override {
    qrx::Stop();
    qrx::State().filters.Clear();
    qrx::State().viewRotating = 0;
    qrx::State().settings.FFTLine = 512;
  }
  std::vector<std::string> Render(int32_t selected) {
    canvas->Reset();
    qrx::PluginState& s = qrx::State();
    qrx::platform::ScopedLock lock(s.pluginLock);
    RenderPicture(view, s, selected);
    return canvas->calls;
  }

  RecordingCanvas* canvas = new RecordingCanvas;
  PictureView view{std::unique_ptr<PictureCanvas>(canvas), 300, 150, Rect{0, 0, 300, 150}};
};

TEST_F(RenderTest, SpectrumImageAndOutlines) {
  qrx::FftEngine& e = *qrx::State().pipeline.engine;
  // Something in the spectrum: a few bins of different size.
  for (int32_t i = 0; i < 40; ++i) e.Spectrum()[2 * (i * 37 % (e.Rows() * e.Pitch()))] = 10.0f * i;
  const std::vector<std::string> expected = {"frame",    "lock 129x64", "unlock", "blit",     "begin",
                                             "strip 65", "end",         "begin",  "strip 65", "end",
                                             "begin",    "strip 65",    "end",    "present"};
  EXPECT_EQ(Render(0), expected);
  // The image is the engine's display through the palette, every pixel.
  ASSERT_TRUE(e.AllocateDisplay());
  e.BuildDisplay(DisplayScale(e.WindowSum()));
  std::vector<uint32_t> reference(129 * 64);
  WriteSpectrumImage(e.Display(), 129, 64, reference.data(), 129 * 4);
  for (int32_t r = 0; r < 64; ++r)
    for (int32_t k = 0; k < 129; ++k) ASSERT_EQ(canvas->Pixel(k, r), reference[r * 129 + k]) << r << "," << k;
  // The selected filter is drawn brighter; the disabled one not at all.
  EXPECT_EQ(canvas->strips[0][0].colour, kSelectedOutline);
  EXPECT_EQ(canvas->strips[1][0].colour, kOtherOutline);
  Render(2);
  EXPECT_EQ(canvas->strips[0][0].colour, kOtherOutline);
  EXPECT_EQ(canvas->strips[1][0].colour, kSelectedOutline);

  // Processing off: the spectrum without outlines.
  qrx::State().settings.ProcEnable = 0;
  EXPECT_EQ(Render(0), (std::vector<std::string>{"frame", "lock 129x64", "unlock", "blit", "present"}));
  // An image that cannot be locked: not written, the rest goes on.
  canvas->lockFails = true;
  EXPECT_EQ(Render(0), (std::vector<std::string>{"frame", "lock 129x64", "blit", "present"}));
}

TEST_F(RenderTest, MeshWhileRotatingAndNothingWhileTheDeviceIsBusy) {
  qrx::State().viewRotating = 1;
  qrx::State().settings.AngleZ = 0;
  qrx::State().settings.AngleX = 0;
  const std::vector<std::string> expected = {
      "frame", "clear 4278190080", "begin", "list " + std::to_string(kMeshLineVertices), "end", "present"};
  EXPECT_EQ(Render(0), expected);  // on opaque black, the grid's lines in one list
  // No mask has been published yet: the whole grid lies in the passing plane.
  ASSERT_EQ(canvas->lists.size(), 1u);
  const std::vector<Vertex>& lines = canvas->lists[0];
  EXPECT_EQ(lines[2 * 98 + 1].x, 299);  // the first row spans the picture
  EXPECT_EQ(lines.back().y, 149);       // the last column reaches the bottom
  // A device still busy with the last picture: this frame draws nothing.
  canvas->busy = true;
  EXPECT_EQ(Render(0), std::vector<std::string>{"frame"});
  qrx::State().viewRotating = 0;
  EXPECT_EQ(Render(0), std::vector<std::string>{"frame"});
}

// The 3-D view's lines are those of the 60 row strips and the 100 column
// strips, in that order, with their colours; drawn with z = 0 whatever the
// angles (pre-transformed vertices with a depth outside 0 ... 1 may be
// clipped by the device).
TEST(Mesh, DrawnAsTheStripsLinesWithDepthZero) {
  std::vector<float> mask(64 * 32, 1.0f);
  for (size_t i = 0; i < mask.size(); i += 5) mask[i] = 0.0f;  // deep notches all over
  const int32_t w = 612, h = 322;
  const int32_t angles[][2] = {{0, 0}, {30, 70}, {-90, 90}, {45, 10}, {90, 0}};
  for (const auto& a : angles) {
    auto* canvas = new RecordingCanvas;
    PictureView view{std::unique_ptr<PictureCanvas>(canvas), w, h, Rect{0, 0, w, h}};
    std::vector<Vertex> mesh(kMeshColumns * kMeshRows);
    FillMesh(mesh.data(), mask.data(), 64, 32, 64, w, h);
    view.DrawMesh(mesh.data(), a[0], a[1]);
    // The strips the grid makes: rows, then columns (every 100th vertex).
    std::vector<Vertex> expected;
    const auto segment = [&](int32_t p, int32_t q) {
      expected.push_back(mesh[p]);
      expected.push_back(mesh[q]);
    };
    for (int32_t j = 0; j < kMeshRows; ++j)
      for (int32_t i = 0; i + 1 < kMeshColumns; ++i) segment(j * kMeshColumns + i, j * kMeshColumns + i + 1);
    for (int32_t i = 0; i < kMeshColumns; ++i)
      for (int32_t j = 0; j + 1 < kMeshRows; ++j) segment(j * kMeshColumns + i, (j + 1) * kMeshColumns + i);
    ASSERT_EQ(canvas->lists.size(), 1u);
    const std::vector<Vertex>& drawn = canvas->lists[0];
    ASSERT_EQ(drawn.size(), expected.size());
    float deepest = 0.0f;
    for (size_t n = 0; n < drawn.size(); ++n) {
      SCOPED_TRACE(std::to_string(a[0]) + "/" + std::to_string(a[1]) + " vertex " + std::to_string(n));
      ASSERT_TRUE(drawn[n].x == expected[n].x && drawn[n].y == expected[n].y && drawn[n].colour == expected[n].colour);
      ASSERT_TRUE(drawn[n].z == 0.0f && drawn[n].rhw == 0.0f);
      deepest = std::max(deepest, std::fabs(expected[n].z));
    }
    // The turned grid itself keeps its depth (the shade comes from it).
    if (a[1] != 0) {
      EXPECT_GT(deepest, 1.0f) << a[0] << "/" << a[1];
    }
  }
}

}  // namespace
