// The filter list as text: "En:%d/Fx:%d/Fy:%d/Wx:%d/Wy:%d/O:%d/S:%d/T:%d//"
// per filter. The reader accepts anything: each record (text up to the first
// "//") gives one filter, missing or malformed fields read as 0.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "filter/filter_list.h"

namespace qrx {

namespace {

// Field keys in FilterSpec order.
const char* const kFieldKeys[8] = {"En:", "Fx:", "Fy:", "Wx:", "Wy:", "O:", "S:", "T:"};

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Like atoi (leading blanks, optional sign, digits up to the first other
// character, no digits give 0), but numbers beyond the 32-bit range saturate
// instead of being undefined.
int32_t ParseInt32(const char* text, size_t length) {
  size_t i = 0;
  while (i < length && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < length && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  const int64_t limit = negative ? -(int64_t)INT32_MIN : (int64_t)INT32_MAX;
  int64_t value = 0;
  for (; i < length && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > limit) value = limit;  // stays saturated for further digits
  }
  return (int32_t)(negative ? -value : value);
}

// The value of one field in a record: after the first occurrence of its key,
// up to the first "/" from the key's start; 0 if the key or the "/" is absent.
int32_t ReadField(const std::string& record, const char* key) {
  const size_t at = record.find(key);
  if (at == std::string::npos) return 0;
  const size_t slash = record.find('/', at);
  if (slash == std::string::npos) return 0;
  const size_t begin = at + std::strlen(key);
  if (slash < begin) return 0;
  return ParseInt32(record.data() + begin, slash - begin);
}

}  // namespace

std::string FormatFilterText(const FilterList& list) {
  std::string text;
  char piece[32];
  for (int32_t i = 0; i < list.Count(); ++i) {
    const FilterSpec& f = list[i];
    const int32_t values[8] = {f.En, f.Fx, f.Fy, f.Wx, f.Wy, f.O, f.S, f.T};
    for (int k = 0; k < 8; ++k) {
      std::snprintf(piece, sizeof(piece), k == 7 ? "%s%d//" : "%s%d/", kFieldKeys[k], values[k]);
      text += piece;
    }
  }
  return text;
}

void ParseFilterText(const char* text, size_t length, FilterList* list) {
  list->Clear();
  size_t p = 0;
  std::string record;
  while (p < length) {
    // A record ends after the character that brings the counter to 2: a "/"
    // counts up, anything else counts down while above 0, so a lone "/"
    // inside a record does not end it but "//" does.
    record.clear();
    int slashes = 0;
    while (p < length) {
      const char c = text[p++];
      record.push_back(c);
      if (c == '/') {
        if (++slashes == 2) break;
      } else if (slashes > 0) {
        --slashes;
      }
    }
    int32_t v[8];
    for (int k = 0; k < 8; ++k) v[k] = ReadField(record, kFieldKeys[k]);
    const FilterSpec spec = {v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7]};
    if (!list->Append(spec)) return;  // out of memory: keep what was read
  }
}

namespace {
FilterList* g_liveList = nullptr;
std::string* g_liveText = nullptr;
}  // namespace

void BindFilterText(FilterList* liveList, std::string* liveText) {
  g_liveList = liveList;
  g_liveText = liveText;
}

void filterTextCallback(int32_t mode) {
  if (g_liveList == nullptr || g_liveText == nullptr) return;
  if (mode == 0) {
    *g_liveText = FormatFilterText(*g_liveList);
  } else if (mode == 1) {
    ParseFilterText(g_liveText->data(), g_liveText->size(), g_liveList);
  }
}

}  // namespace qrx
