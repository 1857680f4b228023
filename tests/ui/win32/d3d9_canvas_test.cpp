// The Direct3D 9 canvas: against a scripted device, the device made as
// recorded (presentation parameters, render states), recovery after a lost
// device, and lines in as few calls as the device takes; on Wine's own
// device, the 3-D view's one line list draws exactly the picture of the 160
// strips it replaces.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fake_d3d9.h"
#include "ui/picture_view.h"
#include "ui/win32/d3d9_canvas.h"

namespace {

using qrx::ui::Vertex;
using qrx::ui::win32::D3d9Canvas;

// A top-level window with a child control of the spectrum's size.
class Control {
 public:
  // Shown only when it is read back: without a window manager Wine waits
  // two seconds for a shown window to be withdrawn again.
  Control(int32_t width, int32_t height, bool shown = false) {
    top_ = CreateWindowExA(0, "Static", "canvas test", WS_POPUP | (shown ? WS_VISIBLE : 0), 0, 0, width + 20,
                           height + 20, nullptr, nullptr, nullptr, nullptr);
    control_ =
        CreateWindowExA(0, "Static", "", WS_CHILD | WS_VISIBLE, 10, 10, width, height, top_, nullptr, nullptr, nullptr);
  }
  ~Control() { DestroyWindow(top_); }
  HWND Handle() const { return control_; }
  static void Pump() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
  }
  // What the control shows, 0x00RRGGBB, row after row.
  std::vector<uint32_t> Pixels() const {
    RECT r;
    GetClientRect(control_, &r);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = r.right;
    info.bmiHeader.biHeight = -r.bottom;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HDC screen = GetDC(control_);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, r.right, r.bottom, screen, 0, 0, SRCCOPY);
    std::vector<uint32_t> out(static_cast<uint32_t*>(bits), static_cast<uint32_t*>(bits) + r.right * r.bottom);
    for (uint32_t& p : out) p &= 0xFFFFFF;
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(control_, screen);
    return out;
  }

 private:
  HWND top_ = nullptr, control_ = nullptr;
};

// The scripted device's calls by name, and the arguments of each.
class Calls {
 public:
  explicit Calls(const FakeD3dLog& log) : log_(log) {}
  int Count(const std::string& name, int from = 0) const {
    int n = 0;
    for (int i = from; i < log_.callCount; ++i) n += name == log_.calls[i].name ? 1 : 0;
    return n;
  }
  std::vector<FakeD3dCall> Of(const std::string& name, int from = 0) const {
    std::vector<FakeD3dCall> found;
    for (int i = from; i < log_.callCount; ++i)
      if (name == log_.calls[i].name) found.push_back(log_.calls[i]);
    return found;
  }
  int Mark() const { return log_.callCount; }

 private:
  const FakeD3dLog& log_;
};

class ScriptedCanvasTest : public ::testing::Test {
 protected:
  static constexpr int32_t kW = 120, kH = 60;
  void SetUp() override { log_ = new FakeD3dLog(); }
  void TearDown() override { delete log_; }
  void Reset() { std::memset(log_, 0, sizeof(*log_)); }
  // One spectrum frame as the view draws it: image, stretch, an outline.
  static void SpectrumFrame(D3d9Canvas& canvas) {
    if (!canvas.BeginFrame()) return;
    uint32_t* pixels = nullptr;
    int32_t pitch = 0;
    if (canvas.LockImage(8, 4, &pixels, &pitch)) {
      pixels[0] = 0x123456;
      canvas.UnlockImage();
    }
    canvas.BlitImage();
    const Vertex box[5] = {{1, 1, 0, 0, 1}, {9, 1, 0, 0, 1}, {9, 9, 0, 0, 1}, {1, 9, 0, 0, 1}, {1, 1, 0, 0, 1}};
    canvas.BeginScene();
    canvas.DrawLineStrip(box, 5);
    canvas.EndScene();
    canvas.Present();
  }

  FakeD3dLog* log_ = nullptr;  // large: on the heap
};

TEST_F(ScriptedCanvasTest, DeviceMadeAsRecorded) {
  for (const bool copying : {false, true}) {
    SCOPED_TRACE(copying ? "Wine's way (copied into the control)" : "presented to the control");
    Reset();
    Control control(kW, kH);
    {
      D3d9Canvas canvas(control.Handle(), copying, FakeD3dCreate(log_));
      ASSERT_TRUE(canvas.HasDevice());
      const Calls calls(*log_);
      const D3DPRESENT_PARAMETERS& p = log_->params;
      const HWND deviceWindow = copying ? log_->focusWindow : control.Handle();
      struct Row {
        const char* what;
        intptr_t actual, expected;
      };
      const FakeD3dCall create = calls.Of("CreateDevice").at(0);
      const Row rows[] = {
          {"adapter", create.a, D3DADAPTER_DEFAULT},
          {"device type", create.b, D3DDEVTYPE_HAL},
          {"behaviour", create.c, D3DCREATE_HARDWARE_VERTEXPROCESSING | D3DCREATE_FPU_PRESERVE},
          {"focus window", reinterpret_cast<intptr_t>(log_->focusWindow), reinterpret_cast<intptr_t>(deviceWindow)},
          {"back buffer width", static_cast<intptr_t>(p.BackBufferWidth), copying ? kW : 0},
          {"back buffer height", static_cast<intptr_t>(p.BackBufferHeight), copying ? kH : 0},
          {"back buffer format", static_cast<intptr_t>(p.BackBufferFormat), D3DFMT_A8R8G8B8},
          {"back buffers", static_cast<intptr_t>(p.BackBufferCount), 1},
          {"multisampling", p.MultiSampleType, D3DMULTISAMPLE_NONE},
          {"swap effect", static_cast<intptr_t>(p.SwapEffect), D3DSWAPEFFECT_DISCARD},
          {"device window", reinterpret_cast<intptr_t>(p.hDeviceWindow), reinterpret_cast<intptr_t>(deviceWindow)},
          {"windowed", p.Windowed, TRUE},
          {"depth buffer", p.EnableAutoDepthStencil, FALSE},
          {"flags", static_cast<intptr_t>(p.Flags), D3DPRESENTFLAG_LOCKABLE_BACKBUFFER},
          {"refresh rate", static_cast<intptr_t>(p.FullScreen_RefreshRateInHz), 0},
          {"presentation interval", static_cast<intptr_t>(p.PresentationInterval),
           static_cast<intptr_t>(D3DPRESENT_INTERVAL_IMMEDIATE)},
      };
      for (const Row& r : rows) EXPECT_EQ(r.actual, r.expected) << r.what;
      if (copying) {
        EXPECT_NE(log_->focusWindow, control.Handle());  // a hidden window of its own
        EXPECT_TRUE(IsWindow(log_->focusWindow));
      }

      // The render states, in order.
      const std::vector<std::pair<intptr_t, intptr_t>> states = {
          {D3DRS_ZENABLE, FALSE},
          {D3DRS_CULLMODE, D3DCULL_NONE},
          {D3DRS_LIGHTING, FALSE},
          {D3DRS_ALPHABLENDENABLE, TRUE},
          {D3DRS_COLORVERTEX, TRUE},
          {D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_COLOR1},
          {D3DRS_SRCBLEND, D3DBLEND_SRCALPHA},
          {D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA},
          {D3DRS_ANTIALIASEDLINEENABLE, TRUE},
      };
      std::vector<std::pair<intptr_t, intptr_t>> set;
      for (const FakeD3dCall& c : calls.Of("SetRenderState")) set.emplace_back(c.a, c.b);
      EXPECT_EQ(set, states);
      const FakeD3dCall back = calls.Of("GetBackBuffer").at(0);
      EXPECT_TRUE(back.a == 0 && back.b == 0 && back.c == D3DBACKBUFFER_TYPE_MONO);
      EXPECT_EQ(calls.Of("SetFVF").at(0).a, D3DFVF_XYZRHW | D3DFVF_DIFFUSE);
      // Nothing else is made until the first spectrum frame.
      EXPECT_EQ(calls.Count("CreateOffscreenPlainSurface"), 0);
      // A spectrum frame: the image as X8R8G8B8 in the default pool,
      // locked with discard, stretched bilinear over the whole picture.
      const int mark = calls.Mark();
      SpectrumFrame(canvas);
      const FakeD3dCall image = calls.Of("CreateOffscreenPlainSurface", mark).at(0);
      EXPECT_TRUE(image.a == 8 && image.b == 4 && image.c == D3DFMT_X8R8G8B8 && image.d == D3DPOOL_DEFAULT);
      EXPECT_EQ(calls.Of("LockRect", mark).at(0).c, D3DLOCK_DISCARD);
      const FakeD3dCall stretch = calls.Of("StretchRect", mark).at(0);
      EXPECT_TRUE(stretch.a == 1 && stretch.b == 1 && stretch.c == D3DTEXF_LINEAR);
    }
    EXPECT_EQ(log_->alive, 0) << "every object released";
  }
}

// A device that reports lost, then lost again, then resettable, then fine:
// nothing is shown while it is lost; on "resettable" it is released and
// made again from scratch (render states and all, and the image the next
// spectrum frame), and the picture returns.
TEST_F(ScriptedCanvasTest, LostDeviceRecovers) {
  for (const bool copying : {false, true}) {
    SCOPED_TRACE(copying ? "Wine's way" : "presented");
    Reset();
    const HRESULT script[] = {D3D_OK, D3DERR_DEVICELOST, D3DERR_DEVICELOST, D3DERR_DEVICENOTRESET, D3D_OK};
    for (HRESULT level : script) log_->levels[log_->levelCount++] = level;
    // Wine's way reads the back buffer back for the control.
    const char* shows = copying ? "LockRect" : "Present";
    struct Frame {
      bool shown;
      int devicesCreated, imagesMade, renderStatesSet;
    } expected[] = {{true, 1, 1, 9}, {false, 1, 0, 0}, {false, 1, 0, 0}, {false, 2, 0, 9}, {true, 2, 1, 0}};
    Control control(kW, kH);
    {
      D3d9Canvas canvas(control.Handle(), copying, FakeD3dCreate(log_));
      const Calls calls(*log_);
      int mark = 0;
      for (const Frame& f : expected) {
        SpectrumFrame(canvas);
        const int frame = static_cast<int>(&f - expected);
        int shown = 0;
        for (const FakeD3dCall& c : calls.Of(shows, mark)) shown += !copying || c.c == D3DLOCK_READONLY;
        EXPECT_EQ(shown, f.shown ? 1 : 0) << "frame " << frame;
        EXPECT_EQ(log_->devicesCreated, f.devicesCreated) << "frame " << frame;
        int images = 0;
        for (const FakeD3dCall& c : calls.Of("CreateOffscreenPlainSurface", mark)) images += c.d == D3DPOOL_DEFAULT;
        EXPECT_EQ(images, f.imagesMade) << "frame " << frame;
        // Render states other than the scenes' colour mask.
        int states = 0;
        for (const FakeD3dCall& c : calls.Of("SetRenderState", mark)) states += c.a != D3DRS_COLORWRITEENABLE;
        EXPECT_EQ(states, f.renderStatesSet) << "frame " << frame;
        mark = calls.Mark();
      }
      EXPECT_EQ(calls.Count("ReleaseDevice"), 1);
      EXPECT_TRUE(canvas.HasDevice());
    }
    EXPECT_EQ(log_->alive, 0);
  }
}

// Lines go to the device from the caller's memory in as few calls as its
// MaxPrimitiveCount allows: a strip continues from the last vertex of the
// call before, a list from the next pair.
TEST_F(ScriptedCanvasTest, LinesInAsFewCallsAsTheDeviceTakes) {
  std::vector<Vertex> vertices(qrx::ui::kMeshLineVertices);
  for (size_t i = 0; i < vertices.size(); ++i) vertices[i] = {float(i % 97), float(i % 53), 0, 0, 0x80FFFFFF};
  const int32_t lines = qrx::ui::kMeshLineVertices / 2;  // 11840
  struct Case {
    DWORD maxPrimitives;
    bool list;
    int32_t count;                     // vertices
    std::vector<intptr_t> primitives;  // per call
    std::vector<intptr_t> firsts;      // first vertex per call
  } cases[] = {
      {0, true, 2 * lines, {lines}, {0}}, {5000, true, 2 * lines, {5000, 5000, 1840}, {0, 10000, 20000}},
      {0, false, 65, {64}, {0}},          {64, false, 201, {64, 64, 64, 8}, {0, 64, 128, 192}},
      {64, false, 65, {64}, {0}},         {0, false, 1, {}, {}},
  };
  Control control(kW, kH);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.maxPrimitives) + (c.list ? " list " : " strip ") + std::to_string(c.count));
    Reset();
    log_->maxPrimitiveCount = c.maxPrimitives;
    D3d9Canvas canvas(control.Handle(), false, FakeD3dCreate(log_));
    canvas.BeginScene();
    if (c.list)
      canvas.DrawLineList(vertices.data(), c.count);
    else
      canvas.DrawLineStrip(vertices.data(), c.count);
    canvas.EndScene();
    std::vector<intptr_t> primitives, firsts;
    for (const FakeD3dCall& d : Calls(*log_).Of("DrawPrimitiveUP")) {
      EXPECT_EQ(d.a, c.list ? D3DPT_LINELIST : D3DPT_LINESTRIP);
      EXPECT_EQ(d.d, static_cast<intptr_t>(sizeof(Vertex)));
      primitives.push_back(d.b);
      firsts.push_back((d.c - reinterpret_cast<intptr_t>(vertices.data())) / static_cast<intptr_t>(sizeof(Vertex)));
    }
    EXPECT_EQ(primitives, c.primitives);
    EXPECT_EQ(firsts, c.firsts);
  }
}

// The 3-D view at turned angles reaches the device as one list with z and
// reciprocal-w 0 on every vertex.
TEST_F(ScriptedCanvasTest, MeshReachesTheDeviceFlat) {
  Control control(kW, kH);
  auto* canvas = new D3d9Canvas(control.Handle(), false, FakeD3dCreate(log_));
  qrx::ui::PictureView view(std::unique_ptr<qrx::ui::PictureCanvas>(canvas), kW, kH, {0, 0, kW, kH});
  std::vector<float> mask(32 * 16, 1.0f);
  for (size_t i = 0; i < mask.size(); i += 3) mask[i] = 0.0f;
  std::vector<Vertex> mesh(qrx::ui::kMeshColumns * qrx::ui::kMeshRows);
  const int32_t angleSets[][2] = {{30, 70}, {-60, 45}};
  for (const auto& angles : angleSets) {
    qrx::ui::FillMesh(mesh.data(), mask.data(), 32, 16, 32, kW, kH);
    const int mark = Calls(*log_).Mark();
    view.DrawMesh(mesh.data(), angles[0], angles[1]);
    const std::vector<FakeD3dCall> draws = Calls(*log_).Of("DrawPrimitiveUP", mark);
    ASSERT_EQ(draws.size(), 1u);
    EXPECT_EQ(draws[0].b, qrx::ui::kMeshLineVertices / 2);
  }
  EXPECT_EQ(log_->nonZeroDepth, 0);
}

// On Wine's device: the 3-D view drawn as one line list shows exactly the
// picture of the 60 row strips and 100 column strips it replaces.
TEST(WineCanvas, MeshListDrawsTheStripsPicture) {
  if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "no X display";
  if (!D3d9Canvas::RunningOnWine()) GTEST_SKIP() << "reads the control back the Wine way";
  constexpr int32_t w = 612, h = 322;  // the template's picture
  Control control(w, h, true);
  auto* canvas = new D3d9Canvas(control.Handle(), true, D3d9Canvas::OpenDirect3D());
  if (!canvas->HasDevice()) {
    delete canvas;
    GTEST_SKIP() << "no Direct3D device";
  }
  qrx::ui::PictureView view(std::unique_ptr<qrx::ui::PictureCanvas>(canvas), w, h, {0, 0, w, h});
  // A mask with notches of several depths, as a user's filters make.
  std::vector<float> mask(257 * 256, 1.0f);
  for (int32_t r = 0; r < 256; ++r)
    for (int32_t k = 0; k < 257; ++k) {
      const int32_t d = (k - 60) * (k - 60) + (r - 128) * (r - 128);
      if (d < 900) mask[r * 257 + k] = d / 900.0f;
    }
  std::vector<Vertex> mesh(qrx::ui::kMeshColumns * qrx::ui::kMeshRows);
  // What the control shows once it has painted the last picture.
  const auto shown = [&] {
    Control::Pump();
    return control.Pixels();
  };
  const int32_t angleSets[][2] = {{30, 70}, {-45, 20}};
  for (const auto& angles : angleSets) {
    SCOPED_TRACE(std::to_string(angles[0]) + "/" + std::to_string(angles[1]));
    // Before: the strips, as the view drew them, with z 0.
    qrx::ui::FillMesh(mesh.data(), mask.data(), 257, 256, 257, w, h);
    qrx::ui::TransformMesh(mesh.data(), static_cast<int32_t>(mesh.size()), angles[0], angles[1], w, h);
    for (Vertex& v : mesh) v.z = 0.0f;
    ASSERT_TRUE(canvas->BeginFrame());
    canvas->Clear(qrx::ui::kMeshBackground);
    canvas->BeginScene();
    for (int32_t j = 0; j < qrx::ui::kMeshRows; ++j)
      canvas->DrawLineStrip(&mesh[j * qrx::ui::kMeshColumns], qrx::ui::kMeshColumns);
    Vertex column[qrx::ui::kMeshRows];
    for (int32_t i = 0; i < qrx::ui::kMeshColumns; ++i) {
      for (int32_t j = 0; j < qrx::ui::kMeshRows; ++j) column[j] = mesh[j * qrx::ui::kMeshColumns + i];
      canvas->DrawLineStrip(column, qrx::ui::kMeshRows);
    }
    canvas->EndScene();
    canvas->Present();
    const std::vector<uint32_t> strips = shown();
    // After: the view's one list.
    qrx::ui::FillMesh(mesh.data(), mask.data(), 257, 256, 257, w, h);
    ASSERT_TRUE(canvas->BeginFrame());
    canvas->Clear(qrx::ui::kMeshBackground);
    view.DrawMesh(mesh.data(), angles[0], angles[1]);
    canvas->Present();
    const std::vector<uint32_t> list = shown();
    ASSERT_EQ(strips.size(), list.size());
    int lit = 0, differing = 0;
    for (size_t i = 0; i < strips.size(); ++i) {
      lit += strips[i] != 0;
      differing += strips[i] != list[i];
    }
    EXPECT_GT(lit, w * h / 20) << "the wireframe was drawn";
    EXPECT_EQ(differing, 0) << "of " << lit << " lit pixels";
  }
}

}  // namespace
