// The settings text engine: line reading, section and key search, typed
// conversions, the writer's exact bytes and its buffer growth.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>
#include <string>

#include "settings/settings_ini.h"

namespace qrx {
namespace {

void Load(SettingsIni* ini, const std::string& text) {
  ASSERT_TRUE(ini->SetLoadedText(text.data(), text.size()));
}

std::string Key(SettingsIni* ini, const char* section, const char* key) {
  std::string value;
  return ini->FindKey(section, key, &value) ? value : "<none>";
}

TEST(SettingsIniReader, LineEndsOfEveryKindAndTheLastLine) {
  SettingsIni ini;
  // CR, LF, CR LF, LF CR; a last line without a line end is read too.
  Load(&ini, "a\rb\nc\r\nd\n\re");
  std::string line;
  std::vector<std::string> lines;
  while (ini.ReadLine(&line)) lines.push_back(line);
  EXPECT_EQ(lines, (std::vector<std::string>{"a", "b", "c", "d", "e"}));
  EXPECT_EQ(ini.ReadPos(), ini.LoadedSize());

  for (const char* eol : {"\r", "\n", "\r\n"}) {
    const std::string e = eol;
    Load(&ini, "[S]" + e + e + "A=1" + e + "B=2" + e + e + "[T]" + e + "C=3");
    EXPECT_EQ(Key(&ini, "S", "A"), "1");
    EXPECT_EQ(Key(&ini, "S", "B"), "2");
    EXPECT_EQ(Key(&ini, "T", "C"), "3");  // last line, no line end
    EXPECT_EQ(Key(&ini, "T", "A"), "<none>");
  }
}

TEST(SettingsIniReader, KeyRules) {
  SettingsIni ini;
  Load(&ini,
       "Stray=1\r\n"
       "[S]\r\n"
       "  Dup = first \r\n"
       "Dup=second\r\n"
       "Empty=\r\n"
       "Empty=5\r\n"
       "no equals here\r\n"
       "Lead= 1\r\n"
       "filter=lower\r\n"
       "Eq=a=b\r\n"
       "[Next]\r\n"
       "Later=x\r\n");
  EXPECT_EQ(Key(&ini, "S", "Dup"), " first ");     // first counts, value untrimmed
  EXPECT_EQ(Key(&ini, "S", "Empty"), "<none>");    // empty first value wins
  EXPECT_EQ(Key(&ini, "S", "Lead"), " 1");
  EXPECT_EQ(Key(&ini, "S", "Filter"), "<none>");   // case matters
  EXPECT_EQ(Key(&ini, "S", " Eq "), "a=b");        // key trimmed, first "="
  EXPECT_EQ(Key(&ini, "S", "Later"), "<none>");    // stops at the next header
  EXPECT_EQ(Key(&ini, "S", "Stray"), "<none>");    // before any header
  EXPECT_EQ(Key(&ini, " Next ", "Later"), "x");
}

TEST(SettingsIniReader, SectionSearchWrapsAndKeepsPositionOnFailure) {
  SettingsIni ini;
  const std::string text = "[A]\nk=a\n[B]\nk=b\n[C]\nk=c\n";
  Load(&ini, text);
  EXPECT_EQ(Key(&ini, "C", "k"), "c");
  const int32_t atC = ini.SectionPos();
  EXPECT_EQ(atC, (int32_t)text.find("[C]"));
  EXPECT_EQ(Key(&ini, "A", "k"), "a");  // behind the last one found: wraps
  EXPECT_EQ(ini.SectionPos(), 0);
  EXPECT_EQ(Key(&ini, "B", "k"), "b");
  const int32_t atB = ini.SectionPos();
  EXPECT_FALSE(ini.FindSection("Missing"));
  EXPECT_EQ(ini.SectionPos(), atB);
  // Nothing loaded: nothing is ever found.
  SettingsIni empty;
  EXPECT_FALSE(empty.FindSection("A"));
  std::string name;
  EXPECT_FALSE(empty.NextSection(&name));
}

TEST(SettingsIniReader, NextSectionWalkAndSpacedHeader) {
  SettingsIni ini;
  Load(&ini, "[GLOBAL]\r\nX=1\r\n\r\n  [ 7 ]  \r\nProcEnable=1\r\n[]\r\n[12abc]\r\n");
  ASSERT_TRUE(ini.FindSection("GLOBAL"));
  std::string name;
  ASSERT_TRUE(ini.NextSection(&name));
  EXPECT_EQ(name, " 7 ");  // not trimmed inside the brackets
  // The lookup trims the name, so the spaced header is not found.
  std::string value;
  EXPECT_FALSE(ini.FindKey(name, "ProcEnable", &value));
  ASSERT_TRUE(ini.NextSection(&name));
  EXPECT_EQ(name, "");
  ASSERT_TRUE(ini.NextSection(&name));
  EXPECT_EQ(name, "12abc");
  EXPECT_FALSE(ini.NextSection(&name));  // no wrap-around
}

TEST(SettingsIniReader, DecimalParsing) {
  auto P = [](const char* s) { return ParseDecimal64(s, std::strlen(s)); };
  EXPECT_EQ(P("  \t-42xyz"), -42);
  EXPECT_EQ(P("+7"), 7);
  EXPECT_EQ(P("abc"), 0);
  EXPECT_EQ(P("-"), 0);
  EXPECT_EQ(P("9223372036854775807"), INT64_MAX);
  EXPECT_EQ(P("9223372036854775808"), INT64_MAX);
  EXPECT_EQ(P("99999999999999999999999"), INT64_MAX);
  EXPECT_EQ(P("-9223372036854775808"), INT64_MIN);
  EXPECT_EQ(P("-99999999999999999999999"), INT64_MIN);
}

struct AllTypes {
  uint8_t u8 = 0;
  int16_t s16 = 0;
  uint16_t u16a = 0, u16b = 0;
  uint32_t u32a = 0, u32b = 0, u32c = 0, u32d = 0;
  int32_t s32a = 0, s32b = 0;
  int64_t s64 = 0;
  uint64_t u64 = 0;
  std::string text;
  int32_t untouched = 1234;
};

std::vector<SettingDescriptor> TableFor(AllTypes* v) {
  return {{kSettingByte, "B", &v->u8, 0x1FE, 0, nullptr},
          {kSettingShort, "S", &v->s16, 0xFFFF8000u, 0, nullptr},
          {kSettingWord, "W", &v->u16a, 0x12345, 0, nullptr},
          {kSettingUShort, "US", &v->u16b, 7, 0, nullptr},
          {kSettingUInt, "U4", &v->u32a, 0xFFFFFFFFu, 0, nullptr},
          {kSettingDword, "U5", &v->u32b, 5, 0, nullptr},
          {kSettingInt, "I6", &v->s32a, (uint32_t)-6, 0, nullptr},
          {kSettingULong, "U7", &v->u32c, 7, 0, nullptr},
          {kSettingLong, "I8", &v->s32b, 8, 0, nullptr},
          {kSettingUInt32, "U9", &v->u32d, 9, 0, nullptr},
          {kSettingInt64, "I64", &v->s64, 1, 0x80000000u, nullptr},
          {kSettingUInt64, "U64", &v->u64, 0xFFFFFFFFu, 0xFFFFFFFFu, nullptr},
          {kSettingText, "T", &v->text, 0, 0, "dflt"},
          {13, "X", &v->untouched, 99, 0, nullptr}};
}

TEST(SettingsIniTyped, DefaultsWhenMissing) {
  SettingsIni ini;
  Load(&ini, "[S]\r\nX=5\r\n");
  AllTypes v;
  const auto table = TableFor(&v);
  ini.ReadSettings("S", table.data(), table.size());
  EXPECT_EQ(v.u8, 0xFE);  // low 8 bits of the default
  EXPECT_EQ(v.s16, -32768);
  EXPECT_EQ(v.u16a, 0x2345);
  EXPECT_EQ(v.u16b, 7);
  EXPECT_EQ(v.u32a, 0xFFFFFFFFu);
  EXPECT_EQ(v.s32a, -6);
  EXPECT_EQ(v.s64, INT64_MIN + 1);
  EXPECT_EQ(v.u64, UINT64_MAX);
  EXPECT_EQ(v.text, "dflt");
  EXPECT_EQ(v.untouched, 1234);  // type 13 skipped
}

TEST(SettingsIniTyped, ConversionsAndSaturation) {
  SettingsIni ini;
  Load(&ini,
       "[S]\r\n"
       "B=300\r\nS=-1x\r\nW=70000\r\nUS= 1\r\n"
       "U4=99999999999\r\nU5=-1\r\nI6=99999999999\r\nU7=4294967295\r\nI8=-99999999999\r\n"
       "U9=abc\r\nI64=-9223372036854775808\r\nU64=18446744073709551615\r\n"
       "T= keep leading space\r\nX=5\r\n");
  AllTypes v;
  const auto table = TableFor(&v);
  ini.ReadSettings("S", table.data(), table.size());
  EXPECT_EQ(v.u8, 300 & 0xFF);
  EXPECT_EQ(v.s16, -1);
  EXPECT_EQ(v.u16a, 70000 & 0xFFFF);
  EXPECT_EQ(v.u16b, 1);
  EXPECT_EQ(v.u32a, UINT32_MAX);
  EXPECT_EQ(v.u32b, 0xFFFFFFFFu);  // -1 as a 32-bit integer
  EXPECT_EQ(v.s32a, INT32_MAX);
  EXPECT_EQ(v.u32c, 4294967295u);
  EXPECT_EQ(v.s32b, INT32_MIN);
  EXPECT_EQ(v.u32d, 0u);
  EXPECT_EQ(v.s64, INT64_MIN);
  EXPECT_EQ(v.u64, UINT64_MAX);
  EXPECT_EQ(v.text, " keep leading space");
  EXPECT_EQ(v.untouched, 1234);

  // Types 0-3 saturate to 32 bits first, then keep the low bits.
  Load(&ini, "[S]\r\nB=99999999999\r\nW=-99999999999\r\n");
  ini.ReadSettings("S", table.data(), 3);
  EXPECT_EQ(v.u8, 0xFF);     // INT32_MAX & 0xFF
  EXPECT_EQ(v.u16a, 0x0000); // INT32_MIN & 0xFFFF
}

TEST(SettingsIniWriter, ExactBytesOfEveryType) {
  AllTypes v;
  v.u8 = 255;
  v.s16 = -2;
  v.u16a = 65535;
  v.u16b = 3;
  v.u32a = 4000000000u;
  v.u32b = 5;
  v.s32a = -2147483647 - 1;
  v.u32c = 7;
  v.s32b = 8;
  v.u32d = 9;
  v.s64 = INT64_MIN;
  v.u64 = UINT64_MAX;
  v.text = "En:1//";
  const auto table = TableFor(&v);
  SettingsIni ini;
  ASSERT_TRUE(ini.BeginOutput());
  ini.WriteSection("  Sec ");
  ini.WriteSettings(table.data(), table.size());
  ini.WriteKey(" K ", " v ");
  ASSERT_TRUE(ini.OutputOk());
  const std::string out(ini.OutText(), (size_t)ini.OutLength());
  EXPECT_EQ(out,
            "[Sec]\r\nB=255\r\nS=-2\r\nW=65535\r\nUS=3\r\nU4=4000000000\r\nU5=5\r\n"
            "I6=-2147483648\r\nU7=7\r\nI8=8\r\nU9=9\r\nI64=-9223372036854775808\r\n"
            "U64=18446744073709551615\r\nT=En:1//\r\nK= v \r\n");

  // What was written reads back to the same values.
  AllTypes back;
  const auto backTable = TableFor(&back);
  ASSERT_TRUE(ini.SetLoadedText(out.data(), out.size()));
  ini.ReadSettings("Sec", backTable.data(), backTable.size());
  EXPECT_EQ(back.u32a, v.u32a);
  EXPECT_EQ(back.s32a, v.s32a);
  EXPECT_EQ(back.s64, v.s64);
  EXPECT_EQ(back.u64, v.u64);
  EXPECT_EQ(back.s16, v.s16);
  EXPECT_EQ(back.text, v.text);
}

int g_failAbove = 0;
void* FailingRealloc(void* block, size_t bytes) {
  if ((int)bytes > g_failAbove) return nullptr;
  return std::realloc(block, bytes);
}

TEST(SettingsIniWriter, BufferGrowsInStepsAndFailureIsSticky) {
  SettingsIni ini;
  ASSERT_TRUE(ini.BeginOutput());
  EXPECT_EQ(ini.OutCapacity(), 100000);
  const std::string chunk(99999, 'x');
  ini.AppendText(chunk.data(), chunk.size());
  EXPECT_EQ(ini.OutCapacity(), 100000);
  ini.AppendText("ab", 2);  // one byte over: one more step
  EXPECT_EQ(ini.OutCapacity(), 200000);
  const std::string big(250000, 'y');
  ini.AppendText(big.data(), big.size());  // several steps at once
  EXPECT_EQ(ini.OutCapacity(), 400000);
  EXPECT_EQ(ini.OutLength(), 99999 + 2 + 250000);
  EXPECT_EQ(ini.OutText()[100000], 'b');
  EXPECT_TRUE(ini.OutputOk());

  g_failAbove = 100000;
  ini.SetReallocForTest(FailingRealloc);
  ASSERT_TRUE(ini.BeginOutput());
  ini.AppendText(chunk.data(), chunk.size());
  ini.AppendText("ab", 2);
  EXPECT_FALSE(ini.OutputOk());
  ini.AppendText("c", 1);  // stays failed even when the text would fit
  EXPECT_FALSE(ini.OutputOk());
  EXPECT_EQ(ini.OutLength(), 99999);
  g_failAbove = 0;
  EXPECT_FALSE(ini.BeginOutput());  // the first block itself fails
}

}  // namespace
}  // namespace qrx
