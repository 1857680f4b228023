// Arbitrary bytes as a "Filter" text: reading never fails, and what is read,
// written and read again is the same list (the text form is a fixed point
// after one pass).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "filter/filter_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qrx::FilterList first, second;
  qrx::ParseFilterText(reinterpret_cast<const char*>(data), size, &first);
  const std::string text = qrx::FormatFilterText(first);
  qrx::ParseFilterText(text.data(), text.size(), &second);
  if (first.Count() != second.Count()) std::abort();
  if (first.Count() > 0 &&
      std::memcmp(first.Items(), second.Items(), sizeof(qrx::FilterSpec) * (size_t)first.Count()) != 0) {
    std::abort();
  }
  if (qrx::FormatFilterText(second) != text) std::abort();
  if (first.Count() > first.Capacity()) std::abort();
  return 0;
}
