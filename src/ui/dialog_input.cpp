// The settings window's keyboard shortcuts and the mouse on the spectrum:
// SettingsModel::InspectMessage and its helpers.
#include <cstdio>

#include "plugin/plugin_state.h"
#include "ui/dialog_ids.h"
#include "ui/picture_view.h"
#include "ui/settings_model.h"

namespace qrx {
namespace ui {

namespace {

constexpr uint32_t kShift = 16, kCtrl = 17, kAlt = 18, kEscape = 27;
constexpr uint32_t kDigitOne = 49, kDigitEight = 56, kKeyLeftOfOne = 192;
constexpr int32_t kBitShift = 1, kBitCtrl = 2, kBitAlt = 4, kBitExtended = 8;
constexpr int32_t kDragPixelsPerDegree = 4;
// Where a filter added by a click starts: a Dot notch of 500 x 1000 kHz,
// order 1, -30 dB.
constexpr FilterSpec kAddedFilter = {1, 0, 0, 500, 1000, 1, -30, kShapeDot};

int32_t Clamp(int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : (v > hi ? hi : v); }

int32_t ModifierBit(uint32_t key) {
  switch (key) {
    case kShift:
      return kBitShift;
    case kCtrl:
      return kBitCtrl;
    case kAlt:
      return kBitAlt;
    default:
      return 0;
  }
}

}  // namespace

void SettingsModel::InspectMessage(const InputMessage& m) {
  switch (m.kind) {
    case InputMessage::kKeyDown: {
      const int32_t bit = ModifierBit(m.key);
      if (bit != 0)
        modifierKeys_ |= bit;
      else if (m.extended)
        modifierKeys_ |= kBitExtended;
      break;
    }
    case InputMessage::kKeyUp:
      OnKeyUp(m.key);
      break;
    case InputMessage::kMouseMove:
    case InputMessage::kLeftDown:
    case InputMessage::kLeftUp:
      if (m.onSpectrum) OnMouse(m);
      break;
    default:
      break;
  }
}

void SettingsModel::OnKeyUp(uint32_t key) {
  const int32_t bit = ModifierBit(key);
  if (bit != 0)
    modifierKeys_ &= ~bit;
  else if (key != kEscape)
    modifierKeys_ &= ~kBitExtended;
  if (key == kEscape) {
    screen_.SetSpectrumCursor(tracking_ ? CursorKind::kHover : CursorKind::kArrow);
    pickMode_ = 0;
    screen_.SetControlText(IDC_ADD, text::kAddFilter);
    screen_.PostUpdate(UpdateCode::kEnabling);
  }
  // Ctrl alone held: the released key is a shortcut.
  if (modifierKeys_ == kBitCtrl) OnShortcut(key);
}

void SettingsModel::OnShortcut(uint32_t key) {
  if (key == kDigitOne) {
    // Through the row's check box, whose notification stores En and hands off.
    const int32_t row = SelectedIndex();
    FilterSpec spec;
    if (row >= 0 && SelectedFilter(&spec)) screen_.SetRowChecked(row, spec.En == 0);
  } else if (key > kDigitOne && key < kDigitEight) {
    screen_.FocusEditor(static_cast<int>(key - kDigitOne - 1));
  } else if (key == kDigitEight) {
    screen_.FocusControl(IDC_SHAPE);
  } else if (key == kKeyLeftOfOne) {
    bool processing = false;
    {
      platform::ScopedLock lock(state_.pluginLock);
      state_.settings.ProcEnable = state_.settings.ProcEnable != 0 ? 0 : 1;
      processing = state_.settings.ProcEnable != 0;
    }
    screen_.SetChecked(IDC_PROC_ENABLE, processing);
    screen_.FocusControl(IDC_PROC_ENABLE);
    screen_.PostUpdate(UpdateCode::kEnabling);
  }
}

PictureGeometry SettingsModel::Geometry() const {
  if (view_ == nullptr) return PictureGeometry{};
  return view_->Geometry(state_.engineRowRateKHz.load(), state_.engineColRateKHz.load());
}

void SettingsModel::StartTracking() {
  screen_.CaptureMouse(true);
  tracking_ = true;
  screen_.TrackReadout(true);
}

void SettingsModel::ShowReadoutAt(int32_t x, int32_t y) {
  // Without an engine there is no frequency scale: no readout.
  const PictureGeometry g = Geometry();
  if (!g.Valid()) {
    screen_.TrackReadout(false);
    return;
  }
  screen_.TrackReadout(true);
  char text[48];
  std::snprintf(text, sizeof(text), "Fx=%dkHz Fy=%dkHz", g.ReadoutFx(x), g.ReadoutFy(y));
  const Point p = screen_.SpectrumToScreen(x, y);
  screen_.ShowReadout(text, p.x + 10, p.y - 20);
}

void SettingsModel::OnMouse(const InputMessage& m) {
  const bool inside = view_ != nullptr && view_->Contains(m.x, m.y);
  int32_t& rotating = state_.viewRotating;
  switch (m.kind) {
    case InputMessage::kLeftDown:
      if (!inside || pickMode_ != 0) return;
      RelaxedStore(rotating, 1);
      dragStartX_ = m.x;
      dragStartY_ = m.y;
      dragStartAngleZ_ = RelaxedLoad(state_.settings.AngleZ);
      dragStartAngleX_ = RelaxedLoad(state_.settings.AngleX);
      tracking_ = false;
      screen_.TrackReadout(false);
      screen_.ShowPointer(false);
      return;
    case InputMessage::kMouseMove:
      if (m.packed == lastMoveParam_) return;
      lastMoveParam_ = m.packed;
      if (RelaxedLoad(rotating) == 1) {
        // 4 pixels right turn the grid by -1 degree, 4 pixels down tilt it
        // by -1 degree.
        RelaxedStore(state_.settings.AngleZ,
                     Clamp(dragStartAngleZ_ - (m.x - dragStartX_) / kDragPixelsPerDegree, -90, 90));
        RelaxedStore(state_.settings.AngleX,
                     Clamp(dragStartAngleX_ - (m.y - dragStartY_) / kDragPixelsPerDegree, 0, 90));
      } else if (inside) {
        if (!tracking_) {
          StartTracking();
          screen_.SetSpectrumCursor(pickMode_ == 1 ? CursorKind::kPick : CursorKind::kHover);
        }
        ShowReadoutAt(m.x, m.y);
      } else {
        screen_.CaptureMouse(false);
        tracking_ = false;
        screen_.TrackReadout(false);
        screen_.SetSpectrumCursor(CursorKind::kArrow);
      }
      return;
    case InputMessage::kLeftUp:
      if (RelaxedLoad(rotating) == 1) {
        RelaxedStore(rotating, 0);
        screen_.CaptureMouse(false);
        screen_.ShowPointer(true);
        if (inside) {
          StartTracking();
          ShowReadoutAt(m.x, m.y);
        } else {
          screen_.SetSpectrumCursor(CursorKind::kArrow);
        }
      } else if (inside && pickMode_ == 1) {
        AddFilterAt(m.x, m.y);
      }
      return;
    default:
      return;
  }
}

void SettingsModel::AddFilterAt(int32_t x, int32_t y) {
  const PictureGeometry g = Geometry();
  if (!g.Valid()) return;  // no frequency scale without an engine
  FilterSpec filter = kAddedFilter;
  filter.Fx = g.ReadoutFx(x);
  filter.Fy = g.ReadoutFy(y);
  int32_t index = -1;
  {
    // The list's storage may move: never while a frame reads it.
    platform::ScopedLock lock(state_.pluginLock);
    const int32_t count = state_.filters.Count();
    if (state_.filters.Resize(count + 1)) {
      state_.filters[count] = filter;
      index = count;
    }
  }
  if (index < 0) return;
  selectedIndex_.store(index, std::memory_order_relaxed);
  screen_.HandOff();
  ReloadTable();
}

void SettingsModel::EndDrag() {
  if (RelaxedLoad(state_.viewRotating) != 1) return;
  RelaxedStore(state_.viewRotating, 0);
  screen_.ShowPointer(true);
  screen_.CaptureMouse(false);
}

}  // namespace ui
}  // namespace qrx
