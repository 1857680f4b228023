// Thin wrappers of the Win32 controls the settings window uses: a window
// handle with the calls made on it, a dialog base with its trampoline, and
// the list view, combo box, up-down and tooltip messages by name.
#pragma once

// windows.h first, in a block of its own: the other system headers need it.
#include <windows.h>

#include <commctrl.h>

#include <string>

namespace qrx {
namespace ui {
namespace win32 {

// The module that holds the resources (this DLL, not the host).
HINSTANCE ModuleInstance();

class Window {
 public:
  Window() = default;
  explicit Window(HWND hwnd) : hwnd_(hwnd) {}
  HWND Handle() const { return hwnd_; }
  void Attach(HWND hwnd) { hwnd_ = hwnd; }
  void Detach() { hwnd_ = nullptr; }
  explicit operator bool() const { return hwnd_ != nullptr; }

  LRESULT Send(UINT message, WPARAM w = 0, LPARAM l = 0) const { return SendMessageA(hwnd_, message, w, l); }
  bool Post(UINT message, WPARAM w = 0, LPARAM l = 0) const { return PostMessageA(hwnd_, message, w, l) != 0; }
  HWND Item(int id) const { return GetDlgItem(hwnd_, id); }
  void SetText(const char* text) const { SetWindowTextA(hwnd_, text); }
  std::string Text() const;
  void Enable(bool enabled) const { EnableWindow(hwnd_, enabled ? TRUE : FALSE); }
  RECT WindowRect() const;
  RECT ClientRect() const;

 protected:
  HWND hwnd_ = nullptr;
};

// A dialog from a template. The static procedure keeps `this` in the
// window's user data and hands every message to OnMessage, which returns
// true when it handled the message (result in *result).
class Dialog : public Window {
 public:
  virtual ~Dialog() = default;
  HWND CreateModeless(int templateId, HWND owner);
  INT_PTR RunModal(int templateId, HWND owner);

 protected:
  virtual bool OnMessage(UINT message, WPARAM w, LPARAM l, INT_PTR* result) = 0;
  // Called after the window has gone (WM_NCDESTROY); the handle is null.
  virtual void OnFinalDestroy() {}

 private:
  static INT_PTR CALLBACK Procedure(HWND hwnd, UINT message, WPARAM w, LPARAM l);
};

class ListView : public Window {
 public:
  using Window::Window;
  void SetExtendedStyle(DWORD style) const { Send(LVM_SETEXTENDEDLISTVIEWSTYLE, style, style); }
  void InsertColumn(int index, const char* header, int width, int format) const;
  void SetColumnWidth(int index, int width) const { Send(LVM_SETCOLUMNWIDTH, index, width); }
  void DeleteAllItems() const { Send(LVM_DELETEALLITEMS); }
  void InsertItem(int row, const char* text) const;
  void SetItemText(int row, int column, const char* text) const;
  void SetItemState(int row, UINT state, UINT mask) const;
  void SetCheck(int row, bool checked) const { SetItemState(row, INDEXTOSTATEIMAGEMASK(checked ? 2 : 1), LVIS_STATEIMAGEMASK); }
  void EnsureVisible(int row) const { Send(LVM_ENSUREVISIBLE, row, FALSE); }
  HIMAGELIST SetImageList(HIMAGELIST list, int kind) const {
    return reinterpret_cast<HIMAGELIST>(Send(LVM_SETIMAGELIST, kind, reinterpret_cast<LPARAM>(list)));
  }
};

class ComboBox : public Window {
 public:
  using Window::Window;
  void AddString(const char* text) const { Send(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text)); }
  void SetCurSel(int item) const { Send(CB_SETCURSEL, static_cast<WPARAM>(item)); }
  int CurSel() const { return static_cast<int>(Send(CB_GETCURSEL)); }
};

class UpDown : public Window {
 public:
  using Window::Window;
  void SetBuddy(HWND buddy) const { Send(UDM_SETBUDDY, reinterpret_cast<WPARAM>(buddy)); }
  void SetRange(int lower, int upper) const { Send(UDM_SETRANGE, 0, MAKELPARAM(upper, lower)); }
  void Range(int* lower, int* upper) const;
  void SetPos(int position) const { Send(UDM_SETPOS, 0, MAKELPARAM(position & 0xFFFF, 0)); }
  int Pos() const { return static_cast<short>(LOWORD(Send(UDM_GETPOS))); }
};

// The tool description every tooltip call fills. The size leaves out the
// newest field, so that older common-controls libraries accept it too.
TOOLINFOA MakeToolInfo(HWND owner, UINT flags, UINT_PTR id, const char* text);

class ToolTip : public Window {
 public:
  using Window::Window;
  // A tooltip owned by `owner`, always on top.
  bool Create(HWND owner, DWORD style);
  bool AddTool(TOOLINFOA* info) const { return Send(TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(info)) != 0; }
  void Activate(bool on) const { Send(TTM_ACTIVATE, on ? TRUE : FALSE); }
};

}  // namespace win32
}  // namespace ui
}  // namespace qrx
