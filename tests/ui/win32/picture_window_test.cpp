// The live spectrum under Wine: the picture of a frame with a grating, the
// filters' outlines, the spot gone once processing is on, the 3-D view while
// dragging, the readout, adding filters by clicking and the shortcuts; all
// through posted input, as a user's would arrive.
#include "window_test_support.h"

#include <cstdlib>

namespace {

using namespace qrxtest;

// The test picture's stripes: 40 cycles per line, no vertical frequency.
const Grating kStripes = {40, 0, 512, 12.0, 0.3};
const int32_t kStripesKHz = qrxhost::HorizontalKHz(40, 512);
// The frequency scale of 360 x 288 frames at FFT line 512.
const int32_t kR = 9818, kV = 7364;

class SpectrumWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "no X display";
    host.Begin({"[DIALOG]", "DlgWndPosX=20", "DlgWndPosY=20", "[GLOBAL]", "FFTLine=512", "AngleZ=30", "AngleX=70",
                "DemoMode=0", "[1]", "ProcEnable=0", "Filter=" + FilterText(1, kStripesKHz, 0, 300, 300, 3, -60, 0)});
    host.StartFrames();
    host.WaitFrames(2);
    host.ShowDialog();
    ASSERT_NE(host.Dialog(), nullptr);
    spectrum = host.Item(IDC_SPECTRUM);
    RECT r;
    GetClientRect(spectrum, &r);
    w = r.right;
    h = r.bottom;
    host.WaitFrames(5);
    // The pictures come as the device draws them (under Wine on a thread of
    // their own, a little after the frames): the first one.
    ASSERT_TRUE(Shows([&] { return Brightness(Pixel(2, h / 2)) > 0; }));
  }
  void TearDown() override { host.End(); }

  COLORREF Pixel(int32_t x, int32_t y) {
    HDC dc = GetDC(spectrum);
    const COLORREF c = GetPixel(dc, x, y);
    ReleaseDC(spectrum, dc);
    return c;
  }
  static int Brightness(COLORREF c) { return GetRValue(c) + GetGValue(c) + GetBValue(c); }
  // Waits (frames flowing, messages pumped) until the picture shows what the
  // test looks for.
  bool Shows(const std::function<bool()>& seen) { return host.PumpUntil(seen, 10000); }
  // The picture's pixel of a frequency, by the view's mapping.
  int32_t X(int32_t kHz) const { return ::MulDiv(kHz, w, kR / 2); }
  int32_t Y(int32_t kHz) const { return ::MulDiv(kHz, h, kV) + h / 2; }
  // The brightest pixel of the centre rows between two columns.
  int32_t BrightestColumn(int32_t from, int32_t to) {
    int32_t best = from, bestValue = -1;
    for (int32_t x = from; x <= to; ++x) {
      const int v = Brightness(Pixel(x, h / 2)) + Brightness(Pixel(x, h / 2 - 1));
      if (v > bestValue) bestValue = v, best = x;
    }
    return best;
  }
  // An outline's line (cyan, blended) within two pixels of a point. No
  // palette colour, nor a blend of two, has green above red by more than 2.
  bool CyanNear(int32_t x, int32_t y) {
    for (int32_t dy = -2; dy <= 2; ++dy)
      for (int32_t dx = -2; dx <= 2; ++dx) {
        const COLORREF c = Pixel(x + dx, y + dy);
        if (GetGValue(c) - GetRValue(c) > 40 && GetBValue(c) > GetRValue(c)) return true;
      }
    return false;
  }
  // Mouse input posted to the spectrum control, through the queue.
  void PostMouse(UINT message, int32_t x, int32_t y, WPARAM keys = 0) {
    PostMessageA(spectrum, message, keys, MAKELPARAM(x & 0xFFFF, y & 0xFFFF));
    host.Pump(30);
  }
  void PostKeys(std::initializer_list<UINT> down, UINT key) {
    HWND focus = GetFocus();
    for (UINT k : down) PostMessageA(focus, WM_KEYDOWN, k, 1);
    PostMessageA(focus, WM_KEYDOWN, key, 1);
    PostMessageA(focus, WM_KEYUP, key, 0xC0000001);
    for (UINT k : down) PostMessageA(focus, WM_KEYUP, k, 0xC0000001);
    host.Pump(50);
  }
  // The readout's tip: visible, and its text.
  std::string Readout() {
    const HWND tip = WindowHost::VisibleTooltip(false);
    if (tip == nullptr) return "";
    char text[64] = {};
    TOOLINFOA tool = {};
    tool.cbSize = TTTOOLINFOA_V2_SIZE;
    tool.hwnd = spectrum;
    tool.uId = reinterpret_cast<UINT_PTR>(spectrum);
    tool.lpszText = text;
    SendMessageA(tip, TTM_GETTEXTA, sizeof(text), reinterpret_cast<LPARAM>(&tool));
    return text;
  }

  WindowHost host;
  HWND spectrum = nullptr;
  int32_t w = 0, h = 0;
};

TEST_F(SpectrumWindowTest, GratingSpotOutlineAndFilteredSpectrum) {
  // Processing off: the unmasked spectrum, the grating's spot where its
  // frequency maps, no outlines.
  const int32_t spotX = X(kStripesKHz);
  EXPECT_NEAR(BrightestColumn(spotX - 40, spotX + 40), spotX, 2);
  const int spotBefore = Brightness(Pixel(spotX, h / 2));
  const int32_t edgeX = spotX + ::MulDiv(300, w, kR / 2) / 2;  // the ellipse's right end
  EXPECT_FALSE(CyanNear(edgeX, Y(0)));
  EXPECT_TRUE(host.Screenshot("spectrum_processing_off"));

  // Processing on: the spot is gone and the Dot's cyan outline surrounds it.
  host.Click(IDC_PROC_ENABLE);
  host.WaitFrames(20);
  Shows([&] { return CyanNear(edgeX, Y(0)); });
  const int spotAfter = Brightness(Pixel(spotX, h / 2));
  EXPECT_LT(spotAfter, spotBefore / 3) << spotBefore << " -> " << spotAfter;
  EXPECT_TRUE(CyanNear(edgeX, Y(0)));
  EXPECT_TRUE(host.Screenshot("spectrum_processing_on"));
}

TEST_F(SpectrumWindowTest, DragShowsTheMaskInThreeDimensions) {
  host.Click(IDC_PROC_ENABLE);
  host.WaitFrames(5);
  PostMouse(WM_MOUSEMOVE, 300, 100);
  PostMouse(WM_LBUTTONDOWN, 300, 100, MK_LBUTTON);
  PostMouse(WM_MOUSEMOVE, 380, 140, MK_LBUTTON);
  host.WaitFrames(10);
  // The wireframe on black: the picture's corner is black, and the cursor is hidden.
  EXPECT_TRUE(Shows([&] { return (Pixel(2, 2) & 0xFFFFFF) == 0; }));
  CURSORINFO info = {};
  info.cbSize = sizeof(info);
  GetCursorInfo(&info);
  EXPECT_EQ(info.flags & CURSOR_SHOWING, 0u);
  EXPECT_TRUE(host.Screenshot("spectrum_3d"));
  PostMouse(WM_LBUTTONUP, 380, 140);
  host.WaitFrames(10);
  EXPECT_TRUE(Shows([&] { return (Pixel(2, h / 2) & 0xFFFFFF) != 0; }));  // the spectrum again
  // The drag turned and tilted the view: 80 px right, 40 px down.
  const std::string saved = [&] {
    host.End();
    return ReadFileText(SettingsPath("QRX_FreqFilter"));
  }();
  EXPECT_NE(saved.find("AngleZ=10\r\nAngleX=60\r\n"), std::string::npos) << saved;
}

TEST_F(SpectrumWindowTest, ReadoutCursorsAndAddingFiltersByClicking) {
  PostMouse(WM_MOUSEMOVE, 0, h / 2);
  EXPECT_EQ(Readout(), "Fx=0kHz Fy=0kHz");
  EXPECT_EQ(GetCapture(), spectrum);
  HMODULE plugin = GetModuleHandleA("QRX_FreqFilter.dll");
  EXPECT_EQ(reinterpret_cast<HCURSOR>(GetClassLongPtrA(spectrum, GCLP_HCURSOR)),
            LoadCursorA(plugin, MAKEINTRESOURCEA(IDC_CURSOR_HOVER)));
  PostMouse(WM_MOUSEMOVE, 10, 5);
  EXPECT_EQ(Readout().rfind("Fx=" + std::to_string(::MulDiv(10, kR / 2, w)) + "kHz Fy=-", 0), 0u) << Readout();

  // Pick mode: the pick cursor, and every click adds a Dot filter there.
  host.Click(IDC_ADD);
  PostMouse(WM_MOUSEMOVE, w + 10, 10);  // out and in again
  PostMouse(WM_MOUSEMOVE, X(kStripesKHz), h / 2);
  EXPECT_EQ(reinterpret_cast<HCURSOR>(GetClassLongPtrA(spectrum, GCLP_HCURSOR)),
            LoadCursorA(plugin, MAKEINTRESOURCEA(IDC_CURSOR_PICK)));
  PostMouse(WM_LBUTTONDOWN, X(kStripesKHz), h / 2, MK_LBUTTON);
  PostMouse(WM_LBUTTONUP, X(kStripesKHz), h / 2);
  ASSERT_EQ(host.Rows(), 2);
  EXPECT_EQ(host.SelectedRow(), 1);
  EXPECT_NEAR(std::atoi(host.Cell(1, 1).c_str()), kStripesKHz, 8);
  EXPECT_EQ(host.Cell(1, 2), "0");
  EXPECT_EQ(host.Cell(1, 3), "500");
  EXPECT_EQ(host.Cell(1, 4), "1000");
  EXPECT_EQ(host.Cell(1, 5), "1");
  EXPECT_EQ(host.Cell(1, 6), "-30");
  PostMouse(WM_LBUTTONDOWN, 50, 50, MK_LBUTTON);
  PostMouse(WM_LBUTTONUP, 50, 50);
  EXPECT_EQ(host.Rows(), 3);
  // Esc ends pick mode; the window stays open.
  PostKeys({}, VK_ESCAPE);
  EXPECT_EQ(host.Text(IDC_ADD), Cp1251(L"Добавить фильтр"));
  EXPECT_NE(host.Dialog(), nullptr);
  // Leaving the view: no capture, no readout, the arrow.
  PostMouse(WM_MOUSEMOVE, -5, 10);
  EXPECT_EQ(GetCapture(), nullptr);
  EXPECT_EQ(Readout(), "");
}

TEST_F(SpectrumWindowTest, ShortcutsFromAnyControl) {
  host.Click(IDC_PROC_ENABLE);
  host.Focus(IDC_FFT_LENGTH);
  PostKeys({VK_CONTROL}, '2');
  EXPECT_EQ(GetFocus(), host.Item(IDC_EDIT_FX));
  host.Focus(IDC_TABLE);
  PostKeys({VK_CONTROL, VK_SHIFT}, '2');
  PostKeys({VK_CONTROL}, VK_NUMPAD2);
  EXPECT_EQ(GetFocus(), host.Item(IDC_TABLE));
  PostKeys({VK_CONTROL}, '8');
  EXPECT_EQ(GetFocus(), host.Item(IDC_SHAPE));
  PostKeys({VK_CONTROL}, '1');  // the selected filter off
  EXPECT_FALSE(host.RowChecked(0));
  PostKeys({VK_CONTROL}, VK_OEM_3);  // the key left of 1: processing off
  EXPECT_EQ(IsDlgButtonChecked(host.Dialog(), IDC_PROC_ENABLE), BST_UNCHECKED);
  EXPECT_EQ(GetFocus(), host.Item(IDC_PROC_ENABLE));
  EXPECT_FALSE(host.Enabled(IDC_EDIT_FX));
}

TEST_F(SpectrumWindowTest, ClosingDuringADragEndsIt) {
  PostMouse(WM_MOUSEMOVE, 100, 100);
  PostMouse(WM_LBUTTONDOWN, 100, 100, MK_LBUTTON);
  PostMouse(WM_MOUSEMOVE, 150, 100, MK_LBUTTON);
  host.WaitFrames(3);
  PostMessageA(host.Dialog(), WM_CLOSE, 0, 0);
  host.Pump(100);
  EXPECT_EQ(host.Dialog(), nullptr);
  EXPECT_EQ(GetCapture(), nullptr);
  CURSORINFO info = {};
  info.cbSize = sizeof(info);
  GetCursorInfo(&info);
  EXPECT_NE(info.flags & CURSOR_SHOWING, 0u);
  host.WaitFrames(3);  // frames go on without the view
}

}  // namespace
