// Where the settings file goes: the program or user folder, the instance
// switches of the command line, and what happens when folders are missing.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "settings/settings_store.h"
#include "settings_test_util.h"

namespace qrx {
namespace {

using testing_util::FakeLocation;
using testing_util::MemoryFile;
using testing_util::ScratchFolder;

std::string Locate(FakeLocation* location, SettingsStore* store) {
  store->SetLocationSource(location);
  store->Locate();
  return store->filePath;
}

std::string PathFor(FakeLocation location) {
  SettingsStore store;
  return Locate(&location, &store);
}

TEST(SettingsLocation, FourPathRows) {
  FakeLocation win;
  win.sep = '\\';
  win.exePath = "C:\\TV\\host.exe";
  win.appData = "C:\\Users\\me\\AppData\\Roaming";
  win.module = "QRX_FreqFilter";

  SettingsStore store;
  EXPECT_EQ(Locate(&win, &store), "C:\\TV\\Plugins\\QRX_FreqFilter.ini");
  EXPECT_EQ(store.settingsFolder, "C:\\TV\\Plugins\\");
  EXPECT_EQ(store.moduleName, "QRX_FreqFilter");
  EXPECT_EQ(store.fileName, "QRX_FreqFilter.ini");
  EXPECT_EQ(store.instanceName, "");
  EXPECT_EQ(win.created, (std::vector<std::string>{"C:\\TV\\Plugins\\"}));

  FakeLocation inst = win;
  inst.commandLine = "\"C:\\TV\\host.exe\" /inst:2";
  EXPECT_EQ(PathFor(inst), "C:\\TV\\Instances\\2\\Plugins\\QRX_FreqFilter.ini");

  FakeLocation user = win;
  user.storeInUsers = 1;
  EXPECT_EQ(PathFor(user), "C:\\Users\\me\\AppData\\Roaming\\Velmorin\\Plugins\\QRX_FreqFilter.ini");

  FakeLocation userInst = user;
  userInst.commandLine = "host.exe -inst:B";
  userInst.storeInUsers = 0x100;  // any non-zero value
  EXPECT_EQ(PathFor(userInst),
            "C:\\Users\\me\\AppData\\Roaming\\Velmorin\\Instances\\b\\Plugins\\QRX_FreqFilter.ini");

  // POSIX separators follow the source.
  FakeLocation posix;
  posix.commandLine = "host /inst:4";
  EXPECT_EQ(PathFor(posix), "/prog/host/Instances/4/Plugins/QRX_FreqFilter.ini");
}

TEST(SettingsLocation, InstanceSwitches) {
  auto instance = [](const std::string& line) {
    FakeLocation location;
    location.commandLine = line;
    SettingsStore store;
    Locate(&location, &store);
    return store.instanceName;
  };
  EXPECT_EQ(instance("host.exe /INST:3"), "3");
  EXPECT_EQ(instance("host.exe -inst:X"), "x");
  EXPECT_EQ(instance("host.exe -inst:ab"), "a");
  EXPECT_EQ(instance("host.exe /inst:12"), "1");
  EXPECT_EQ(instance("host.exe -inst:1 /inst:2"), "2");
  EXPECT_EQ(instance("host.exe /inst:2 -inst:1"), "2");
  EXPECT_EQ(instance("host.exe /inst:"), "");
  EXPECT_EQ(instance("host.exe -inst:5 /inst:"), "");  // "/inst:" replaces, with nothing
  EXPECT_EQ(instance("host.exe -inst:"), "");
  EXPECT_EQ(instance("C:\\x-inst:7\\host.exe"), "7");  // the program path counts too
  EXPECT_EQ(instance("host.exe"), "");

  FakeLocation atEnd;
  atEnd.commandLine = "host /inst:";
  EXPECT_EQ(PathFor(atEnd), "/prog/host/Plugins/QRX_FreqFilter.ini");
}

TEST(SettingsLocation, ProgramFolderUnlessNtAndSwitchSet) {
  FakeLocation notNt;
  notNt.isNt = false;
  notNt.storeInUsers = 1;
  EXPECT_EQ(PathFor(notNt), "/prog/host/Plugins/QRX_FreqFilter.ini");
  FakeLocation zero;
  zero.storeInUsers = 0;
  EXPECT_EQ(PathFor(zero), "/prog/host/Plugins/QRX_FreqFilter.ini");
  // The host's folder, not the module's: the module name is all that is used.
  FakeLocation elsewhere;
  elsewhere.module = "Other";
  EXPECT_EQ(PathFor(elsewhere), "/prog/host/Plugins/Other.ini");
}

TEST(SettingsLocation, FailedQueriesChangeNothingOrLeaveNoPath) {
  FakeLocation location;
  SettingsStore store;
  ASSERT_EQ(Locate(&location, &store), "/prog/host/Plugins/QRX_FreqFilter.ini");
  // Version query refused: not one of the five fields changes.
  location.versionOk = false;
  location.commandLine = "host /inst:9";
  location.module = "Changed";
  location.created.clear();
  Locate(&location, &store);
  EXPECT_EQ(store.filePath, "/prog/host/Plugins/QRX_FreqFilter.ini");
  EXPECT_EQ(store.settingsFolder, "/prog/host/Plugins/");
  EXPECT_EQ(store.moduleName, "QRX_FreqFilter");
  EXPECT_EQ(store.instanceName, "");
  EXPECT_TRUE(location.created.empty());

  // No application-data folder in user mode: no path, so defaults and no save.
  FakeLocation noAppData;
  noAppData.storeInUsers = 1;
  noAppData.appDataOk = false;
  MemoryFile file;
  file.content = "[GLOBAL]\r\nFFTLine=256\r\n";
  SettingsStore user;
  user.SetLocationSource(&noAppData);
  user.SetFileAccess(&file);
  user.Load(nullptr, nullptr);
  EXPECT_EQ(user.filePath, "");
  EXPECT_EQ(user.FFTLine, 512);
  EXPECT_EQ(file.reads, 0);
  user.Save();
  EXPECT_EQ(file.writes, 0);
  EXPECT_TRUE(noAppData.created.empty());
}

TEST(SettingsLocation, RealFoldersInstanceMissingMeansNoLoadNoSave) {
  ScratchFolder root;
  FakeLocation location;
  location.realFolders = true;
  location.sep = platform::PathSeparator();
  location.exePath = root.Dir() + "host.exe";
  location.commandLine = location.exePath + " /inst:q";

  SettingsStore store;
  store.SetLocationSource(&location);
  store.Load(nullptr, nullptr);
  const std::filesystem::path instances = root.Path() / "Instances";
  EXPECT_FALSE(std::filesystem::exists(instances));  // nothing created on the way
  EXPECT_EQ(store.FFTLine, 512);
  store.FFTLine = 1024;
  store.Save();
  EXPECT_FALSE(std::filesystem::exists(instances));

  // Once the host has made the instance folder, "Plugins" is created and the
  // file appears, empty after the load and filled by the save.
  std::filesystem::create_directories(instances / "q");
  SettingsStore second;
  second.SetLocationSource(&location);
  second.Load(nullptr, nullptr);
  const std::filesystem::path file = instances / "q" / "Plugins" / "QRX_FreqFilter.ini";
  ASSERT_TRUE(std::filesystem::exists(file));
  EXPECT_EQ(std::filesystem::file_size(file), 0u);
  second.FFTLine = 1024;
  second.Save();
  EXPECT_NE(testing_util::ReadFileBytes(file).find("FFTLine=1024\r\n"), std::string::npos);
}

}  // namespace
}  // namespace qrx
