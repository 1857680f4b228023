// NumericEdit and TrackingTip (see numeric_edit.h).
#include "ui/win32/numeric_edit.h"

#include <cstdio>

#include "ui/dialog_rules.h"

namespace qrx {
namespace ui {
namespace win32 {

namespace {
constexpr UINT_PTR kSubclassId = 0x5100;
constexpr UINT_PTR kMoveTimer = 1;      // hides the balloon when the box moved
constexpr UINT_PTR kLifetimeTimer = 2;  // hides it after 4 seconds
constexpr UINT kMoveCheckMs = 50;
constexpr UINT kLifetimeMs = 4000;
constexpr DWORD kBalloonStyle = TTS_ALWAYSTIP | TTS_BALLOON;
constexpr UINT kTrackingFlags = TTF_IDISHWND | TTF_TRACK | TTF_ABSOLUTE;
constexpr WPARAM kErrorIcon = 3;  // TTI_ERROR
}  // namespace

NumericEdit::~NumericEdit() { Release(); }

void NumericEdit::Release() {
  if (attached_ && IsWindow(hwnd_)) RemoveWindowSubclass(hwnd_, &NumericEdit::SubclassProc, kSubclassId);
  attached_ = false;
  hwnd_ = nullptr;
  spin_.Detach();
  balloon_.Detach();
}

void NumericEdit::Attach(int controlId, HWND parent, HWND spin, int lower, int upper, int maxChars) {
  parent_ = parent;
  controlId_ = controlId;
  hwnd_ = GetDlgItem(parent, controlId);
  spin_.Attach(spin);
  attached_ = SetWindowSubclass(hwnd_, &NumericEdit::SubclassProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this));
  spin_.SetBuddy(hwnd_);
  spin_.SetRange(lower, upper);
  Send(EM_LIMITTEXT, static_cast<WPARAM>(maxChars));
  if (balloon_.Create(parent, kBalloonStyle)) {
    TOOLINFOA tool = MakeToolInfo(nullptr, kTrackingFlags, 0, "");
    balloon_.AddTool(&tool);
    balloon_.Send(TTM_SETTITLEA, kErrorIcon, reinterpret_cast<LPARAM>(text::kErrorTitle));
  }
}

bool NumericEdit::Validate() {
  int32_t value = 0;
  int lower = 0, upper = 0;
  spin_.Range(&lower, &upper);
  // One number rule on every system (Windows' and Wine's own readers differ
  // on trailing characters and at the 32-bit limits).
  if (AcceptTypedValue(Text().c_str(), lower, upper, &value)) {
    spin_.SetPos(value);
    SendMessageA(parent_, WM_VSCROLL, MAKEWPARAM(SB_THUMBPOSITION, value & 0xFFFF),
                 reinterpret_cast<LPARAM>(spin_.Handle()));
    return true;
  }
  std::snprintf(balloonText_, sizeof(balloonText_), text::kRangeMessage, lower, upper);
  anchor_ = WindowRect();
  TOOLINFOA tool = MakeToolInfo(nullptr, kTrackingFlags, 0, balloonText_);
  balloon_.Send(TTM_UPDATETIPTEXTA, 0, reinterpret_cast<LPARAM>(&tool));
  balloon_.Send(TTM_TRACKPOSITION, 0, MAKELPARAM(anchor_.right, anchor_.bottom));
  balloon_.Send(TTM_TRACKACTIVATE, TRUE, reinterpret_cast<LPARAM>(&tool));
  SetTimer(hwnd_, kMoveTimer, kMoveCheckMs, nullptr);
  SetTimer(hwnd_, kLifetimeTimer, kLifetimeMs, nullptr);
  return false;
}

void NumericEdit::HideBalloon() {
  KillTimer(hwnd_, kMoveTimer);
  KillTimer(hwnd_, kLifetimeTimer);
  if (!balloon_) return;
  ShowWindow(balloon_.Handle(), SW_HIDE);
  TOOLINFOA tool = MakeToolInfo(nullptr, kTrackingFlags, 0, nullptr);
  balloon_.Send(TTM_TRACKACTIVATE, FALSE, reinterpret_cast<LPARAM>(&tool));
}

void NumericEdit::SetValue(int value) {
  spin_.SetPos(value);
  SetText(value);
}

void NumericEdit::SetText(int value) {
  char text[16];
  std::snprintf(text, sizeof(text), "%d", value);
  Window::SetText(text);
}

void NumericEdit::SelectAll() const {
  Send(EM_SETSEL, 0, -1);
  Send(EM_SCROLLCARET);
}

LRESULT CALLBACK NumericEdit::SubclassProc(HWND hwnd, UINT message, WPARAM w, LPARAM l, UINT_PTR, DWORD_PTR data) {
  NumericEdit* self = reinterpret_cast<NumericEdit*>(data);
  if (message == WM_NCDESTROY) {
    RemoveWindowSubclass(hwnd, &NumericEdit::SubclassProc, kSubclassId);
    self->attached_ = false;
    return DefSubclassProc(hwnd, message, w, l);
  }
  return self->OnMessage(message, w, l);
}

LRESULT NumericEdit::OnMessage(UINT message, WPARAM w, LPARAM l) {
  switch (message) {
    case WM_GETDLGCODE: {
      // Enter and Escape belong to the box, also when the host's message
      // loop runs the dialog manager (which would turn them into the
      // dialog's default commands).
      const LRESULT code = DefSubclassProc(hwnd_, message, w, l);
      const MSG* msg = reinterpret_cast<const MSG*>(l);
      if (msg != nullptr && (msg->message == WM_KEYDOWN || msg->message == WM_CHAR) &&
          (msg->wParam == VK_RETURN || msg->wParam == VK_ESCAPE))
        return code | DLGC_WANTMESSAGE;
      return code;
    }
    case WM_CHAR:
      if (w == VK_RETURN || w == VK_ESCAPE) return 0;  // never inserted, no beep
      break;
    case WM_KEYDOWN:
      if (w == VK_RETURN) {
        Validate();
        SelectAll();
        return 0;
      }
      if (w == VK_ESCAPE) {
        SetText(spin_.Pos());
        HideBalloon();
        return 0;
      }
      break;
    case WM_KILLFOCUS: {
      const LRESULT result = DefSubclassProc(hwnd_, message, w, l);
      // A box disabled while it had the focus (its filter went away) has
      // nothing to commit.
      if (!IsWindowEnabled(hwnd_)) return result;
      const HWND next = reinterpret_cast<HWND>(w);
      // Only a focus that stays in the window is taken back; a focus that
      // leaves for another program or a window going away is left alone.
      const bool withinWindow = next != nullptr && (next == parent_ || IsChild(parent_, next));
      if (!Validate() && withinWindow && IsWindowVisible(parent_)) {
        SetFocus(hwnd_);
        SelectAll();
      }
      if (next != nullptr && next == balloon_.Handle()) HideBalloon();
      return result;
    }
    case WM_ENABLE:
      spin_.Enable(w != FALSE);
      break;
    case WM_TIMER:
      if (w == kMoveTimer) {
        const RECT now = WindowRect();
        if (!EqualRect(&now, &anchor_)) HideBalloon();
        return 0;
      }
      if (w == kLifetimeTimer) {
        HideBalloon();
        return 0;
      }
      break;
    default:
      break;
  }
  return DefSubclassProc(hwnd_, message, w, l);
}

int TrackingTip::AddWindowTool(HWND window, const char* text, UINT flags) {
  TOOLINFOA tool = MakeToolInfo(window, flags, reinterpret_cast<UINT_PTR>(window), text);
  return static_cast<int>(Send(TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool)));
}

void TrackingTip::SetToolText(const char* text, HWND window) const {
  TOOLINFOA tool = MakeToolInfo(window, TTF_IDISHWND, reinterpret_cast<UINT_PTR>(window), text);
  Send(TTM_UPDATETIPTEXTA, 0, reinterpret_cast<LPARAM>(&tool));
}

void TrackingTip::TrackActivate(HWND window, bool show) {
  if (show == (active_ != 0)) return;
  active_ = show ? 1 : 0;
  TOOLINFOA tool = MakeToolInfo(window, TTF_IDISHWND, reinterpret_cast<UINT_PTR>(window), nullptr);
  Send(TTM_TRACKACTIVATE, show ? TRUE : FALSE, reinterpret_cast<LPARAM>(&tool));
}

void TrackingTip::TrackPosition(int x, int y) const {
  if (active_ != 0) Send(TTM_TRACKPOSITION, 0, MAKELPARAM(x & 0xFFFF, y & 0xFFFF));
}

}  // namespace win32
}  // namespace ui
}  // namespace qrx
