// The settings window's fixed rules (see dialog_rules.h).
#include "ui/dialog_rules.h"

#include <climits>
#include <cstdio>

#include "platform/platform.h"
#include "ui/dialog_ids.h"

namespace qrx {
namespace ui {

namespace text {
const char kAddFilter[] = "\xC4\xEE\xE1\xE0\xE2\xE8\xF2\xFC \xF4\xE8\xEB\xFC\xF2\xF0";
const char kCancelPick[] = "\xCE\xF2\xEC\xE5\xED\xE0 (Esc)";
const char kCaptionFormat[] = "QRX_FreqFilter - %s";
const char kRangeMessage[] =
    "\xC7\xED\xE0\xF7\xE5\xED\xE8\xE5 \xE4\xEE\xEB\xE6\xED\xEE \xE1\xFB\xF2\xFC "
    "\xF7\xE8\xF1\xEB\xEE\xEC \xEE\xF2 %d \xE4\xEE %d";
const char kErrorTitle[] = "\xCE\xF8\xE8\xE1\xEA\xE0";
const char kShapeHint[] = "\xD2\xE8\xEF \xF4\xE8\xEB\xFC\xF2\xF0\xE0";
}  // namespace text

namespace {
// "Частота среза/окна фильтра по X" / "... по Y"
const char kHintFx[] =
    "\xD7\xE0\xF1\xF2\xEE\xF2\xE0 \xF1\xF0\xE5\xE7\xE0/\xEE\xEA\xED\xE0 \xF4\xE8\xEB\xFC\xF2\xF0\xE0 \xEF\xEE X";
const char kHintFy[] =
    "\xD7\xE0\xF1\xF2\xEE\xF2\xE0 \xF1\xF0\xE5\xE7\xE0/\xEE\xEA\xED\xE0 \xF4\xE8\xEB\xFC\xF2\xF0\xE0 \xEF\xEE Y";
// "Ширина окна по X" / "... по Y"
const char kHintWx[] = "\xD8\xE8\xF0\xE8\xED\xE0 \xEE\xEA\xED\xE0 \xEF\xEE X";
const char kHintWy[] = "\xD8\xE8\xF0\xE8\xED\xE0 \xEE\xEA\xED\xE0 \xEF\xEE Y";
// "Порядок фильтра"
const char kHintOrder[] = "\xCF\xEE\xF0\xFF\xE4\xEE\xEA \xF4\xE8\xEB\xFC\xF2\xF0\xE0";
// "Глубина фильтрации"
const char kHintStrength[] = "\xC3\xEB\xF3\xE1\xE8\xED\xE0 \xF4\xE8\xEB\xFC\xF2\xF0\xE0\xF6\xE8\xE8";

constexpr int32_t kRightEdgePercent[kColumnCount] = {9, 22, 35, 48, 61, 74, 87, 100};
constexpr int32_t kFftLengths[3] = {1024, 512, 256};
constexpr int32_t kNeverPlaced = -100;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
}  // namespace

const EditorInfo kEditors[kEditorCount] = {
    {IDC_EDIT_FX, IDC_SPIN_FX, 0, 9999, 4, kHintFx, 1},
    {IDC_EDIT_FY, IDC_SPIN_FY, -9999, 9999, 5, kHintFy, 2},
    {IDC_EDIT_WX, IDC_SPIN_WX, 0, 9999, 4, kHintWx, 3},
    {IDC_EDIT_WY, IDC_SPIN_WY, 0, 9999, 4, kHintWy, 4},
    {IDC_EDIT_O, IDC_SPIN_O, 1, 20, 2, kHintOrder, 5},
    {IDC_EDIT_S, IDC_SPIN_S, -160, 20, 4, kHintStrength, 6},
};

// "Фильтр" heads the row-number column.
const char* const kColumnHeaders[kColumnCount] = {
    "\xD4\xE8\xEB\xFC\xF2\xF0", "Fx (kHz)", "Fy (kHz)", "Wx (kHz)", "Wy (kHz)", "Order", "Strength (dB)", "Shape"};
const char* const kShapeNames[3] = {"Dot", "Win 1D", "Win 2D"};
const char* const kFftLengthItems[3] = {"1024", "512", "256"};

int EditorOfSpin(int spinId) {
  for (int i = 0; i < kEditorCount; ++i)
    if (kEditors[i].spinId == spinId) return i;
  return -1;
}

int EditorOfEdit(int editId) {
  for (int i = 0; i < kEditorCount; ++i)
    if (kEditors[i].editId == editId) return i;
  return -1;
}

int32_t& FieldOf(FilterSpec& spec, int field) {
  switch (field) {
    case kFieldFx: return spec.Fx;
    case kFieldFy: return spec.Fy;
    case kFieldWx: return spec.Wx;
    case kFieldWy: return spec.Wy;
    case kFieldOrder: return spec.O;
    default: return spec.S;
  }
}

int32_t FieldOf(const FilterSpec& spec, int field) { return FieldOf(const_cast<FilterSpec&>(spec), field); }

const char* ShapeName(int32_t shape) { return shape >= 0 && shape < 3 ? kShapeNames[shape] : ""; }

std::string CellText(const FilterSpec& spec, int row, int column) {
  char buffer[16];
  if (column == 0) {
    std::snprintf(buffer, sizeof(buffer), "%02d", row);
  } else if (column >= 1 && column <= 6) {
    std::snprintf(buffer, sizeof(buffer), "%d", FieldOf(spec, column - 1));
  } else {
    return ShapeName(spec.T);
  }
  return buffer;
}

void ColumnWidths(int32_t width, int32_t widths[kColumnCount]) {
  int32_t left = 0;
  for (int i = 0; i < kColumnCount; ++i) {
    const int32_t right = platform::MulDiv(kRightEdgePercent[i], width, 100);
    widths[i] = right - left;
    left = right;
  }
}

int FftLengthItem(int32_t fftLine) {
  for (int i = 0; i < 3; ++i)
    if (kFftLengths[i] == fftLine) return i;
  return -1;
}

int32_t FftLengthOfItem(int item) { return item >= 0 && item < 3 ? kFftLengths[item] : 0; }

bool ParseDialogInt(const char* text, int32_t* value) {
  if (text == nullptr) return false;
  const char* p = text;
  while (IsBlank(*p)) ++p;
  const bool negative = *p == '-';
  if (negative) ++p;
  if (*p < '0' || *p > '9') return false;
  int64_t magnitude = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    magnitude = magnitude * 10 + (*p - '0');
    if (magnitude > static_cast<int64_t>(INT32_MAX) + 1) return false;
  }
  while (IsBlank(*p)) ++p;
  if (*p != '\0') return false;
  const int64_t v = negative ? -magnitude : magnitude;
  if (v > INT32_MAX) return false;
  *value = static_cast<int32_t>(v);
  return true;
}

bool AcceptTypedValue(const char* text, int32_t minimum, int32_t maximum, int32_t* value) {
  int32_t v = 0;
  if (!ParseDialogInt(text, &v) || v < minimum || v > maximum) return false;
  *value = v;
  return true;
}

Enabling EnablingFor(bool processing, bool selection, bool pickMode) {
  Enabling e;
  e.editors = processing && selection && !pickMode;
  e.remove = e.editors;
  e.procEnable = !pickMode;
  e.demo = processing && !pickMode;
  e.add = processing;
  e.fftLength = !pickMode;
  return e;
}

Point PlaceDialog(int32_t storedX, int32_t storedY, int32_t screenWidth, int32_t screenHeight, const Rect& host,
                  const Rect& dialog) {
  const bool neverPlaced = storedX == kNeverPlaced && storedY == kNeverPlaced;
  if (!neverPlaced && storedX < screenWidth && storedY < screenHeight) return Point{storedX, storedY};
  const int32_t width = dialog.right - dialog.left;
  const int32_t height = dialog.bottom - dialog.top;
  int32_t left = dialog.left + ((host.left + host.right) / 2 - (dialog.left + dialog.right) / 2);
  int32_t top = dialog.top + ((host.top + host.bottom) / 2 - (dialog.top + dialog.bottom) / 2);
  if (left + width >= screenWidth) left = screenWidth - width;
  if (top + height >= screenHeight) top = screenHeight - height;
  if (left < 0) left = 0;
  if (top < 0) top = 0;
  return Point{left, top};
}

}  // namespace ui
}  // namespace qrx
