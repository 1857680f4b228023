// Every persistent setting of the plug-in: read from the .ini file at Init,
// switched per channel on every frame, written back at Exit. The file is
// parsed by the store's own text engine (settings_ini.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qrx {

struct ChannelKey {
  int32_t low = 0;
  int32_t high = 0;
  bool operator==(const ChannelKey& o) const { return low == o.low && high == o.high; }
};

struct ChannelSettings {
  ChannelKey key;
  int32_t ProcEnable = 0;
  std::string Filter;
};

using ChannelCheckFn = int32_t (*)(int32_t low, int32_t high);
using FilterTextCallbackFn = void (*)(int32_t direction);

// The six inputs from which Locate forms the path. The default source asks
// the platform layer; tests pass a fake.
struct LocationSource {
  virtual ~LocationSource() = default;
  virtual bool QueryNtFamily(bool* isNt) = 0;
  virtual uint32_t ReadStoreInUsersFolder() = 0;
  virtual bool GetUserAppDataFolder(std::string* folder) = 0;
  virtual std::string HostExecutablePath() = 0;
  virtual std::string ProcessCommandLine() = 0;
  virtual std::string ModuleBaseName() = 0;
  virtual char PathSeparator() = 0;
  virtual bool CreateFolder(const std::string& path) = 0;
};
LocationSource& PlatformLocationSource();

class SettingsStore {
 public:
  SettingsStore();
  ~SettingsStore();

  // Live values, read and written directly by the rest of the plug-in.
  int32_t FFTLine = 0;
  int32_t AngleZ = 0;
  int32_t AngleX = 0;
  uint32_t DemoMode = 0;
  ChannelKey currentKey;
  int32_t ProcEnable = 0;
  std::string Filter;
  int32_t DlgWndPosX = 0;
  int32_t DlgWndPosY = 0;

  // Location fields, formed by Locate.
  std::string instanceName, settingsFolder, moduleName, fileName, filePath;

  void Locate();
  void Load(ChannelCheckFn channelCheck, FilterTextCallbackFn filterTextCallback);
  void Save();
  int32_t SelectChannel(int32_t low, int32_t high);  // 1: the live channel changed
  void ResetChannel();
  void StoreCurrentChannel();
  void GetDialogPos(int32_t* x, int32_t* y) const;
  void SetDialogPos(int32_t left, int32_t top);

  void SetLocationSource(LocationSource* source);  // nullptr: the platform's

  const std::vector<ChannelSettings>& Channels() const { return channels_; }
  int32_t CurrentChannelIndex() const { return currentChannel_; }

  // The implementation adds the reader and writer state and the rest.
 private:
  std::vector<ChannelSettings> channels_;
  int32_t currentChannel_ = -1;
};

}  // namespace qrx
