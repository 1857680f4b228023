// The settings window's handlers (see settings_model.h).
#include "ui/settings_model.h"

#include <cstdio>
#include <vector>

#include "filter/mask_builder.h"
#include "plugin/plugin_state.h"
#include "ui/dialog_ids.h"

namespace qrx {
namespace ui {

void HandOffFilters(PluginState& state) {
  platform::ScopedLock lock(state.pluginLock);
  state.pipeline.SetFilters(state.filters);
}

SettingsModel::SettingsModel(PluginState& state, DialogScreen& screen) : state_(state), screen_(screen) {}

void SettingsModel::Open() {
  pickMode_ = 0;
  tableLoaded_ = 1;
  int32_t fftLine = 0;
  bool demo = false;
  {
    platform::ScopedLock lock(state_.pluginLock);
    state_.settings.StoreCurrentChannel();
    state_.demoActive = state_.settings.DemoMode != 0 ? 1 : 0;
    demo = state_.demoActive != 0;
    fftLine = state_.settings.FFTLine;
  }
  screen_.SelectItem(IDC_FFT_LENGTH, FftLengthItem(fftLine));
  screen_.SetChecked(IDC_DEMO, demo);
  screen_.SetControlText(IDC_ADD, text::kAddFilter);
}

void SettingsModel::Close() {
  {
    platform::ScopedLock lock(state_.pluginLock);
    state_.demoActive = 0;
  }
  // The mouse's and the keys' state goes with the window: the next window
  // starts as this one did. A window closed with the mouse over the
  // spectrum (Alt+F4) would otherwise reopen with a readout that takes no
  // capture and chooses no cursor; a key released after the window closed
  // never reaches the hook.
  EndDrag();
  if (tracking_) {
    screen_.CaptureMouse(false);
    screen_.TrackReadout(false);
  }
  tracking_ = false;
  lastMoveParam_ = 0;
  modifierKeys_ = 0;
}

bool SettingsModel::SelectedFilter(FilterSpec* spec) const {
  platform::ScopedLock lock(state_.pluginLock);
  const int32_t index = SelectedIndex();
  if (index < 0 || index >= state_.filters.Count()) return false;
  *spec = state_.filters[index];
  return true;
}

void SettingsModel::SetCaptionFromChannel() {
  std::string name;
  {
    platform::ScopedLock lock(state_.pluginLock);
    name = state_.channelName;
  }
  std::vector<char> caption(name.size() + 32);
  std::snprintf(caption.data(), caption.size(), text::kCaptionFormat, name.c_str());
  screen_.SetCaption(caption.data());
}

void SettingsModel::OnUpdate(UpdateCode code, const char* text) {
  switch (code) {
    case UpdateCode::kCaption:
      if (text != nullptr) screen_.SetCaption(text);
      break;
    case UpdateCode::kChannelChanged: {
      bool processing = false;
      {
        platform::ScopedLock lock(state_.pluginLock);
        processing = state_.settings.ProcEnable != 0;
      }
      screen_.SetChecked(IDC_PROC_ENABLE, processing);
      selectedIndex_.store(0, std::memory_order_relaxed);
      ReloadTable();
      SetCaptionFromChannel();
      ApplyEnabling();
      break;
    }
    case UpdateCode::kChannelCaption:
      SetCaptionFromChannel();
      break;
    case UpdateCode::kEnabling:
      ApplyEnabling();
      break;
    default:
      break;
  }
}

int SettingsModel::ReloadTable() {
  // A copy taken under the lock: the screen is filled without holding it.
  std::vector<FilterSpec> rows;
  {
    platform::ScopedLock lock(state_.pluginLock);
    rows.assign(state_.filters.Items(), state_.filters.Items() + state_.filters.Count());
  }
  screen_.DeleteAllRows();
  for (int field = 0; field < kEditorCount; ++field) screen_.ClearEditorText(field);
  screen_.SelectItem(IDC_SHAPE, -1);
  tableLoaded_ = 0;
  const int count = static_cast<int>(rows.size());
  for (int i = 0; i < count; ++i) {
    screen_.InsertRow(i, CellText(rows[i], i, 0));
    screen_.SetRowChecked(i, rows[i].En != 0);
    for (int column = 1; column < kColumnCount; ++column) screen_.SetCell(i, column, CellText(rows[i], i, column));
  }
  tableLoaded_ = 1;

  if (count == 0) {
    selectedIndex_.store(-1, std::memory_order_relaxed);
    return 0;
  }
  int32_t index = SelectedIndex();
  if (index >= count) index = count - 1;
  selectedIndex_.store(index, std::memory_order_relaxed);
  // No row to select when nothing was selected (the list control would take
  // row -1 as "every row").
  if (index >= 0) {
    screen_.SelectRow(index);
    screen_.EnsureRowVisible(index);
  }
  return count;
}

void SettingsModel::ApplyEnabling() {
  bool processing = false;
  {
    platform::ScopedLock lock(state_.pluginLock);
    processing = state_.settings.ProcEnable != 0;
  }
  const Enabling e = EnablingFor(processing, SelectedIndex() != -1, pickMode_ == 1);
  for (const EditorInfo& editor : kEditors) screen_.EnableControl(editor.editId, e.editors);
  screen_.EnableControl(IDC_SHAPE, e.editors);
  screen_.EnableControl(IDC_TABLE, e.editors);
  screen_.EnableControl(IDC_REMOVE, e.remove);
  screen_.EnableControl(IDC_PROC_ENABLE, e.procEnable);
  screen_.EnableControl(IDC_DEMO, e.demo);
  screen_.EnableControl(IDC_ADD, e.add);
  screen_.EnableControl(IDC_FFT_LABEL, e.fftLength);
  screen_.EnableControl(IDC_FFT_LENGTH, e.fftLength);
}

void SettingsModel::OnItemChanged(int row, uint32_t newState, uint32_t oldState) {
  if (row < 0) return;
  // A check box the user changed. Only a change of the check image counts:
  // every change of a row in a list with check boxes carries the image, and
  // taking a selection change for a click would select the row being left.
  const uint32_t image = newState & kStateImageMask;
  if (image != 0 && image != (oldState & kStateImageMask) && tableLoaded_ == 1) {
    selectedIndex_.store(row, std::memory_order_relaxed);
    {
      platform::ScopedLock lock(state_.pluginLock);
      if (row < state_.filters.Count()) state_.filters[row].En = image == kStateChecked ? 1 : 0;
    }
    screen_.SelectRow(row);
    screen_.HandOff();
  }
  if ((newState & kStateSelected) != 0) {
    selectedIndex_.store(row, std::memory_order_relaxed);
    FilterSpec spec;
    if (!SelectedFilter(&spec)) return;
    for (int field = 0; field < kEditorCount; ++field) screen_.SetEditorValue(field, FieldOf(spec, field));
    screen_.SelectItem(IDC_SHAPE, spec.T >= 0 && spec.T < 3 ? spec.T : -1);
  }
}

void SettingsModel::OnValueChange(int spinId, int32_t position) {
  const int field = EditorOfSpin(spinId);
  if (field < 0) return;
  const int32_t v = static_cast<int16_t>(position & 0xFFFF);
  screen_.SetEditorText(field, v);
  int32_t row = -1;
  {
    platform::ScopedLock lock(state_.pluginLock);
    const int32_t index = SelectedIndex();
    if (index >= 0 && index < state_.filters.Count()) {
      FieldOf(state_.filters[index], field) = v;
      row = index;
    }
  }
  if (row < 0) return;
  char cell[16];
  std::snprintf(cell, sizeof(cell), "%d", v);
  screen_.SetCell(row, kEditors[field].column, cell);
  screen_.HandOff();
}

void SettingsModel::OnShapeChange(int item) {
  if (item < 0 || item > 2) return;
  int32_t row = -1;
  {
    platform::ScopedLock lock(state_.pluginLock);
    const int32_t index = SelectedIndex();
    if (index >= 0 && index < state_.filters.Count()) {
      state_.filters[index].T = item;
      row = index;
    }
  }
  if (row < 0) return;
  screen_.SetCell(row, 7, ShapeName(item));
  screen_.HandOff();
}

void SettingsModel::OnFftLengthChange(int item) {
  const int32_t length = FftLengthOfItem(item);
  if (length != 0) {
    platform::ScopedLock lock(state_.pluginLock);
    state_.settings.FFTLine = length;
  }
  // Also without a selection: the engines are rebuilt and the list handed on.
  screen_.RebuildEngines();
  screen_.HandOff();
  screen_.RedrawAll();
}

void SettingsModel::OnAdd() {
  pickMode_ = pickMode_ == 1 ? 0 : 1;
  screen_.SetControlText(IDC_ADD, pickMode_ == 1 ? text::kCancelPick : text::kAddFilter);
  screen_.PostUpdate(UpdateCode::kEnabling);
}

void SettingsModel::OnRemove() {
  if (SelectedIndex() < 0) return;
  {
    platform::ScopedLock lock(state_.pluginLock);
    const int32_t index = SelectedIndex();
    if (index < state_.filters.Count()) state_.filters.RemoveAt(index);
  }
  screen_.HandOff();
  ReloadTable();
  screen_.PostUpdate(UpdateCode::kEnabling);
}

void SettingsModel::OnProcEnable(bool checked) {
  {
    platform::ScopedLock lock(state_.pluginLock);
    state_.settings.ProcEnable = checked ? 1 : 0;
  }
  screen_.PostUpdate(UpdateCode::kEnabling);
}

void SettingsModel::OnDemo(bool checked) {
  platform::ScopedLock lock(state_.pluginLock);
  state_.demoActive = checked ? 1 : 0;
  state_.settings.DemoMode = checked ? 1 : 0;
}

void SettingsModel::OnTableDoubleClick(int row, int column) {
  if (row < 0) return;
  if (column >= 1 && column <= 6)
    screen_.FocusEditor(column - 1);
  else if (column == 7)
    screen_.FocusControl(IDC_SHAPE);
}

}  // namespace ui
}  // namespace qrx
