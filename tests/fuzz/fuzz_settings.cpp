// Arbitrary bytes as the loaded settings file: load them with both tables and
// the channel walk, switch channels, save to memory. Then the saved bytes,
// loaded and saved again, must come out unchanged (so nothing is written).
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "filter/filter_list.h"
#include "settings/settings_store.h"

namespace {

struct MemoryFile : qrx::SettingsFileAccess {
  std::string content;
  int writes = 0;
  bool ReadWholeFile(const std::string&, std::vector<char>* data) override {
    data->assign(content.begin(), content.end());
    return true;
  }
  bool ReplaceFileContents(const std::string&, const char* data, size_t size) override {
    ++writes;
    content.assign(data, size);
    return true;
  }
};

struct FixedLocation : qrx::LocationSource {
  bool QueryNtFamily(bool* isNt) override {
    *isNt = true;
    return true;
  }
  uint32_t ReadStoreInUsersFolder() override { return 0; }
  bool GetUserAppDataFolder(std::string* folder) override {
    *folder = "/appdata";
    return true;
  }
  std::string HostExecutablePath() override { return "/host/host.exe"; }
  std::string ProcessCommandLine() override { return "host.exe"; }
  std::string ModuleBaseName() override { return "QRX_FreqFilter"; }
  char PathSeparator() override { return '/'; }
  bool CreateFolder(const std::string&) override { return true; }
};

// Keeps channels with an odd low word, and 1..4 anyway.
int32_t OddChannels(int32_t low, int32_t) { return low & 1; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FixedLocation location;
  MemoryFile file;
  file.content.assign(reinterpret_cast<const char*>(data), size);

  qrx::FilterList list;
  std::string saved;
  {
    qrx::SettingsStore store;
    store.SetLocationSource(&location);
    store.SetFileAccess(&file);
    qrx::BindFilterText(&list, &store.Filter);
    store.Load(size > 0 && (data[0] & 1) ? OddChannels : nullptr, qrx::filterTextCallback);

    // Visit some loaded channels and some new ones, editing on the way.
    std::vector<qrx::ChannelKey> keys;
    for (size_t i = 0; i < store.Channels().size() && i < 4; ++i) keys.push_back(store.Channels()[i].key);
    keys.push_back({1, 0});
    keys.push_back({5, 0});
    keys.push_back({-1, -1});
    for (const qrx::ChannelKey& key : keys) {
      store.SelectChannel(key.low, key.high);
      if (!list.Append(qrx::FilterSpec{1, key.low, key.high, 1, 2, 3, -4, 0})) std::abort();
      if (list.Count() > 2) list.RemoveAt(0);
    }
    store.SelectChannel(keys[0].low, keys[0].high);
    store.ResetChannel();
    store.Save();
    qrx::BindFilterText(nullptr, nullptr);
    saved = file.content;
  }

  // A program-written file is a fixed point of load and save.
  MemoryFile again;
  again.content = saved;
  qrx::SettingsStore reread;
  reread.SetLocationSource(&location);
  reread.SetFileAccess(&again);
  reread.Load(nullptr, nullptr);
  reread.Save();
  if (again.writes != 0) std::abort();
  return 0;
}
