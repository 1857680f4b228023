// FilterList storage: growth rule, zeroed spare slots, removal, freeing.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "filter/filter_list.h"

namespace qrx {
namespace {

FilterSpec Spec(int32_t base) {
  return FilterSpec{base, base + 1, base + 2, base + 3, base + 4, base + 5, base + 6, base + 7};
}

bool IsZero(const FilterSpec& f) {
  static const FilterSpec zero{};
  return std::memcmp(&f, &zero, sizeof(f)) == 0;
}

TEST(FilterListGrowth, OneAtATimeFromEmpty) {
  FilterList list;
  EXPECT_EQ(list.Items(), nullptr);
  std::vector<int32_t> capacities;
  for (int i = 0; i < 21; ++i) {
    ASSERT_TRUE(list.Append(Spec(i * 10)));
    if (capacities.empty() || capacities.back() != list.Capacity()) capacities.push_back(list.Capacity());
  }
  EXPECT_EQ(capacities, (std::vector<int32_t>{1, 5, 9, 13, 17, 21}));
  for (int i = 0; i < 21; ++i) EXPECT_EQ(list[i].T, i * 10 + 7);
}

TEST(FilterListGrowth, StepFollowsCountNotCapacity) {
  // 100 items: count/8 = 12 > 4, so the next growth adds 12.
  FilterList list;
  ASSERT_TRUE(list.Resize(100));
  EXPECT_EQ(list.Capacity(), 100);  // first allocation: exactly n
  ASSERT_TRUE(list.Append(Spec(1)));
  EXPECT_EQ(list.Capacity(), 112);
  // The step is clamped to 1024 for large lists.
  FilterList big;
  ASSERT_TRUE(big.Resize(20000));
  ASSERT_TRUE(big.Append(Spec(1)));
  EXPECT_EQ(big.Capacity(), 20000 + 1024);
  // A request beyond capacity + step takes exactly what was asked.
  FilterList jump;
  ASSERT_TRUE(jump.Append(Spec(1)));
  ASSERT_TRUE(jump.Resize(50));
  EXPECT_EQ(jump.Capacity(), 50);
  // A fixed growth step replaces the automatic one.
  FilterList fixed;
  fixed.growthStep = 3;
  ASSERT_TRUE(fixed.Append(Spec(1)));
  ASSERT_TRUE(fixed.Append(Spec(2)));
  EXPECT_EQ(fixed.Capacity(), 4);
}

TEST(FilterListGrowth, SpareAndNewSlotsAreZero) {
  FilterList list;
  for (int i = 0; i < 6; ++i) ASSERT_TRUE(list.Append(Spec(100 + i)));
  ASSERT_EQ(list.Capacity(), 9);
  for (int i = 6; i < 9; ++i) EXPECT_TRUE(IsZero(list.Items()[i])) << i;
  // Shrink, scribble beyond the count, then grow within capacity: the
  // re-exposed slots must read zero, not the old records.
  ASSERT_TRUE(list.Resize(2));
  EXPECT_EQ(list.Capacity(), 9);
  list.Items()[4] = Spec(999);
  ASSERT_TRUE(list.Resize(8));
  for (int i = 2; i < 8; ++i) EXPECT_TRUE(IsZero(list[i])) << i;
  EXPECT_EQ(list[1].En, 101);
}

TEST(FilterListEdit, RemoveAtShiftsDownAndKeepsStorage) {
  FilterList list;
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(list.Append(Spec(i * 10)));
  const FilterSpec* storage = list.Items();
  list.RemoveAt(1);
  ASSERT_EQ(list.Count(), 4);
  EXPECT_EQ(list.Items(), storage);
  EXPECT_EQ(list.Capacity(), 5);
  EXPECT_EQ(list[0].En, 0);
  EXPECT_EQ(list[1].En, 20);
  EXPECT_EQ(list[3].En, 40);
  EXPECT_EQ(list[3].T, 47);
  list.RemoveAt(3);  // the last one
  EXPECT_EQ(list.Count(), 3);
  list.RemoveAt(3);   // out of range: nothing happens
  list.RemoveAt(-1);
  EXPECT_EQ(list.Count(), 3);
  EXPECT_EQ(list[2].En, 30);
}

TEST(FilterListEdit, ResizeZeroAndClearFreeStorage) {
  FilterList list;
  ASSERT_TRUE(list.Resize(7));
  EXPECT_EQ(list.Count(), 7);
  for (int i = 0; i < 7; ++i) EXPECT_TRUE(IsZero(list[i]));
  ASSERT_TRUE(list.Resize(0));
  EXPECT_EQ(list.Items(), nullptr);
  EXPECT_EQ(list.Capacity(), 0);
  EXPECT_EQ(list.Count(), 0);
  ASSERT_TRUE(list.Append(Spec(1)));
  list.Clear();
  EXPECT_EQ(list.Items(), nullptr);
  EXPECT_EQ(list.Capacity(), 0);
  EXPECT_FALSE(list.Resize(-1));
}

TEST(FilterListEdit, CopyFromAndAppendOfOwnItem) {
  FilterList a, b;
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(a.Append(Spec(i)));
  ASSERT_TRUE(b.CopyFrom(a));
  ASSERT_EQ(b.Count(), 3);
  EXPECT_EQ(std::memcmp(a.Items(), b.Items(), 3 * sizeof(FilterSpec)), 0);
  FilterList empty;
  ASSERT_TRUE(b.CopyFrom(empty));
  EXPECT_EQ(b.Items(), nullptr);
  // Appending an item of the list itself while it grows must copy the
  // value before the old storage is freed (count 1 = capacity 1 here).
  FilterList self;
  ASSERT_TRUE(self.Append(Spec(42)));
  ASSERT_TRUE(self.Append(self[0]));
  EXPECT_EQ(self[1].T, 49);
}

TEST(FilterListEdit, SizeOverflowFailsAndLeavesListUnchanged) {
  // On a 32-bit system 2^31-1 records of 32 bytes overflow the byte count;
  // the guard must refuse before allocating. (On 64-bit systems the request
  // is a real 64 GiB allocation, which is not attempted here.)
  if (sizeof(size_t) != 4) GTEST_SKIP() << "needs a 32-bit size_t";
  FilterList list;
  ASSERT_TRUE(list.Append(Spec(5)));
  EXPECT_FALSE(list.Resize(INT32_MAX));
  EXPECT_FALSE(list.Resize(INT32_MAX / 16));
  EXPECT_EQ(list.Count(), 1);
  EXPECT_EQ(list.Capacity(), 1);
  EXPECT_EQ(list[0].En, 5);
}

}  // namespace
}  // namespace qrx
