// Where a stream's filter list comes from. The stream asks before every
// frame; when the version has moved on, it hands the new list to its mask
// builder and waits for that mask before the frame leaves, so a change is
// followed from the next frame with no frame filtered by a stale or neutral
// mask. A fixed source holds the list of the module's parameters; a live
// one (an interference finder) sees every frame, or the spectrum the
// pipeline computes of it, and may change its list between frames.
#pragma once

#include <cstdint>
#include <utility>

#include "filter/filter_list.h"
#include "plugin/frame_pipeline.h"

namespace qrx {

class FilterListSource {
 public:
  virtual ~FilterListSource() = default;
  // Moves on whenever the list changes; never 0.
  virtual uint64_t Version() const = 0;
  // The current list into *list; false when it could not be copied.
  virtual bool CopyList(FilterList* list) const = 0;
  // Each frame's working-layout luma (width x height, 2 bytes a pixel)
  // before it is filtered. What a live source makes of it shows in the
  // version it reports for the next frame.
  virtual void Observe(const uint8_t* work, int32_t width, int32_t height) {}
  // For the frames the stream filters, in place of Observe: what the
  // pipeline shows their spectrum to (null: Observe sees them too).
  virtual SpectrumObserver* Analyser() { return nullptr; }
};

// The list of the module's parameters: it changes only when Set is called.
class FixedListSource final : public FilterListSource {
 public:
  uint64_t Version() const override { return version_; }
  bool CopyList(FilterList* list) const override { return list->CopyFrom(list_); }
  void Set(FilterList&& list) {
    list_ = std::move(list);
    ++version_;
  }

 private:
  FilterList list_;
  uint64_t version_ = 1;
};

}  // namespace qrx
