// The settings file's own text engine. The reader holds the whole file in
// memory and searches it line by line from the last section header found;
// the writer builds the new file in one buffer. A table of SettingDescriptor
// rows binds keys to typed fields so that a whole section is read or written
// in one call.
//
// Syntax: "[name]" headers and "key=value" lines; CR, LF or any pair of them
// end a line, and so does the end of the data. Names and keys are compared
// byte for byte after trimming white space at both ends; a value is the rest
// of the line after the first "=", untrimmed, and an empty one counts as
// missing. The writer ends every line with "\r\n".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qrx {

// How a bound field is stored, written and read. Numbers are decimal text;
// values beyond a field's range saturate at the range's ends.
enum SettingType : int32_t {
  kSettingByte = 0,     // uint8_t, "%u"; read as 32 bits, low 8 kept
  kSettingShort = 1,    // int16_t, "%d"; read as 32 bits, low 16 kept
  kSettingWord = 2,     // uint16_t, "%u"; read as 32 bits, low 16 kept
  kSettingUShort = 3,   // as kSettingWord
  kSettingUInt = 4,     // uint32_t, "%u"
  kSettingDword = 5,    // uint32_t, "%u"
  kSettingInt = 6,      // int32_t, "%d"
  kSettingULong = 7,    // uint32_t, "%u"
  kSettingLong = 8,     // int32_t, "%d"
  kSettingUInt32 = 9,   // uint32_t, "%u"
  kSettingInt64 = 10,   // int64_t, signed decimal
  kSettingUInt64 = 11,  // uint64_t, unsigned decimal
  kSettingText = 12,    // std::string, the rest of the line after "="
  // Codes above 12 are skipped by the reader and the writer.
};

struct SettingDescriptor {
  int32_t type;             // SettingType
  const char* key;
  void* field;              // the bound variable, of the type's C++ type
  uint32_t defaultLow;      // 64-bit default, low word
  uint32_t defaultHigh;     // 64-bit default, high word
  const char* defaultText;  // default of a text row (nullptr: empty)
};

// Decimal parsing shared by the reader and the store: leading white space,
// an optional sign, digits up to the first other character; no digits give
// 0; beyond the 64-bit range the result saturates.
int64_t ParseDecimal64(const char* text, size_t length);
bool IsIniBlank(char c);
std::string TrimBlanks(const std::string& text);

class SettingsIni {
 public:
  // Grows the output buffer; realloc by default, replaceable for tests.
  using ReallocFn = void* (*)(void* block, size_t bytes);

  static constexpr int32_t kOutputStep = 100000;

  SettingsIni() = default;
  ~SettingsIni();
  SettingsIni(const SettingsIni&) = delete;
  SettingsIni& operator=(const SettingsIni&) = delete;

  // ---- reader
  // Drops any earlier data; loaded size, read and section positions 0.
  void ResetReader();
  // Takes a copy of the file's bytes. False (and nothing loaded) if no memory.
  bool SetLoadedText(const char* data, size_t size);
  const char* LoadedText() const { return loaded_; }
  int32_t LoadedSize() const { return loadedSize_; }

  bool ReadLine(std::string* line);
  bool FindSection(const std::string& name);
  bool NextSection(std::string* name);
  bool FindKey(const std::string& section, const std::string& key, std::string* value);
  void ReadSettings(const std::string& section, const SettingDescriptor* table, size_t rows);

  int32_t ReadPos() const { return readPos_; }
  int32_t SectionPos() const { return sectionPos_; }
  // Puts the search back at a header found earlier (an offset SectionPos gave).
  void SetSectionPos(int32_t pos) { sectionPos_ = pos; }

  // ---- writer
  // Drops any earlier output and allocates the first kOutputStep bytes.
  bool BeginOutput();
  void AppendText(const char* text, size_t length);
  void WriteSection(const std::string& name);
  void WriteKey(const std::string& key, const std::string& value);
  void WriteSettings(const SettingDescriptor* table, size_t rows);
  // False once an append could not get memory: the output is incomplete.
  bool OutputOk() const { return outOk_; }
  const char* OutText() const { return out_; }
  int32_t OutLength() const { return outLength_; }
  int32_t OutCapacity() const { return outCapacity_; }
  void ReleaseOutput();

  void SetReallocForTest(ReallocFn fn) { realloc_ = fn; }

 private:
  char* loaded_ = nullptr;
  int32_t readPos_ = 0;
  int32_t loadedSize_ = 0;
  char* out_ = nullptr;
  int32_t outLength_ = 0;
  int32_t outCapacity_ = 0;
  bool outOk_ = false;
  int32_t sectionPos_ = 0;
  ReallocFn realloc_ = nullptr;
};

}  // namespace qrx
