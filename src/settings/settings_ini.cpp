// The settings file's reader and writer (see settings_ini.h).
#include "settings/settings_ini.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace qrx {

namespace {

bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }

void* DefaultRealloc(void* block, size_t bytes) { return std::realloc(block, bytes); }

int32_t SaturateInt32(int64_t v) {
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return (int32_t)v;
}

// A 32-bit unsigned field also takes negative numbers as their two's
// complement, as a 32-bit integer read would.
uint32_t SaturateUInt32(int64_t v) {
  if (v > (int64_t)UINT32_MAX) return UINT32_MAX;
  if (v < INT32_MIN) return (uint32_t)INT32_MIN;
  return (uint32_t)v;
}

// Unsigned 64-bit values go up to UINT64_MAX (so that what "%llu" wrote reads
// back); negative numbers keep their two's complement.
uint64_t ParseDecimalU64(const char* text, size_t length) {
  size_t i = 0;
  while (i < length && IsIniBlank(text[i])) ++i;
  if (i < length && text[i] == '-') return (uint64_t)ParseDecimal64(text, length);
  if (i < length && text[i] == '+') ++i;
  uint64_t value = 0;
  for (; i < length && text[i] >= '0' && text[i] <= '9'; ++i) {
    const unsigned digit = (unsigned)(text[i] - '0');
    if (value > (UINT64_MAX - digit) / 10) return UINT64_MAX;
    value = value * 10 + digit;
  }
  return value;
}

uint64_t DefaultOf(const SettingDescriptor& row) {
  return ((uint64_t)row.defaultHigh << 32) | row.defaultLow;
}

}  // namespace

bool IsIniBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string TrimBlanks(const std::string& text) {
  size_t begin = 0, end = text.size();
  while (begin < end && IsIniBlank(text[begin])) ++begin;
  while (end > begin && IsIniBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

int64_t ParseDecimal64(const char* text, size_t length) {
  size_t i = 0;
  while (i < length && IsIniBlank(text[i])) ++i;
  bool negative = false;
  if (i < length && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  // Accumulate the magnitude as unsigned, clamped to what the sign allows.
  const uint64_t limit = negative ? (uint64_t)INT64_MAX + 1 : (uint64_t)INT64_MAX;
  uint64_t value = 0;
  for (; i < length && text[i] >= '0' && text[i] <= '9'; ++i) {
    const unsigned digit = (unsigned)(text[i] - '0');
    if (value > (limit - digit) / 10) {
      value = limit;
      break;
    }
    value = value * 10 + digit;
  }
  if (!negative) return (int64_t)value;
  return value == (uint64_t)INT64_MAX + 1 ? INT64_MIN : -(int64_t)value;
}

SettingsIni::~SettingsIni() {
  ResetReader();
  ReleaseOutput();
}

// ---------------------------------------------------------------- reader

void SettingsIni::ResetReader() {
  std::free(loaded_);
  loaded_ = nullptr;
  loadedSize_ = 0;
  readPos_ = 0;
  sectionPos_ = 0;
}

bool SettingsIni::SetLoadedText(const char* data, size_t size) {
  ResetReader();
  if (size == 0) return true;
  if (size > (size_t)INT32_MAX) return false;
  loaded_ = static_cast<char*>(std::malloc(size));
  if (loaded_ == nullptr) return false;
  std::memcpy(loaded_, data, size);
  loadedSize_ = (int32_t)size;
  return true;
}

// One line from readPos: the bytes up to CR, LF or the end of the data. A
// line end of two characters (any pair of CR and LF) is stepped over whole.
bool SettingsIni::ReadLine(std::string* line) {
  line->clear();
  if (readPos_ >= loadedSize_) return false;
  int32_t end = readPos_;
  while (end < loadedSize_ && !IsLineEnd(loaded_[end])) ++end;
  line->assign(loaded_ + readPos_, (size_t)(end - readPos_));
  readPos_ = end;
  if (readPos_ < loadedSize_) {
    ++readPos_;
    if (readPos_ < loadedSize_ && IsLineEnd(loaded_[readPos_])) ++readPos_;
  }
  return true;
}

// Searches for the header from the last section found onwards, wrapping to
// the start of the file once; sectionPos only moves on success.
bool SettingsIni::FindSection(const std::string& name) {
  if (loadedSize_ == 0) return false;
  const std::string target = "[" + TrimBlanks(name) + "]";
  const int32_t start = sectionPos_;
  readPos_ = start;
  bool wrapped = false;
  std::string line;
  for (;;) {
    if (wrapped && readPos_ >= start) return false;
    const int32_t lineStart = readPos_;
    if (!ReadLine(&line)) {
      if (wrapped) return false;
      wrapped = true;
      readPos_ = 0;
      continue;
    }
    if (TrimBlanks(line) == target) {
      sectionPos_ = lineStart;
      return true;
    }
  }
}

// The next header after the current section's; does not wrap around.
bool SettingsIni::NextSection(std::string* name) {
  if (loadedSize_ == 0) return false;
  readPos_ = sectionPos_;
  std::string line;
  ReadLine(&line);  // the current header (or the file's first line)
  for (;;) {
    const int32_t lineStart = readPos_;
    if (!ReadLine(&line)) return false;
    const std::string trimmed = TrimBlanks(line);
    if (trimmed.size() >= 2 && trimmed.front() == '[' && trimmed.back() == ']') {
      sectionPos_ = lineStart;
      *name = trimmed.substr(1, trimmed.size() - 2);
      return true;
    }
  }
}

bool SettingsIni::FindKey(const std::string& section, const std::string& key, std::string* value) {
  const std::string wanted = TrimBlanks(key);
  if (!FindSection(section)) return false;
  std::string line;
  while (ReadLine(&line)) {
    size_t begin = 0;
    while (begin < line.size() && IsIniBlank(line[begin])) ++begin;
    if (begin == line.size()) continue;
    if (line[begin] == '[') return false;
    const size_t eq = line.find('=', begin);
    if (eq == std::string::npos) continue;
    size_t keyEnd = eq;
    while (keyEnd > begin && IsIniBlank(line[keyEnd - 1])) --keyEnd;
    if (line.compare(begin, keyEnd - begin, wanted) != 0) continue;
    // The first matching line decides, even with an empty value.
    value->assign(line, eq + 1, std::string::npos);
    return !value->empty();
  }
  return false;
}

void SettingsIni::ReadSettings(const std::string& section, const SettingDescriptor* table,
                               size_t rows) {
  std::string value;
  for (size_t r = 0; r < rows; ++r) {
    const SettingDescriptor& row = table[r];
    if (row.type < 0 || row.type > kSettingText) continue;
    const bool found = FindKey(section, row.key, &value);
    const char* text = value.data();
    const size_t length = value.size();
    switch (row.type) {
      case kSettingByte:
        *static_cast<uint8_t*>(row.field) =
            (uint8_t)(found ? (uint32_t)SaturateInt32(ParseDecimal64(text, length)) : row.defaultLow);
        break;
      case kSettingShort:
      case kSettingWord:
      case kSettingUShort:
        // Same bits for the signed and unsigned 16-bit fields.
        *static_cast<uint16_t*>(row.field) =
            (uint16_t)(found ? (uint32_t)SaturateInt32(ParseDecimal64(text, length)) : row.defaultLow);
        break;
      case kSettingUInt:
      case kSettingDword:
      case kSettingULong:
      case kSettingUInt32:
        *static_cast<uint32_t*>(row.field) =
            found ? SaturateUInt32(ParseDecimal64(text, length)) : row.defaultLow;
        break;
      case kSettingInt:
      case kSettingLong:
        *static_cast<int32_t*>(row.field) =
            found ? SaturateInt32(ParseDecimal64(text, length)) : (int32_t)row.defaultLow;
        break;
      case kSettingInt64:
        *static_cast<int64_t*>(row.field) =
            found ? ParseDecimal64(text, length) : (int64_t)DefaultOf(row);
        break;
      case kSettingUInt64:
        *static_cast<uint64_t*>(row.field) = found ? ParseDecimalU64(text, length) : DefaultOf(row);
        break;
      case kSettingText:
        *static_cast<std::string*>(row.field) =
            found ? value : std::string(row.defaultText != nullptr ? row.defaultText : "");
        break;
    }
  }
}

// ---------------------------------------------------------------- writer

bool SettingsIni::BeginOutput() {
  ReleaseOutput();
  ReallocFn grow = realloc_ != nullptr ? realloc_ : DefaultRealloc;
  out_ = static_cast<char*>(grow(nullptr, kOutputStep));
  if (out_ == nullptr) return false;
  outCapacity_ = kOutputStep;
  outOk_ = true;
  return true;
}

void SettingsIni::ReleaseOutput() {
  std::free(out_);
  out_ = nullptr;
  outLength_ = 0;
  outCapacity_ = 0;
  outOk_ = false;
}

void SettingsIni::AppendText(const char* text, size_t length) {
  if (!outOk_) return;
  const int64_t needed = (int64_t)outLength_ + (int64_t)length;
  if (needed > outCapacity_) {
    int64_t capacity = outCapacity_;
    while (capacity < needed) capacity += kOutputStep;
    ReallocFn grow = realloc_ != nullptr ? realloc_ : DefaultRealloc;
    char* grown = capacity > INT32_MAX ? nullptr : static_cast<char*>(grow(out_, (size_t)capacity));
    if (grown == nullptr) {
      outOk_ = false;  // the save is abandoned; out_ still holds the old block
      return;
    }
    out_ = grown;
    outCapacity_ = (int32_t)capacity;
  }
  if (length > 0) std::memcpy(out_ + outLength_, text, length);
  outLength_ = (int32_t)needed;
}

void SettingsIni::WriteSection(const std::string& name) {
  const std::string line = "[" + TrimBlanks(name) + "]\r\n";
  AppendText(line.data(), line.size());
}

void SettingsIni::WriteKey(const std::string& key, const std::string& value) {
  const std::string line = TrimBlanks(key) + "=" + value + "\r\n";
  AppendText(line.data(), line.size());
}

void SettingsIni::WriteSettings(const SettingDescriptor* table, size_t rows) {
  char number[32];
  for (size_t r = 0; r < rows; ++r) {
    const SettingDescriptor& row = table[r];
    const void* f = row.field;
    switch (row.type) {
      case kSettingByte:
        std::snprintf(number, sizeof(number), "%u", (unsigned)*static_cast<const uint8_t*>(f));
        break;
      case kSettingShort:
        std::snprintf(number, sizeof(number), "%d", (int)*static_cast<const int16_t*>(f));
        break;
      case kSettingWord:
      case kSettingUShort:
        std::snprintf(number, sizeof(number), "%u", (unsigned)*static_cast<const uint16_t*>(f));
        break;
      case kSettingUInt:
      case kSettingDword:
      case kSettingULong:
      case kSettingUInt32:
        std::snprintf(number, sizeof(number), "%" PRIu32, *static_cast<const uint32_t*>(f));
        break;
      case kSettingInt:
      case kSettingLong:
        std::snprintf(number, sizeof(number), "%" PRId32, *static_cast<const int32_t*>(f));
        break;
      case kSettingInt64:
        std::snprintf(number, sizeof(number), "%" PRId64, *static_cast<const int64_t*>(f));
        break;
      case kSettingUInt64:
        std::snprintf(number, sizeof(number), "%" PRIu64, *static_cast<const uint64_t*>(f));
        break;
      case kSettingText:
        WriteKey(row.key, *static_cast<const std::string*>(f));
        continue;
      default:
        continue;  // unknown type: row skipped
    }
    WriteKey(row.key, number);
  }
}

}  // namespace qrx
