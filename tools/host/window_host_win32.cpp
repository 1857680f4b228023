// The reference host with a screen: a window that shows the filtered frames,
// the plug-in's settings window, and a frame thread at the frame rate.
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

#include "demo_picture.h"
#include "stream_session.h"
#include "window_host.h"

namespace qrxhost {

namespace {

constexpr UINT kFrameReady = WM_APP + 1;
constexpr UINT_PTR kWatchTimer = 1;
constexpr UINT_PTR kCloseTimer = 2;
constexpr UINT kWatchMs = 200;
const char kClassName[] = "QrxHostWindow";

// What the frame thread hands to the window: the last output as a
// bottom-up 24-bit picture.
struct Shared {
  std::mutex lock;
  std::vector<uint8_t> picture;
  int32_t width = 0, height = 0;
};

struct HostWindow {
  HWND hwnd = nullptr;
  Shared* shared = nullptr;
  bool settingsSeen = false;
};

// A dialog owned by the host window: the plug-in's settings window.
struct SettingsSearch {
  HWND owner;
  HWND found;
};

BOOL CALLBACK FindSettingsWindow(HWND w, LPARAM p) {
  SettingsSearch* s = reinterpret_cast<SettingsSearch*>(p);
  char cls[16];
  GetClassNameA(w, cls, sizeof(cls));
  if (GetWindow(w, GW_OWNER) == s->owner && std::strcmp(cls, "#32770") == 0) s->found = w;
  return TRUE;
}

HWND SettingsWindow(HWND host) {
  SettingsSearch search = {host, nullptr};
  EnumThreadWindows(GetCurrentThreadId(), &FindSettingsWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

LRESULT CALLBACK HostProc(HWND hwnd, UINT message, WPARAM w, LPARAM l) {
  HostWindow* self = reinterpret_cast<HostWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  switch (message) {
    case WM_CREATE:
      SetWindowLongPtrA(hwnd, GWLP_USERDATA,
                        reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTA*>(l)->lpCreateParams));
      return 0;
    case kFrameReady:
      InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    case WM_TIMER:
      // The run ends when the settings window closes, as when this one does.
      if (w == kWatchTimer && self != nullptr) {
        const bool open = SettingsWindow(hwnd) != nullptr;
        if (open)
          self->settingsSeen = true;
        else if (self->settingsSeen)
          DestroyWindow(hwnd);
      } else if (w == kCloseTimer) {
        KillTimer(hwnd, kCloseTimer);
        if (HWND settings = SettingsWindow(hwnd))
          PostMessageA(settings, WM_CLOSE, 0, 0);
        else
          DestroyWindow(hwnd);
      }
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd, &ps);
      if (self != nullptr) {
        std::lock_guard<std::mutex> lock(self->shared->lock);
        const Shared& s = *self->shared;
        if (!s.picture.empty()) {
          BITMAPINFO info = {};
          info.bmiHeader.biSize = sizeof(info.bmiHeader);
          info.bmiHeader.biWidth = s.width;
          info.bmiHeader.biHeight = s.height;  // bottom-up
          info.bmiHeader.biPlanes = 1;
          info.bmiHeader.biBitCount = 24;
          RECT r;
          GetClientRect(hwnd, &r);
          SetStretchBltMode(dc, HALFTONE);
          StretchDIBits(dc, 0, 0, r.right, r.bottom, 0, 0, s.width, s.height, s.picture.data(), &info, DIB_RGB_COLORS,
                        SRCCOPY);
        }
      }
      EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcA(hwnd, message, w, l);
  }
}

// Lines of 24-bit pictures for the screen are padded to four bytes.
std::vector<uint8_t> ScreenPicture(const StreamFormat& f, const std::vector<uint8_t>& frame) {
  const std::vector<uint8_t> bgr = f.bgr24 ? frame : Yuy2ToBgr24(frame, f.width, f.height);
  const size_t line = static_cast<size_t>(f.width) * 3;
  const size_t padded = (line + 3) & ~static_cast<size_t>(3);
  std::vector<uint8_t> out(padded * f.height);
  for (int32_t y = 0; y < f.height; ++y) std::memcpy(&out[y * padded], &bgr[y * line], line);
  return out;
}

HWND CreateHostWindow(const StreamFormat& f, HostWindow* self) {
  WNDCLASSA wc = {};
  wc.lpfnWndProc = HostProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));
  wc.lpszClassName = kClassName;
  RegisterClassA(&wc);
  RECT frame = {0, 0, f.width, f.height};
  AdjustWindowRect(&frame, WS_OVERLAPPEDWINDOW, FALSE);
  return CreateWindowExA(0, kClassName, "qrx_host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, CW_USEDEFAULT, CW_USEDEFAULT,
                         frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr, wc.hInstance, self);
}

// Frames at the frame rate, the input looped, through the plug-in; each
// output is handed to the host window.
void StreamFrames(const WindowRun& run, StreamSession& session, HostWindow& self, const std::atomic<bool>& stop) {
  const auto period = std::chrono::duration<double>(1.0 / run.framesPerSecond);
  auto next = std::chrono::steady_clock::now();
  std::vector<uint8_t> work;
  for (size_t i = 0; !stop.load(); i = (i + 1) % run.frames.size()) {
    work = run.frames[i];
    session.Frame(&work);
    std::vector<uint8_t> picture = ScreenPicture(run.format, work);
    {
      std::lock_guard<std::mutex> lock(self.shared->lock);
      self.shared->picture.swap(picture);
    }
    PostMessageA(self.hwnd, kFrameReady, 0, 0);
    next += std::chrono::duration_cast<std::chrono::steady_clock::duration>(period);
    std::this_thread::sleep_until(next);
  }
}

// The message loop; the settings window gets its keyboard navigation.
void RunMessageLoop(HWND host) {
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    HWND active = GetActiveWindow();
    if (active != nullptr && active != host && IsDialogMessageA(active, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

}  // namespace

bool WindowHostAvailable() { return true; }

int RunWindowHost(PluginModule& plugin, const WindowRun& run) {
  if (run.frames.empty()) return 1;
  Shared shared;
  shared.width = run.format.width;
  shared.height = run.format.height;
  HostWindow self;
  self.shared = &shared;
  self.hwnd = CreateHostWindow(run.format, &self);
  if (self.hwnd == nullptr) {
    std::fprintf(stderr, "qrx_host: cannot create the host window\n");
    return 1;
  }

  StreamSession session(plugin, run.format, run.keyLow, run.keyHigh, run.channelName);
  session.Begin();
  HWND parent = self.hwnd;
  plugin.Descriptor().showDialog(&parent);
  SetTimer(self.hwnd, kWatchTimer, kWatchMs, nullptr);
  if (run.closeAfterSeconds > 0)
    SetTimer(self.hwnd, kCloseTimer, static_cast<UINT>(run.closeAfterSeconds * 1000), nullptr);

  std::atomic<bool> stop{false};
  std::thread frames([&] { StreamFrames(run, session, self, stop); });
  RunMessageLoop(self.hwnd);
  stop = true;
  frames.join();
  session.End();  // Exit closes the settings window if it is still open and saves the settings
  if (IsWindow(self.hwnd)) DestroyWindow(self.hwnd);
  return 0;
}

}  // namespace qrxhost
