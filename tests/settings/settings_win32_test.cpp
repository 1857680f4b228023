// The settings location on Windows itself: the real registry switch, the
// real command line and real folders, with a full load and save.
#ifdef _WIN32

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/platform_testing.h"
#include "settings/settings_store.h"
#include "settings_test_util.h"

namespace qrx {
namespace {

namespace raw = platform::testing;

std::string ExeFolder() {
  const std::string s = raw::RawExecutablePath();
  return s.substr(0, s.rfind('\\') + 1);
}

// The instance character the command line selects, worked out here from
// the raw command line on its own.
std::string ExpectedInstance() {
  std::string line = raw::RawCommandLine();
  for (char& c : line) c = (char)std::tolower((unsigned char)c);
  std::string instance;
  for (const char* key : {"-inst:", "/inst:"}) {
    const size_t at = line.find(key);
    if (at != std::string::npos) instance = line.substr(at + 6, 1);
  }
  return instance;
}

std::string ExpectedSubfolder() {
  const std::string instance = ExpectedInstance();
  return (instance.empty() ? std::string() : "Instances\\" + instance + "\\") + "Plugins\\";
}

// Sets or removes HKLM\SOFTWARE\Velmorin "StoreInUsersFolder" for one test.
class UsersFolderSwitch {
 public:
  explicit UsersFolderSwitch(uint32_t value) {
    opened_ = raw::CreateSwitchKey(&createdKey_);
    ok_ = opened_ && raw::SetSwitchValue(raw::RegistryType::Dword, &value, sizeof(value));
  }
  ~UsersFolderSwitch() {
    if (!opened_) return;
    raw::DeleteSwitchValue();
    if (createdKey_) raw::DeleteSwitchKey();
  }
  bool ok() const { return ok_; }

 private:
  bool opened_ = false;
  bool createdKey_ = false;
  bool ok_ = false;
};

// Load, change, save; then a second store must read the change back, and an
// immediate save of it must not touch the file.
void RoundTrip(const std::string& expectedPath) {
  std::filesystem::remove(expectedPath);
  {
    SettingsStore store;
    store.Load(nullptr, nullptr);
    ASSERT_EQ(store.filePath, expectedPath);
    ASSERT_TRUE(std::filesystem::exists(expectedPath));
    EXPECT_EQ(std::filesystem::file_size(expectedPath), 0u);
    store.FFTLine = 1024;
    store.SetDialogPos(40, 50);
    ASSERT_EQ(store.SelectChannel(6, 0), 1);
    store.ProcEnable = 1;
    store.Filter = "En:1/Fx:3500/Fy:0/Wx:100/Wy:50/O:2/S:-40/T:0//";
    store.Save();
  }
  const std::string written = testing_util::ReadFileBytes(expectedPath);
  EXPECT_EQ(written,
            "[DIALOG]\r\nDlgWndPosX=40\r\nDlgWndPosY=50\r\n"
            "[GLOBAL]\r\nFFTLine=1024\r\nAngleZ=30\r\nAngleX=70\r\nDemoMode=1\r\n"
            "[6]\r\nProcEnable=1\r\nFilter=En:1/Fx:3500/Fy:0/Wx:100/Wy:50/O:2/S:-40/T:0//\r\n");
  std::filesystem::last_write_time(
      expectedPath, std::filesystem::file_time_type::clock::now() - std::chrono::hours(24));
  // Read back: some file systems keep coarser times than the clock.
  const auto old = std::filesystem::last_write_time(expectedPath);
  {
    SettingsStore store;
    store.Load(nullptr, nullptr);
    EXPECT_EQ(store.FFTLine, 1024);
    EXPECT_EQ(store.DlgWndPosX, 40);
    ASSERT_EQ(store.Channels().size(), 1u);
    EXPECT_EQ(store.Channels()[0].ProcEnable, 1);
    store.Save();
  }
  EXPECT_EQ(std::filesystem::last_write_time(expectedPath), old);
  std::filesystem::remove(expectedPath);
}

TEST(SettingsWin32, ProgramFolderWithoutTheSwitch) {
  UsersFolderSwitch off(0);
  ASSERT_TRUE(off.ok());
  SettingsStore store;
  store.Locate();
  EXPECT_EQ(store.instanceName, ExpectedInstance());
  EXPECT_EQ(store.moduleName, "test_settings");
  EXPECT_EQ(store.settingsFolder, ExeFolder() + ExpectedSubfolder());
  EXPECT_EQ(store.filePath, ExeFolder() + ExpectedSubfolder() + "test_settings.ini");
  if (ExpectedInstance().empty()) RoundTrip(store.filePath);
}

TEST(SettingsWin32, UserFolderWithTheSwitch) {
  UsersFolderSwitch on(1);
  ASSERT_TRUE(on.ok());
  std::string appData;
  ASSERT_TRUE(raw::RawAppDataFolder(&appData));
  const std::string velmorin = appData + "\\Velmorin\\";
  raw::RawCreateFolder(velmorin);  // as the host would
  SettingsStore store;
  store.Locate();
  const std::string expected = velmorin + ExpectedSubfolder() + "test_settings.ini";
  EXPECT_EQ(store.filePath, expected);
  if (ExpectedInstance().empty()) RoundTrip(expected);
}

}  // namespace
}  // namespace qrx

#endif  // _WIN32
