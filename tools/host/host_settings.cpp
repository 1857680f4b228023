#include "host_settings.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "platform/platform.h"
#include "settings/settings_store.h"

namespace qrxhost {

namespace {

// The store finds its file through these inputs; the host names the file
// itself, so any fixed path will do.
class FixedLocation final : public qrx::LocationSource {
 public:
  bool QueryNtFamily(bool* isNt) override {
    *isNt = true;
    return true;
  }
  uint32_t ReadStoreInUsersFolder() override { return 0; }
  bool GetUserAppDataFolder(std::string* folder) override {
    folder->clear();
    return false;
  }
  std::string HostExecutablePath() override { return "/qrx_host"; }
  std::string ProcessCommandLine() override { return std::string(); }
  std::string ModuleBaseName() override { return "QRX_FreqFilter"; }
  char PathSeparator() override { return '/'; }
  bool CreateFolder(const std::string&) override { return true; }
};

// Reads the named file (nothing for an empty name) and keeps what a save
// would write, instead of writing it.
class CapturedFile final : public qrx::SettingsFileAccess {
 public:
  explicit CapturedFile(std::string source) : source_(std::move(source)) {}
  bool ReadWholeFile(const std::string&, std::vector<char>* data) override {
    data->clear();
    if (source_.empty()) return true;
    std::ifstream in(source_, std::ios::binary);
    if (!in) {
      readError_ = std::strerror(errno);
      return false;
    }
    data->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    loaded_ = *data;
    if (in.bad()) readError_ = "read error";
    return !in.bad();
  }
  bool ReplaceFileContents(const std::string&, const char* data, size_t size) override {
    saved_.assign(data, data + size);
    wasSaved_ = true;
    return true;
  }
  const std::string& ReadError() const { return readError_; }
  // What a save leaves in the file: the new bytes, or the loaded ones when
  // nothing changed.
  const std::vector<char>& Result() const { return wasSaved_ ? saved_ : loaded_; }

 private:
  std::string source_, readError_;
  std::vector<char> loaded_, saved_;
  bool wasSaved_ = false;
};

// A store loaded from source, its channel made current. No filter-list
// callback: the channel's filter stays text.
bool LoadStore(qrx::SettingsStore* store, FixedLocation* location, CapturedFile* file, const std::string& source,
               int32_t keyLow, int32_t keyHigh, std::string* error) {
  store->SetLocationSource(location);
  store->SetFileAccess(file);
  store->Load(nullptr, nullptr);
  if (!file->ReadError().empty()) {
    *error = "cannot read " + source + ": " + file->ReadError();
    return false;
  }
  store->SelectChannel(keyLow, keyHigh);
  return true;
}

}  // namespace

bool ReadChannelSettings(const std::string& path, int32_t keyLow, int32_t keyHigh, ChannelSettingsView* view,
                         std::string* error) {
  qrx::SettingsStore store;
  FixedLocation location;
  CapturedFile file(path);
  if (!LoadStore(&store, &location, &file, path, keyLow, keyHigh, error)) return false;
  view->fftLine = qrx::EffectiveFftLine(store.FFTLine);
  view->procEnable = store.ProcEnable;
  view->filter = store.Filter;
  return true;
}

bool WriteChannelSettings(const std::string& source, const std::string& outPath, int32_t keyLow, int32_t keyHigh,
                          int32_t procEnable, const std::string& filter, std::string* error) {
  qrx::SettingsStore store;
  FixedLocation location;
  CapturedFile file(source);
  if (!LoadStore(&store, &location, &file, source, keyLow, keyHigh, error)) return false;
  store.ProcEnable = procEnable;
  store.Filter = filter;
  store.Save();
  const std::vector<char>& bytes = file.Result();
  errno = 0;
  if (bytes.empty() || !qrx::platform::ReplaceFileContents(outPath, bytes.data(), bytes.size())) {
    *error = "cannot write " + outPath + (errno != 0 ? std::string(": ") + std::strerror(errno) : std::string());
    return false;
  }
  return true;
}

}  // namespace qrxhost
