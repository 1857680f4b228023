// Turns the filter list into the frequency mask on a thread of its own and
// publishes each finished mask, with its normalising gain, into the engine.
#pragma once

#include <atomic>
#include <cmath>
#include <cstdint>

#include "filter/filter_list.h"
#include "platform/platform.h"

namespace qrx {

class FftEngine;

// The Dot shape's pass value D at (dx, dy) cells from its centre, for an
// ellipse with semi-axes a (columns) and b (rows) and order O: 0 at the
// centre, 1/2 on the ellipse, towards 1 far from it. The mask builder and
// whoever designs Dot filters compute with the same expression.
inline double DotPass(double dx, double dy, int32_t a, int32_t b, int32_t order) {
  const double d2 = dx * dx + dy * dy;
  if (d2 == 0.0) return 0.0;
  const double ratio = (double)b / (double)a;
  const double e = 1.0 - ratio * ratio;
  const double c = dx / std::sqrt(d2);                      // cosine of the direction
  const double r = (double)b / std::sqrt(1.0 - e * c * c);  // ellipse radius there
  return 1.0 / (1.0 + std::pow(r * r / d2, (double)order));
}

class MaskBuilder {
 public:
  // pitch, bins, rows: the engine's. engine: where masks are published and
  // whose kHz conversions the shapes use. The thread starts at once.
  MaskBuilder(int32_t pitch, int32_t bins, int32_t rows, FftEngine* engine);
  virtual ~MaskBuilder();  // stops the thread (at most 15000 ms, then forced)
  MaskBuilder(const MaskBuilder&) = delete;
  MaskBuilder& operator=(const MaskBuilder&) = delete;

  bool IsUsable() const;

  // Copies the list as the pending request and wakes the thread; returns at
  // once. Requests made during a pass collapse into one further pass.
  void SetFilters(const FilterList& filters);
  // Requests are numbered from 1 in the order SetFilters took them;
  // RequestsPublished() is the number of the newest request whose mask the
  // engine has (0 before the first).
  int64_t RequestsMade() const;
  int64_t RequestsPublished() const { return publishedRequest_.load(std::memory_order_acquire); }

  // The shapes, multiplied into the builder's own table (builder thread, or
  // tests with no pass running).
  void ApplyDot(int32_t Fx, int32_t Fy, int32_t Wx, int32_t Wy, int32_t O, int32_t S);
  void ApplyWin1D(int32_t Fx, int32_t Wx, int32_t O, int32_t S);
  void ApplyWin2D(int32_t Fx, int32_t Fy, int32_t Wx, int32_t Wy, int32_t O, int32_t S);
  // Composes the whole mask from the list, normalises it; returns the gain.
  float Rebuild(const FilterList& list);

  // The last completed mask (a whole table; for the 3-D view) and counters.
  const float* Mask() const;
  int32_t Pitch() const { return pitch_; }
  int32_t Bins() const { return bins_; }
  int32_t Rows() const { return rows_; }
  int64_t PassesCompleted() const;  // for tests

  // The table the shapes multiply into (the one the next pass composes);
  // for tests that drive the shapes directly while no pass runs.
  float* BuildTable() { return tables_[1 - published_]; }

  // Test hook: called on the builder's thread at the start of every pass,
  // after the pending list has been taken, with the list the pass will use.
  using PassHook = void (*)(const FilterList& working, void* context);
  void SetPassHook(PassHook hook, void* context);

 private:
  static uint32_t ThreadEntry(void* self);
  uint32_t Run();
  // Multiplies one cell of the build table by m + D * (1 - m).
  void MultiplyCell(int32_t index, double m, double D);

  int32_t pitch_ = 0, bins_ = 0, rows_ = 0;
  FftEngine* engine_ = nullptr;
  // Two tables: one is the last published mask (Mask()), the thread builds
  // into the other and then swaps the index under the lock.
  float* tables_[2] = {nullptr, nullptr};
  int published_ = 0;  // written under lock_ by the builder's thread only
  platform::Thread thread_ = nullptr;
  platform::Event rebuildEvent_ = nullptr;
  platform::Event stopEvent_ = nullptr;
  mutable platform::CriticalSection lock_;  // pending list, hook, table index
  FilterList pending_;
  PassHook hook_ = nullptr;
  void* hookContext_ = nullptr;
  std::atomic<int64_t> passes_{0};
  int64_t requests_ = 0;  // under lock_
  std::atomic<int64_t> publishedRequest_{0};
  bool usable_ = false;
};

// Flattens spectrum peaks inside the rectangle of every enabled Dot filter of
// strength 0 down to the mean magnitude of the rectangle's border.
void AdaptiveClip(const FilterList& filters, FftEngine* engine);

}  // namespace qrx
