// SettingsStore over an in-memory file: defaults, the section walk, channel
// switching, which channels are saved, the exact bytes and the no-write rule.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "filter/filter_list.h"
#include "settings/settings_store.h"
#include "settings_test_util.h"

namespace qrx {
namespace {

using testing_util::FakeLocation;
using testing_util::MemoryFile;

const char kDot[] = "En:1/Fx:3500/Fy:0/Wx:100/Wy:50/O:2/S:-40/T:0//";

int32_t KnowsNothing(int32_t, int32_t) { return 0; }
int32_t KnowsAll(int32_t, int32_t) { return 1; }

// A store wired to a memory file and a fixed location, with the live filter
// list bound to its "Filter" text.
struct Fixture {
  FakeLocation location;
  MemoryFile file;
  SettingsStore store;
  FilterList list;
  Fixture() {
    store.SetLocationSource(&location);
    store.SetFileAccess(&file);
    BindFilterText(&list, &store.Filter);
  }
  ~Fixture() { BindFilterText(nullptr, nullptr); }
  void Load(const std::string& text, ChannelCheckFn check = KnowsAll) {
    file.content = text;
    store.Load(check, filterTextCallback);
  }
};

const std::string kDefaultHead =
    "[DIALOG]\r\nDlgWndPosX=-100\r\nDlgWndPosY=-100\r\n"
    "[GLOBAL]\r\nFFTLine=512\r\nAngleZ=30\r\nAngleX=70\r\nDemoMode=1\r\n";

TEST(SettingsStoreLoad, EmptyFileGivesDefaultsAndSaveWritesThem) {
  Fixture f;
  f.Load("");
  EXPECT_EQ(f.file.lastPath, "/prog/host/Plugins/QRX_FreqFilter.ini");
  EXPECT_EQ(f.store.FFTLine, 512);
  EXPECT_EQ(f.store.AngleZ, 30);
  EXPECT_EQ(f.store.AngleX, 70);
  EXPECT_EQ(f.store.DemoMode, 1u);
  int32_t x = 0, y = 0;
  f.store.GetDialogPos(&x, &y);
  EXPECT_EQ(x, -100);
  EXPECT_EQ(y, -100);
  EXPECT_TRUE(f.store.Channels().empty());
  EXPECT_EQ(f.store.CurrentChannelIndex(), -1);
  f.store.Save();
  EXPECT_EQ(f.file.writes, 1);
  EXPECT_EQ(f.file.content, kDefaultHead);
}

TEST(SettingsStoreSave, ExactBytesOfAKnownState) {
  Fixture f;
  f.Load("");
  f.store.FFTLine = 1024;
  f.store.SetDialogPos(10, -20);
  ASSERT_EQ(f.store.SelectChannel(5, 0), 1);
  f.store.ProcEnable = 1;
  ASSERT_TRUE(f.list.Append(FilterSpec{1, 3500, 0, 100, 50, 2, -40, 0}));
  ASSERT_EQ(f.store.SelectChannel(0, 1), 1);
  ASSERT_EQ(f.store.SelectChannel(7, -1), 1);
  f.store.Save();
  EXPECT_EQ(f.file.content,
            "[DIALOG]\r\nDlgWndPosX=10\r\nDlgWndPosY=-20\r\n"
            "[GLOBAL]\r\nFFTLine=1024\r\nAngleZ=30\r\nAngleX=70\r\nDemoMode=1\r\n"
            "[5]\r\nProcEnable=1\r\nFilter=En:1/Fx:3500/Fy:0/Wx:100/Wy:50/O:2/S:-40/T:0//\r\n"
            "[4294967296]\r\nProcEnable=0\r\nFilter=\r\n"
            "[-4294967289]\r\nProcEnable=0\r\nFilter=\r\n");

  // Loading that file gives the same keys back, and saving it again at once
  // writes nothing.
  Fixture g;
  g.Load(f.file.content);
  ASSERT_EQ(g.store.Channels().size(), 3u);
  EXPECT_EQ(g.store.Channels()[1].key, (ChannelKey{0, 1}));
  EXPECT_EQ(g.store.Channels()[2].key, (ChannelKey{7, -1}));
  EXPECT_EQ(g.store.Channels()[0].Filter, kDot);
  EXPECT_EQ(g.store.FFTLine, 1024);
  g.store.Save();
  EXPECT_EQ(g.file.writes, 0);
  // Even after visiting channels, as long as nothing changed.
  g.store.SelectChannel(5, 0);
  g.store.SelectChannel(7, -1);
  g.store.ResetChannel();
  g.store.Save();
  EXPECT_EQ(g.file.writes, 0);
  // One changed value: the file is written.
  g.store.AngleX = 71;
  g.store.Save();
  EXPECT_EQ(g.file.writes, 1);
}

TEST(SettingsStoreLoad, GlobalAndDefaultSections) {
  Fixture f;
  f.Load(
      "[DIALOG]\r\nDlgWndPosX=300\r\n"
      "[DEFAULT]\r\nProcEnable=1\r\nFilter=En:1//\r\nAngleZ=99\r\n"
      "[GLOBAL]\r\nFFTLine=256\r\nAngleX=-5\r\nDemoMode=0\r\n"
      "[9]\r\nFilter=En:0//\r\n");
  EXPECT_EQ(f.store.DlgWndPosX, 300);
  EXPECT_EQ(f.store.DlgWndPosY, -100);
  EXPECT_EQ(f.store.FFTLine, 256);
  EXPECT_EQ(f.store.AngleZ, 30);  // not DEFAULT's 99
  EXPECT_EQ(f.store.AngleX, -5);
  EXPECT_EQ(f.store.DemoMode, 0u);
  EXPECT_EQ(f.store.DefaultProcEnable(), 1);
  EXPECT_EQ(f.store.DefaultFilter(), "En:1//");
  // A section without ProcEnable gets 0, not DEFAULT's value.
  ASSERT_EQ(f.store.Channels().size(), 1u);
  EXPECT_EQ(f.store.Channels()[0].ProcEnable, 0);
  EXPECT_EQ(f.store.Channels()[0].Filter, "En:0//");
  // A channel first seen now starts from DEFAULT.
  ASSERT_EQ(f.store.SelectChannel(11, 0), 1);
  EXPECT_EQ(f.store.ProcEnable, 1);
  EXPECT_EQ(f.store.Filter, "En:1//");
  ASSERT_EQ(f.list.Count(), 1);
  EXPECT_EQ(f.list[0].En, 1);
}

TEST(SettingsStoreLoad, WhichChannelSectionsAreWalked) {
  Fixture f;
  f.Load(
      "[3]\r\nProcEnable=1\r\n"                     // before GLOBAL: not loaded
      "[GLOBAL]\r\nFFTLine=512\r\n"
      "[0]\r\nProcEnable=1\r\n"                     // 0: skipped
      "[abc]\r\nProcEnable=1\r\n"                   // not a number: skipped
      "[DEFAULT]\r\nProcEnable=1\r\n"               // read, but not a channel
      "[ 7 ]\r\nProcEnable=1\r\nFilter=En:1//\r\n"  // channel 7, keys not found
      "[12abc]\r\nProcEnable=1\r\n"                 // channel 12
      "[5]\r\nProcEnable=1\r\nFilter=En:1/Fx:1//\r\n"
      "[5]\r\nProcEnable=0\r\nFilter=En:1/Fx:2//\r\n"  // duplicate: second entry
      "[-4294967289]\r\nProcEnable=4\r\n"
      "[4294967296]\r\nProcEnable=6\r\n"
      "[99999999999999999999]\r\nProcEnable=8\r\n"   // saturates to INT64_MAX
      "[1]\r\nProcEnable=1\r\nFilter=En:1/Fx:9//");  // no line end at the end
  const auto& c = f.store.Channels();
  ASSERT_EQ(c.size(), 8u);
  EXPECT_EQ(c[0].key, (ChannelKey{7, 0}));
  EXPECT_EQ(c[0].ProcEnable, 0);
  EXPECT_EQ(c[0].Filter, "");
  EXPECT_EQ(c[1].key, (ChannelKey{12, 0}));
  EXPECT_EQ(c[1].ProcEnable, 1);
  EXPECT_EQ(c[2].Filter, "En:1/Fx:1//");
  EXPECT_EQ(c[3].key, (ChannelKey{5, 0}));
  EXPECT_EQ(c[3].Filter, "En:1/Fx:2//");
  EXPECT_EQ(c[4].key, (ChannelKey{7, -1}));
  EXPECT_EQ(c[4].ProcEnable, 4);
  EXPECT_EQ(c[5].key, (ChannelKey{0, 1}));
  EXPECT_EQ(c[6].key, (ChannelKey{-1, INT32_MAX}));
  EXPECT_EQ(c[6].ProcEnable, 8);
  // The last line without a line end is read.
  EXPECT_EQ(c[7].key, (ChannelKey{1, 0}));
  EXPECT_EQ(c[7].Filter, "En:1/Fx:9//");
  // Until a channel is selected, the live values are the last section's and
  // the live list is not built.
  EXPECT_EQ(f.store.Filter, "En:1/Fx:9//");
  EXPECT_EQ(f.store.CurrentChannelIndex(), -1);
  EXPECT_EQ(f.list.Count(), 0);
  // Of the duplicates the first is used.
  ASSERT_EQ(f.store.SelectChannel(5, 0), 1);
  EXPECT_EQ(f.store.ProcEnable, 1);
  EXPECT_EQ(f.list[0].Fx, 1);
  // Both duplicates are written back; the live one in the list's own form.
  f.store.Save();
  const std::string& out = f.file.content;
  const size_t first =
      out.find("[5]\r\nProcEnable=1\r\nFilter=En:1/Fx:1/Fy:0/Wx:0/Wy:0/O:0/S:0/T:0//\r\n");
  const size_t second = out.find("[5]\r\nProcEnable=0\r\nFilter=En:1/Fx:2//\r\n");
  EXPECT_NE(first, std::string::npos);
  EXPECT_NE(second, std::string::npos);
  EXPECT_LT(first, second);
  EXPECT_EQ(out.find("[3]"), std::string::npos);
  EXPECT_NE(out.find("[7]\r\nProcEnable=0\r\nFilter=\r\n"), std::string::npos);
}

TEST(SettingsStoreLoad, HeaderMatchingAnEarlierOneWhenTrimmedDoesNotLoopTheWalk) {
  // "[5 ]" is walked as channel 5, but its lookup (trimmed) finds "[5]"
  // before it; the walk must still go on forward and end.
  Fixture f;
  f.Load("[GLOBAL]\r\n[5]\r\nProcEnable=1\r\n[5 ]\r\nProcEnable=2\r\n[ 6 ]\r\n[9]\r\nProcEnable=9\r\n");
  const auto& c = f.store.Channels();
  ASSERT_EQ(c.size(), 4u);
  EXPECT_EQ(c[0].ProcEnable, 1);
  EXPECT_EQ(c[1].key, (ChannelKey{5, 0}));
  EXPECT_EQ(c[1].ProcEnable, 1);  // read from the header the lookup found
  EXPECT_EQ(c[2].key, (ChannelKey{6, 0}));
  EXPECT_EQ(c[2].ProcEnable, 0);
  EXPECT_EQ(c[3].ProcEnable, 9);
}

TEST(SettingsStoreLoad, NoLocationOrUnreadableFileGivesDefaultsAndNoSave) {
  Fixture f;
  f.location.versionOk = false;  // no path is formed at all
  f.Load("[GLOBAL]\r\nFFTLine=1024\r\n");
  EXPECT_TRUE(f.store.filePath.empty());
  EXPECT_EQ(f.file.reads, 0);
  EXPECT_EQ(f.store.FFTLine, 512);
  f.store.Save();
  EXPECT_EQ(f.file.writes, 0);

  Fixture g;
  g.file.readable = false;
  g.Load("[GLOBAL]\r\nFFTLine=1024\r\n");
  EXPECT_EQ(g.store.FFTLine, 512);
  EXPECT_EQ(g.store.DlgWndPosX, -100);
}

TEST(SettingsStoreSave, ChannelCheckDecidesWhatIsKept) {
  const std::string file = kDefaultHead +
                           "[1]\r\nProcEnable=0\r\nFilter=\r\n"
                           "[5]\r\nProcEnable=0\r\nFilter=\r\n"
                           "[2]\r\nProcEnable=0\r\nFilter=\r\n"
                           "[4294967297]\r\nProcEnable=0\r\nFilter=\r\n"
                           "[3]\r\nProcEnable=0\r\nFilter=\r\n"
                           "[4]\r\nProcEnable=0\r\nFilter=\r\n"
                           "[-1]\r\nProcEnable=0\r\nFilter=\r\n";
  Fixture f;
  f.Load(file, KnowsNothing);
  ASSERT_EQ(f.store.Channels().size(), 7u);
  f.store.Save();
  EXPECT_EQ(f.file.content, kDefaultHead +
                                "[1]\r\nProcEnable=0\r\nFilter=\r\n"
                                "[2]\r\nProcEnable=0\r\nFilter=\r\n"
                                "[3]\r\nProcEnable=0\r\nFilter=\r\n"
                                "[4]\r\nProcEnable=0\r\nFilter=\r\n");
  // A host without a check function keeps them all: nothing changes.
  Fixture g;
  g.Load(file, nullptr);
  g.store.Save();
  EXPECT_EQ(g.file.writes, 0);
  EXPECT_EQ(g.file.content, file);
}

TEST(SettingsStoreChannels, SwitchingKeepsEachChannelsValues) {
  Fixture f;
  f.Load(kDefaultHead + "[1]\r\nProcEnable=1\r\nFilter=" + kDot + "\r\n[2]\r\nProcEnable=0\r\nFilter=\r\n");
  // Edits made before the first frame are replaced by the channel's list.
  ASSERT_TRUE(f.list.Append(FilterSpec{0, 1, 1, 1, 1, 1, 1, 1}));
  ASSERT_TRUE(f.list.Append(FilterSpec{0, 2, 2, 2, 2, 2, 2, 2}));
  EXPECT_EQ(f.store.SelectChannel(1, 0), 1);
  ASSERT_EQ(f.list.Count(), 1);
  EXPECT_EQ(f.list[0].Fx, 3500);
  EXPECT_EQ(f.store.SelectChannel(1, 0), 0);  // same channel: no change

  // Edit A, go to B, edit B, back to A: A is as it was left.
  f.list[0].S = -60;
  f.store.ProcEnable = 0;
  EXPECT_EQ(f.store.SelectChannel(2, 0), 1);
  EXPECT_EQ(f.list.Count(), 0);
  EXPECT_EQ(f.store.ProcEnable, 0);
  ASSERT_TRUE(f.list.Append(FilterSpec{1, 10, 0, 5, 5, 1, -3, 1}));
  f.store.ProcEnable = 1;
  EXPECT_EQ(f.store.SelectChannel(1, 0), 1);
  ASSERT_EQ(f.list.Count(), 1);
  EXPECT_EQ(f.list[0].S, -60);
  EXPECT_EQ(f.store.ProcEnable, 0);
  EXPECT_EQ(f.store.SelectChannel(2, 0), 1);
  ASSERT_EQ(f.list.Count(), 1);
  EXPECT_EQ(f.list[0].Fx, 10);
  EXPECT_EQ(f.store.ProcEnable, 1);

  // ResetChannel stores the live values and makes the next select answer 1.
  f.list[0].Fx = 11;
  f.store.ResetChannel();
  EXPECT_EQ(f.store.CurrentChannelIndex(), -1);
  EXPECT_EQ(f.store.Channels()[1].Filter, "En:1/Fx:11/Fy:0/Wx:5/Wy:5/O:1/S:-3/T:1//");
  EXPECT_EQ(f.store.SelectChannel(2, 0), 1);

  // StoreCurrentChannel writes the live list into the channel's entry.
  f.list[0].Fx = 12;
  f.store.StoreCurrentChannel();
  EXPECT_EQ(f.store.Channels()[1].Filter, "En:1/Fx:12/Fy:0/Wx:5/Wy:5/O:1/S:-3/T:1//");
  EXPECT_EQ(f.store.Channels().size(), 2u);
}

TEST(SettingsStoreSave, OutputThatCannotGrowLeavesTheFileUntouched) {
  // A filter text longer than the first output block forces growth.
  std::string longFilter;
  while (longFilter.size() < 120000) longFilter += kDot;
  const std::string original = kDefaultHead + "[1]\r\nProcEnable=1\r\nFilter=En:1//\r\n";

  Fixture f;
  f.Load(original);
  ASSERT_EQ(f.store.SelectChannel(1, 0), 1);
  f.store.Filter = longFilter;
  ParseFilterText(longFilter.data(), longFilter.size(), &f.list);
  f.store.Ini().SetReallocForTest([](void* block, size_t bytes) -> void* {
    return bytes > 100000 ? nullptr : std::realloc(block, bytes);
  });
  f.store.Save();
  EXPECT_EQ(f.file.writes, 0);
  EXPECT_EQ(f.file.content, original);

  // With memory to grow, the same save writes the whole text.
  f.store.Ini().SetReallocForTest(nullptr);
  f.store.Save();
  EXPECT_EQ(f.file.writes, 1);
  EXPECT_EQ(f.store.Ini().OutCapacity(), 200000);
  EXPECT_EQ(f.file.content, kDefaultHead + "[1]\r\nProcEnable=1\r\nFilter=" + longFilter + "\r\n");
}

}  // namespace
}  // namespace qrx
