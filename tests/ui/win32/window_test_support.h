// Driving the settings window as a user would, through the plug-in's
// exports: a host window, a frame thread that streams frames, the message
// loop, and the controls found, clicked, typed into and read back.
#pragma once

#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "demo_picture.h"
#include "plugin_module.h"
#include "plugin_test_support.h"
#include "ui/dialog_ids.h"

namespace qrxtest {

// Windows enumerated with a lambda: the system calls a function of its own
// calling convention (stdcall on 32-bit Windows), which a lambda is not.
template <class F>
BOOL CALLBACK CallForWindow(HWND w, LPARAM f) {
  (*reinterpret_cast<F*>(f))(w);
  return TRUE;
}
template <class F>
void ForEachThreadWindow(F f) {
  EnumThreadWindows(GetCurrentThreadId(), &CallForWindow<F>, reinterpret_cast<LPARAM>(&f));
}
template <class F>
void ForEachChildWindow(HWND parent, F f) {
  EnumChildWindows(parent, &CallForWindow<F>, reinterpret_cast<LPARAM>(&f));
}

// Code page 1251 texts the tests compare with.
inline std::string Cp1251(const wchar_t* text) {
  char buffer[256];
  const int n = WideCharToMultiByte(1251, 0, text, -1, buffer, sizeof(buffer), nullptr, nullptr);
  return n > 0 ? std::string(buffer) : std::string();
}

class WindowHost {
 public:
  static constexpr int32_t kWidth = 360;
  static constexpr int32_t kHeight = 288;

  // Loads the module with the given settings, creates the host window and
  // starts the stream (frames flow only after StartFrames).
  void Begin(const std::vector<std::string>& settingsLines) {
    UseProgramFolderSettings();
    WriteSettings("QRX_FreqFilter", settingsLines);
    std::string error;
    const std::string path = qrxhost::ExecutableFolder() + "QRX_FreqFilter.dll";
    ASSERT_TRUE(plugin_.Load(path, &error)) << error;
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "QrxTestHost";
    RegisterClassA(&wc);
    host_ = CreateWindowExA(0, "QrxTestHost", "host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 80, 640, 480, nullptr,
                            nullptr, wc.hInstance, nullptr);
    ASSERT_NE(host_, nullptr);
    qrx::InitInfo init = {0, nullptr};
    D().init(&init);
    qrx::FrameFormat format = {kWidth, kHeight, 0, 0, 3};
    D().start(&format);
    picture_ = MakePicture(kWidth, kHeight, {{40, 0, 512, 12.0, 0.3}});
  }

  // Stops frames, the stream and the module (Exit saves the settings).
  void End() {
    StopFrames();
    if (!plugin_.Loaded()) return;
    D().stop();
    D().exit();
    Pump(50);
    plugin_.Unload();
    if (host_ != nullptr) DestroyWindow(host_);
    host_ = nullptr;
  }

  const qrx::PluginDescriptor& D() const { return plugin_.Descriptor(); }
  HWND Host() const { return host_; }

  // ---------------------------------------------------------- frames
  void StartFrames() {
    stop_ = false;
    frameThread_ = std::thread([this] {
      std::vector<uint8_t> frame;
      while (!stop_.load()) {
        frame = picture_.frame;
        qrxhost::ChannelRecord record;
        record.keyLow = channel_.load();
        std::snprintf(record.name, sizeof(record.name), "Channel %d", record.keyLow);
        qrx::FrameInfo info = {};
        info.pixels = frame.data();
        info.channel = record.Info();
        D().process(&info);
        {
          std::lock_guard<std::mutex> lock(frameLock_);
          lastFrame_ = frame;
        }
        ++frames_;
        Sleep(10);
      }
    });
  }
  void StopFrames() {
    stop_ = true;
    if (frameThread_.joinable()) frameThread_.join();
  }
  void SetChannel(int32_t key) { channel_ = key; }
  int64_t Frames() const { return frames_.load(); }
  // Waits (pumping messages) until n more frames have passed.
  void WaitFrames(int n) {
    const int64_t target = frames_.load() + n;
    PumpUntil([&] { return frames_.load() >= target; }, 20000);
  }
  std::vector<uint8_t> LastFrame() {
    std::lock_guard<std::mutex> lock(frameLock_);
    return lastFrame_;
  }
  const TestPicture& Picture() const { return picture_; }

  // ---------------------------------------------------------- the window
  void ShowDialog() {
    HWND parent = host_;
    D().showDialog(&parent);
    Pump(100);
  }
  // The settings windows owned by the host window (one while open).
  std::vector<HWND> Dialogs() const {
    std::vector<HWND> found;
    ForEachThreadWindow([&found](HWND w) {
      char cls[32];
      GetClassNameA(w, cls, sizeof(cls));
      if (std::string(cls) == "#32770" && GetDlgItem(w, IDC_TABLE) != nullptr) found.push_back(w);
    });
    return found;
  }
  HWND Dialog() const {
    const std::vector<HWND> d = Dialogs();
    return d.empty() ? nullptr : d.front();
  }
  HWND Item(int id) const { return GetDlgItem(Dialog(), id); }
  bool Enabled(int id) const { return IsWindowEnabled(Item(id)) != FALSE; }
  std::string Text(HWND w) const {
    char buffer[256] = {};
    GetWindowTextA(w, buffer, sizeof(buffer));
    return buffer;
  }
  std::string Text(int id) const { return Text(Item(id)); }

  // The message loop of a host that runs the dialog manager for the window.
  void Pump(int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    do {
      MSG msg;
      while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        HWND dialog = Dialog();
        if (dialog != nullptr && IsDialogMessageA(dialog, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
      }
      Sleep(2);
    } while (std::chrono::steady_clock::now() < end);
  }
  bool PumpUntil(const std::function<bool()>& done, int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
      if (std::chrono::steady_clock::now() > end) return false;
      Pump(5);
    }
    return true;
  }

  // ---------------------------------------------------------- input
  void Click(int id) {
    SendMessageA(Item(id), BM_CLICK, 0, 0);
    Pump(20);
  }
  void ChooseItem(int comboId, int item) {
    HWND combo = Item(comboId);
    SendMessageA(combo, CB_SETCURSEL, item, 0);
    SendMessageA(Dialog(), WM_COMMAND, MAKEWPARAM(comboId, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
    Pump(20);
  }
  // A key pressed and released on the focused control, through the queue.
  void Key(UINT vk) {
    HWND focus = GetFocus();
    PostMessageA(focus, WM_KEYDOWN, vk, 1);
    PostMessageA(focus, WM_KEYUP, vk, 0xC0000001);
    Pump(30);
  }
  // Typed characters replace the focused edit's text.
  void Type(const std::string& text) {
    HWND focus = GetFocus();
    SendMessageA(focus, EM_SETSEL, 0, -1);
    for (char c : text) PostMessageA(focus, WM_CHAR, static_cast<unsigned char>(c), 1);
    Pump(30);
  }
  void Focus(int id) {
    SetFocus(Item(id));
    Pump(10);
  }

  // ---------------------------------------------------------- the table
  int Rows() const { return static_cast<int>(SendMessageA(Item(IDC_TABLE), LVM_GETITEMCOUNT, 0, 0)); }
  std::string Cell(int row, int column) const {
    char buffer[64] = {};
    LVITEMA item = {};
    item.iSubItem = column;
    item.pszText = buffer;
    item.cchTextMax = sizeof(buffer);
    SendMessageA(Item(IDC_TABLE), LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
    return buffer;
  }
  UINT RowState(int row) const {
    return static_cast<UINT>(SendMessageA(Item(IDC_TABLE), LVM_GETITEMSTATE, row, LVIS_SELECTED | LVIS_STATEIMAGEMASK));
  }
  bool RowChecked(int row) const { return (RowState(row) & LVIS_STATEIMAGEMASK) == INDEXTOSTATEIMAGEMASK(2); }
  int SelectedRow() const {
    return static_cast<int>(SendMessageA(Item(IDC_TABLE), LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
  }
  void SelectRow(int row) {
    LVITEMA item = {};
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(Item(IDC_TABLE), LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
    Pump(20);
  }
  // A click on the row's check box (the list toggles its state image).
  void ToggleCheck(int row) {
    LVITEMA item = {};
    item.state = INDEXTOSTATEIMAGEMASK(RowChecked(row) ? 1 : 2);
    item.stateMask = LVIS_STATEIMAGEMASK;
    SendMessageA(Item(IDC_TABLE), LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
    Pump(20);
  }

  // The visible error balloon of the window, if any.
  // A visible tooltip of this thread: a balloon (the numeric edits' errors)
  // or a plain one (the spectrum's readout); null when none shows.
  static HWND VisibleTooltip(bool balloon) {
    HWND found = nullptr;
    ForEachThreadWindow([&](HWND w) {
      char cls[32];
      GetClassNameA(w, cls, sizeof(cls));
      const bool isBalloon = (GetWindowLongA(w, GWL_STYLE) & TTS_BALLOON) != 0;
      if (std::string(cls) == TOOLTIPS_CLASSA && IsWindowVisible(w) && isBalloon == balloon) found = w;
    });
    return found;
  }
  HWND VisibleBalloon() const { return VisibleTooltip(true); }
  static std::string BalloonText(HWND balloon) {
    char buffer[256] = {};
    TOOLINFOA tool = {};
    tool.cbSize = TTTOOLINFOA_V2_SIZE;
    tool.uId = 0;
    tool.lpszText = buffer;
    SendMessageA(balloon, TTM_GETTEXTA, sizeof(buffer), reinterpret_cast<LPARAM>(&tool));
    return buffer;
  }

  // A picture of the dialog's screen area, taken with the X server's own
  // screenshot tool (Wine starts Unix programs too).
  bool Screenshot(const std::string& name) {
    Pump(300);
    RECT r;
    GetWindowRect(Dialog(), &r);
    if (HWND balloon = VisibleBalloon()) {
      RECT b;
      GetWindowRect(balloon, &b);
      UnionRect(&r, &r, &b);
    }
    std::remove((std::string(QRX_SCREENSHOT_DIR) + "/" + name + ".png").c_str());
    char command[1024];
    std::snprintf(command, sizeof(command), "/usr/bin/import -window root -crop %ldx%ld+%ld+%ld %s/%s.png",
                  r.right - r.left, r.bottom - r.top, r.left, r.top, QRX_SCREENSHOT_DIR, name.c_str());
    STARTUPINFOA si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return false;
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    // Wine does not wait for a Unix program: the picture is done when its
    // file has stopped growing. The window stays alive and painted meanwhile.
    const std::string path = std::string(QRX_SCREENSHOT_DIR) + "/" + name + ".png";
    long last = -1;
    for (int i = 0; i < 100; ++i) {
      Pump(100);
      long size = -1;
      if (std::FILE* shot = std::fopen(path.c_str(), "rb")) {
        std::fseek(shot, 0, SEEK_END);
        size = std::ftell(shot);
        std::fclose(shot);
      }
      if (size > 0 && size == last) return true;
      last = size;
    }
    return false;
  }

 private:
  qrxhost::PluginModule plugin_;
  HWND host_ = nullptr;
  TestPicture picture_;
  std::thread frameThread_;
  std::atomic<bool> stop_{true};
  std::atomic<int32_t> channel_{1};
  std::atomic<int64_t> frames_{0};
  std::mutex frameLock_;
  std::vector<uint8_t> lastFrame_;
};

}  // namespace qrxtest
