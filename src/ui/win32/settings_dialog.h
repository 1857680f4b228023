// The settings window: the modeless dialog from template 5000 that binds the
// window model to real controls, and the plug-in's window hooks (open,
// focus, close, the frame thread's channel notification).
#pragma once

#include <atomic>
#include <memory>

#include "plugin/window_hooks.h"
#include "ui/picture_view.h"
#include "ui/settings_model.h"
#include "ui/win32/controls.h"
#include "ui/win32/numeric_edit.h"

namespace qrx {
namespace ui {
namespace win32 {

class AboutDialog : public Dialog {
 protected:
  bool OnMessage(UINT message, WPARAM w, LPARAM l, INT_PTR* result) override;
};

class SettingsDialog : public Dialog, public DialogScreen, public WindowHooks {
 public:
  SettingsDialog();
  ~SettingsDialog() override;

  // WindowHooks: the frame thread asks IsOpen and posts the channel change;
  // the user-interface thread opens, focuses and closes the window.
  bool IsOpen() const override { return window_.load() != nullptr; }
  void PostChannelChanged() override;
  bool HasSpectrumView() const override { return spectrumView_ != nullptr; }
  void RenderSpectrum() override;
  void FrameDone() override;
  void Open(void* parentWindow) override;
  void Focus() override;
  void Close() override;

  // DialogScreen.
  void DeleteAllRows() override;
  void InsertRow(int row, const std::string& text) override;
  void SetCell(int row, int column, const std::string& text) override;
  void SetRowChecked(int row, bool checked) override;
  void SelectRow(int row) override;
  void EnsureRowVisible(int row) override;
  void SetEditorValue(int field, int32_t value) override;
  void SetEditorText(int field, int32_t value) override;
  void ClearEditorText(int field) override;
  void FocusEditor(int field) override;
  void SelectItem(int comboId, int item) override;
  void SetChecked(int id, bool checked) override;
  void SetControlText(int id, const char* text) override;
  void EnableControl(int id, bool enabled) override;
  void FocusControl(int id) override;
  void SetCaption(const char* text) override;
  void PostUpdate(UpdateCode code) override;
  void RedrawAll() override;
  void RebuildEngines() override;
  void HandOff() override;
  void SetSpectrumCursor(CursorKind cursor) override;
  void ShowPointer(bool show) override;
  void CaptureMouse(bool capture) override;
  void TrackReadout(bool on) override;
  void ShowReadout(const char* text, int32_t screenX, int32_t screenY) override;
  Point SpectrumToScreen(int32_t x, int32_t y) override;

 protected:
  bool OnMessage(UINT message, WPARAM w, LPARAM l, INT_PTR* result) override;
  void OnFinalDestroy() override;

 private:
  bool OnInitDialog();
  bool OnCommand(int id, int code);
  bool OnNotify(const NMHDR* header, INT_PTR* result);
  void OnDestroy();
  void Place();
  void SetUpTable();
  void SetUpTips();
  void CreateSpectrumView();
  void PaintAxisLabels();
  static LRESULT CALLBACK DialogMessageHook(int code, WPARAM removal, LPARAM message);

  SettingsModel model_;
  Window parentWnd_;
  AboutDialog aboutBox_;
  HIMAGELIST rowHeightImages_ = nullptr;
  TrackingTip spectrumTip_;
  TrackingTip fieldTips_;
  NumericEdit editors_[kEditorCount];
  ListView table_;
  ComboBox shapeBox_;
  ComboBox fftLengthBox_;
  HCURSOR arrowCursor_ = nullptr;
  HCURSOR hoverCursor_ = nullptr;
  HCURSOR pickCursor_ = nullptr;
  HHOOK messageHook_ = nullptr;
  HWND spectrum_ = nullptr;
  // Created and deleted under pluginLock; the frame thread draws through it.
  std::unique_ptr<PictureView> spectrumView_;
  // The window handle as the frame thread sees it: non-null while open.
  std::atomic<HWND> window_{nullptr};
};

}  // namespace win32
}  // namespace ui
}  // namespace qrx
