// The settings window under Wine, through the plug-in's exports: opened with
// ShowDialog while a frame thread streams frames, and driven as a user
// would, with clicks, selections, typed text and keys.
#include "window_test_support.h"

#include <cstdlib>

namespace {

using namespace qrxtest;

const std::string kFilterA = FilterText(1, 2301, 0, 300, 300, 3, -60, 0);
const std::string kFilterB = FilterText(0, 1500, -900, 200, 400, 2, -30, 1);
const std::string kFilterC = FilterText(1, 800, 1200, 100, 100, 1, -160, 2);
// The stripes of the test picture lie at 40 cycles per line.
const std::string kOnGrating = FilterText(1, qrxhost::HorizontalKHz(40, 512), 0, 300, 300, 3, -60, 0);

class SettingsWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "no X display";
  }
  void TearDown() override { host.End(); }

  void Open(int32_t procEnable, const std::string& filters, const std::string& x = "-100",
            const std::string& y = "-100") {
    host.Begin({"[DIALOG]", "DlgWndPosX=" + x, "DlgWndPosY=" + y, "[GLOBAL]", "FFTLine=512", "AngleZ=30", "AngleX=70",
                "DemoMode=0", "[1]", "ProcEnable=" + std::to_string(procEnable), "Filter=" + filters, "[2]",
                "ProcEnable=1", "Filter=" + kFilterB});
    host.StartFrames();
    host.WaitFrames(2);
    host.ShowDialog();
    ASSERT_NE(host.Dialog(), nullptr);
    host.Pump(100);
  }
  // The settings file after Exit.
  std::string Saved() {
    host.End();
    return ReadFileText(SettingsPath("QRX_FreqFilter"));
  }
  void ExpectEnabled(std::initializer_list<int> ids, bool enabled) {
    for (int id : ids) EXPECT_EQ(host.Enabled(id), enabled) << "control " << id;
  }

  WindowHost host;
};

const std::initializer_list<int> kEditorsAndTable = {IDC_EDIT_FX, IDC_SPIN_FX, IDC_EDIT_FY, IDC_SPIN_FY, IDC_EDIT_WX,
                                                     IDC_SPIN_WX, IDC_EDIT_WY, IDC_SPIN_WY, IDC_EDIT_O,  IDC_SPIN_O,
                                                     IDC_EDIT_S,  IDC_SPIN_S,  IDC_SHAPE,   IDC_TABLE,   IDC_REMOVE};

TEST_F(SettingsWindowTest, OpensWithTableCaptionAndScreenshot) {
  Open(1, kFilterA + kFilterB + kFilterC);
  EXPECT_EQ(host.Text(host.Dialog()), "QRX_FreqFilter - Channel 1");
  ASSERT_EQ(host.Rows(), 3);
  EXPECT_EQ(host.Cell(1, 0), "01");
  EXPECT_EQ(host.Cell(1, 2), "-900");
  EXPECT_EQ(host.Cell(2, 7), "Win 2D");
  EXPECT_TRUE(host.RowChecked(0));
  EXPECT_FALSE(host.RowChecked(1));
  EXPECT_EQ(host.SelectedRow(), 0);
  EXPECT_EQ(host.Text(IDC_EDIT_FX), "2301");
  EXPECT_EQ(host.Text(IDC_ADD), Cp1251(L"Добавить фильтр"));
  EXPECT_EQ(host.Text(IDC_PROC_ENABLE), Cp1251(L"Вкл."));
  // The columns share the list's width and the user cannot drag them.
  HWND header = reinterpret_cast<HWND>(SendMessageA(host.Item(IDC_TABLE), LVM_GETHEADER, 0, 0));
  RECT item;
  SendMessageA(header, HDM_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&item));
  const int width = static_cast<int>(SendMessageA(host.Item(IDC_TABLE), LVM_GETCOLUMNWIDTH, 1, 0));
  PostMessageA(header, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(item.right - 1, 5));
  PostMessageA(header, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(item.right + 40, 5));
  PostMessageA(header, WM_LBUTTONUP, 0, MAKELPARAM(item.right + 40, 5));
  host.Pump(100);
  EXPECT_EQ(SendMessageA(host.Item(IDC_TABLE), LVM_GETCOLUMNWIDTH, 1, 0), width);
  EXPECT_TRUE(host.Screenshot("settings_window"));
}

TEST_F(SettingsWindowTest, EnablingFollowsProcessingSelectionAndPickMode) {
  Open(0, kFilterA);  // processing off: the switch, the FFT length, about, close
  ExpectEnabled(kEditorsAndTable, false);
  ExpectEnabled({IDC_ADD, IDC_DEMO}, false);
  ExpectEnabled({IDC_PROC_ENABLE, IDC_FFT_LENGTH, IDC_FFT_LABEL, IDC_ABOUT, IDC_CLOSE}, true);
  host.Click(IDC_PROC_ENABLE);
  ExpectEnabled(kEditorsAndTable, true);
  ExpectEnabled({IDC_ADD, IDC_DEMO}, true);
  host.Click(IDC_ADD);  // pick mode
  EXPECT_EQ(host.Text(IDC_ADD), Cp1251(L"Отмена (Esc)"));
  ExpectEnabled(kEditorsAndTable, false);
  ExpectEnabled({IDC_PROC_ENABLE, IDC_DEMO, IDC_FFT_LENGTH, IDC_FFT_LABEL}, false);
  ExpectEnabled({IDC_ADD, IDC_ABOUT, IDC_CLOSE}, true);
  host.Click(IDC_ADD);
  EXPECT_EQ(host.Text(IDC_ADD), Cp1251(L"Добавить фильтр"));
  ExpectEnabled(kEditorsAndTable, true);
  // Removing the only filter leaves nothing selected: editors off again.
  host.Click(IDC_REMOVE);
  EXPECT_EQ(host.Rows(), 0);
  ExpectEnabled(kEditorsAndTable, false);
  EXPECT_TRUE(host.Enabled(IDC_ADD));
  EXPECT_EQ(host.Text(IDC_EDIT_FX), "");
}

TEST_F(SettingsWindowTest, RemovingSelectsTheNewLastRowAndIsSaved) {
  Open(1, kFilterA + kFilterB + kFilterC);
  host.SelectRow(2);
  EXPECT_EQ(host.Text(IDC_EDIT_FX), "800");
  host.Click(IDC_REMOVE);
  ASSERT_EQ(host.Rows(), 2);
  EXPECT_EQ(host.SelectedRow(), 1);
  EXPECT_EQ(host.Text(IDC_EDIT_FX), "1500");
  host.SelectRow(0);
  host.Click(IDC_REMOVE);
  ASSERT_EQ(host.Rows(), 1);
  EXPECT_EQ(host.Cell(0, 0), "00");
  EXPECT_EQ(host.Cell(0, 1), "1500");
  EXPECT_NE(Saved().find("Filter=" + kFilterB + "\r\n"), std::string::npos);
}

TEST_F(SettingsWindowTest, ValuesThroughSpinsAndTyping) {
  Open(1, kFilterA + kFilterB);
  // The Fy arrow down from 0 (through the arrow keys of its box).
  host.Focus(IDC_EDIT_FY);
  host.Key(VK_DOWN);
  EXPECT_EQ(host.Text(IDC_EDIT_FY), "-1");
  EXPECT_EQ(host.Cell(0, 2), "-1");
  // The Strength arrow clicked: -60 becomes -61.
  HWND spin = host.Item(IDC_SPIN_S);
  RECT r;
  GetClientRect(spin, &r);
  PostMessageA(spin, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(r.right / 2, r.bottom - 2));
  PostMessageA(spin, WM_LBUTTONUP, 0, MAKELPARAM(r.right / 2, r.bottom - 2));
  host.Pump(50);
  EXPECT_EQ(host.Cell(0, 6), "-61");

  // A valid value typed and committed with Enter; its text is selected.
  host.Focus(IDC_EDIT_O);
  host.Type("7");
  host.Key(VK_RETURN);
  EXPECT_EQ(host.Cell(0, 5), "7");
  EXPECT_EQ(host.Text(IDC_EDIT_O), "7");
  DWORD from = 0, to = 0;
  SendMessageA(host.Item(IDC_EDIT_O), EM_GETSEL, reinterpret_cast<WPARAM>(&from), reinterpret_cast<LPARAM>(&to));
  EXPECT_EQ(from, 0u);
  EXPECT_EQ(to, 1u);
  EXPECT_EQ(host.VisibleBalloon(), nullptr);

  // Out of range: the balloon at the box's lower-right corner, nothing stored.
  host.Type("0");
  host.Key(VK_RETURN);
  HWND balloon = host.VisibleBalloon();
  ASSERT_NE(balloon, nullptr);
  EXPECT_EQ(WindowHost::BalloonText(balloon), Cp1251(L"Значение должно быть числом от 1 до 20"));
  RECT box, tip;
  GetWindowRect(host.Item(IDC_EDIT_O), &box);
  GetWindowRect(balloon, &tip);
  // The balloon's stem points at the corner: the corner lies within its
  // width, on its top or bottom edge.
  EXPECT_TRUE(box.right >= tip.left && box.right <= tip.right) << box.right << " " << tip.left << ".." << tip.right;
  EXPECT_LE(std::min(std::abs(tip.top - box.bottom), std::abs(tip.bottom - box.bottom)), 4)
      << box.bottom << " " << tip.top << ".." << tip.bottom;
  EXPECT_EQ(static_cast<short>(SendMessageA(host.Item(IDC_SPIN_O), UDM_GETPOS, 0, 0)), 7);
  EXPECT_EQ(host.Cell(0, 5), "7");
  EXPECT_TRUE(host.Screenshot("balloon"));
  // Escape puts the last accepted value back and hides the balloon.
  host.Key(VK_ESCAPE);
  EXPECT_EQ(host.Text(IDC_EDIT_O), "7");
  EXPECT_EQ(host.VisibleBalloon(), nullptr);

  // Leaving a box with an invalid value keeps the focus in it.
  host.Type("abc");
  host.Focus(IDC_EDIT_FX);
  EXPECT_EQ(GetFocus(), host.Item(IDC_EDIT_O));
  EXPECT_NE(host.VisibleBalloon(), nullptr);
  // Moving the window hides the balloon at once.
  RECT d;
  GetWindowRect(host.Dialog(), &d);
  SetWindowPos(host.Dialog(), nullptr, d.left + 10, d.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  host.Pump(200);
  EXPECT_EQ(host.VisibleBalloon(), nullptr);
  // Untouched, a balloon lasts four seconds.
  host.Key(VK_RETURN);
  EXPECT_NE(host.VisibleBalloon(), nullptr);
  host.Pump(4300);
  EXPECT_EQ(host.VisibleBalloon(), nullptr);
  host.Key(VK_ESCAPE);

  // A negative number typed into Fy.
  host.Focus(IDC_EDIT_FY);
  host.Type("-5");
  host.Key(VK_RETURN);
  EXPECT_EQ(static_cast<short>(SendMessageA(host.Item(IDC_SPIN_FY), UDM_GETPOS, 0, 0)), -5);
  EXPECT_EQ(host.Cell(0, 2), "-5");
  // Enter and Escape were never typed into a box, and never closed the window.
  EXPECT_EQ(host.Text(IDC_EDIT_FY), "-5");
  host.Focus(IDC_PROC_ENABLE);
  host.Key(VK_RETURN);
  host.Key(VK_ESCAPE);
  EXPECT_NE(host.Dialog(), nullptr);
  EXPECT_NE(Saved().find("Filter=" + FilterText(1, 2301, -5, 300, 300, 7, -61, 0)), std::string::npos);
}

TEST_F(SettingsWindowTest, ShapeBoxCheckBoxesAndDoubleClick) {
  Open(1, kFilterA + kFilterB);
  host.SelectRow(1);
  EXPECT_EQ(SendMessageA(host.Item(IDC_SHAPE), CB_GETCURSEL, 0, 0), 1);
  host.ChooseItem(IDC_SHAPE, 2);
  EXPECT_EQ(host.Cell(1, 7), "Win 2D");
  host.ToggleCheck(0);  // row 0 off, and selected
  EXPECT_FALSE(host.RowChecked(0));
  EXPECT_EQ(host.SelectedRow(), 0);
  EXPECT_EQ(host.Text(IDC_EDIT_FX), "2301");
  // A double click on the Wx column focuses the Wx box with its text selected.
  RECT cell = {};
  cell.top = 3;  // sub-item
  cell.left = LVIR_BOUNDS;
  SendMessageA(host.Item(IDC_TABLE), LVM_GETSUBITEMRECT, 1, reinterpret_cast<LPARAM>(&cell));
  const LPARAM at = MAKELPARAM((cell.left + cell.right) / 2, (cell.top + cell.bottom) / 2);
  HWND table = host.Item(IDC_TABLE);
  PostMessageA(table, WM_LBUTTONDOWN, MK_LBUTTON, at);
  PostMessageA(table, WM_LBUTTONUP, 0, at);
  PostMessageA(table, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
  PostMessageA(table, WM_LBUTTONUP, 0, at);
  host.Pump(100);
  EXPECT_EQ(GetFocus(), host.Item(IDC_EDIT_WX));
  EXPECT_EQ(host.SelectedRow(), 1);
  const std::string saved = Saved();
  EXPECT_NE(saved.find(FilterText(0, 2301, 0, 300, 300, 3, -60, 0) + FilterText(0, 1500, -900, 200, 400, 2, -30, 2)),
            std::string::npos);
}

TEST_F(SettingsWindowTest, FftLengthChangeRebuildsWhileFramesFlow) {
  Open(1, kOnGrating);
  host.WaitFrames(30);
  const std::vector<uint8_t> at512 = host.LastFrame();
  EXPECT_NE(at512, host.Picture().frame);  // filtered
  host.ChooseItem(IDC_FFT_LENGTH, 2);
  host.WaitFrames(30);
  const std::vector<uint8_t> at256 = host.LastFrame();
  EXPECT_NE(at256, host.Picture().frame);
  EXPECT_NE(at256, at512);  // another line length resamples differently
  EXPECT_GT(ResidualDb(at256, host.Picture().cleanFrame, host.Picture(), {40, 0, 512, 12.0, 0.3}), 10.0);
  EXPECT_NE(Saved().find("FFTLine=256\r\n"), std::string::npos);
}

TEST_F(SettingsWindowTest, ChannelChangeFromTheFrameThreadRefreshesTheWindow) {
  Open(1, kFilterA + kFilterC);
  host.SelectRow(1);
  host.SetChannel(2);
  ASSERT_TRUE(host.PumpUntil([&] { return host.Text(host.Dialog()) == "QRX_FreqFilter - Channel 2"; }, 5000));
  ASSERT_EQ(host.Rows(), 1);
  EXPECT_EQ(host.Cell(0, 1), "1500");
  EXPECT_EQ(host.SelectedRow(), 0);
  EXPECT_EQ(host.Text(IDC_EDIT_FY), "-900");
  host.SetChannel(1);
  ASSERT_TRUE(host.PumpUntil([&] { return host.Rows() == 2; }, 5000));
  EXPECT_EQ(host.Text(host.Dialog()), "QRX_FreqFilter - Channel 1");
}

TEST_F(SettingsWindowTest, PlacementCentresThenRemembers) {
  Open(1, kFilterA);
  RECT d, h;
  GetWindowRect(host.Dialog(), &d);
  GetWindowRect(host.Host(), &h);
  EXPECT_NEAR((d.left + d.right) / 2, (h.left + h.right) / 2, 1);
  EXPECT_NEAR((d.top + d.bottom) / 2, (h.top + h.bottom) / 2, 1);
  SetWindowPos(host.Dialog(), nullptr, 37, 45, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  host.Click(IDC_CLOSE);
  host.Pump(50);
  EXPECT_EQ(host.Dialog(), nullptr);
  const std::string saved = Saved();
  EXPECT_NE(saved.find("DlgWndPosX=37\r\nDlgWndPosY=45\r\n"), std::string::npos) << saved;

  Open(1, kFilterA, "37", "45");
  GetWindowRect(host.Dialog(), &d);
  EXPECT_EQ(d.left, 37);
  EXPECT_EQ(d.top, 45);
}

TEST_F(SettingsWindowTest, SecondShowDialogAndExitWithTheWindowOpen) {
  Open(1, kFilterA);
  host.ShowDialog();
  EXPECT_EQ(host.Dialogs().size(), 1u);
  EXPECT_TRUE(GetFocus() == host.Dialog() || IsChild(host.Dialog(), GetFocus()));
  host.Focus(IDC_EDIT_WX);
  host.Type("512");
  host.Key(VK_RETURN);
  host.StopFrames();
  host.D().exit();  // closes the window, then saves
  EXPECT_EQ(host.Dialog(), nullptr);
  const std::string saved = ReadFileText(SettingsPath("QRX_FreqFilter"));
  EXPECT_NE(saved.find(FilterText(1, 2301, 0, 512, 300, 3, -60, 0)), std::string::npos);
  EXPECT_EQ(saved.find("DlgWndPosX=-100"), std::string::npos);
}

TEST_F(SettingsWindowTest, ProcessingOffAndDemoAsTheFramesShowThem) {
  Open(0, kOnGrating);
  host.WaitFrames(5);
  EXPECT_EQ(host.LastFrame(), host.Picture().frame);  // window open, processing off: unchanged
  host.Click(IDC_PROC_ENABLE);
  host.Click(IDC_DEMO);
  host.WaitFrames(30);
  const std::vector<uint8_t> demo = host.LastFrame();
  const int32_t w = WindowHost::kWidth, middle = WindowHost::kHeight / 2;
  double brightened = 0;
  for (int32_t x = 0; x < w; ++x)
    brightened += demo[2 * (static_cast<size_t>(middle) * w + x)] -
                  host.Picture().frame[2 * (static_cast<size_t>(middle) * w + x)];
  EXPECT_GT(brightened / w, 60.0);
  // The lower half stays unfiltered, the upper half is filtered.
  const size_t lower = 2 * static_cast<size_t>(middle + 2) * w;
  EXPECT_TRUE(std::equal(demo.begin() + lower, demo.end(), host.Picture().frame.begin() + lower));
  EXPECT_FALSE(std::equal(demo.begin(), demo.begin() + 2 * (middle - 2) * w, host.Picture().frame.begin()));
  // Closing the window ends the demonstration; the setting stays.
  host.Click(IDC_CLOSE);
  host.WaitFrames(10);
  EXPECT_FALSE(std::equal(demo.begin() + lower, demo.end(), host.LastFrame().begin() + lower));
  EXPECT_NE(Saved().find("DemoMode=1\r\n"), std::string::npos);
}

// What the modal about box showed: its texts and its picture's size.
std::string g_aboutTexts;
BITMAP g_aboutPicture;

void CALLBACK ReadAndCloseAboutBox(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  HWND about = GetActiveWindow();
  const HGDIOBJ picture =
      reinterpret_cast<HGDIOBJ>(SendDlgItemMessageA(about, IDC_ABOUT_PICTURE, STM_GETIMAGE, IMAGE_BITMAP, 0));
  GetObjectA(picture, sizeof(g_aboutPicture), &g_aboutPicture);
  ForEachChildWindow(about, [](HWND w) {
    char text[64] = {};
    GetWindowTextA(w, text, sizeof(text));
    g_aboutTexts += std::string(text) + "|";
  });
  SendMessageA(about, WM_COMMAND, IDOK, 0);
}

TEST_F(SettingsWindowTest, AboutBox) {
  Open(1, kFilterA);
  std::string& texts = g_aboutTexts;
  BITMAP& shown = g_aboutPicture;
  texts.clear();
  shown = BITMAP();
  // The box is modal: a timer of this thread reads it and closes it.
  SetTimer(nullptr, 0, 300, &ReadAndCloseAboutBox);
  host.Click(IDC_ABOUT);
  EXPECT_NE(texts.find(Cp1251(L"QRX_FreqFilter плагин|Ver.1.01|OK|")), std::string::npos) << texts;
  // The picture is the module's bitmap.
  HBITMAP resource = LoadBitmapA(GetModuleHandleA("QRX_FreqFilter.dll"), MAKEINTRESOURCEA(IDB_ABOUT));
  BITMAP expected = {};
  GetObjectA(resource, sizeof(expected), &expected);
  DeleteObject(resource);
  EXPECT_GT(expected.bmWidth, 0);
  EXPECT_EQ(shown.bmWidth, expected.bmWidth);
  EXPECT_EQ(shown.bmHeight, expected.bmHeight);
  EXPECT_NE(host.Dialog(), nullptr);
}

// Edits from the window race frames that switch channels for a few seconds;
// the window and the frames go on, and what is saved is a whole list.
TEST_F(SettingsWindowTest, EditsRaceFrames) {
  Open(1, kFilterA + kFilterB + kFilterC);
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  int i = 0;
  const int64_t framesBefore = host.Frames();
  while (std::chrono::steady_clock::now() < end) {
    if (i % 40 == 0) host.SetChannel(i % 80 == 0 ? 2 : 1);
    if (host.Rows() > 0 && host.Enabled(IDC_EDIT_FX)) {
      host.Focus(IDC_EDIT_FX);
      host.Key(i % 2 ? VK_UP : VK_DOWN);
      host.ToggleCheck(i % host.Rows());
      if (host.Rows() > 0) host.ChooseItem(IDC_SHAPE, i % 3);
    }
    host.Pump(5);
    ++i;
  }
  EXPECT_GT(host.Frames() - framesBefore, 50);
  EXPECT_NE(host.Dialog(), nullptr);
  const std::string saved = Saved();
  EXPECT_NE(saved.find("[1]\r\nProcEnable=1\r\nFilter=En:"), std::string::npos) << saved;
  EXPECT_NE(saved.find("[2]\r\nProcEnable=1\r\nFilter=En:"), std::string::npos) << saved;
}

// A tooltip's picture as it paints itself, and its size.
struct TipPicture {
  int width = 0, height = 0;
  std::vector<uint32_t> pixels;
  bool operator==(const TipPicture& o) const { return width == o.width && height == o.height && pixels == o.pixels; }
};
TipPicture PictureOf(HWND tip) {
  TipPicture p;
  RECT r;
  GetClientRect(tip, &r);
  p.width = r.right;
  p.height = r.bottom;
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = p.width;
  info.bmiHeader.biHeight = -p.height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HDC memory = CreateCompatibleDC(nullptr);
  HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  SendMessageA(tip, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(memory), PRF_CLIENT);
  p.pixels.assign(static_cast<uint32_t*>(bits), static_cast<uint32_t*>(bits) + p.width * p.height);
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  return p;
}

// A balloon made here, with the given title and icon, the text and the
// place of the window's balloon: what the window's should look like.
TipPicture ReferenceBalloon(HWND owner, const std::string& text, POINT at, const wchar_t* title, WPARAM icon) {
  HWND tip =
      CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_BALLOON, CW_USEDEFAULT,
                      CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, owner, nullptr, nullptr, nullptr);
  TOOLINFOA tool = {};
  tool.cbSize = TTTOOLINFOA_V2_SIZE;
  tool.uFlags = TTF_IDISHWND | TTF_TRACK | TTF_ABSOLUTE;
  tool.lpszText = const_cast<char*>(text.c_str());
  SendMessageA(tip, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
  if (title != nullptr) SendMessageW(tip, TTM_SETTITLEW, icon, reinterpret_cast<LPARAM>(title));
  SendMessageA(tip, TTM_TRACKPOSITION, 0, MAKELPARAM(at.x, at.y));
  SendMessageA(tip, TTM_TRACKACTIVATE, TRUE, reinterpret_cast<LPARAM>(&tool));
  const TipPicture picture = PictureOf(tip);
  DestroyWindow(tip);
  return picture;
}

// Every editor refuses a bad value with the balloon: the range message
// under the title "Ошибка" with the error icon (the balloon looks exactly
// like one made so, and not like one with another icon or no title); the
// filter keeps its value.
TEST_F(SettingsWindowTest, BalloonTitleIconAndRangeForEveryEditor) {
  Open(1, kFilterA);
  struct Case {
    int edit;
    const char* typed;
    const wchar_t* message;
    int column;
    const char* kept;
  } cases[] = {
      {IDC_EDIT_FX, "-1", L"Значение должно быть числом от 0 до 9999", 1, "2301"},
      {IDC_EDIT_FY, "5-", L"Значение должно быть числом от -9999 до 9999", 2, "0"},
      {IDC_EDIT_WX, "x", L"Значение должно быть числом от 0 до 9999", 3, "300"},
      {IDC_EDIT_WY, "\b", L"Значение должно быть числом от 0 до 9999", 4, "300"},
      {IDC_EDIT_O, "21", L"Значение должно быть числом от 1 до 20", 5, "3"},
      {IDC_EDIT_S, "-161", L"Значение должно быть числом от -160 до 20", 6, "-60"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.edit);
    host.Focus(c.edit);
    host.Type(c.typed);
    host.Key(VK_RETURN);
    HWND balloon = host.VisibleBalloon();
    ASSERT_NE(balloon, nullptr);
    const std::string text = Cp1251(c.message);
    EXPECT_EQ(WindowHost::BalloonText(balloon), text);
    const TipPicture shown = PictureOf(balloon);
    RECT box;
    GetWindowRect(host.Item(c.edit), &box);
    const POINT corner = {box.right, box.bottom};
    EXPECT_TRUE(shown == ReferenceBalloon(host.Dialog(), text, corner, L"Ошибка", TTI_ERROR));
    if (c.edit == IDC_EDIT_FX) {
      EXPECT_FALSE(shown == ReferenceBalloon(host.Dialog(), text, corner, L"Ошибка", TTI_WARNING));
      EXPECT_FALSE(shown == ReferenceBalloon(host.Dialog(), text, corner, nullptr, 0));
    }
    EXPECT_EQ(host.Cell(0, c.column), c.kept);
    host.Key(VK_ESCAPE);
    EXPECT_EQ(host.Text(c.edit), c.kept);
    EXPECT_EQ(host.VisibleBalloon(), nullptr);
  }
}

// The table's small-image list only sets the rows' height: 1 pixel wide and
// a sixth of the screen's vertical pixels per inch high (16 at 96 dpi), no
// images; it goes with the window.
TEST_F(SettingsWindowTest, RowHeightImageList) {
  Open(1, kFilterA + kFilterB);
  HWND table = host.Item(IDC_TABLE);
  HIMAGELIST list = reinterpret_cast<HIMAGELIST>(SendMessageA(table, LVM_GETIMAGELIST, LVSIL_SMALL, 0));
  ASSERT_NE(list, nullptr);
  HDC dc = GetDC(host.Dialog());
  const int rowHeight = GetDeviceCaps(dc, LOGPIXELSY) / 6;
  ReleaseDC(host.Dialog(), dc);
  int width = 0, height = 0;
  ImageList_GetIconSize(list, &width, &height);
  RECT row = {};
  row.left = LVIR_BOUNDS;
  SendMessageA(table, LVM_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&row));
  struct Row {
    const char* what;
    int actual, expected;
  } rows[] = {
      {"image width", width, 1},
      {"image height", height, rowHeight},
      {"images", ImageList_GetImageCount(list), 0},
  };
  for (const Row& r : rows) EXPECT_EQ(r.actual, r.expected) << r.what;
  EXPECT_GE(row.bottom - row.top, rowHeight);
  host.Click(IDC_CLOSE);
  host.Pump(50);
  ASSERT_EQ(host.Dialog(), nullptr);
  EXPECT_FALSE(ImageList_GetIconSize(list, &width, &height)) << "destroyed with the window";
}

}  // namespace
