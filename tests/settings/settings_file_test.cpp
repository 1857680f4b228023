// The store on real files: the empty file a load leaves, the save that is
// skipped when nothing changed, and saves that fail without harm.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>

#include "filter/filter_list.h"
#include "settings/settings_store.h"
#include "settings_test_util.h"

namespace qrx {
namespace {

using testing_util::FakeLocation;
using testing_util::ReadFileBytes;
using testing_util::ScratchFolder;
using testing_util::WriteFileBytes;

struct RealStore {
  FakeLocation location;
  SettingsStore store;
  explicit RealStore(const ScratchFolder& root) {
    location.realFolders = true;
    location.sep = platform::PathSeparator();
    location.exePath = root.Dir() + "host.exe";
    location.commandLine = location.exePath;
    store.SetLocationSource(&location);
  }
};

TEST(SettingsFile, MissingFileIsCreatedEmptyThenWritten) {
  ScratchFolder root;
  const std::filesystem::path file = root.Path() / "Plugins" / "QRX_FreqFilter.ini";
  RealStore a(root);
  a.store.Load(nullptr, nullptr);
  ASSERT_TRUE(std::filesystem::exists(file));
  EXPECT_EQ(std::filesystem::file_size(file), 0u);
  EXPECT_EQ(a.store.filePath, file.string());
  a.store.Save();
  EXPECT_EQ(ReadFileBytes(file),
            "[DIALOG]\r\nDlgWndPosX=-100\r\nDlgWndPosY=-100\r\n"
            "[GLOBAL]\r\nFFTLine=512\r\nAngleZ=30\r\nAngleX=70\r\nDemoMode=1\r\n");
}

TEST(SettingsFile, UnchangedFileIsNotRewritten) {
  ScratchFolder root;
  const std::filesystem::path file = root.Path() / "Plugins" / "QRX_FreqFilter.ini";
  FilterList list;
  {
    RealStore a(root);
    BindFilterText(&list, &a.store.Filter);
    a.store.Load(nullptr, filterTextCallback);
    a.store.SelectChannel(3, 0);
    ASSERT_TRUE(list.Append(FilterSpec{1, 100, 0, 10, 10, 2, -20, 0}));
    a.store.Save();
  }
  const std::string written = ReadFileBytes(file);
  ASSERT_NE(written.find("[3]\r\nProcEnable=0\r\nFilter=En:1/Fx:100/"), std::string::npos);
  // Age the file so that any rewrite, even of the same bytes, shows.
  std::filesystem::last_write_time(
      file, std::filesystem::file_time_type::clock::now() - std::chrono::hours(24));
  // Read back: some file systems keep coarser times than the clock.
  auto old = std::filesystem::last_write_time(file);
  {
    RealStore b(root);
    BindFilterText(&list, &b.store.Filter);
    b.store.Load(nullptr, filterTextCallback);
    b.store.SelectChannel(3, 0);
    b.store.SelectChannel(8, 0);  // a new channel with an empty list...
    b.store.Save();               // ...changes the file
    BindFilterText(nullptr, nullptr);
  }
  EXPECT_NE(std::filesystem::last_write_time(file), old);
  const std::string second = ReadFileBytes(file);
  std::filesystem::last_write_time(file, old);
  old = std::filesystem::last_write_time(file);
  {
    RealStore c(root);
    BindFilterText(&list, &c.store.Filter);
    c.store.Load(nullptr, filterTextCallback);
    c.store.SelectChannel(8, 0);
    c.store.SelectChannel(3, 0);
    c.store.Save();
    BindFilterText(nullptr, nullptr);
  }
  EXPECT_EQ(std::filesystem::last_write_time(file), old);
  EXPECT_EQ(ReadFileBytes(file), second);
}

TEST(SettingsFile, FailedSavesKeepWhatIsOnDisk) {
  ScratchFolder root;
  // The settings "file" is a folder: the load reads nothing, the save cannot
  // replace it, and the folder and its content survive.
  const std::filesystem::path asFolder = root.Path() / "Plugins" / "QRX_FreqFilter.ini";
  std::filesystem::create_directories(asFolder);
  WriteFileBytes(asFolder / "keep.txt", "kept");
  RealStore a(root);
  a.store.Load(nullptr, nullptr);
  EXPECT_EQ(a.store.FFTLine, 512);
  a.store.FFTLine = 256;
  a.store.Save();
  EXPECT_TRUE(std::filesystem::is_directory(asFolder));
  EXPECT_EQ(ReadFileBytes(asFolder / "keep.txt"), "kept");

  // A file whose save cannot grow its output stays as it was.
  ScratchFolder other;
  const std::filesystem::path file = other.Path() / "Plugins" / "QRX_FreqFilter.ini";
  std::filesystem::create_directories(file.parent_path());
  const std::string original = "[GLOBAL]\r\nFFTLine=256\r\n";
  WriteFileBytes(file, original);
  RealStore b(other);
  b.store.Load(nullptr, nullptr);
  EXPECT_EQ(b.store.FFTLine, 256);
  b.store.Ini().SetReallocForTest([](void*, size_t) -> void* { return nullptr; });
  b.store.Save();
  EXPECT_EQ(ReadFileBytes(file), original);
  // The folder has nothing but the file: no temporary was left behind.
  size_t entries = 0;
  for (const auto& e : std::filesystem::directory_iterator(file.parent_path())) {
    (void)e;
    ++entries;
  }
  EXPECT_EQ(entries, 1u);
}

}  // namespace
}  // namespace qrx
