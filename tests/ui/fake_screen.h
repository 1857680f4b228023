// A recording stand-in for the settings window's controls. The table behaves
// like the list control in the ways the model relies on: selecting a row
// deselects the previous one and reports both changes, with the row's check
// image in every report, and a changed check box is reported too.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "ui/dialog_ids.h"
#include "ui/settings_model.h"

namespace qrxtest {

class FakeScreen : public qrx::ui::DialogScreen {
 public:
  using Model = qrx::ui::SettingsModel;

  struct Row {
    std::string cells[qrx::ui::kColumnCount];
    bool checked = false;
    bool selected = false;
  };

  void Bind(Model* model) { model_ = model; }

  void DeleteAllRows() override { rows.clear(); }
  void InsertRow(int row, const std::string& text) override {
    Row r;
    r.cells[0] = text;
    rows.insert(rows.begin() + row, r);
  }
  void SetCell(int row, int column, const std::string& text) override { rows.at(row).cells[column] = text; }
  void SetRowChecked(int row, bool checked) override {
    Row& r = rows.at(row);
    const uint32_t before = State(r);
    r.checked = checked;
    Notify(row, before, State(r));
  }
  void SelectRow(int row) override {
    if (rows.at(row).selected) return;
    for (size_t i = 0; i < rows.size(); ++i) {
      if (!rows[i].selected) continue;
      const uint32_t before = State(rows[i]);
      rows[i].selected = false;
      Notify(static_cast<int>(i), before, State(rows[i]));
    }
    const uint32_t before = State(rows[row]);
    rows[row].selected = true;
    Notify(row, before, State(rows[row]));
  }
  void EnsureRowVisible(int) override {}

  void SetEditorValue(int field, int32_t value) override {
    spin[field] = value;
    edit[field] = std::to_string(value);
  }
  void SetEditorText(int field, int32_t value) override { edit[field] = std::to_string(value); }
  void ClearEditorText(int field) override { edit[field].clear(); }
  void FocusEditor(int field) override { focus = qrx::ui::kEditors[field].editId; }

  void SelectItem(int comboId, int item) override { combo[comboId] = item; }
  void SetChecked(int id, bool c) override { checks[id] = c; }
  void SetControlText(int id, const char* text) override { texts[id] = text; }
  void EnableControl(int id, bool enabled) override { enabled_[id] = enabled; }
  void FocusControl(int id) override { focus = id; }
  void SetCaption(const char* text) override { caption = text; }
  void PostUpdate(qrx::ui::UpdateCode code) override { posted.push_back(code); }
  void RedrawAll() override { ++redraws; }
  void RebuildEngines() override { ++rebuilds; }
  void HandOff() override { ++handOffs; }
  void SetSpectrumCursor(qrx::ui::CursorKind c) override { cursor = c; }
  void ShowPointer(bool show) override { pointerShown = show; }
  void CaptureMouse(bool c) override { captured = c; }
  void TrackReadout(bool on) override { readoutOn = on; }
  void ShowReadout(const char* text, int32_t x, int32_t y) override {
    readout = text;
    readoutX = x;
    readoutY = y;
  }
  qrx::ui::Point SpectrumToScreen(int32_t x, int32_t y) override { return {x + 1000, y + 2000}; }

  bool Enabled(int id) const {
    auto it = enabled_.find(id);
    return it == enabled_.end() || it->second;
  }
  // Delivers the posted updates as the window's message loop would.
  void DeliverPosted() {
    while (!posted.empty()) {
      const qrx::ui::UpdateCode code = posted.front();
      posted.erase(posted.begin());
      model_->OnUpdate(code, nullptr);
    }
  }
  // A click on a row's check box.
  void ClickCheck(int row) { SetRowChecked(row, !rows.at(row).checked); }

  std::vector<Row> rows;
  std::map<int, std::string> edit;
  std::map<int, int32_t> spin;
  std::map<int, int> combo;
  std::map<int, bool> checks;
  std::map<int, std::string> texts;
  std::string caption;
  std::vector<qrx::ui::UpdateCode> posted;
  int focus = 0, redraws = 0, rebuilds = 0, handOffs = 0;
  qrx::ui::CursorKind cursor = qrx::ui::CursorKind::kArrow;
  bool pointerShown = true, captured = false, readoutOn = false;
  std::string readout;
  int32_t readoutX = 0, readoutY = 0;

 private:
  static uint32_t State(const Row& r) {
    return (r.checked ? Model::kStateChecked : Model::kStateUnchecked) | (r.selected ? Model::kStateSelected : 0);
  }
  void Notify(int row, uint32_t before, uint32_t after) {
    if (before != after && model_ != nullptr) model_->OnItemChanged(row, after, before);
  }

  Model* model_ = nullptr;
  std::map<int, bool> enabled_;
};

}  // namespace qrxtest
