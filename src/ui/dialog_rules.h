// The settings window's fixed rules that need no window: texts, the editor
// table, the table's cell texts and column widths, the number rule of a typed
// value, the enabling rules and the window's placement.
#pragma once

#include <cstdint>
#include <string>

#include "filter/filter_list.h"

namespace qrx {
namespace ui {

// Texts of the window, code page 1251.
namespace text {
extern const char kAddFilter[];      // "Добавить фильтр"
extern const char kCancelPick[];     // "Отмена (Esc)"
extern const char kCaptionFormat[];  // "QRX_FreqFilter - %s"
extern const char kRangeMessage[];   // "Значение должно быть числом от %d до %d"
extern const char kErrorTitle[];     // "Ошибка"
extern const char kShapeHint[];      // "Тип фильтра"
}  // namespace text

// The six numeric fields of a filter that have an editor, in table order.
enum EditorField { kFieldFx, kFieldFy, kFieldWx, kFieldWy, kFieldOrder, kFieldStrength, kEditorCount };

struct EditorInfo {
  int editId;
  int spinId;
  int32_t minimum;
  int32_t maximum;
  int maxChars;
  const char* hint;  // code page 1251
  int column;        // table column it edits
};
extern const EditorInfo kEditors[kEditorCount];

// The field an up-down control or edit box edits; -1 for other controls.
int EditorOfSpin(int spinId);
int EditorOfEdit(int editId);
int32_t& FieldOf(FilterSpec& spec, int field);
int32_t FieldOf(const FilterSpec& spec, int field);

// Table layout.
constexpr int kColumnCount = 8;
extern const char* const kColumnHeaders[kColumnCount];
extern const char* const kShapeNames[3];
const char* ShapeName(int32_t shape);  // "" for a shape outside 0..2
// Text of one cell: column 0 the row number "%02d", 1..6 the values, 7 the shape.
std::string CellText(const FilterSpec& spec, int row, int column);
// Column widths from the list's client width less one vertical scroll bar:
// differences of the rounded right edges 9, 22, ..., 100 % of it.
void ColumnWidths(int32_t width, int32_t widths[kColumnCount]);

// The FFT length box: items "1024", "512", "256".
extern const char* const kFftLengthItems[3];
int FftLengthItem(int32_t fftLine);     // -1 for a length not offered
int32_t FftLengthOfItem(int item);      // 0 for no selection

// A typed value as the dialog's signed integer read takes it: leading blanks,
// an optional minus sign, at least one decimal digit, trailing blanks, and
// nothing else; the value must fit 32 bits. False when the text is refused.
bool ParseDialogInt(const char* text, int32_t* value);
// The editor's rule: a number by ParseDialogInt within [minimum, maximum].
bool AcceptTypedValue(const char* text, int32_t minimum, int32_t maximum, int32_t* value);

// Which controls are enabled, from processing on (P), a selection (S) and
// pick mode (K).
struct Enabling {
  bool editors;    // the six edits, the shape box, the table
  bool remove;     // "Удалить фильтр"
  bool procEnable; // "Вкл."
  bool demo;       // "Demo"
  bool add;        // "Добавить фильтр" / "Отмена (Esc)"
  bool fftLength;  // the FFT length box and its label
};
Enabling EnablingFor(bool processing, bool selection, bool pickMode);

struct Rect {
  int32_t left, top, right, bottom;
};
struct Point {
  int32_t x, y;
};
// Where the window opens: the stored position, unless it is the "never
// placed" value (-100, -100) or lies at or beyond the screen's right or
// bottom edge; then centred on the host's window and kept on the screen.
Point PlaceDialog(int32_t storedX, int32_t storedY, int32_t screenWidth, int32_t screenHeight, const Rect& host,
                  const Rect& dialog);

}  // namespace ui
}  // namespace qrx
