// The mask builder's thread: takes the newest filter list handed over by
// SetFilters, composes the mask and publishes it into the engine.
#include "filter/mask_builder.h"

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"
#include "transform/fft_engine.h"

namespace qrx {

namespace {

constexpr uint32_t kStopTimeoutMs = 15000;

}  // namespace

MaskBuilder::MaskBuilder(int32_t pitch, int32_t bins, int32_t rows, FftEngine* engine)
    : pitch_(pitch), bins_(bins), rows_(rows), engine_(engine) {
  // The tables are copied whole into the engine's, so the sizes must be the
  // engine's own; the shapes need an even row count with a middle row.
  if (engine == nullptr || !engine->IsUsable()) return;
  if (rows < 2 || rows % 2 != 0 || bins < 1 || pitch < bins) return;
  if (engine->Pitch() != pitch || engine->Bins() != bins || engine->Rows() != rows) return;
  if ((int64_t)rows * pitch > INT32_MAX / (int64_t)sizeof(float)) return;

  const size_t bytes = (size_t)rows * (size_t)pitch * sizeof(float);
  for (float*& table : tables_) {
    table = static_cast<float*>(platform::AlignedAlloc(bytes));
    if (table == nullptr) return;
    for (int32_t i = 0; i < rows * pitch; ++i) table[i] = 1.0f;
  }
  rebuildEvent_ = platform::CreateEvent(false);
  stopEvent_ = platform::CreateEvent(false);
  if (rebuildEvent_ == nullptr || stopEvent_ == nullptr) return;
  usable_ = true;  // before the thread starts: Run reads it
  thread_ = platform::StartThread(&MaskBuilder::ThreadEntry, this);
  if (thread_ == nullptr) usable_ = false;
}

MaskBuilder::~MaskBuilder() {
  if (thread_ != nullptr) {
    platform::SetEvent(stopEvent_);
    if (platform::JoinThread(thread_, kStopTimeoutMs) != platform::WaitStatus::Ok) {
      platform::TerminateThread(thread_);
      // Where a thread cannot be ended by force (POSIX) it is still inside
      // its pass and uses this object: wait until it is out before freeing.
      platform::JoinThread(thread_, platform::kInfinite);
    }
    platform::CloseThread(thread_);
  }
  platform::CloseEvent(rebuildEvent_);
  platform::CloseEvent(stopEvent_);
  for (float* table : tables_) platform::AlignedFree(table);
}

bool MaskBuilder::IsUsable() const { return usable_; }

const float* MaskBuilder::Mask() const {
  platform::ScopedLock hold(lock_);
  return tables_[published_];
}

int64_t MaskBuilder::PassesCompleted() const { return passes_.load(std::memory_order_acquire); }

int64_t MaskBuilder::RequestsMade() const {
  platform::ScopedLock hold(lock_);
  return requests_;
}

void MaskBuilder::SetPassHook(PassHook hook, void* context) {
  platform::ScopedLock hold(lock_);
  hook_ = hook;
  hookContext_ = context;
}

void MaskBuilder::SetFilters(const FilterList& filters) {
  if (!usable_) return;
  platform::ScopedLock hold(lock_);
  // On a failed copy the pending list keeps the previous request whole.
  pending_.CopyFrom(filters);
  ++requests_;
  if (!platform::SetEvent(rebuildEvent_)) {
    platform::ShowMessage("ResumeThread - StartTask.PulseEvent() == FALSE");
  }
}

uint32_t MaskBuilder::ThreadEntry(void* self) { return static_cast<MaskBuilder*>(self)->Run(); }

uint32_t MaskBuilder::Run() {
  FilterList working;
  const platform::Event events[2] = {stopEvent_, rebuildEvent_};  // stop wins
  for (;;) {
    const platform::WaitAnyResult wait = platform::WaitAny(events, 2, platform::kInfinite);
    if (wait.status == platform::WaitStatus::Ok && wait.index == 0) break;
    if (wait.status != platform::WaitStatus::Ok) {
      platform::ShowMessage("CFFTRowThread - WAIT_FAILED");
    }

    PassHook hook;
    void* hookContext;
    int64_t request;
    {
      platform::ScopedLock hold(lock_);
      working.CopyFrom(pending_);
      request = requests_;
      // Reset right after the copy: a request made from here on sets the
      // event again and gets one more pass.
      platform::ResetEvent(rebuildEvent_);
      hook = hook_;
      hookContext = hookContext_;
    }
    if (hook != nullptr) hook(working, hookContext);

    const float g = Rebuild(working);
    {
      platform::ScopedLock hold(lock_);
      published_ = 1 - published_;
    }
    engine_->PublishMask(tables_[published_], g);
    publishedRequest_.store(request, std::memory_order_release);
    passes_.fetch_add(1, std::memory_order_acq_rel);
  }
  working.Clear();
  return 0;
}

}  // namespace qrx
