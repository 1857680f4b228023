// The settings window's behaviour without the window: what each handler does
// to the filter list, the selection, pick mode and the plug-in's state, and
// what it asks of the screen. The Win32 dialog binds it to real controls;
// tests drive it with a recording screen.
//
// Threads: everything here runs on the user-interface thread. The frame
// thread reads the list under pluginLock and replaces it on a channel change,
// so every change of the list (and every read the window acts on) happens
// under pluginLock; the lock is never held while the screen is called.
#pragma once

#include <atomic>
#include <cstdint>

#include "ui/dialog_rules.h"
#include "ui/picture_geometry.h"

namespace qrx {

struct PluginState;

namespace ui {

class PictureView;

// A message of the user-interface thread as the shortcuts and the spectrum's
// mouse work see it.
struct InputMessage {
  enum Kind { kOther, kKeyDown, kKeyUp, kMouseMove, kLeftDown, kLeftUp };
  Kind kind = kOther;
  bool onSpectrum = false;  // the target is the spectrum control
  uint32_t key = 0;         // virtual key of a key message
  bool extended = false;    // the key message's extended-key flag
  int32_t x = 0, y = 0;     // mouse: signed client coordinates of the target
  uint32_t packed = 0;      // mouse: both coordinates as they came
};

enum class CursorKind { kArrow, kHover, kPick };

// What MSG_DIALOG_UPDATE asks of the window (its word parameter).
enum class UpdateCode : int {
  kCaption = 0,         // the caption becomes the text of the long parameter
  kChannelChanged = 1,  // the channel was switched: switch, table, caption, enabling
  kChannelCaption = 2,  // the caption from the channel's name
  kEnabling = 3,        // the enabling rules again
};

// What the model asks of the screen.
class DialogScreen {
 public:
  virtual ~DialogScreen() = default;

  // The filter table. SelectRow reports the change back through
  // SettingsModel::OnItemChanged, as the list control does.
  virtual void DeleteAllRows() = 0;
  virtual void InsertRow(int row, const std::string& text) = 0;
  virtual void SetCell(int row, int column, const std::string& text) = 0;
  virtual void SetRowChecked(int row, bool checked) = 0;
  virtual void SelectRow(int row) = 0;
  virtual void EnsureRowVisible(int row) = 0;

  // The numeric editors (field: EditorField).
  virtual void SetEditorValue(int field, int32_t value) = 0;  // spin position and text
  virtual void SetEditorText(int field, int32_t value) = 0;   // text only
  virtual void ClearEditorText(int field) = 0;
  // Focus to the editor with its whole text selected and the caret in view.
  virtual void FocusEditor(int field) = 0;

  // Other controls, by id.
  virtual void SelectItem(int comboId, int item) = 0;  // -1: no selection
  virtual void SetChecked(int id, bool checked) = 0;
  virtual void SetControlText(int id, const char* text) = 0;
  virtual void EnableControl(int id, bool enabled) = 0;
  virtual void FocusControl(int id) = 0;
  virtual void SetCaption(const char* text) = 0;
  // Queues MSG_DIALOG_UPDATE with the code to the window itself.
  virtual void PostUpdate(UpdateCode code) = 0;
  // Repaints the whole window, background included.
  virtual void RedrawAll() = 0;

  // The plug-in: RebuildEngines, and handing the list to the mask builder.
  virtual void RebuildEngines() = 0;
  virtual void HandOff() = 0;

  // The spectrum control: its cursor (also its window class's), the mouse
  // pointer shown or hidden, the mouse captured or released, the frequency
  // readout's tip tracked or not, its text and screen position, and the
  // control's client points on the screen.
  virtual void SetSpectrumCursor(CursorKind cursor) = 0;
  virtual void ShowPointer(bool show) = 0;
  virtual void CaptureMouse(bool capture) = 0;
  virtual void TrackReadout(bool on) = 0;
  virtual void ShowReadout(const char* text, int32_t screenX, int32_t screenY) = 0;
  virtual Point SpectrumToScreen(int32_t x, int32_t y) = 0;
};

// Hands the live list to the mask builder, if one exists (the usual
// DialogScreen::HandOff).
void HandOffFilters(PluginState& state);

class SettingsModel {
 public:
  // Item state bits of the table's change notifications.
  static constexpr uint32_t kStateSelected = 0x0002;
  static constexpr uint32_t kStateImageMask = 0xF000;
  static constexpr uint32_t kStateChecked = 0x2000;    // state image 2
  static constexpr uint32_t kStateUnchecked = 0x1000;  // state image 1

  SettingsModel(PluginState& state, DialogScreen& screen);

  // Window opening: pick mode off, the current channel stored, "Demo" and the
  // FFT length box set from the settings.
  void Open();
  // Window closing: the demonstration mode ends with the window, and so do
  // a rotation drag, the readout's tracking and the keys held.
  void Close();

  // MSG_DIALOG_UPDATE; text is used by kCaption only.
  void OnUpdate(UpdateCode code, const char* text);
  // Refills the table from the list; returns the number of rows.
  int ReloadTable();
  void ApplyEnabling();

  // Handlers of the controls.
  void OnItemChanged(int row, uint32_t newState, uint32_t oldState);
  void OnValueChange(int spinId, int32_t position);  // position: signed 16-bit
  void OnShapeChange(int item);
  void OnFftLengthChange(int item);
  void OnAdd();
  void OnRemove();
  void OnProcEnable(bool checked);
  void OnDemo(bool checked);
  void OnTableDoubleClick(int row, int column);

  // Keyboard shortcuts, Esc, and the mouse on the spectrum, for every message
  // the window's thread takes from its queue.
  void InspectMessage(const InputMessage& message);
  // The view the mouse works on (null while there is none).
  void SetSpectrumView(const PictureView* view) { view_ = view; }
  int32_t ModifierKeys() const { return modifierKeys_; }

  int32_t SelectedIndex() const { return selectedIndex_.load(std::memory_order_relaxed); }
  int32_t PickMode() const { return pickMode_; }
  bool TableLoaded() const { return tableLoaded_ != 0; }

 private:
  // The selected filter, read under pluginLock; false when the selection
  // does not name a filter of the current list.
  bool SelectedFilter(FilterSpec* spec) const;
  void SetCaptionFromChannel();
  void OnKeyUp(uint32_t key);
  void OnShortcut(uint32_t key);
  void OnMouse(const InputMessage& m);
  // The picture's geometry with the current engine's scale; not valid while
  // no engine or no view exists.
  PictureGeometry Geometry() const;
  void StartTracking();
  void ShowReadoutAt(int32_t x, int32_t y);
  void AddFilterAt(int32_t x, int32_t y);
  // Ends a rotation drag: pointer shown, capture released.
  void EndDrag();

  PluginState& state_;
  DialogScreen& screen_;
  // Read by the frame thread while it draws the spectrum overlay.
  std::atomic<int32_t> selectedIndex_{-1};
  int32_t pickMode_ = 0;
  int32_t tableLoaded_ = 1;
  int32_t modifierKeys_ = 0;
  int32_t dragStartX_ = 0, dragStartY_ = 0, dragStartAngleZ_ = 0, dragStartAngleX_ = 0;
  uint32_t lastMoveParam_ = 0;
  bool tracking_ = false;  // the mouse is over the spectrum: captured, readout shown
  const PictureView* view_ = nullptr;
};

}  // namespace ui
}  // namespace qrx
