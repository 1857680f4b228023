// Sections "DIALOG", "GLOBAL", "DEFAULT" and one per channel; the live
// per-channel values and their switching; load at Init, save at Exit.
#include "settings/settings_store.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace qrx {

namespace {

constexpr size_t kGlobalRows = 4;
constexpr size_t kChannelRows = 2;

std::string FormatInt32(int32_t v) {
  char text[16];
  std::snprintf(text, sizeof(text), "%" PRId32, v);
  return text;
}

// Channels 1 to 4 (high word 0) are written whatever the host answers.
bool AlwaysKept(const ChannelKey& key) { return key.high == 0 && key.low >= 1 && key.low <= 4; }

}  // namespace

int64_t ChannelSectionNumber(const ChannelKey& key) {
  return (int64_t)(((uint64_t)(uint32_t)key.high << 32) | (uint32_t)key.low);
}

SettingsStore::SettingsStore()
    : globalTable_{{kSettingInt, "FFTLine", &FFTLine, 512, 0, nullptr},
                   {kSettingInt, "AngleZ", &AngleZ, 30, 0, nullptr},
                   {kSettingInt, "AngleX", &AngleX, 70, 0, nullptr},
                   {kSettingUInt, "DemoMode", &DemoMode, 1, 0, nullptr}},
      channelTable_{{kSettingInt, "ProcEnable", &ProcEnable, 0, 0, nullptr},
                    {kSettingText, "Filter", &Filter, 0, 0, ""}} {}

SettingsStore::~SettingsStore() = default;

void SettingsStore::SetLocationSource(LocationSource* source) { locationSource_ = source; }
void SettingsStore::SetFileAccess(SettingsFileAccess* access) { fileAccess_ = access; }

void SettingsStore::ReadDialogPos(const char* key, int32_t* field) {
  std::string value;
  if (ini_.FindKey("DIALOG", key, &value)) {
    const int64_t v = ParseDecimal64(value.data(), value.size());
    *field = v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : (int32_t)v;
  } else {
    *field = kNoDialogPos;
  }
}

void SettingsStore::Load(ChannelCheckFn channelCheck, FilterTextCallbackFn filterTextCallback) {
  channelCheck_ = channelCheck;
  filterTextCallback_ = filterTextCallback;
  Locate();

  currentChannel_ = -1;
  ini_.ResetReader();
  if (!filePath.empty()) {
    SettingsFileAccess& files = fileAccess_ != nullptr ? *fileAccess_ : PlatformSettingsFileAccess();
    std::vector<char> data;
    if (files.ReadWholeFile(filePath, &data)) ini_.SetLoadedText(data.data(), data.size());
  }

  ReadDialogPos("DlgWndPosX", &DlgWndPosX);
  ReadDialogPos("DlgWndPosY", &DlgWndPosY);

  ini_.ReadSettings("DEFAULT", channelTable_, kChannelRows);
  defaultProcEnable_ = ProcEnable;
  defaultFilter_ = Filter;

  ini_.ReadSettings("GLOBAL", globalTable_, kGlobalRows);

  // The walk starts after the last header found above, so channel sections
  // placed before "GLOBAL" are not seen. Names that are not a number (or are
  // 0) are skipped; "12abc" is channel 12.
  // The lookup trims the name and may find another header (e.g. "[5]" for
  // "[5 ]"); the walk goes on from the header it found itself, so that it
  // always moves forward and ends.
  std::string name;
  while (ini_.NextSection(&name)) {
    const int64_t number = ParseDecimal64(name.data(), name.size());
    if (number == 0) continue;
    currentKey.low = (int32_t)(uint32_t)((uint64_t)number & 0xFFFFFFFFu);
    currentKey.high = (int32_t)(uint32_t)((uint64_t)number >> 32);
    const int32_t walkPos = ini_.SectionPos();
    ini_.ReadSettings(name, channelTable_, kChannelRows);
    ini_.SetSectionPos(walkPos);
    ChannelSettings entry;
    entry.key = currentKey;
    entry.ProcEnable = ProcEnable;
    entry.Filter = Filter;
    channels_.push_back(std::move(entry));
  }
}

void SettingsStore::StoreCurrentChannel() {
  if (currentChannel_ < 0) return;
  if (filterTextCallback_ != nullptr) filterTextCallback_(0);
  ChannelSettings& entry = channels_[(size_t)currentChannel_];
  entry.key = currentKey;
  entry.ProcEnable = ProcEnable;
  entry.Filter = Filter;
}

void SettingsStore::ApplyCurrentChannel() {
  if (currentChannel_ < 0) return;
  const ChannelSettings& entry = channels_[(size_t)currentChannel_];
  currentKey = entry.key;
  ProcEnable = entry.ProcEnable;
  Filter = entry.Filter;
  if (filterTextCallback_ != nullptr) filterTextCallback_(1);
}

int32_t SettingsStore::SelectChannel(int32_t low, int32_t high) {
  const ChannelKey key{low, high};
  if (currentChannel_ >= 0 && channels_[(size_t)currentChannel_].key == key) return 0;
  StoreCurrentChannel();
  int32_t found = -1;
  for (size_t i = 0; i < channels_.size(); ++i) {
    if (channels_[i].key == key) {
      found = (int32_t)i;
      break;
    }
  }
  if (found < 0) {
    ChannelSettings entry;
    entry.key = key;
    entry.ProcEnable = defaultProcEnable_;
    entry.Filter = defaultFilter_;
    channels_.push_back(std::move(entry));
    found = (int32_t)(channels_.size() - 1);
  }
  currentChannel_ = found;
  ApplyCurrentChannel();
  return 1;
}

void SettingsStore::ResetChannel() {
  StoreCurrentChannel();
  currentChannel_ = -1;
}

void SettingsStore::GetDialogPos(int32_t* x, int32_t* y) const {
  *x = DlgWndPosX;
  *y = DlgWndPosY;
}

void SettingsStore::SetDialogPos(int32_t left, int32_t top) {
  DlgWndPosX = left;
  DlgWndPosY = top;
}

void SettingsStore::Save() {
  if (!ini_.BeginOutput()) return;
  StoreCurrentChannel();

  ini_.WriteSection("DIALOG");
  ini_.WriteKey("DlgWndPosX", FormatInt32(DlgWndPosX));
  ini_.WriteKey("DlgWndPosY", FormatInt32(DlgWndPosY));
  ini_.WriteSection("GLOBAL");
  ini_.WriteSettings(globalTable_, kGlobalRows);

  char section[32];
  for (const ChannelSettings& entry : channels_) {
    // A host without a check function keeps every channel.
    const bool keep =
        channelCheck_ == nullptr || channelCheck_(entry.key.low, entry.key.high) != 0 || AlwaysKept(entry.key);
    if (!keep) continue;
    std::snprintf(section, sizeof(section), "%" PRId64, ChannelSectionNumber(entry.key));
    ini_.WriteSection(section);
    ini_.WriteKey("ProcEnable", FormatInt32(entry.ProcEnable));
    ini_.WriteKey("Filter", entry.Filter);
  }
  WriteFile();
}

// Writes the output unless it is incomplete, there is no path, or the bytes
// are those already on disk.
void SettingsStore::WriteFile() {
  if (!ini_.OutputOk() || filePath.empty()) return;
  const int32_t length = ini_.OutLength();
  if (length == ini_.LoadedSize() &&
      (length == 0 || std::memcmp(ini_.OutText(), ini_.LoadedText(), (size_t)length) == 0)) {
    return;
  }
  SettingsFileAccess& files = fileAccess_ != nullptr ? *fileAccess_ : PlatformSettingsFileAccess();
  files.ReplaceFileContents(filePath, ini_.OutText(), (size_t)length);
}

}  // namespace qrx
