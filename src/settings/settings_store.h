// Every persistent setting of the plug-in: read from the .ini file at Init,
// switched per channel on every frame, written back at Exit. The file is
// parsed by the store's own text engine (settings_ini.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "settings/settings_ini.h"

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

// The two file operations of a load and a save. The default forwards to the
// platform layer (read creating an empty file; replace in one step so that a
// failed write keeps the old file); tests and fuzzing substitute their own.
struct SettingsFileAccess {
  virtual ~SettingsFileAccess() = default;
  virtual bool ReadWholeFile(const std::string& path, std::vector<char>* data) = 0;
  virtual bool ReplaceFileContents(const std::string& path, const char* data, size_t size) = 0;
};
SettingsFileAccess& PlatformSettingsFileAccess();

// The FFT line length the engines use: FFTLine when it is 256, 512 or 1024,
// otherwise 512 (a hand-edited file); the stored value is left as read.
int32_t EffectiveFftLine(int32_t fftLine);

// The decimal section number of a channel: high word above low word, signed.
int64_t ChannelSectionNumber(const ChannelKey& key);

class SettingsStore {
 public:
  SettingsStore();
  ~SettingsStore();
  SettingsStore(const SettingsStore&) = delete;
  SettingsStore& operator=(const SettingsStore&) = delete;

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

  // Forms the five location fields. A failed version query changes none of
  // them; in user-folder mode without an application-data folder filePath
  // is left empty. An empty filePath means: defaults at load, no save.
  void Locate();
  // Either function may be null: without channelCheck every channel entry
  // is kept at save; without filterTextCallback no list conversion is made.
  void Load(ChannelCheckFn channelCheck, FilterTextCallbackFn filterTextCallback);
  // Rebuilds the file in memory and replaces it in one step, only if its
  // bytes differ from those loaded; any failure leaves the old file.
  void Save();
  int32_t SelectChannel(int32_t low, int32_t high);  // 1: the live channel changed
  void ResetChannel();
  void StoreCurrentChannel();
  void GetDialogPos(int32_t* x, int32_t* y) const;
  void SetDialogPos(int32_t left, int32_t top);

  void SetLocationSource(LocationSource* source);  // nullptr: the platform's
  void SetFileAccess(SettingsFileAccess* access);   // nullptr: the platform's

  const std::vector<ChannelSettings>& Channels() const { return channels_; }
  int32_t CurrentChannelIndex() const { return currentChannel_; }

  // ProcEnable and Filter read from "DEFAULT": what a new channel starts with.
  int32_t DefaultProcEnable() const { return defaultProcEnable_; }
  const std::string& DefaultFilter() const { return defaultFilter_; }

  // The text engine, exposed for tests (e.g. to make output growth fail).
  SettingsIni& Ini() { return ini_; }

  static constexpr int32_t kNoDialogPos = -100;

 private:
  void ApplyCurrentChannel();
  void ReadDialogPos(const char* key, int32_t* field);
  void WriteFile();

  int32_t defaultProcEnable_ = 0;
  std::string defaultFilter_;
  std::vector<ChannelSettings> channels_;
  int32_t currentChannel_ = -1;
  ChannelCheckFn channelCheck_ = nullptr;
  FilterTextCallbackFn filterTextCallback_ = nullptr;
  SettingsIni ini_;
  SettingDescriptor globalTable_[4];
  SettingDescriptor channelTable_[2];
  LocationSource* locationSource_ = nullptr;
  SettingsFileAccess* fileAccess_ = nullptr;
};

}  // namespace qrx
