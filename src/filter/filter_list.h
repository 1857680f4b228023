// The user's filters: FilterSpec records in a growable array, and the text
// form that the settings file stores under the key "Filter".
#pragma once

#include <cstdint>
#include <string>

namespace qrx {

// Eight signed 32-bit values, in this order (also the order of the text form).
struct FilterSpec {
  int32_t En;  // non-zero: the filter takes part
  int32_t Fx;  // kHz: Dot/Win 1D centre, Win 2D horizontal radius
  int32_t Fy;  // kHz, signed: Dot centre; Win 2D vertical radius (sign ignored)
  int32_t Wx;  // kHz: horizontal width
  int32_t Wy;  // kHz: vertical width
  int32_t O;   // order: steepness exponent of the edge
  int32_t S;   // dB: strength at the centre, factor 10^(S/20)
  int32_t T;   // shape: 0 Dot, 1 Win 1D, 2 Win 2D
};
static_assert(sizeof(FilterSpec) == 32, "FilterSpec is 32 bytes");

enum FilterShape : int32_t { kShapeDot = 0, kShapeWin1D = 1, kShapeWin2D = 2 };

// Growable array of FilterSpec held by value. Invariants: count <= capacity;
// items is null exactly when capacity is 0; slots from count to capacity are
// zero after every growth. Growth never throws: on allocation failure the
// operation leaves the list unchanged and returns false.
class FilterList {
 public:
  FilterList() = default;
  ~FilterList();
  FilterList(const FilterList&) = delete;
  FilterList& operator=(const FilterList&) = delete;
  FilterList(FilterList&& other) noexcept;  // takes the storage; other is left empty
  FilterList& operator=(FilterList&& other) noexcept;

  bool Append(const FilterSpec& spec);
  bool Resize(int32_t n);  // new slots zero; n = 0 frees the storage
  void Clear();
  void RemoveAt(int32_t index);
  bool CopyFrom(const FilterList& other);  // Resize + copy of all records

  int32_t Count() const { return count_; }
  int32_t Capacity() const { return capacity_; }
  FilterSpec* Items() { return items_; }
  const FilterSpec* Items() const { return items_; }
  FilterSpec& operator[](int32_t i) { return items_[i]; }
  const FilterSpec& operator[](int32_t i) const { return items_[i]; }

  int32_t growthStep = 0;  // 0: automatic

 private:
  bool Reserve(int32_t n);

  FilterSpec* items_ = nullptr;
  int32_t count_ = 0;
  int32_t capacity_ = 0;
};

// The text form: "En:%d/Fx:%d/Fy:%d/Wx:%d/Wy:%d/O:%d/S:%d/T:%d//" per filter.
std::string FormatFilterText(const FilterList& list);
// Replaces the list by the filters read from the text (never fails on
// malformed text; numbers beyond the 32-bit range saturate).
void ParseFilterText(const char* text, size_t length, FilterList* list);

// The settings store's conversion hook. BindFilterText names the live list
// and the live "Filter" text it works on (PluginState binds its own at module
// load). Mode 0 writes the list into the text, mode 1 replaces the list by
// the one read from the text; other modes do nothing.
void BindFilterText(FilterList* liveList, std::string* liveText);
void filterTextCallback(int32_t mode);

}  // namespace qrx
