// Where the settings file lives: the host's program folder or the user's
// application-data folder (machine-wide switch, NT family only), with a
// sub-folder per host instance named on the command line.
#include <string>

#include "platform/platform.h"
#include "settings/settings_store.h"

namespace qrx {

namespace {

class PlatformSource final : public LocationSource {
 public:
  bool QueryNtFamily(bool* isNt) override { return platform::QueryNtFamily(isNt); }
  uint32_t ReadStoreInUsersFolder() override { return platform::ReadStoreInUsersFolder(); }
  bool GetUserAppDataFolder(std::string* folder) override {
    return platform::GetUserAppDataFolder(folder);
  }
  std::string HostExecutablePath() override { return platform::HostExecutablePath(); }
  std::string ProcessCommandLine() override { return platform::ProcessCommandLine(); }
  std::string ModuleBaseName() override { return platform::ModuleBaseName(); }
  char PathSeparator() override { return platform::PathSeparator(); }
  bool CreateFolder(const std::string& path) override { return platform::CreateFolder(path); }
};

class PlatformFiles final : public SettingsFileAccess {
 public:
  bool ReadWholeFile(const std::string& path, std::vector<char>* data) override {
    return platform::ReadWholeFile(path, data);
  }
  bool ReplaceFileContents(const std::string& path, const char* data, size_t size) override {
    return platform::ReplaceFileContents(path, data, size);
  }
};

// The command line is lower-cased byte by byte, ASCII letters only, so the
// result does not depend on the process locale.
std::string LowerAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
  }
  return text;
}

// The one character after the first occurrence of the switch; "" when the
// line ends right after it. found tells whether the switch occurs at all.
std::string CharAfter(const std::string& line, const char* key, bool* found) {
  const size_t at = line.find(key);
  *found = at != std::string::npos;
  if (!*found) return std::string();
  const size_t next = at + std::char_traits<char>::length(key);
  return next < line.size() ? line.substr(next, 1) : std::string();
}

}  // namespace

LocationSource& PlatformLocationSource() {
  static PlatformSource source;
  return source;
}

SettingsFileAccess& PlatformSettingsFileAccess() {
  static PlatformFiles files;
  return files;
}

void SettingsStore::Locate() {
  LocationSource& src = locationSource_ != nullptr ? *locationSource_ : PlatformLocationSource();
  bool isNt = false;
  if (!src.QueryNtFamily(&isNt)) return;  // no path at all: defaults, no save

  const char sep = src.PathSeparator();
  const std::string module = src.ModuleBaseName();
  std::string folder;
  if (isNt && src.ReadStoreInUsersFolder() != 0) {
    std::string appData;
    if (!src.GetUserAppDataFolder(&appData)) {
      // Without the user's folder there is nowhere to keep the file: run
      // with the defaults and save nothing, as with a missing file.
      settingsFolder.clear();
      filePath.clear();
      moduleName = module;
      fileName = moduleName + ".ini";
      return;
    }
    folder = appData + sep + "Velmorin" + sep;
  } else {
    const std::string exe = src.HostExecutablePath();
    const size_t cut = exe.rfind(sep);
    if (cut != std::string::npos) folder = exe.substr(0, cut + 1);
  }

  // "/inst:" wins over "-inst:"; only one character is ever taken.
  const std::string line = LowerAscii(src.ProcessCommandLine());
  instanceName.clear();
  bool found = false;
  std::string c = CharAfter(line, "-inst:", &found);
  if (found) instanceName = c;
  c = CharAfter(line, "/inst:", &found);
  if (found) instanceName = c;

  if (!instanceName.empty()) folder += std::string("Instances") + sep + instanceName + sep;
  folder += std::string("Plugins") + sep;
  src.CreateFolder(folder);  // one level; an existing folder is the normal case

  settingsFolder = folder;
  moduleName = module;
  fileName = moduleName + ".ini";
  filePath = settingsFolder + fileName;
}

}  // namespace qrx
