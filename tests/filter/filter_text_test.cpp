// The "Filter" text form: exact writing, tolerant reading, the callback.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "filter/filter_list.h"

namespace qrx {
namespace {

FilterList Parse(const std::string& text) {
  FilterList list;
  ParseFilterText(text.data(), text.size(), &list);
  return list;
}

void ExpectFields(const FilterSpec& f, int32_t en, int32_t fx, int32_t fy, int32_t wx, int32_t wy,
                  int32_t o, int32_t s, int32_t t) {
  EXPECT_EQ(f.En, en);
  EXPECT_EQ(f.Fx, fx);
  EXPECT_EQ(f.Fy, fy);
  EXPECT_EQ(f.Wx, wx);
  EXPECT_EQ(f.Wy, wy);
  EXPECT_EQ(f.O, o);
  EXPECT_EQ(f.S, s);
  EXPECT_EQ(f.T, t);
}

TEST(FilterTextFormat, DotExampleAndEmptyList) {
  FilterList list;
  EXPECT_EQ(FormatFilterText(list), "");
  ASSERT_TRUE(list.Append(FilterSpec{1, 3500, 0, 100, 50, 2, -40, 0}));
  EXPECT_EQ(FormatFilterText(list), "En:1/Fx:3500/Fy:0/Wx:100/Wy:50/O:2/S:-40/T:0//");
  ASSERT_TRUE(list.Append(FilterSpec{0, INT32_MAX, INT32_MIN, 0, 0, 0, 0, 2}));
  EXPECT_EQ(FormatFilterText(list),
            "En:1/Fx:3500/Fy:0/Wx:100/Wy:50/O:2/S:-40/T:0//"
            "En:0/Fx:2147483647/Fy:-2147483648/Wx:0/Wy:0/O:0/S:0/T:2//");
}

TEST(FilterTextParse, TwoFilterRoundTrip) {
  const std::string text =
      "En:1/Fx:10/Fy:-20/Wx:5/Wy:6/O:2/S:-30/T:2//En:0/Fx:1/Fy:2/Wx:3/Wy:4/O:5/S:6/T:1//";
  FilterList list = Parse(text);
  ASSERT_EQ(list.Count(), 2);
  ExpectFields(list[0], 1, 10, -20, 5, 6, 2, -30, 2);
  ExpectFields(list[1], 0, 1, 2, 3, 4, 5, 6, 1);
  EXPECT_EQ(FormatFilterText(list), text);
}

TEST(FilterTextParse, EmptyTextGivesNoStorage) {
  FilterList list;
  ASSERT_TRUE(list.Append(FilterSpec{1, 2, 3, 4, 5, 6, 7, 8}));
  ParseFilterText("", 0, &list);
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.Items(), nullptr);
  EXPECT_EQ(list.Capacity(), 0);
}

TEST(FilterTextParse, MalformedRecords) {
  // Last record without "//" is still read.
  FilterList a = Parse("En:1/Fx:2/Fy:3/Wx:4/Wy:5/O:6/S:7/T:1//En:1/Fx:9/T:2/");
  ASSERT_EQ(a.Count(), 2);
  ExpectFields(a[1], 1, 9, 0, 0, 0, 0, 0, 2);
  // A record lacking "Wy:" reads Wy 0; S:abc/ reads 0; S:-12x/ reads -12.
  ExpectFields(Parse("En:1/Fx:2/Fy:3/Wx:4/O:6/S:abc/T:1//")[0], 1, 2, 3, 4, 0, 6, 0, 1);
  ExpectFields(Parse("S:-12x/En:1//")[0], 1, 0, 0, 0, 0, 0, -12, 0);
  // A single "/" does not end a record: one filter with all fields 0.
  FilterList b = Parse("a/b//");
  ASSERT_EQ(b.Count(), 1);
  ExpectFields(b[0], 0, 0, 0, 0, 0, 0, 0, 0);
  // Fields in any order, unknown text between them, leading blanks, "+".
  ExpectFields(Parse("T:2/xyz/S: -5/O:+7/Wy:1/Wx:2/Fy:3/Fx:4/En:5//")[0], 5, 4, 3, 2, 1, 7, -5, 2);
  // A key with no "/" after it reads 0, even with digits.
  ExpectFields(Parse("En:1/Fx:77")[0], 1, 0, 0, 0, 0, 0, 0, 0);
  // The first occurrence of a key counts.
  EXPECT_EQ(Parse("Fx:1/Fx:2//")[0].Fx, 1);
  // "/x/" pairs: the counter drops on other characters, so this is one record.
  EXPECT_EQ(Parse("En:1/x/Fx:2/x/S:3//").Count(), 1);
  // A record of "//" alone is a (disabled, zero) filter; the text "////" two.
  EXPECT_EQ(Parse("////").Count(), 2);
}

TEST(FilterTextParse, NumbersBeyond32BitsSaturate) {
  FilterList list = Parse("En:99999999999/Fx:-99999999999/Fy:2147483648/Wx:-2147483649/"
                          "Wy:2147483647/O:-2147483648/S:000000000000000000012/"
                          "T:1844674407370955161518446744073709551615//");
  ASSERT_EQ(list.Count(), 1);
  ExpectFields(list[0], INT32_MAX, INT32_MIN, INT32_MAX, INT32_MIN, INT32_MAX, INT32_MIN, 12,
               INT32_MAX);
}

TEST(FilterTextParse, TwentyFiltersGiveCapacity21) {
  FilterList source;
  for (int i = 0; i < 20; ++i) ASSERT_TRUE(source.Append(FilterSpec{1, i, -i, 1, 2, 3, -4, i % 3}));
  const std::string text = FormatFilterText(source);
  FilterList list = Parse(text);
  EXPECT_EQ(list.Count(), 20);
  EXPECT_EQ(list.Capacity(), 21);
  EXPECT_EQ(std::memcmp(list.Items(), source.Items(), 20 * sizeof(FilterSpec)), 0);
}

TEST(FilterTextCallback, ModesWorkOnTheBoundListAndText) {
  FilterList list;
  std::string text;
  BindFilterText(&list, &text);
  ASSERT_TRUE(list.Append(FilterSpec{1, 3500, 0, 100, 50, 2, -40, 0}));
  text = "stale";
  filterTextCallback(0);
  EXPECT_EQ(text, "En:1/Fx:3500/Fy:0/Wx:100/Wy:50/O:2/S:-40/T:0//");

  text = "En:0/Fx:1/Fy:2/Wx:3/Wy:4/O:5/S:6/T:1//En:1//";
  filterTextCallback(1);
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(list[0].Fx, 1);
  EXPECT_EQ(list[1].En, 1);

  // Other modes change nothing.
  filterTextCallback(2);
  filterTextCallback(-1);
  EXPECT_EQ(list.Count(), 2);
  EXPECT_EQ(text, "En:0/Fx:1/Fy:2/Wx:3/Wy:4/O:5/S:6/T:1//En:1//");

  // Unbound: nothing happens, and the old list is not touched.
  BindFilterText(nullptr, nullptr);
  filterTextCallback(1);
  filterTextCallback(0);
  EXPECT_EQ(list.Count(), 2);
}

}  // namespace
}  // namespace qrx
