// Storage of the filter list: a plain growable array whose growth rule and
// zeroed spare slots the rest of the plug-in relies on.
#include "filter/filter_list.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace qrx {

namespace {

constexpr int32_t kMinAutoStep = 4;
constexpr int32_t kMaxAutoStep = 1024;

}  // namespace

FilterList::~FilterList() { Clear(); }

FilterList::FilterList(FilterList&& other) noexcept
    : growthStep(other.growthStep), items_(other.items_), count_(other.count_),
      capacity_(other.capacity_) {
  other.items_ = nullptr;
  other.count_ = 0;
  other.capacity_ = 0;
}

FilterList& FilterList::operator=(FilterList&& other) noexcept {
  if (&other != this) {
    Clear();
    growthStep = other.growthStep;
    items_ = other.items_;
    count_ = other.count_;
    capacity_ = other.capacity_;
    other.items_ = nullptr;
    other.count_ = 0;
    other.capacity_ = 0;
  }
  return *this;
}

// Makes room for n slots. Growth adds the fixed step, or an automatic one
// taken from the count (count/8 within 4..1024), or exactly n if that is more;
// spare slots come out zero. On failure nothing changes.
bool FilterList::Reserve(int32_t n) {
  if (n < 0) return false;
  if (n <= capacity_) {
    if (n > count_) std::memset(items_ + count_, 0, sizeof(FilterSpec) * (size_t)(n - count_));
    return true;
  }
  int64_t newCapacity = n;
  if (items_ != nullptr) {
    int32_t step = growthStep;
    if (step <= 0) {
      step = count_ / 8;
      if (step < kMinAutoStep) step = kMinAutoStep;
      if (step > kMaxAutoStep) step = kMaxAutoStep;
    }
    newCapacity = (int64_t)capacity_ + step;
    if (newCapacity < n) newCapacity = n;
    if (newCapacity > INT32_MAX) newCapacity = INT32_MAX;
  }
  if ((uint64_t)newCapacity > SIZE_MAX / sizeof(FilterSpec)) return false;
  auto* grown = static_cast<FilterSpec*>(std::calloc((size_t)newCapacity, sizeof(FilterSpec)));
  if (grown == nullptr) return false;
  if (items_ != nullptr) {
    if (count_ > 0) std::memcpy(grown, items_, sizeof(FilterSpec) * (size_t)count_);
    std::free(items_);
  }
  items_ = grown;
  capacity_ = (int32_t)newCapacity;
  return true;
}

bool FilterList::Append(const FilterSpec& spec) {
  if (count_ == INT32_MAX) return false;
  // spec may live in our own storage, which growth frees.
  const FilterSpec copy = spec;
  if (!Reserve(count_ + 1)) return false;
  items_[count_] = copy;
  ++count_;
  return true;
}

bool FilterList::Resize(int32_t n) {
  if (n < 0) return false;
  if (n == 0) {
    Clear();
    return true;
  }
  if (!Reserve(n)) return false;
  count_ = n;
  return true;
}

void FilterList::Clear() {
  std::free(items_);
  items_ = nullptr;
  count_ = 0;
  capacity_ = 0;
}

void FilterList::RemoveAt(int32_t index) {
  if (index < 0 || index >= count_) return;
  const int32_t following = count_ - index - 1;
  if (following > 0) {
    std::memmove(items_ + index, items_ + index + 1, sizeof(FilterSpec) * (size_t)following);
  }
  --count_;
  std::memset(items_ + count_, 0, sizeof(FilterSpec));
}

bool FilterList::CopyFrom(const FilterList& other) {
  if (&other == this) return true;
  if (!Resize(other.count_)) return false;
  if (other.count_ > 0) {
    std::memcpy(items_, other.items_, sizeof(FilterSpec) * (size_t)other.count_);
  }
  return true;
}

}  // namespace qrx
