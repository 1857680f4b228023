// The settings window bound to its controls (see settings_dialog.h).
#include "ui/win32/settings_dialog.h"

#include <cstdio>
#include <new>

#include "plugin/plugin_state.h"
#include "ui/deferred_canvas.h"
#include "ui/dialog_ids.h"
#include "ui/picture_render.h"
#include "ui/win32/d3d9_canvas.h"

namespace qrx {
namespace ui {
namespace win32 {

namespace {
// The spectrum's tip follows the mouse: id is the window, tracking, absolute.
constexpr UINT kSpectrumTipFlags = TTF_IDISHWND | TTF_TRACK | TTF_ABSOLUTE;
constexpr int kFlashCount = 8;
constexpr DWORD kFlashPauseMs = 60;
constexpr UINT kCloseTimeoutMs = 5000;

constexpr UINT_PTR kTableSubclassId = 0x5110;

bool Clicked(int code) { return code == BN_CLICKED; }

// The one settings window, for the thread-local message hook.
SettingsDialog* g_hookTarget = nullptr;

// The spectrum's axis labels: the window's font, purple, no background.
constexpr COLORREF kLabelColour = RGB(0x60, 0x00, 0x60);

// The table's columns keep their widths: the header's begin-track
// notification is refused, and a double click on a divider does not size a
// column. Caught where the header reports it, at the list control: Wine's
// list control does not pass begin-track on to the dialog as Windows' does.
LRESULT CALLBACK TableProc(HWND hwnd, UINT message, WPARAM w, LPARAM l, UINT_PTR, DWORD_PTR) {
  if (message == WM_NOTIFY) {
    const UINT code = reinterpret_cast<const NMHDR*>(l)->code;
    if (code == HDN_BEGINTRACKA || code == HDN_BEGINTRACKW) return TRUE;
    if (code == HDN_DIVIDERDBLCLICKA || code == HDN_DIVIDERDBLCLICKW) return 0;
  } else if (message == WM_NCDESTROY) {
    RemoveWindowSubclass(hwnd, &TableProc, kTableSubclassId);
  }
  return DefSubclassProc(hwnd, message, w, l);
}
}  // namespace

namespace {
// The about box's picture, loaded once and kept. Set from here rather than
// named in the template: a static control does not always free the image a
// template gives it (Wine's never does), and every about box leaked one.
HBITMAP AboutPicture() {
  static const HBITMAP picture = LoadBitmapA(ModuleInstance(), MAKEINTRESOURCEA(IDB_ABOUT));
  return picture;
}
}  // namespace

bool AboutDialog::OnMessage(UINT message, WPARAM w, LPARAM, INT_PTR* result) {
  if (message == WM_INITDIALOG) {
    SendDlgItemMessageA(hwnd_, IDC_ABOUT_PICTURE, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(AboutPicture()));
    *result = TRUE;
    return true;
  }
  if (message == WM_DESTROY) {
    // The picture stays ours: the control must not free it with itself.
    SendDlgItemMessageA(hwnd_, IDC_ABOUT_PICTURE, STM_SETIMAGE, IMAGE_BITMAP, 0);
    return false;
  }
  if (message == WM_COMMAND && (LOWORD(w) == IDOK || LOWORD(w) == IDCANCEL)) {
    EndDialog(hwnd_, LOWORD(w));
    return true;
  }
  return false;
}

SettingsDialog::SettingsDialog() : model_(State(), *this) {}

SettingsDialog::~SettingsDialog() = default;

// ---------------------------------------------------------------- hooks

void SettingsDialog::PostChannelChanged() {
  const HWND w = window_.load();
  if (w != nullptr) PostMessageA(w, MSG_DIALOG_UPDATE, static_cast<WPARAM>(UpdateCode::kChannelChanged), 0);
}

void SettingsDialog::Open(void* parentWindow) {
  if (hwnd_ != nullptr) return;
  INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);
  parentWnd_.Attach(parentWindow != nullptr ? *static_cast<HWND*>(parentWindow) : nullptr);
  if (CreateModeless(IDD_SETTINGS, parentWnd_.Handle()) == nullptr) {
    parentWnd_.Detach();
    return;
  }
  ShowWindow(hwnd_, SW_SHOWNORMAL);
}

void SettingsDialog::Focus() {
  if (hwnd_ == nullptr) return;
  SetFocus(hwnd_);
  for (int i = 0; i < kFlashCount; ++i) {
    FlashWindow(hwnd_, TRUE);
    Sleep(kFlashPauseMs);
  }
}

void SettingsDialog::Close() {
  const HWND w = window_.load();
  if (w == nullptr) return;
  // A window can only be destroyed by its own thread; a host that exits from
  // another one gets the close request carried over to it.
  if (GetWindowThreadProcessId(w, nullptr) == GetCurrentThreadId()) {
    DestroyWindow(w);
  } else {
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(w, WM_CLOSE, 0, 0, SMTO_NORMAL, kCloseTimeoutMs, &ignored);
  }
}

// ---------------------------------------------------------------- messages

bool SettingsDialog::OnMessage(UINT message, WPARAM w, LPARAM l, INT_PTR* result) {
  switch (message) {
    case WM_INITDIALOG:
      *result = OnInitDialog() ? TRUE : FALSE;
      return true;
    case MSG_DIALOG_UPDATE:
      model_.OnUpdate(static_cast<UpdateCode>(w), reinterpret_cast<const char*>(l));
      // A new stream or channel may bring another frequency scale.
      if (static_cast<UpdateCode>(w) == UpdateCode::kChannelChanged) InvalidateRect(hwnd_, nullptr, TRUE);
      *result = 1;
      return true;
    case WM_PAINT:
      PaintAxisLabels();
      return true;
    case WM_COMMAND:
      return OnCommand(LOWORD(w), HIWORD(w));
    case WM_NOTIFY:
      return OnNotify(reinterpret_cast<const NMHDR*>(l), result);
    case WM_VSCROLL:
      // The up-down arrows and the numeric edits' commits; the other scroll
      // codes go on to the default handling.
      if (LOWORD(w) != SB_THUMBPOSITION || l == 0) return false;
      model_.OnValueChange(GetDlgCtrlID(reinterpret_cast<HWND>(l)), static_cast<short>(HIWORD(w)));
      return true;
    case DM_GETDEFID:
      // Enter outside an edit box asks for the default command: the dialog's
      // own accept command, which is ignored, not "Закрыть".
      *result = MAKELRESULT(IDOK, DC_HASDEFID);
      return true;
    case WM_CLOSE:
      DestroyWindow(hwnd_);
      return true;
    case WM_DESTROY:
      OnDestroy();
      return true;
    default:
      return false;
  }
}

bool SettingsDialog::OnInitDialog() {
  window_.store(hwnd_);
  table_.Attach(Item(IDC_TABLE));
  shapeBox_.Attach(Item(IDC_SHAPE));
  fftLengthBox_.Attach(Item(IDC_FFT_LENGTH));
  Place();
  CreateSpectrumView();
  SetUpTable();
  for (const char* name : kShapeNames) shapeBox_.AddString(name);
  for (const char* item : kFftLengthItems) fftLengthBox_.AddString(item);
  for (int i = 0; i < kEditorCount; ++i) {
    const EditorInfo& e = kEditors[i];
    editors_[i].Attach(e.editId, hwnd_, Item(e.spinId), e.minimum, e.maximum, e.maxChars);
  }
  model_.Open();
  SetUpTips();
  arrowCursor_ = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
  hoverCursor_ = LoadCursorA(ModuleInstance(), MAKEINTRESOURCEA(IDC_CURSOR_HOVER));
  pickCursor_ = LoadCursorA(ModuleInstance(), MAKEINTRESOURCEA(IDC_CURSOR_PICK));
  // Shortcuts and the mouse on the spectrum, for every message this thread
  // takes from its queue; without the hook the window works without them.
  g_hookTarget = this;
  messageHook_ = SetWindowsHookExA(WH_GETMESSAGE, &SettingsDialog::DialogMessageHook, nullptr, GetCurrentThreadId());
  Post(MSG_DIALOG_UPDATE, static_cast<WPARAM>(UpdateCode::kChannelChanged), 0);
  return true;
}

void SettingsDialog::Place() {
  int32_t x = 0, y = 0;
  {
    PluginState& s = State();
    platform::ScopedLock lock(s.pluginLock);
    s.settings.GetDialogPos(&x, &y);
  }
  const int screenWidth = GetSystemMetrics(SM_CXSCREEN);
  const int screenHeight = GetSystemMetrics(SM_CYSCREEN);
  RECT host = {0, 0, screenWidth, screenHeight};  // no host window: the screen
  if (parentWnd_) GetWindowRect(parentWnd_.Handle(), &host);
  const RECT dialog = WindowRect();
  const Point p = PlaceDialog(x, y, screenWidth, screenHeight, Rect{host.left, host.top, host.right, host.bottom},
                              Rect{dialog.left, dialog.top, dialog.right, dialog.bottom});
  SetWindowPos(hwnd_, nullptr, p.x, p.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void SettingsDialog::CreateSpectrumView() {
  spectrum_ = Item(IDC_SPECTRUM);
  RECT client;
  GetClientRect(spectrum_, &client);
  RECT inOwner = client;
  MapWindowPoints(spectrum_, hwnd_, reinterpret_cast<POINT*>(&inOwner), 2);
  // A view that cannot be allocated stays null: the window works without it.
  // Under Wine the device is a software renderer, slower than a frame lasts
  // for the 3-D view: the frames hand their drawing to a thread of its own.
  const bool wine = D3d9Canvas::RunningOnWine();
  std::unique_ptr<PictureCanvas> canvas(new (std::nothrow) D3d9Canvas(spectrum_, wine, D3d9Canvas::OpenDirect3D()));
  if (canvas != nullptr && wine) canvas.reset(new (std::nothrow) DeferredCanvas(std::move(canvas)));
  std::unique_ptr<PictureView> view;
  if (canvas != nullptr)
    view.reset(new (std::nothrow) PictureView(std::move(canvas), client.right, client.bottom,
                                              Rect{inOwner.left, inOwner.top, inOwner.right, inOwner.bottom}));
  {
    PluginState& s = State();
    platform::ScopedLock lock(s.pluginLock);
    spectrumView_ = std::move(view);
  }
  model_.SetSpectrumView(spectrumView_.get());
}

void SettingsDialog::RenderSpectrum() { RenderPicture(*spectrumView_, State(), model_.SelectedIndex()); }

void SettingsDialog::FrameDone() {
  if (spectrumView_ != nullptr) spectrumView_->Canvas().FrameDone();
}

void SettingsDialog::PaintAxisLabels() {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd_, &ps);
  const PluginState& s = State();
  const int32_t R = s.engineRowRateKHz.load(), V = s.engineColRateKHz.load();
  // No engine, no frequency scale: no labels.
  if (spectrumView_ != nullptr && R > 0 && V > 0) {
    HGDIOBJ oldFont = SelectObject(dc, reinterpret_cast<HGDIOBJ>(Send(WM_GETFONT)));
    SetTextColor(dc, kLabelColour);
    SetBkMode(dc, TRANSPARENT);
    const auto measure = [dc](const std::string& text, int32_t* width, int32_t* height) {
      SIZE size = {0, 0};
      GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &size);
      *width = size.cx;
      *height = size.cy;
    };
    for (const AxisLabel& label : LayOutAxisLabels(spectrumView_->InOwner(), R, V, measure))
      TextOutA(dc, label.x, label.y, label.text.c_str(), static_cast<int>(label.text.size()));
    SelectObject(dc, oldFont);
  }
  EndPaint(hwnd_, &ps);
}

LRESULT CALLBACK SettingsDialog::DialogMessageHook(int code, WPARAM removal, LPARAM message) {
  // Only messages taken off the queue count: one that is only looked at may
  // be seen again, and the shortcuts and clicks toggle and add.
  SettingsDialog* self = g_hookTarget;
  if (code == HC_ACTION && removal == PM_REMOVE && self != nullptr && self->hwnd_ != nullptr) {
    const MSG* msg = reinterpret_cast<const MSG*>(message);
    InputMessage m;
    switch (msg->message) {
      case WM_KEYDOWN:
        m.kind = InputMessage::kKeyDown;
        break;
      case WM_KEYUP:
        m.kind = InputMessage::kKeyUp;
        break;
      case WM_MOUSEMOVE:
        m.kind = InputMessage::kMouseMove;
        break;
      case WM_LBUTTONDOWN:
        m.kind = InputMessage::kLeftDown;
        break;
      case WM_LBUTTONUP:
        m.kind = InputMessage::kLeftUp;
        break;
      default:
        break;
    }
    if (m.kind != InputMessage::kOther) {
      m.onSpectrum = msg->hwnd != nullptr && msg->hwnd == self->spectrum_;
      m.key = static_cast<uint32_t>(msg->wParam);
      m.extended = (msg->lParam & (1 << 24)) != 0;
      m.x = static_cast<short>(LOWORD(msg->lParam));
      m.y = static_cast<short>(HIWORD(msg->lParam));
      m.packed = static_cast<uint32_t>(msg->lParam);
      self->model_.InspectMessage(m);
    }
  }
  return CallNextHookEx(nullptr, code, removal, message);
}

void SettingsDialog::SetUpTable() {
  // The image list holds no images: it only gives the rows their height.
  HDC dc = GetDC(hwnd_);
  const int pixelsPerInch = GetDeviceCaps(dc, LOGPIXELSY);
  ReleaseDC(hwnd_, dc);
  rowHeightImages_ = ImageList_Create(1, pixelsPerInch / 6, ILC_COLOR, 1, 1);
  table_.SetImageList(rowHeightImages_, LVSIL_SMALL);
  table_.SetExtendedStyle(LVS_EX_GRIDLINES | LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
  SetWindowSubclass(table_.Handle(), &TableProc, kTableSubclassId, 0);
  int32_t widths[kColumnCount];
  ColumnWidths(table_.ClientRect().right - GetSystemMetrics(SM_CXVSCROLL), widths);
  for (int i = 0; i < kColumnCount; ++i) table_.InsertColumn(i, kColumnHeaders[i], widths[i], LVCFMT_CENTER);
}

void SettingsDialog::SetUpTips() {
  if (fieldTips_.Create(hwnd_, TTS_ALWAYSTIP)) {
    for (const EditorInfo& e : kEditors) fieldTips_.AddWindowTool(Item(e.editId), e.hint);
    fieldTips_.AddWindowTool(Item(IDC_SHAPE), text::kShapeHint);
    fieldTips_.Activate(true);
  }
  if (spectrumTip_.Create(hwnd_, TTS_ALWAYSTIP)) {
    spectrumTip_.AddWindowTool(Item(IDC_SPECTRUM), " ", kSpectrumTipFlags);
    spectrumTip_.Activate(true);
  }
}

bool SettingsDialog::OnCommand(int id, int code) {
  switch (id) {
    case IDOK:
    case IDCANCEL:
      return true;  // Enter and Esc never close the window
    case IDC_CLOSE:
      if (Clicked(code)) Post(WM_CLOSE);
      return true;
    case IDC_ABOUT:
      if (Clicked(code)) aboutBox_.RunModal(IDD_ABOUT, hwnd_);
      return true;
    case IDC_ADD:
      if (Clicked(code)) model_.OnAdd();
      return true;
    case IDC_REMOVE:
      if (Clicked(code)) model_.OnRemove();
      return true;
    case IDC_PROC_ENABLE:
      if (Clicked(code)) model_.OnProcEnable(IsDlgButtonChecked(hwnd_, IDC_PROC_ENABLE) == BST_CHECKED);
      return true;
    case IDC_DEMO:
      if (Clicked(code)) model_.OnDemo(IsDlgButtonChecked(hwnd_, IDC_DEMO) == BST_CHECKED);
      return true;
    case IDC_FFT_LENGTH:
      if (code == CBN_SELCHANGE) model_.OnFftLengthChange(fftLengthBox_.CurSel());
      return true;
    case IDC_SHAPE:
      if (code == CBN_SELCHANGE) model_.OnShapeChange(shapeBox_.CurSel());
      return true;
    default:
      return false;
  }
}

bool SettingsDialog::OnNotify(const NMHDR* header, INT_PTR* result) {
  if (header == nullptr) return false;
  if (header->idFrom != IDC_TABLE) return false;
  if (header->code == LVN_ITEMCHANGED) {
    const NMLISTVIEW* change = reinterpret_cast<const NMLISTVIEW*>(header);
    if ((change->uChanged & LVIF_STATE) != 0) model_.OnItemChanged(change->iItem, change->uNewState, change->uOldState);
    *result = 0;
    return true;
  }
  if (header->code == NM_DBLCLK) {
    const NMITEMACTIVATE* click = reinterpret_cast<const NMITEMACTIVATE*>(header);
    model_.OnTableDoubleClick(click->iItem, click->iSubItem);
    *result = 0;
    return true;
  }
  return false;
}

void SettingsDialog::OnDestroy() {
  // A drag in progress and the readout's tracking end with the window.
  model_.Close();
  {
    PluginState& s = State();
    platform::ScopedLock lock(s.pluginLock);
    spectrumView_.reset();
  }
  model_.SetSpectrumView(nullptr);
  if (messageHook_ != nullptr) UnhookWindowsHookEx(messageHook_);
  messageHook_ = nullptr;
  g_hookTarget = nullptr;
  const RECT r = WindowRect();
  {
    PluginState& s = State();
    platform::ScopedLock lock(s.pluginLock);
    s.settings.SetDialogPos(r.left, r.top);
  }
  // The list would destroy its image list itself; it is released here once.
  table_.SetImageList(nullptr, LVSIL_SMALL);
  if (rowHeightImages_ != nullptr) ImageList_Destroy(rowHeightImages_);
  rowHeightImages_ = nullptr;
}

void SettingsDialog::OnFinalDestroy() {
  window_.store(nullptr);
  parentWnd_.Detach();
  table_.Detach();
  shapeBox_.Detach();
  fftLengthBox_.Detach();
  for (NumericEdit& e : editors_) e.Release();
  spectrum_ = nullptr;
  // The tips went with the window (they are owned by it).
  fieldTips_ = TrackingTip();
  spectrumTip_ = TrackingTip();
}

// ---------------------------------------------------------------- screen

void SettingsDialog::DeleteAllRows() { table_.DeleteAllItems(); }

void SettingsDialog::InsertRow(int row, const std::string& text) { table_.InsertItem(row, text.c_str()); }

void SettingsDialog::SetCell(int row, int column, const std::string& text) {
  table_.SetItemText(row, column, text.c_str());
}

void SettingsDialog::SetRowChecked(int row, bool checked) { table_.SetCheck(row, checked); }

void SettingsDialog::SelectRow(int row) {
  table_.SetItemState(row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
}

void SettingsDialog::EnsureRowVisible(int row) { table_.EnsureVisible(row); }

void SettingsDialog::SetEditorValue(int field, int32_t value) { editors_[field].SetValue(value); }

void SettingsDialog::SetEditorText(int field, int32_t value) { editors_[field].SetText(value); }

void SettingsDialog::ClearEditorText(int field) { editors_[field].Window::SetText(""); }

void SettingsDialog::FocusEditor(int field) {
  const NumericEdit& e = editors_[field];
  SetFocus(e.Handle());
  e.Send(EM_SETSEL, 0, 65535);
  e.Send(EM_SCROLLCARET);
}

void SettingsDialog::SelectItem(int comboId, int item) { ComboBox(Item(comboId)).SetCurSel(item); }

void SettingsDialog::SetChecked(int id, bool checked) {
  CheckDlgButton(hwnd_, id, checked ? BST_CHECKED : BST_UNCHECKED);
}

void SettingsDialog::SetControlText(int id, const char* text) { SetDlgItemTextA(hwnd_, id, text); }

void SettingsDialog::EnableControl(int id, bool enabled) { EnableWindow(Item(id), enabled ? TRUE : FALSE); }

void SettingsDialog::FocusControl(int id) { SetFocus(Item(id)); }

void SettingsDialog::SetCaption(const char* text) { SetWindowTextA(hwnd_, text); }

void SettingsDialog::PostUpdate(UpdateCode code) { Post(MSG_DIALOG_UPDATE, static_cast<WPARAM>(code), 0); }

void SettingsDialog::RedrawAll() {
  RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

void SettingsDialog::RebuildEngines() { qrx::RebuildEngines(); }

void SettingsDialog::HandOff() { HandOffFilters(State()); }

void SettingsDialog::SetSpectrumCursor(CursorKind cursor) {
  HCURSOR c = cursor == CursorKind::kPick ? pickCursor_ : (cursor == CursorKind::kHover ? hoverCursor_ : arrowCursor_);
  SetCursor(c);
  // The control's class too, so that it keeps the cursor while the mouse moves.
  SetClassLongPtrA(spectrum_, GCLP_HCURSOR, reinterpret_cast<LONG_PTR>(c));
}

void SettingsDialog::ShowPointer(bool show) { ShowCursor(show ? TRUE : FALSE); }

void SettingsDialog::CaptureMouse(bool capture) {
  if (capture)
    SetCapture(spectrum_);
  else if (GetCapture() == spectrum_)
    ReleaseCapture();
}

void SettingsDialog::TrackReadout(bool on) { spectrumTip_.TrackActivate(spectrum_, on); }

void SettingsDialog::ShowReadout(const char* text, int32_t screenX, int32_t screenY) {
  spectrumTip_.SetToolText(text, spectrum_);
  spectrumTip_.TrackPosition(screenX, screenY);
}

Point SettingsDialog::SpectrumToScreen(int32_t x, int32_t y) {
  POINT p = {x, y};
  ClientToScreen(spectrum_, &p);
  return Point{p.x, p.y};
}

}  // namespace win32
}  // namespace ui
}  // namespace qrx
