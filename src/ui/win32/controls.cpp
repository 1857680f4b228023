// Thin wrappers of the Win32 controls (see controls.h).
#include "ui/win32/controls.h"

#include <vector>

namespace qrx {
namespace ui {
namespace win32 {

HINSTANCE ModuleInstance() {
  static HINSTANCE instance = [] {
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&ModuleInstance), &module);
    return static_cast<HINSTANCE>(module);
  }();
  return instance;
}

std::string Window::Text() const {
  const int length = GetWindowTextLengthA(hwnd_);
  std::vector<char> buffer(static_cast<size_t>(length) + 1);
  GetWindowTextA(hwnd_, buffer.data(), length + 1);
  return buffer.data();
}

RECT Window::WindowRect() const {
  RECT r = {0, 0, 0, 0};
  GetWindowRect(hwnd_, &r);
  return r;
}

RECT Window::ClientRect() const {
  RECT r = {0, 0, 0, 0};
  GetClientRect(hwnd_, &r);
  return r;
}

HWND Dialog::CreateModeless(int templateId, HWND owner) {
  return CreateDialogParamA(ModuleInstance(), MAKEINTRESOURCEA(templateId), owner, &Dialog::Procedure,
                            reinterpret_cast<LPARAM>(this));
}

INT_PTR Dialog::RunModal(int templateId, HWND owner) {
  return DialogBoxParamA(ModuleInstance(), MAKEINTRESOURCEA(templateId), owner, &Dialog::Procedure,
                         reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK Dialog::Procedure(HWND hwnd, UINT message, WPARAM w, LPARAM l) {
  Dialog* self = nullptr;
  if (message == WM_INITDIALOG) {
    self = reinterpret_cast<Dialog*>(l);
    SetWindowLongPtrA(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
    self->hwnd_ = hwnd;
  } else {
    self = reinterpret_cast<Dialog*>(GetWindowLongPtrA(hwnd, DWLP_USER));
  }
  if (self == nullptr) return FALSE;
  INT_PTR result = 0;
  const bool handled = self->OnMessage(message, w, l, &result);
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrA(hwnd, DWLP_USER, 0);
    self->hwnd_ = nullptr;
    self->OnFinalDestroy();
  }
  if (!handled) return FALSE;
  // The initialisation's answer is the return value itself; every other
  // message's result travels in the dialog's message-result slot.
  if (message == WM_INITDIALOG) return result;
  SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, result);
  return TRUE;
}

void ListView::InsertColumn(int index, const char* header, int width, int format) const {
  LVCOLUMNA column = {};
  column.mask = LVCF_FMT | LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
  column.fmt = format;
  column.cx = width;
  column.pszText = const_cast<char*>(header);
  column.iSubItem = index;
  Send(LVM_INSERTCOLUMNA, index, reinterpret_cast<LPARAM>(&column));
}

void ListView::InsertItem(int row, const char* text) const {
  LVITEMA item = {};
  item.mask = LVIF_TEXT;
  item.iItem = row;
  item.pszText = const_cast<char*>(text);
  Send(LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
}

void ListView::SetItemText(int row, int column, const char* text) const {
  LVITEMA item = {};
  item.iSubItem = column;
  item.pszText = const_cast<char*>(text);
  Send(LVM_SETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
}

void ListView::SetItemState(int row, UINT state, UINT mask) const {
  LVITEMA item = {};
  item.state = state;
  item.stateMask = mask;
  Send(LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
}

void UpDown::Range(int* lower, int* upper) const {
  const LRESULT range = Send(UDM_GETRANGE);
  *lower = static_cast<short>(HIWORD(range));
  *upper = static_cast<short>(LOWORD(range));
}

TOOLINFOA MakeToolInfo(HWND owner, UINT flags, UINT_PTR id, const char* text) {
  TOOLINFOA info = {};
  info.cbSize = TTTOOLINFOA_V2_SIZE;
  info.uFlags = flags;
  info.hwnd = owner;
  info.uId = id;
  info.lpszText = const_cast<char*>(text);
  return info;
}

bool ToolTip::Create(HWND owner, DWORD style) {
  hwnd_ = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | style, CW_USEDEFAULT, CW_USEDEFAULT,
                          CW_USEDEFAULT, CW_USEDEFAULT, owner, nullptr, ModuleInstance(), nullptr);
  return hwnd_ != nullptr;
}

}  // namespace win32
}  // namespace ui
}  // namespace qrx
