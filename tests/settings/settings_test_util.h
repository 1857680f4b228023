// Fakes shared by the settings tests: an in-memory settings file that counts
// reads and writes, a scriptable location source, and scratch folders.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "settings/settings_store.h"

namespace qrx {
namespace testing_util {

struct MemoryFile : SettingsFileAccess {
  bool readable = true;
  bool writable = true;
  std::string content;
  std::string lastPath;
  int reads = 0;
  int writes = 0;

  bool ReadWholeFile(const std::string& path, std::vector<char>* data) override {
    lastPath = path;
    if (!readable) return false;
    ++reads;
    data->assign(content.begin(), content.end());
    return true;
  }
  bool ReplaceFileContents(const std::string& path, const char* data, size_t size) override {
    lastPath = path;
    ++writes;
    if (!writable) return false;
    content.assign(data, size);
    return true;
  }
};

struct FakeLocation : LocationSource {
  bool versionOk = true;
  bool isNt = true;
  uint32_t storeInUsers = 0;
  bool appDataOk = true;
  std::string appData = "/users/me/appdata";
  std::string exePath = "/prog/host/host.exe";
  std::string commandLine = "/prog/host/host.exe";
  std::string module = "QRX_FreqFilter";
  char sep = '/';
  bool realFolders = false;  // create folders on disk through the platform
  std::vector<std::string> created;

  bool QueryNtFamily(bool* nt) override {
    if (!versionOk) return false;
    *nt = isNt;
    return true;
  }
  uint32_t ReadStoreInUsersFolder() override { return storeInUsers; }
  bool GetUserAppDataFolder(std::string* folder) override {
    if (!appDataOk) return false;
    *folder = appData;
    return true;
  }
  std::string HostExecutablePath() override { return exePath; }
  std::string ProcessCommandLine() override { return commandLine; }
  std::string ModuleBaseName() override { return module; }
  char PathSeparator() override { return sep; }
  bool CreateFolder(const std::string& path) override {
    created.push_back(path);
    return realFolders ? platform::CreateFolder(path) : true;
  }
};

// A fresh empty folder under the system's temporary folder, removed at the end.
class ScratchFolder {
 public:
  ScratchFolder() {
    static std::atomic<int> serial{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    path_ = std::filesystem::temp_directory_path() /
            ("qrx_settings_" + std::to_string(stamp) + "_" + std::to_string(serial++));
    std::filesystem::create_directories(path_);
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  // The folder with a trailing separator, as the settings paths are formed.
  std::string Dir() const { return path_.string() + platform::PathSeparator(); }
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

inline std::string ReadFileBytes(const std::filesystem::path& path) {
  std::vector<char> data;
  FILE* f = std::fopen(path.string().c_str(), "rb");
  if (f == nullptr) return "<missing>";
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof(buffer), f)) > 0) data.insert(data.end(), buffer, buffer + n);
  std::fclose(f);
  return std::string(data.begin(), data.end());
}

inline void WriteFileBytes(const std::filesystem::path& path, const std::string& bytes) {
  FILE* f = std::fopen(path.string().c_str(), "wb");
  if (f == nullptr) return;
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

}  // namespace testing_util
}  // namespace qrx
