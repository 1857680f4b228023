#include "transform/fft_workers.h"

#include <cstdint>
#include <cstring>

#include "transform/fft_engine.h"
#include "transform/fft_kernels.h"
#include "transform/fft_kernels_simd.h"

namespace qrx {
namespace {

// Sub-buffers of a scratch start on 64-byte boundaries.
constexpr size_t RoundFloats(size_t floats) { return (floats + 15) & ~size_t{15}; }

// The block scratch, then room for a block of row copies.
size_t RowScratchFloats(int32_t N) {
  const size_t pitchFloats = 2 * static_cast<size_t>(N / 2 + 2);
  return RoundFloats(RowBlockScratchFloats(N)) + RoundFloats(pitchFloats * kMaxBlockLanes);
}

size_t ColScratchFloats(int32_t M) { return RoundFloats(ColumnBlockScratchFloats(M)); }

}  // namespace

void WorkerShare(int32_t total, int32_t workers, int32_t index, int32_t* first, int32_t* count) {
  const int32_t base = total / workers;
  const int32_t extra = total % workers;
  *count = base + (index < extra ? 1 : 0);
  *first = index * base + (index < extra ? index : extra);
}

int32_t WorkerCountFromMask(uint64_t mask) {
  int32_t n = 0;
  for (int bit = 0; bit < 64 && n < FftEngine::kMaxWorkers; ++bit) {
    if ((mask >> bit) & 1u) ++n;
  }
  return n > 0 ? n : 1;
}

// ---------------------------------------------------------------- FftWorker

FftWorker::FftWorker(FftEngine* engine, int32_t slot, int32_t first, int32_t count, size_t scratchFloats)
    : engine_(engine), slot_(slot), first_(first), count_(count) {
  taskDone_ = platform::CreateEvent(true);
  startTask_ = platform::CreateEvent(false);
  exitEvent_ = platform::CreateEvent(false);
  scratchBlock_ = platform::AlignedAlloc(scratchFloats * sizeof(float) + 64);
  if (scratchBlock_) {
    const uintptr_t at = (reinterpret_cast<uintptr_t>(scratchBlock_) + 63) & ~uintptr_t{63};
    scratch_ = reinterpret_cast<float*>(at);
  }
}

void FftWorker::StartWorker() {
  if (!taskDone_ || !startTask_ || !exitEvent_ || !scratch_) return;
  thread_ = platform::StartThread(&FftWorker::ThreadMain, this);
  usable_ = thread_ != nullptr;
}

FftWorker::~FftWorker() { Stop(); }

platform::Event FftWorker::ResumeThread(int32_t direction) {
  direction_ = direction;
  if (!platform::ResetEvent(taskDone_)) {
    platform::ShowMessage("ResumeThread - TaskDone.ResetEvent() == FALSE");
  }
  if (!platform::SetEvent(startTask_)) {
    platform::ShowMessage("ResumeThread - StartTask.PulseEvent() == FALSE");
  }
  return taskDone_;
}

void FftWorker::Stop() {
  if (thread_) {
    platform::SetEvent(exitEvent_);
    if (platform::JoinThread(thread_, kStopTimeoutMs) != platform::WaitStatus::Ok) {
      platform::TerminateThread(thread_);
    }
    platform::CloseThread(thread_);
    thread_ = nullptr;
  }
  platform::CloseEvent(taskDone_);
  platform::CloseEvent(startTask_);
  platform::CloseEvent(exitEvent_);
  taskDone_ = startTask_ = exitEvent_ = nullptr;
  platform::AlignedFree(scratchBlock_);
  scratchBlock_ = nullptr;
  scratch_ = nullptr;
  usable_ = false;
}

uint32_t FftWorker::ThreadMain(void* self) {
  static_cast<FftWorker*>(self)->Loop();
  return 0;
}

void FftWorker::RunHere(int32_t direction) {
  const FftPassHook hook = engine_->passHook_;
  if (hook) hook(engine_->passHookContext_, Kind(), first_, direction, true);
  RunShare(direction);
  if (hook) hook(engine_->passHookContext_, Kind(), first_, direction, false);
}

void FftWorker::Loop() {
  const platform::Event waits[2] = {exitEvent_, startTask_};
  for (;;) {
    const platform::WaitAnyResult r = platform::WaitAny(waits, 2, platform::kInfinite);
    if (r.status == platform::WaitStatus::Ok && r.index == 0) break;
    // A failed wait is reported and the share run once, as if started.
    if (r.status != platform::WaitStatus::Ok) platform::ShowMessage(WaitFailedText());
    platform::ResetEvent(startTask_);
    const int32_t direction = direction_;
    RunHere(direction);
    engine_->ChainedPhaseDone(direction);
    platform::SetEvent(taskDone_);
  }
}

// ---------------------------------------------------------------- rows

CFFTRowThread::CFFTRowThread(FftEngine* engine, int32_t slot, int32_t first, int32_t count)
    : FftWorker(engine, slot, first, count, RowScratchFloats(engine->N_)) {
  StartWorker();
}

CFFTRowThread::~CFFTRowThread() { Stop(); }

void CFFTRowThread::RunShare(int32_t direction) {
  const FftEngine& e = *engine_;
  const int32_t N = e.N_;
  const size_t stride = 2 * static_cast<size_t>(e.pitch_);
  RowStage* stage = e.rowStage_;
  const bool forward = direction > 0;
  int32_t r = First();
  const int32_t end = First() + Count();
  const BlockKernels* kernel = nullptr;
  for (const BlockKernels* k : e.kernels_) {
    if (k && N / 2 >= k->width) {
      kernel = k;
      break;
    }
  }
  if (kernel) {
    const FftPassTables& tables = e.rowTables_[forward ? 0 : 1];
    const auto run = forward ? kernel->rowForward : kernel->rowInverse;
    const int32_t w = kernel->width;
    for (; r + w <= end; r += w) {
      if (stage && forward) stage->Load(slot_, r, w);
      run(e.spectrum_ + r * stride, e.pitch_, N, scratch_, tables);
      if (stage && !forward) stage->Store(slot_, r, w);
    }
    if (r < end) PartialBlock(*kernel, r, end - r, direction);
    return;
  }
  for (; r < end; ++r) {
    if (stage && forward) stage->Load(slot_, r, 1);
    RealRowFft(e.spectrum_ + r * stride, N, direction, e.rowPairs_, e.rowPairCount_);
    if (stage && !forward) stage->Store(slot_, r, 1);
  }
}

void CFFTRowThread::PartialBlock(const BlockKernels& kernel, int32_t r, int32_t count, int32_t direction) {
  const FftEngine& e = *engine_;
  const size_t stride = 2 * static_cast<size_t>(e.pitch_);
  const bool forward = direction > 0;
  RowStage* stage = e.rowStage_;
  float* copies = scratch_ + RoundFloats(RowBlockScratchFloats(e.N_));
  float* rows = e.spectrum_ + r * stride;
  if (stage && forward) stage->Load(slot_, r, count);
  std::memset(copies, 0, stride * kernel.width * sizeof(float));
  std::memcpy(copies, rows, stride * count * sizeof(float));
  const FftPassTables& tables = e.rowTables_[forward ? 0 : 1];
  (forward ? kernel.rowForward : kernel.rowInverse)(copies, e.pitch_, e.N_, scratch_, tables);
  std::memcpy(rows, copies, stride * count * sizeof(float));
  if (stage && !forward) stage->Store(slot_, r, count);
}

// ---------------------------------------------------------------- columns

CFFTColThread::CFFTColThread(FftEngine* engine, int32_t slot, int32_t first, int32_t count)
    : FftWorker(engine, slot, first, count, ColScratchFloats(engine->M_)) {
  StartWorker();
}

CFFTColThread::~CFFTColThread() { Stop(); }

void CFFTColThread::RunShare(int32_t direction) {
  const FftEngine& e = *engine_;
  const int32_t M = e.M_, H = e.H_, pitch = e.pitch_;
  const float* mask = direction > 0 ? nullptr : e.columnMask_;
  const ColumnMask columnMask = {mask, direction > 0 ? nullptr : e.columnMaskByColumn_};
  float* block = scratch_;
  int32_t k = First();
  const int32_t end = First() + Count();
  if (const BlockKernels* kernel = e.kernels_[0]) {
    const FftPassTables& tables = e.colTables_[direction > 0 ? 0 : 1];
    for (; k < end; k += kernel->width) {
      const int32_t lanes = end - k < kernel->width ? end - k : kernel->width;
      if (direction > 0) {
        kernel->columnForward(e.spectrum_, pitch, k, lanes, H, M, block, tables);
      } else {
        kernel->columnInverse(e.spectrum_, pitch, k, lanes, H, M, block, tables, columnMask);
      }
    }
    return;
  }
  // The reference path, column by column.
  for (; k < end; ++k) {
    if (direction > 0) {
      GatherColumn(e.spectrum_, pitch, k, H, M, block);
      ComplexFft(block, M, +1);
      ReversalSwap(block, e.colPairs_, e.colPairCount_);
      ScatterColumn(e.spectrum_, pitch, k, M, block);
    } else {
      if (mask) MultiplyColumn(e.spectrum_, pitch, k, M, mask);
      GatherColumn(e.spectrum_, pitch, k, M, M, block);
      ComplexFft(block, M, -1);
      ScaledReversalSwap(block, e.colPairs_, e.colPairCount_, 1.0f / static_cast<float>(M));
      ScatterColumn(e.spectrum_, pitch, k, H, block);
    }
  }
}

}  // namespace qrx
