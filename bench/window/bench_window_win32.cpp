// What the settings window costs a frame: Process at 720 x 576, FFT line
// 512, with the window closed, open (spectrum image and outlines), and open
// while the mask's 3-D view is dragged (the drag moves a little every frame,
// so every picture differs). Frames run on the window's own thread here,
// between message-loop turns, first back to back, then at the PAL rate of 25
// a second as a TV host delivers them; times are medians and 90th
// percentiles of each phase's frames, in milliseconds. With the paced 3-D
// view: how many different pictures the spectrum control showed a second.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "demo_picture.h"
#include "host_platform.h"
#include "plugin_module.h"
#include "ui/dialog_ids.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kWidth = 720, kHeight = 576, kFrames = 200;
constexpr auto kPalFrame = std::chrono::milliseconds(40);

void Pump() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

BOOL CALLBACK KeepSettingsWindow(HWND w, LPARAM found) {
  if (GetDlgItem(w, IDC_SPECTRUM) != nullptr) *reinterpret_cast<HWND*>(found) = w;
  return TRUE;
}

HWND FindSettingsWindow() {
  HWND found = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), &KeepSettingsWindow, reinterpret_cast<LPARAM>(&found));
  return found;
}

// A hash of what the control shows now.
uint64_t PictureHash(HWND control) {
  RECT r;
  GetClientRect(control, &r);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = r.right;
  info.bmiHeader.biHeight = -r.bottom;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HDC screen = GetDC(control);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, r.right, r.bottom, screen, 0, 0, SRCCOPY);
  uint64_t hash = 1469598103934665603ull;
  const uint32_t* p = static_cast<const uint32_t*>(bits);
  for (long i = 0; i < static_cast<long>(r.right) * r.bottom; ++i) hash = (hash ^ p[i]) * 1099511628211ull;
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(control, screen);
  return hash;
}

// The settings in "Plugins\" beside the program: FFT line 512, processing
// on, two Dot filters and a ring.
void WriteSettings() {
  _putenv("QRX_STORE_IN_USERS_FOLDER=");
  const std::string folder = qrxhost::ExecutableFolder() + "Plugins";
  CreateDirectoryA(folder.c_str(), nullptr);
  std::ofstream out(folder + "\\QRX_FreqFilter.ini", std::ios::binary | std::ios::trunc);
  out << "[DIALOG]\r\nDlgWndPosX=0\r\nDlgWndPosY=0\r\n[GLOBAL]\r\nFFTLine=512\r\nAngleZ=30\r\nAngleX=70\r\n"
         "DemoMode=0\r\n[1]\r\nProcEnable=1\r\nFilter=En:1/Fx:2301/Fy:0/Wx:300/Wy:300/O:3/S:-60/T:0//"
         "En:1/Fx:1500/Fy:-900/Wx:200/Wy:400/O:2/S:-30/T:0//En:1/Fx:800/Fy:1200/Wx:100/Wy:100/O:1/S:-40/T:2//\r\n";
}

}  // namespace

int main() {
  WriteSettings();
  qrxhost::PluginModule plugin;
  std::string error;
  if (!plugin.Load(qrxhost::ExecutableFolder() + "QRX_FreqFilter.dll", &error)) {
    std::fprintf(stderr, "bench_window: %s\n", error.c_str());
    return 1;
  }
  const qrx::PluginDescriptor& d = plugin.Descriptor();
  HWND host = CreateWindowExA(0, "Static", "host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 400, 300, nullptr, nullptr,
                              nullptr, nullptr);
  qrx::InitInfo init = {0, nullptr};
  d.init(&init);
  qrx::FrameFormat format = {kWidth, kHeight, 0, 0, 3};
  d.start(&format);
  std::vector<double> luma = qrxhost::MakeCleanLuma(kWidth, kHeight);
  qrxhost::AddGrating(&luma, kWidth, kHeight, {100, 0, 1024, 12.0, 0.4});
  const std::vector<uint8_t> input = qrxhost::MakeYuy2(luma, kWidth, kHeight);
  qrxhost::ChannelRecord channel;
  channel.keyLow = 1;

  struct Result {
    double median, p90, picturesPerSecond;
  };
  HWND spectrum = nullptr;
  int dragX = 260;
  bool dragging = false;
  auto phase = [&](const char* name, bool paced) {
    std::vector<double> ms;
    std::vector<uint8_t> frame;
    int pictures = 0;
    uint64_t last = 0;
    const auto start = Clock::now();
    auto next = start;
    for (int i = 0; i < kFrames; ++i) {
      if (dragging) {
        dragX = dragX == 260 ? 264 : 260;  // a degree of turn each frame
        PostMessageA(spectrum, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(dragX, 120));
        Pump();
      }
      frame = input;
      qrx::FrameInfo info = {};
      info.pixels = frame.data();
      info.channel = channel.Info();
      const auto t0 = Clock::now();
      d.process(&info);
      ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
      Pump();
      if (paced) {
        if (spectrum != nullptr) {
          const uint64_t hash = PictureHash(spectrum);
          pictures += hash != last ? 1 : 0;
          last = hash;
        }
        next += kPalFrame;
        std::this_thread::sleep_until(next);
      }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::sort(ms.begin(), ms.end());
    const Result r = {ms[ms.size() / 2], ms[ms.size() * 9 / 10], pictures / seconds};
    std::printf("  %-42s median %6.2f ms, 90%% %6.2f", name, r.median, r.p90);
    // The same frame every time: only the turning 3-D view makes new pictures.
    if (paced && dragging) std::printf(", %4.1f pictures/s", r.picturesPerSecond);
    std::printf("\n");
    return r;
  };

  std::printf("Process, %d x %d packed 4:2:2, FFT line 512, three filters\n", kWidth, kHeight);
  phase("warm-up (window closed)", false);
  const Result closed = phase("window closed", false);
  const Result closedPaced = phase("window closed, 25 frames/s", true);
  HWND parent = host;
  d.showDialog(&parent);
  Pump();
  HWND dialog = FindSettingsWindow();
  spectrum = dialog != nullptr ? GetDlgItem(dialog, IDC_SPECTRUM) : nullptr;
  const Result open = phase("window open: spectrum and outlines", false);
  const Result openPaced = phase("the same, 25 frames/s", true);
  if (spectrum != nullptr) {
    PostMessageA(spectrum, WM_MOUSEMOVE, 0, MAKELPARAM(200, 100));
    PostMessageA(spectrum, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(200, 100));
    PostMessageA(spectrum, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(260, 120));
    Pump();
    dragging = true;
  }
  const Result rotating = phase("window open: 3-D view of the mask", false);
  const Result rotatingPaced = phase("the same, 25 frames/s", true);
  dragging = false;
  if (spectrum != nullptr) PostMessageA(spectrum, WM_LBUTTONUP, 0, MAKELPARAM(260, 120));
  Pump();
  std::printf(
      "  the window adds (medians) %.2f ms a frame, %.2f ms with the 3-D view; at 25 frames/s %.2f and %.2f ms\n",
      open.median - closed.median, rotating.median - closed.median, openPaced.median - closedPaced.median,
      rotatingPaced.median - closedPaced.median);
  d.stop();
  d.exit();
  plugin.Unload();
  DestroyWindow(host);
  return 0;
}
