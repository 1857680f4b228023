// A validated number field: an edit box with its up-down control, checked
// against the up-down's range on Enter and when the box loses the focus. A
// refused value shows an error balloon at the box's lower-right corner; an
// accepted one reaches the parent exactly like a click on the up-down's
// arrow (WM_VSCROLL, SB_THUMBPOSITION, value, the up-down as source).
//
// TrackingTip: a tooltip with the hover tips of controls, or a tip that
// follows a point (the spectrum's frequency readout).
#pragma once

#include "ui/win32/controls.h"

namespace qrx {
namespace ui {
namespace win32 {

class NumericEdit : public Window {
 public:
  NumericEdit() = default;
  ~NumericEdit();
  NumericEdit(const NumericEdit&) = delete;
  NumericEdit& operator=(const NumericEdit&) = delete;

  void Attach(int controlId, HWND parent, HWND spin, int lower, int upper, int maxChars);
  bool Validate();
  void SetValue(int value);
  void SetText(int value);
  void HideBalloon();
  // Forgets the controls (after the window has gone).
  void Release();

  // The balloon, for tests and the dialog: shown while tracking.
  HWND Balloon() const { return balloon_.Handle(); }
  HWND Spin() const { return spin_.Handle(); }

 private:
  static LRESULT CALLBACK SubclassProc(HWND hwnd, UINT message, WPARAM w, LPARAM l, UINT_PTR id, DWORD_PTR data);
  LRESULT OnMessage(UINT message, WPARAM w, LPARAM l);
  void SelectAll() const;

  HWND parent_ = nullptr;
  int controlId_ = 0;
  RECT anchor_ = {0, 0, 0, 0};
  UpDown spin_;
  ToolTip balloon_;
  char balloonText_[96] = {};
  bool attached_ = false;
};

class TrackingTip : public ToolTip {
 public:
  int AddWindowTool(HWND window, const char* text, UINT flags = TTF_IDISHWND | TTF_SUBCLASS);
  void SetToolText(const char* text, HWND window) const;
  void TrackActivate(HWND window, bool show);
  void TrackPosition(int x, int y) const;
  bool Active() const { return active_ != 0; }

 private:
  int active_ = 0;
};

}  // namespace win32
}  // namespace ui
}  // namespace qrx
