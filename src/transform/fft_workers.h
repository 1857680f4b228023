// The worker threads that run the engine's passes: one CFFTRowThread and one
// CFFTColThread per usable processor (at most 8 of each), each owning a
// fixed contiguous share of the rows or columns. A worker sleeps on its
// events between passes and is woken by ResumeThread for every pass.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace qrx {

class FftEngine;
struct BlockKernels;

// The share of worker `index` of `workers` over `total` items: base = total
// / workers, the first total % workers workers get one more; shares follow
// one another. An empty share (count 0) means the worker is not created.
void WorkerShare(int32_t total, int32_t workers, int32_t index, int32_t* first, int32_t* count);

// Workers of each kind for a process affinity mask: its set bits counted
// from bit 0, at most 8; 1 when the mask is unknown (0).
int32_t WorkerCountFromMask(uint64_t mask);

// What both kinds share: events, thread, loop and a private aligned scratch.
class FftWorker {
 public:
  virtual ~FftWorker();
  FftWorker(const FftWorker&) = delete;
  FftWorker& operator=(const FftWorker&) = delete;

  // Stores the direction (+1 or -1), resets TaskDone, sets StartTask and
  // returns TaskDone for the dispatcher to wait on. A failed event operation
  // is shown and the call carries on.
  platform::Event ResumeThread(int32_t direction);
  // One pass over the share on the calling thread, the worker's own left
  // asleep (its engine's passes are not running on it).
  void RunHere(int32_t direction);
  // Sets the exit event, waits up to 5000 ms for the thread, ends it by force
  // if it is still running, then releases the events and the scratch.
  void Stop();

  // False when an event, the thread or the scratch could not be created.
  bool IsUsable() const { return usable_; }
  int32_t First() const { return first_; }
  int32_t Count() const { return count_; }
  platform::Event TaskDone() const { return taskDone_; }
  platform::Event StartTask() const { return startTask_; }

  static constexpr uint32_t kStopTimeoutMs = 5000;

 protected:
  // Creates TaskDone (set), StartTask and the exit event, then the scratch
  // of scratchFloats floats; the derived constructor calls StartWorker()
  // when it is complete.
  FftWorker(FftEngine* engine, int32_t slot, int32_t first, int32_t count, size_t scratchFloats);
  void StartWorker();
  // One pass over the share.
  virtual void RunShare(int32_t direction) = 0;
  virtual const char* WaitFailedText() const = 0;
  virtual int32_t Kind() const = 0;  // 0 rows, 1 columns (for the pass hook)

  FftEngine* engine_;
  int32_t slot_;              // index among the workers of its kind
  float* scratch_ = nullptr;  // 64-byte aligned inside scratchBlock_

 private:
  static uint32_t ThreadMain(void* self);
  void Loop();

  platform::Thread thread_ = nullptr;
  platform::Event taskDone_ = nullptr;
  platform::Event startTask_ = nullptr;
  platform::Event exitEvent_ = nullptr;
  void* scratchBlock_ = nullptr;
  int32_t first_;
  int32_t count_;
  int32_t direction_ = 1;
  bool usable_ = false;
};

// Row worker: the real row transform on rows first .. first + count - 1,
// with the engine's row stage (if any) around each block of rows.
class CFFTRowThread : public FftWorker {
 public:
  CFFTRowThread(FftEngine* engine, int32_t slot, int32_t first, int32_t count);
  ~CFFTRowThread() override;

 private:
  void RunShare(int32_t direction) override;
  // Rows r .. r + count - 1 (count below the kernel's width) through a
  // block of copies, so that no row outside the share is touched.
  void PartialBlock(const BlockKernels& kernel, int32_t r, int32_t count, int32_t direction);
  const char* WaitFailedText() const override { return "CFFTRowThread - WAIT_FAILED"; }
  int32_t Kind() const override { return 0; }
};

// Column worker: the column transform on columns first .. first + count - 1,
// through its scratch (room for a block of adjacent columns).
class CFFTColThread : public FftWorker {
 public:
  CFFTColThread(FftEngine* engine, int32_t slot, int32_t first, int32_t count);
  ~CFFTColThread() override;

 private:
  void RunShare(int32_t direction) override;
  const char* WaitFailedText() const override { return "CFFTColThread - WAIT_FAILED"; }
  int32_t Kind() const override { return 1; }
};

}  // namespace qrx
