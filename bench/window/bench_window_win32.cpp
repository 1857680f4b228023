// What the settings window costs a frame: Process at 720 x 576, FFT line
// 512, with the window closed, open (spectrum image and outlines), and open
// while the mask's 3-D view is dragged. Frames run on the window's own
// thread here, between message-loop turns; times are medians of each
// phase's frames, in milliseconds.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <cstdio>
#include <string>
#include <vector>

#include "demo_picture.h"
#include "host_platform.h"
#include "plugin_module.h"
#include "ui/dialog_ids.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kWidth = 720, kHeight = 576, kFrames = 200;

void Pump() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

HWND FindSettingsWindow() {
  HWND found = nullptr;
  EnumThreadWindows(
      GetCurrentThreadId(),
      [](HWND w, LPARAM p) -> BOOL {
        if (GetDlgItem(w, IDC_SPECTRUM) != nullptr) *reinterpret_cast<HWND*>(p) = w;
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
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
  HWND host = CreateWindowExA(0, "Static", "host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 400, 300, nullptr,
                              nullptr, nullptr, nullptr);
  qrx::InitInfo init = {0, nullptr};
  d.init(&init);
  qrx::FrameFormat format = {kWidth, kHeight, 0, 0, 3};
  d.start(&format);
  std::vector<double> luma = qrxhost::MakeCleanLuma(kWidth, kHeight);
  qrxhost::AddGrating(&luma, kWidth, kHeight, {100, 0, 1024, 12.0, 0.4});
  const std::vector<uint8_t> input = qrxhost::MakeYuy2(luma, kWidth, kHeight);
  qrxhost::ChannelRecord channel;
  channel.keyLow = 1;

  auto phase = [&](const char* name) {
    std::vector<double> ms;
    std::vector<uint8_t> frame;
    for (int i = 0; i < kFrames; ++i) {
      frame = input;
      qrx::FrameInfo info = {};
      info.pixels = frame.data();
      info.channel = channel.Info();
      const auto t0 = Clock::now();
      d.process(&info);
      ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
      Pump();
    }
    std::sort(ms.begin(), ms.end());
    std::printf("  %-34s median %6.2f ms, 10%% %6.2f, 90%% %6.2f\n", name, ms[ms.size() / 2], ms[ms.size() / 10],
                ms[ms.size() * 9 / 10]);
    return ms[ms.size() / 2];
  };

  std::printf("Process, %d x %d packed 4:2:2, FFT line 512, three filters\n", kWidth, kHeight);
  phase("warm-up (window closed)");
  const double closed = phase("window closed");
  HWND parent = host;
  d.showDialog(&parent);
  Pump();
  HWND dialog = FindSettingsWindow();
  HWND spectrum = dialog != nullptr ? GetDlgItem(dialog, IDC_SPECTRUM) : nullptr;
  const double open = phase("window open: spectrum and outlines");
  if (spectrum != nullptr) {
    PostMessageA(spectrum, WM_MOUSEMOVE, 0, MAKELPARAM(200, 100));
    PostMessageA(spectrum, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(200, 100));
    PostMessageA(spectrum, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(260, 120));
    Pump();
  }
  const double rotating = phase("window open: 3-D view of the mask");
  if (spectrum != nullptr) PostMessageA(spectrum, WM_LBUTTONUP, 0, MAKELPARAM(260, 120));
  Pump();
  std::printf("  the view costs %.2f ms a frame (3-D view %.2f ms)\n", open - closed, rotating - closed);
  d.stop();
  d.exit();
  plugin.Unload();
  DestroyWindow(host);
  return 0;
}
