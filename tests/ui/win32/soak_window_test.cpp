// The settings window soaked: frames flow on their own thread (switching
// channels now and then) while a seeded random user clicks every control,
// types good and bad values, presses keys and shortcuts, drags on the
// spectrum, adds and removes filters, changes the FFT length and closes and
// reopens the window. The plug-in is linked in, so the test sees its state.
// Checks: no crash; the table always shows the filters the plug-in holds,
// every one whole and in range (no torn list); the process's window and GDI
// object counts at the end equal those after the first seconds (no leak);
// after Exit the settings file holds exactly the state the plug-in had.
//   soak_window_test [--seconds N] [--seed S]     (default 60 s, seed 16)
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>
#include <winternl.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "demo_picture.h"
#include "module_loader.h"
#include "plugin/plugin_state.h"
#include "plugin_module.h"
#include "plugin_test_support.h"
#include "ui/dialog_ids.h"
#include "ui/dialog_rules.h"
#include "window_test_support.h"

namespace {

using Clock = std::chrono::steady_clock;

double g_seconds = 60;
uint32_t g_seed = 16;

constexpr int32_t kWidth = 360, kHeight = 288;
const char kModule[] = "soak_window_test";

// ------------------------------------------------------------ counts

// What the process holds of the window system. GetGuiResources where the
// system has it; Wine's is a stub (0, "not implemented"), and there the
// windows of the process and the entries of its GDI handle table (which
// Wine keeps per process, reachable from the process environment block as
// on Windows) are counted instead.
struct GuiCounts {
  long user = 0, gdi = 0;
  std::map<int, long> gdiKinds;  // where the handle table is read: entries by object type
  const char* how = "";
  bool operator==(const GuiCounts& o) const { return user == o.user && gdi == o.gdi; }
};

BOOL CALLBACK CountWindow(HWND w, LPARAM p) {
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  if (pid != GetCurrentProcessId()) return TRUE;
  long& count = *reinterpret_cast<long*>(p);
  ++count;
  qrxtest::ForEachChildWindow(w, [&count](HWND) { ++count; });
  return TRUE;
}

long GdiHandleTableEntries(std::map<int, long>* kinds) {
#if defined(__x86_64__)
  struct Entry {
    uint64_t object;
    uint16_t owner, count, unique;
    uint8_t type, flags;
    uint64_t user;
  };
  static_assert(sizeof(Entry) == 24, "the handle table's entries");
  constexpr size_t kTableOffset = 0xF8;  // GdiSharedHandleTable in the 64-bit block
#else
  struct Entry {
    uint32_t object;
    uint16_t owner, count, unique;
    uint8_t type, flags;
    uint32_t user;
  };
  constexpr size_t kTableOffset = 0x94;  // in the 32-bit block
#endif
  constexpr int kEntries = 0x10000;
  using QueryProcess = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
  const auto query = reinterpret_cast<QueryProcess>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationProcess")));
  PROCESS_BASIC_INFORMATION basic = {};
  if (query == nullptr || query(GetCurrentProcess(), 0, &basic, sizeof(basic), nullptr) != 0) return -1;
  const char* peb = reinterpret_cast<const char*>(basic.PebBaseAddress);
  const Entry* table = *reinterpret_cast<const Entry* const*>(peb + kTableOffset);
  if (table == nullptr) return -1;
  long n = 0;
  for (int i = 0; i < kEntries; ++i) {
    if (table[i].type == 0) continue;
    ++n;
    ++(*kinds)[table[i].type];
  }
  return n;
}

GuiCounts CountGui() {
  GuiCounts c;
  SetLastError(0);
  c.user = static_cast<long>(GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS));
  const DWORD error = GetLastError();
  c.gdi = static_cast<long>(GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS));
  c.how = "GetGuiResources";
  if (c.user == 0 && c.gdi == 0 && error == ERROR_CALL_NOT_IMPLEMENTED) {
    c.user = 0;
    EnumWindows(&CountWindow, reinterpret_cast<LPARAM>(&c.user));
    c.gdi = GdiHandleTableEntries(&c.gdiKinds);
    c.how = "windows of the process and GDI handle table entries (GetGuiResources not implemented here)";
  }
  return c;
}

// ------------------------------------------------------------ the host

class SoakHost {
 public:
  void Begin() {
    qrxtest::UseProgramFolderSettings();
    qrxtest::WriteSettings(
        kModule, {"[DIALOG]", "DlgWndPosX=-100", "DlgWndPosY=-100", "[GLOBAL]", "FFTLine=512", "AngleZ=30", "AngleX=70",
                  "DemoMode=0", "[1]", "ProcEnable=1",
                  "Filter=" + qrxtest::FilterText(1, 2301, 0, 300, 300, 3, -60, 0) +
                      qrxtest::FilterText(0, 1500, -900, 200, 400, 2, -30, 1),
                  "[2]", "ProcEnable=0", "Filter=" + qrxtest::FilterText(1, 800, 1200, 100, 100, 1, -160, 2)});
    host_ = CreateWindowExA(0, "Static", "soak host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 80, 640, 480, nullptr,
                            nullptr, nullptr, nullptr);
    qrx::InitInfo init = {0, nullptr};
    qrx::Init(&init);
    qrx::FrameFormat format = {kWidth, kHeight, 0, 0, 3};
    qrx::Start(&format);
    picture_ = qrxtest::MakePicture(kWidth, kHeight, {{40, 0, 512, 12.0, 0.3}});
    frames_ = std::thread([this] { FrameLoop(); });
  }
  void StopFrames() {
    stop_ = true;
    if (frames_.joinable()) frames_.join();
  }
  void End() {
    StopFrames();
    qrx::Stop();
    qrx::Exit();
    if (host_ != nullptr) DestroyWindow(host_);
    host_ = nullptr;
  }
  int64_t Frames() const { return frameCount_.load(); }

  void ShowDialog() {
    HWND parent = host_;
    qrx::ShowDialog(&parent);
    Pump(50);
  }
  HWND Dialog() const {
    HWND found = nullptr;
    qrxtest::ForEachThreadWindow([&found](HWND w) {
      if (GetDlgItem(w, IDC_TABLE) != nullptr) found = w;
    });
    return found;
  }
  HWND Item(int id) const { return GetDlgItem(Dialog(), id); }

  void Pump(int ms) {
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    do {
      MSG msg;
      while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        HWND dialog = Dialog();
        if (dialog != nullptr && IsDialogMessageA(dialog, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
      }
      Sleep(1);
    } while (Clock::now() < end);
  }

 private:
  // Frames at about 50 a second; now and then the host switches channel.
  void FrameLoop() {
    std::mt19937 random(g_seed + 1);
    std::vector<uint8_t> frame;
    qrxhost::ChannelRecord record;
    record.keyLow = 1;
    while (!stop_.load()) {
      if (random() % 150 == 0) record.keyLow = 1 + static_cast<int32_t>(random() % 3);
      std::snprintf(record.name, sizeof(record.name), "Channel %d", record.keyLow);
      frame = picture_.frame;
      qrx::FrameInfo info = {};
      info.pixels = frame.data();
      info.channel = record.Info();
      qrx::Process(&info);
      ++frameCount_;
      Sleep(20);
    }
  }

  HWND host_ = nullptr;
  qrxtest::TestPicture picture_;
  std::thread frames_;
  std::atomic<bool> stop_{false};
  std::atomic<int64_t> frameCount_{0};
};

// ------------------------------------------------------------ the user

class User {
 public:
  User(SoakHost& host, uint32_t seed) : host_(host), random_(seed) {}

  // One random action; returns its name.
  template <class Watch>
  const char* Act(Watch* watch) {
    if (host_.Dialog() == nullptr) {
      watch->Doing("reopen");
      host_.ShowDialog();
      return "reopen";
    }
    int total = 0;
    for (const Action& a : kActions) total += a.weight;
    int pick = Below(total);
    for (const Action& a : kActions) {
      if (pick < a.weight) {
        watch->Doing(a.name);
        (this->*a.action)();
        return a.name;
      }
      pick -= a.weight;
    }
    return "";
  }
  // Every kind of action a few times, every key, every control with the
  // focus and every editor's error balloon:
  // what the window system makes once and keeps (brushes of system colours,
  // the about box's picture, ...) exists before the counts are first taken.
  template <class Watch>
  void Tour(Watch* watch) {
    for (int round = 0; round < 3; ++round)
      for (const Action& a : kActions) {
        if (host_.Dialog() == nullptr) host_.ShowDialog();
        watch->Doing(a.name);
        (this->*a.action)();
        host_.Pump(5);
      }
    if (host_.Dialog() == nullptr) host_.ShowDialog();
    watch->Doing("keys");
    for (const UINT key : kKeys) {
      PostKey(key);
      PostKey(key, {VK_CONTROL});
    }
    watch->Doing("balloons");
    if (Rows() == 0) {
      Click(IDC_ADD);
      const POINT p = SpectrumPoint();
      PostMouse(WM_LBUTTONUP, p.x, p.y);
      host_.Pump(20);
      Click(IDC_ADD);
    }
    if (!IsWindowEnabled(host_.Item(IDC_PROC_ENABLE))) PostKey(VK_ESCAPE);
    if (IsDlgButtonChecked(host_.Dialog(), IDC_PROC_ENABLE) != BST_CHECKED) Click(IDC_PROC_ENABLE);
    // Every control with the focus once (a focused list box of a combo
    // paints with a colour of its own, ...).
    for (int id :
         {IDC_PROC_ENABLE, IDC_SHAPE, IDC_TABLE, IDC_ADD, IDC_REMOVE, IDC_FFT_LENGTH, IDC_DEMO, IDC_ABOUT, IDC_CLOSE}) {
      SetFocus(host_.Item(id));
      host_.Pump(20);
    }
    for (const qrx::ui::EditorInfo& e : qrx::ui::kEditors) {
      SetFocus(host_.Item(e.editId));
      HWND edit = GetFocus();
      SendMessageA(edit, EM_SETSEL, 0, -1);
      PostMessageA(edit, WM_CHAR, 'x', 1);
      host_.Pump(5);
      PostKey(VK_RETURN);
      host_.Pump(50);
      PostKey(VK_ESCAPE);
    }
  }

 private:
  struct Action {
    int weight;
    const char* name;
    void (User::*action)();
  };
  static const Action kActions[];

  int Below(int n) { return static_cast<int>(random_() % static_cast<uint32_t>(n)); }
  int Rows() { return static_cast<int>(SendMessageA(host_.Item(IDC_TABLE), LVM_GETITEMCOUNT, 0, 0)); }
  void Click(int id) {
    SendMessageA(host_.Item(id), BM_CLICK, 0, 0);
    host_.Pump(5);
  }
  void PostKey(UINT vk, std::initializer_list<UINT> held = {}) {
    HWND focus = GetFocus();
    if (focus == nullptr) focus = host_.Dialog();
    for (UINT k : held) PostMessageA(focus, WM_KEYDOWN, k, 1);
    PostMessageA(focus, WM_KEYDOWN, vk, 1);
    PostMessageA(focus, WM_KEYUP, vk, 0xC0000001);
    for (UINT k : held) PostMessageA(focus, WM_KEYUP, k, 0xC0000001);
    host_.Pump(5);
  }
  void PostMouse(UINT message, int x, int y, WPARAM keys = 0) {
    PostMessageA(host_.Item(IDC_SPECTRUM), message, keys, MAKELPARAM(x & 0xFFFF, y & 0xFFFF));
  }
  POINT SpectrumPoint(int margin = 0) {
    RECT r;
    GetClientRect(host_.Item(IDC_SPECTRUM), &r);
    return POINT{Below(r.right + 2 * margin) - margin, Below(r.bottom + 2 * margin) - margin};
  }

  void ClickButton() {
    // Many filters: removing is likelier than adding.
    const int ids[] = {IDC_ADD, IDC_REMOVE, IDC_REMOVE, IDC_PROC_ENABLE, IDC_DEMO};
    Click(ids[Rows() > 12 ? 1 + Below(2) : Below(5)]);
  }
  void SelectRow() {
    if (Rows() == 0) return;
    LVITEMA item = {};
    item.state = item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(host_.Item(IDC_TABLE), LVM_SETITEMSTATE, Below(Rows()), reinterpret_cast<LPARAM>(&item));
    host_.Pump(5);
  }
  void ToggleCheck() {
    if (Rows() == 0) return;
    const int row = Below(Rows());
    HWND table = host_.Item(IDC_TABLE);
    const UINT state = static_cast<UINT>(SendMessageA(table, LVM_GETITEMSTATE, row, LVIS_STATEIMAGEMASK));
    LVITEMA item = {};
    item.state = INDEXTOSTATEIMAGEMASK(state == INDEXTOSTATEIMAGEMASK(2) ? 1 : 2);
    item.stateMask = LVIS_STATEIMAGEMASK;
    SendMessageA(table, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
    host_.Pump(5);
  }
  void TypeValue() {
    const qrx::ui::EditorInfo& e = qrx::ui::kEditors[Below(qrx::ui::kEditorCount)];
    SetFocus(host_.Item(e.editId));
    std::string text;
    switch (Below(4)) {
      case 0:
      case 1:
        text = std::to_string(e.minimum + Below(e.maximum - e.minimum + 1));  // good
        break;
      case 2:
        text = std::to_string(Below(2) ? e.maximum + 1 + Below(100) : e.minimum - 1 - Below(100));  // out of range
        break;
      default: {
        const char* bad[] = {"", "-", "x", "1x", " 7", "--3", "\b", "99999999999"};
        text = bad[Below(8)];
      }
    }
    HWND edit = GetFocus();
    SendMessageA(edit, EM_SETSEL, 0, -1);
    for (char c : text) PostMessageA(edit, WM_CHAR, static_cast<unsigned char>(c), 1);
    host_.Pump(5);
    switch (Below(4)) {
      case 0:
        PostKey(VK_RETURN);
        break;
      case 1:
        PostKey(VK_ESCAPE);
        break;
      case 2:
        SetFocus(host_.Item(IDC_TABLE));  // leaving the box
        host_.Pump(5);
        break;
      default:
        PostKey(VK_RETURN);
        PostKey(VK_ESCAPE);
    }
  }
  void ClickSpin() {
    HWND spin = host_.Item(qrx::ui::kEditors[Below(qrx::ui::kEditorCount)].spinId);
    RECT r;
    GetClientRect(spin, &r);
    const int y = Below(2) ? 2 : r.bottom - 2;
    PostMessageA(spin, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(r.right / 2, y));
    PostMessageA(spin, WM_LBUTTONUP, 0, MAKELPARAM(r.right / 2, y));
    host_.Pump(5);
  }
  // Shortcuts, Esc, and keys for the focused control (arrows, a letter,
  // Tab: the dialog's keyboard navigation).
  static constexpr UINT kKeys[] = {'1', '2',      '3',       '4',   '5',     '6', '7',
                                   '8', VK_OEM_3, VK_ESCAPE, VK_UP, VK_DOWN, 'A', VK_TAB};
  void Shortcut() {
    const UINT key = kKeys[Below(sizeof(kKeys) / sizeof(kKeys[0]))];
    switch (Below(3)) {
      case 0:
        PostKey(key, {VK_CONTROL});
        break;
      case 1:
        PostKey(key, {VK_CONTROL, VK_SHIFT});
        break;
      default:
        PostKey(key);
    }
  }
  void MouseOnSpectrum() {
    for (int i = 0, n = 1 + Below(6); i < n; ++i) {
      const POINT p = SpectrumPoint(20);
      PostMouse(WM_MOUSEMOVE, p.x, p.y);
    }
    host_.Pump(5);
  }
  void Drag() {
    const POINT from = SpectrumPoint();
    PostMouse(WM_MOUSEMOVE, from.x, from.y);
    PostMouse(WM_LBUTTONDOWN, from.x, from.y, MK_LBUTTON);
    host_.Pump(5);
    for (int i = 0, n = 2 + Below(8); i < n; ++i) {
      const POINT p = SpectrumPoint(100);
      PostMouse(WM_MOUSEMOVE, p.x, p.y, MK_LBUTTON);
      host_.Pump(10);  // frames draw the 3-D view meanwhile
    }
    const POINT to = SpectrumPoint(40);
    PostMouse(WM_LBUTTONUP, to.x, to.y);
    host_.Pump(5);
  }
  void PickClicks() {
    if (Rows() > 12 || !IsWindowEnabled(host_.Item(IDC_ADD))) return;
    Click(IDC_ADD);
    for (int i = 0, n = 1 + Below(3); i < n; ++i) {
      const POINT p = SpectrumPoint();
      PostMouse(WM_MOUSEMOVE, p.x, p.y);
      PostMouse(WM_LBUTTONDOWN, p.x, p.y, MK_LBUTTON);
      PostMouse(WM_LBUTTONUP, p.x, p.y);
    }
    host_.Pump(5);
    if (Below(2))
      PostKey(VK_ESCAPE);
    else
      Click(IDC_ADD);
  }
  void ChooseItem(int id, int item) {
    HWND combo = host_.Item(id);
    if (!IsWindowEnabled(combo)) return;
    SendMessageA(combo, CB_SETCURSEL, item, 0);
    SendMessageA(host_.Dialog(), WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
    host_.Pump(5);
  }
  void FftLength() { ChooseItem(IDC_FFT_LENGTH, Below(3)); }
  void Shape() { ChooseItem(IDC_SHAPE, Below(3)); }
  void DoubleClick() {
    if (Rows() == 0) return;
    HWND table = host_.Item(IDC_TABLE);
    RECT cell = {};
    cell.top = Below(qrx::ui::kColumnCount);
    cell.left = LVIR_BOUNDS;
    SendMessageA(table, LVM_GETSUBITEMRECT, Below(Rows()), reinterpret_cast<LPARAM>(&cell));
    const LPARAM at = MAKELPARAM((cell.left + cell.right) / 2, (cell.top + cell.bottom) / 2);
    PostMessageA(table, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageA(table, WM_LBUTTONUP, 0, at);
    PostMessageA(table, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
    PostMessageA(table, WM_LBUTTONUP, 0, at);
    host_.Pump(10);
  }
  void About() { Click(IDC_ABOUT); }  // closed by the user's about-box timer
  void Close() {
    HWND dialog = host_.Dialog();
    switch (Below(3)) {
      case 0:
        Click(IDC_CLOSE);
        break;
      case 1:
        PostMessageA(dialog, WM_CLOSE, 0, 0);
        break;
      default:
        PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);  // as Alt+F4 does
    }
    host_.Pump(10);
  }
  void Move() {
    SetWindowPos(host_.Dialog(), nullptr, Below(400), Below(300), 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    host_.Pump(5);
  }

  SoakHost& host_;
  std::mt19937 random_;
};

const User::Action User::kActions[] = {
    {6, "button", &User::ClickButton},
    {5, "select row", &User::SelectRow},
    {3, "check box", &User::ToggleCheck},
    {10, "type", &User::TypeValue},
    {5, "spin", &User::ClickSpin},
    {6, "shortcut", &User::Shortcut},
    {8, "mouse", &User::MouseOnSpectrum},
    {4, "drag", &User::Drag},
    {3, "pick", &User::PickClicks},
    {2, "FFT length", &User::FftLength},
    {3, "shape", &User::Shape},
    {2, "double click", &User::DoubleClick},
    {1, "about", &User::About},
    {2, "close", &User::Close},
    {1, "move", &User::Move},
};

// The about box is modal, and Enter on a focused "О плагине" opens it too:
// the user closes it whenever it shows (a thread timer runs in its modal
// loop as well).
void CALLBACK CloseAboutBox(HWND, UINT, UINT_PTR, DWORD) {
  HWND about = nullptr;
  qrxtest::ForEachThreadWindow([&about](HWND w) {
    char cls[16];
    GetClassNameA(w, cls, sizeof(cls));
    if (std::strcmp(cls, "#32770") == 0 && GetDlgItem(w, IDC_TABLE) == nullptr && IsWindowVisible(w)) about = w;
  });
  if (about != nullptr) PostMessageA(about, WM_COMMAND, IDOK, 0);
}

// ------------------------------------------------------------ checks

std::string Cell(HWND table, int row, int column) {
  char buffer[64] = {};
  LVITEMA item = {};
  item.iSubItem = column;
  item.pszText = buffer;
  item.cchTextMax = sizeof(buffer);
  SendMessageA(table, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
  return buffer;
}

// A filter as the window's editors allow it.
std::string OutOfRange(const qrx::FilterSpec& f) {
  using qrx::ui::kEditors;
  std::string what;
  for (int field = 0; field < qrx::ui::kEditorCount; ++field) {
    const int32_t v = qrx::ui::FieldOf(f, field);
    if (v < kEditors[field].minimum || v > kEditors[field].maximum) what += " field " + std::to_string(field);
  }
  if (f.En != 0 && f.En != 1) what += " En";
  if (f.T < 0 || f.T > 2) what += " T";
  return what;
}

// The filters of a "Filter" value, read by the test's own reader: whole
// filters only; false for anything else.
bool ParseFilters(const std::string& text, std::vector<qrx::FilterSpec>* out) {
  out->clear();
  size_t at = 0;
  while (at < text.size()) {
    qrx::FilterSpec f;
    int used = 0;
    if (std::sscanf(text.c_str() + at, "En:%d/Fx:%d/Fy:%d/Wx:%d/Wy:%d/O:%d/S:%d/T:%d//%n", &f.En, &f.Fx, &f.Fy, &f.Wx,
                    &f.Wy, &f.O, &f.S, &f.T, &used) != 8 ||
        used == 0)
      return false;
    out->push_back(f);
    at += static_cast<size_t>(used);
  }
  return true;
}

std::string FilterTextOf(const std::vector<qrx::FilterSpec>& filters) {
  std::string text;
  for (const qrx::FilterSpec& f : filters) text += qrxtest::FilterText(f.En, f.Fx, f.Fy, f.Wx, f.Wy, f.O, f.S, f.T);
  return text;
}

// The table against the plug-in's list, when the window shows the current
// channel and no update is on its way (a frame that switched channel posts
// one): row by row, cell by cell. Every filter, shown or stored for another
// channel, whole and in range. Returns what is wrong ("" when nothing).
std::string CheckList(SoakHost& host) {
  HWND dialog = host.Dialog();
  if (dialog == nullptr) return "";
  qrx::PluginState& s = qrx::State();
  qrx::platform::ScopedLock lock(s.pluginLock);  // no frame switches channel now
  std::string wrong;
  for (int i = 0; i < s.filters.Count(); ++i) {
    const std::string r = OutOfRange(s.filters[i]);
    if (!r.empty()) wrong += "live filter " + std::to_string(i) + " out of range:" + r + "; ";
  }
  for (const qrx::ChannelSettings& c : s.settings.Channels()) {
    std::vector<qrx::FilterSpec> stored;
    if (!ParseFilters(c.Filter, &stored)) wrong += "channel " + std::to_string(c.key.low) + " holds " + c.Filter + "; ";
    for (const qrx::FilterSpec& f : stored)
      if (!OutOfRange(f).empty()) wrong += "channel " + std::to_string(c.key.low) + " out of range; ";
  }
  MSG pending;
  if (PeekMessageA(&pending, dialog, MSG_DIALOG_UPDATE, MSG_DIALOG_UPDATE, PM_NOREMOVE)) return wrong;
  HWND table = GetDlgItem(dialog, IDC_TABLE);
  const int rows = static_cast<int>(SendMessageA(table, LVM_GETITEMCOUNT, 0, 0));
  if (rows != s.filters.Count())
    return wrong + "table " + std::to_string(rows) + " rows, list " + std::to_string(s.filters.Count());
  for (int i = 0; i < rows; ++i) {
    const qrx::FilterSpec& f = s.filters[i];
    char number[8];
    std::snprintf(number, sizeof(number), "%02d", i);
    const std::string expected[qrx::ui::kColumnCount] = {number,
                                                         std::to_string(f.Fx),
                                                         std::to_string(f.Fy),
                                                         std::to_string(f.Wx),
                                                         std::to_string(f.Wy),
                                                         std::to_string(f.O),
                                                         std::to_string(f.S),
                                                         f.T >= 0 && f.T < 3 ? qrx::ui::kShapeNames[f.T] : ""};
    for (int c = 0; c < qrx::ui::kColumnCount; ++c)
      if (Cell(table, i, c) != expected[c])
        wrong += "row " + std::to_string(i) + " column " + std::to_string(c) + ": " + Cell(table, i, c) + " for " +
                 expected[c] + "; ";
    const UINT check = static_cast<UINT>(SendMessageA(table, LVM_GETITEMSTATE, i, LVIS_STATEIMAGEMASK));
    if ((check == INDEXTOSTATEIMAGEMASK(2)) != (f.En != 0)) wrong += "row " + std::to_string(i) + " check box; ";
  }
  return wrong;
}

// A window at rest: closed and opened again, the message queue drained.
void Settle(SoakHost& host) {
  if (HWND dialog = host.Dialog()) {
    PostMessageA(dialog, WM_CLOSE, 0, 0);
    host.Pump(100);
  }
  host.ShowDialog();
  host.Pump(500);
}

// The settings file's sections as key=value maps.
std::map<std::string, std::map<std::string, std::string>> ReadIni(const std::string& text) {
  std::map<std::string, std::map<std::string, std::string>> ini;
  std::string section;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find("\r\n", at);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(at, end - at);
    at = end + 2;
    if (line.size() > 2 && line.front() == '[' && line.back() == ']') {
      section = line.substr(1, line.size() - 2);
    } else if (const size_t eq = line.find('='); eq != std::string::npos) {
      ini[section][line.substr(0, eq)] = line.substr(eq + 1);
    }
  }
  return ini;
}

// Ends the run when an action has not come back for a long time (a hang is
// a failure too), naming the action.
class Watchdog {
 public:
  Watchdog() : thread_([this] { Watch(); }) {}
  ~Watchdog() {
    done_ = true;
    thread_.join();
  }
  void Doing(const char* action) {
    action_ = action;
    since_ = Clock::now().time_since_epoch().count();
  }

 private:
  void Watch() {
    while (!done_.load()) {
      Sleep(200);
      const Clock::time_point since{Clock::duration(since_.load())};
      if (Clock::now() - since > std::chrono::seconds(60)) {
        std::fprintf(stderr, "soak: no progress for 60 s in \"%s\"\n", action_.load());
        std::fflush(stderr);
        ExitProcess(3);
      }
    }
  }
  std::atomic<bool> done_{false};
  std::atomic<const char*> action_{"start"};
  std::atomic<Clock::rep> since_{Clock::now().time_since_epoch().count()};
  std::thread thread_;
};

TEST(SoakWindow, RandomUserWithFramesFlowing) {
  if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "no X display";
  std::printf("seed %u, %.0f s\n", g_seed, g_seconds);
  SoakHost host;
  host.Begin();
  host.ShowDialog();
  ASSERT_NE(host.Dialog(), nullptr);
  User user(host, g_seed);
  Watchdog watchdog;
  const UINT_PTR aboutCloser = SetTimer(nullptr, 0, 150, &CloseAboutBox);
  std::map<std::string, int> done;
  int tornChecks = 0;
  const auto start = Clock::now();
  // The first seconds: every kind of action, then the counts.
  user.Tour(&watchdog);
  watchdog.Doing("settle");
  Settle(host);
  const GuiCounts first = CountGui();
  std::printf("after %.0f s: user %ld, GDI %ld (%s)\n", std::chrono::duration<double>(Clock::now() - start).count(),
              first.user, first.gdi, first.how);
  for (;;) {
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    if (elapsed >= g_seconds) break;
    const char* action = user.Act(&watchdog);
    ++done[action];
    watchdog.Doing("list check");
    host.Pump(2);
    const std::string wrong = CheckList(host);
    ++tornChecks;
    ASSERT_EQ(wrong, "") << "after " << tornChecks << " actions, the last " << action;
  }
  const int64_t frames = host.Frames();
  KillTimer(nullptr, aboutCloser);
  watchdog.Doing("final settle");
  Settle(host);
  ASSERT_EQ(CheckList(host), "");
  const GuiCounts last = CountGui();
  std::printf("at the end: user %ld, GDI %ld\n", last.user, last.gdi);
  std::string kinds;  // which kinds of GDI object changed
  std::map<int, long> before = first.gdiKinds;
  for (const auto& k : last.gdiKinds)
    if (k.second != before[k.first])
      kinds += " type " + std::to_string(k.first) + ": " + std::to_string(before[k.first]) + " -> " +
               std::to_string(k.second);
  EXPECT_TRUE(last == first) << "user " << first.user << " -> " << last.user << ", GDI " << first.gdi << " -> "
                             << last.gdi << kinds;
  int actions = 0;
  for (const auto& d : done) {
    std::printf("  %-12s %d\n", d.first.c_str(), d.second);
    actions += d.second;
  }
  std::printf("%d actions, %lld frames, %d list checks\n", actions, static_cast<long long>(frames), tornChecks);
  EXPECT_GT(frames, static_cast<int64_t>(g_seconds * 10));

  // The plug-in's last state, then Exit, then the file.
  host.StopFrames();
  RECT dialog;
  GetWindowRect(host.Dialog(), &dialog);
  std::map<std::string, std::map<std::string, std::string>> expected;
  {
    qrx::PluginState& s = qrx::State();
    qrx::platform::ScopedLock lock(s.pluginLock);
    expected["DIALOG"] = {{"DlgWndPosX", std::to_string(dialog.left)}, {"DlgWndPosY", std::to_string(dialog.top)}};
    expected["GLOBAL"] = {{"FFTLine", std::to_string(s.settings.FFTLine)},
                          {"AngleZ", std::to_string(s.settings.AngleZ)},
                          {"AngleX", std::to_string(s.settings.AngleX)},
                          {"DemoMode", std::to_string(s.settings.DemoMode)}};
    const auto& channels = s.settings.Channels();
    for (size_t i = 0; i < channels.size(); ++i) {
      const std::string section = std::to_string(qrx::ChannelSectionNumber(channels[i].key));
      if (static_cast<int32_t>(i) == s.settings.CurrentChannelIndex()) {
        std::vector<qrx::FilterSpec> live(s.filters.Items(), s.filters.Items() + s.filters.Count());
        expected[section] = {{"ProcEnable", std::to_string(s.settings.ProcEnable)}, {"Filter", FilterTextOf(live)}};
      } else {
        expected[section] = {{"ProcEnable", std::to_string(channels[i].ProcEnable)}, {"Filter", channels[i].Filter}};
      }
    }
  }
  watchdog.Doing("exit");
  host.End();
  const auto saved = ReadIni(qrxtest::ReadFileText(qrxtest::SettingsPath(kModule)));
  EXPECT_EQ(saved, expected) << qrxtest::ReadFileText(qrxtest::SettingsPath(kModule));
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--seconds") == 0) g_seconds = std::atof(argv[i + 1]);
    if (std::strcmp(argv[i], "--seed") == 0) g_seed = static_cast<uint32_t>(std::strtoul(argv[i + 1], nullptr, 10));
  }
  return RUN_ALL_TESTS();
}
