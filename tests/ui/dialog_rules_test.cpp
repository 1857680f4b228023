// The settings window's fixed rules: typed numbers, column widths, cell
// texts, enabling and placement.
#include <gtest/gtest.h>

#include <climits>

#include "ui/dialog_rules.h"

namespace {

using namespace qrx::ui;

TEST(DialogRules, TypedNumbersFollowTheDialogIntegerRead) {
  struct Case {
    const char* text;
    bool ok;
    int32_t value;
  } cases[] = {
      {"", false, 0},           {"-", false, 0},           {" ", false, 0},
      {"+5", false, 0},         {"12a", false, 0},         {"1 2", false, 0},
      {"--1", false, 0},        {"0x10", false, 0},        {" 12", true, 12},
      {"\t-7", true, -7},       {"12  ", true, 12},        {"007", true, 7},
      {"-0", true, 0},          {"2147483647", true, INT32_MAX},
      {"-2147483648", true, INT32_MIN},                    {"2147483648", false, 0},
      {"-2147483649", false, 0}, {"99999999999999999999999", false, 0},
  };
  for (const Case& c : cases) {
    int32_t v = 12345;
    EXPECT_EQ(ParseDialogInt(c.text, &v), c.ok) << '"' << c.text << '"';
    EXPECT_EQ(v, c.ok ? c.value : 12345) << '"' << c.text << '"';
  }
}

TEST(DialogRules, TypedValueMustLieInTheEditorsRange) {
  const EditorInfo& order = kEditors[kFieldOrder];
  const EditorInfo& fy = kEditors[kFieldFy];
  struct Case {
    const EditorInfo& editor;
    const char* text;
    bool ok;
  } cases[] = {{order, "0", false}, {order, "1", true},     {order, "20", true},    {order, "21", false},
               {fy, "-5", true},    {fy, "-9999", true},    {fy, "-10000", false},  {fy, "", false}};
  for (const Case& c : cases) {
    int32_t v = 0;
    EXPECT_EQ(AcceptTypedValue(c.text, c.editor.minimum, c.editor.maximum, &v), c.ok) << c.text;
  }
}

TEST(DialogRules, ColumnWidthsAreDifferencesOfRoundedEdges) {
  struct Case {
    int32_t width;
    int32_t widths[kColumnCount];
  } cases[] = {
      {100, {9, 13, 13, 13, 13, 13, 13, 13}},
      // Edges 56.88, 139.04, 221.2, 303.36, 385.52, 467.68, 549.84, 632.
      {632, {57, 82, 82, 82, 83, 82, 82, 82}},
      {0, {0, 0, 0, 0, 0, 0, 0, 0}},
      // Edges 0.45, 1.1, 1.75, 2.4, 3.05, 3.7, 4.35, 5.
      {5, {0, 1, 1, 0, 1, 1, 0, 1}},
  };
  for (const Case& c : cases) {
    int32_t w[kColumnCount];
    ColumnWidths(c.width, w);
    for (int i = 0; i < kColumnCount; ++i) EXPECT_EQ(w[i], c.widths[i]) << c.width << " column " << i;
  }
}

TEST(DialogRules, CellTexts) {
  const qrx::FilterSpec f = {1, 2301, -1, 300, 0, 3, -160, 2};
  EXPECT_EQ(CellText(f, 0, 0), "00");
  EXPECT_EQ(CellText(f, 7, 0), "07");
  EXPECT_EQ(CellText(f, 123, 0), "123");
  const char* expected[] = {"2301", "-1", "300", "0", "3", "-160", "Win 2D"};
  for (int column = 1; column < kColumnCount; ++column) EXPECT_EQ(CellText(f, 0, column), expected[column - 1]);
  qrx::FilterSpec odd = f;
  odd.T = 5;
  EXPECT_EQ(CellText(odd, 0, 7), "");
}

TEST(DialogRules, EnablingRules) {
  // P, S, K -> editors/table/remove, "Вкл.", "Demo", add, FFT length.
  struct Case {
    bool p, s, k;
    bool editors, procEnable, demo, add, fft;
  } cases[] = {
      {false, false, false, false, true, false, false, true}, {false, true, false, false, true, false, false, true},
      {false, true, true, false, false, false, false, false},  {true, false, false, false, true, true, true, true},
      {true, true, false, true, true, true, true, true},       {true, true, true, false, false, false, true, false},
      {true, false, true, false, false, false, true, false},   {false, false, true, false, false, false, false, false},
  };
  for (const Case& c : cases) {
    const Enabling e = EnablingFor(c.p, c.s, c.k);
    const std::string where = std::to_string(c.p) + std::to_string(c.s) + std::to_string(c.k);
    EXPECT_EQ(e.editors, c.editors) << where;
    EXPECT_EQ(e.remove, c.editors) << where;
    EXPECT_EQ(e.procEnable, c.procEnable) << where;
    EXPECT_EQ(e.demo, c.demo) << where;
    EXPECT_EQ(e.add, c.add) << where;
    EXPECT_EQ(e.fftLength, c.fft) << where;
  }
}

TEST(DialogRules, Placement) {
  const Rect host = {100, 100, 901, 701};     // centre (500, 400)
  const Rect dialog = {0, 0, 600, 400};       // centre (300, 200)
  struct Case {
    int32_t x, y;
    const Rect& host;
    Point expected;
  } cases[] = {
      {-100, -100, host, {200, 200}},  // never placed: centred on the host
      {1280, 10, host, {200, 200}},    // beyond the screen's right edge
      {10, 1024, host, {200, 200}},    // beyond its bottom edge
      {-50, 20, host, {-50, 20}},      // other stored positions, negative ones too
      {-100, 5, host, {-100, 5}},
      {1279, 1023, host, {1279, 1023}},
  };
  for (const Case& c : cases) {
    const Point p = PlaceDialog(c.x, c.y, 1280, 1024, c.host, dialog);
    EXPECT_EQ(p.x, c.expected.x) << c.x << "," << c.y;
    EXPECT_EQ(p.y, c.expected.y) << c.x << "," << c.y;
  }
  // Centring keeps the window on the screen: right and bottom edges first,
  // then a negative left or top becomes 0.
  const Point nearCorner = PlaceDialog(-100, -100, 1280, 1024, Rect{1000, 900, 1280, 1024}, dialog);
  EXPECT_EQ(nearCorner.x, 1280 - 600);
  EXPECT_EQ(nearCorner.y, 1024 - 400);
  const Point small = PlaceDialog(-100, -100, 500, 300, Rect{0, 0, 10, 10}, dialog);
  EXPECT_EQ(small.x, 0);
  EXPECT_EQ(small.y, 0);
}

TEST(DialogRules, FftLengthItems) {
  const int32_t lengths[] = {1024, 512, 256};
  for (int item = 0; item < 3; ++item) {
    EXPECT_EQ(FftLengthItem(lengths[item]), item);
    EXPECT_EQ(FftLengthOfItem(item), lengths[item]);
  }
  EXPECT_EQ(FftLengthItem(768), -1);
  EXPECT_EQ(FftLengthOfItem(-1), 0);
}

}  // namespace
