#include "transform/fft_engine.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "platform/cpu.h"
#include "transform/display_kernels.h"
#include "transform/fft_kernels.h"
#include "transform/fft_kernels_simd.h"
#include "transform/fft_workers.h"

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

namespace qrx {
namespace {

constexpr int32_t kMaxLength = 1 << 16;

bool IsPowerOfTwo(int32_t v) { return v > 0 && (v & (v - 1)) == 0; }

int32_t NextPowerOfTwo(int32_t v) {
  int32_t p = 1;
  while (p < v && p < kMaxLength * 2) p *= 2;
  return p;
}

// Hamming weight h_P(i) = 0.54 - 0.46 cos(2 pi (i + 0.5) / P), with 2 pi
// written as the window's own constant 6.28318530718: the windows, and with
// them every output, are defined by it.
double Hamming(int32_t i, int32_t P) {
  const double theta = 6.28318530718 * (i + 0.5) / P;
  return 0.54 - 0.46 * std::cos(theta);
}

// The two weight vectors of the separable window, r over a line, s over the
// frame; false when the temporaries cannot be allocated.
struct WindowFactors {
  double* r = nullptr;
  double* s = nullptr;
  WindowFactors(int32_t L, int32_t H) : r(new (std::nothrow) double[L]), s(new (std::nothrow) double[H]) {
    if (!r || !s) return;
    for (int32_t n = 0; n < L; ++n) r[n] = Hamming(n, L);
    for (int32_t m = 0; m < H; ++m) s[m] = Hamming(m, H);
  }
  ~WindowFactors() {
    delete[] r;
    delete[] s;
  }
  bool ok() const { return r && s; }
};

}  // namespace

FftEngine::FftEngine(int32_t lineLength, int32_t height, int32_t rowLength, int32_t columnLength, int32_t layout,
                     int32_t workerCount) {
  L_ = lineLength;
  H_ = height;
  layout_ = layout;
  N_ = rowLength != 0 ? rowLength : NextPowerOfTwo(lineLength);
  M_ = columnLength != 0 ? columnLength : NextPowerOfTwo(height);
  if (!SizesUsable()) return;
  if (workerCount > 0) {
    workerCount_ = workerCount < kMaxWorkers ? workerCount : kMaxWorkers;
  } else {
    workerCount_ = WorkerCountFromMask(platform::ProcessAffinityMask());
  }
  pitch_ = N_ / 2 + 2;
  bins_ = N_ / 2 + 1;
  rows_ = M_;
  const size_t spectrumBytes = static_cast<size_t>(M_) * pitch_ * 2 * sizeof(float);
  spectrum_ = static_cast<float*>(platform::AlignedAlloc(spectrumBytes));
  rowPairs_ = static_cast<int32_t*>(platform::AlignedAlloc(static_cast<size_t>(N_) * sizeof(int32_t)));
  colPairs_ = static_cast<int32_t*>(platform::AlignedAlloc(static_cast<size_t>(2 * M_) * sizeof(int32_t)));
  if (!spectrum_ || !rowPairs_ || !colPairs_) return;
  std::memset(spectrum_, 0, spectrumBytes);
  rowPairCount_ = BitReversePairs(rowPairs_, N_ / 2);
  colPairCount_ = BitReversePairs(colPairs_, M_);
  usable_ = BuildPassTables() && CreateWorkers();
}

// Twiddles and reversal tables of every pass, from the same functions the
// reference's recurrences are written in, so they hold exactly its values.
bool FftEngine::BuildPassTables() {
  const int32_t halfN = N_ / 2;
  const int32_t rowStage = StageTwiddleCount(halfN), split = N_ / 4, colStage = StageTwiddleCount(M_);
  const int32_t rowQuarter = halfN / 4 > 0 ? halfN / 4 : 1;
  const int32_t colQuarter = M_ / 4 > 0 ? M_ / 4 : 1;
  // Every table starts on a 16-byte boundary. Per direction: the stage
  // twiddles as pairs (2 floats a twiddle) and as the SSE kernels read them
  // (8), and the split twiddles.
  auto rounded = [](size_t floats) { return (floats + 3) & ~size_t{3}; };
  const size_t floats = 2 * (rounded(10 * static_cast<size_t>(rowStage)) + rounded(2 * static_cast<size_t>(split)) +
                             rounded(10 * static_cast<size_t>(colStage))) +
                        rounded(rowQuarter) + rounded(colQuarter);
  tableStore_ = platform::AlignedAlloc(floats * sizeof(float));
  if (!tableStore_) return false;
  float* next = static_cast<float*>(tableStore_);
  auto take = [&next, rounded](size_t count) {
    float* p = next;
    next += rounded(count);
    return p;
  };
  // The pairs of every pass next to one another, the SSE forms after them.
  for (int i = 0; i < 2; ++i) {
    const int32_t direction = i == 0 ? 1 : -1;
    // The row kernel runs the half-length transform with the opposite sign.
    float* t = take(2 * static_cast<size_t>(rowStage));
    FillStageTwiddles(t, halfN, -direction);
    rowTables_[i].stageTwiddles = t;
    t = take(2 * static_cast<size_t>(split));
    FillSplitTwiddles(t, N_, direction);
    rowTables_[i].splitTwiddles = t;
    t = take(2 * static_cast<size_t>(colStage));
    FillStageTwiddles(t, M_, direction);
    colTables_[i].stageTwiddles = t;
    colTables_[i].splitTwiddles = nullptr;
  }
  for (FftPassTables* tables : {&rowTables_[0], &rowTables_[1], &colTables_[0], &colTables_[1]}) {
    const int32_t count = tables == &rowTables_[0] || tables == &rowTables_[1] ? rowStage : colStage;
    float* t = take(8 * static_cast<size_t>(count));
    SpreadSseTwiddles(tables->stageTwiddles, count, t);
    tables->stageTwiddlesSse = t;
  }
  int32_t* q = reinterpret_cast<int32_t*>(take(rowQuarter));
  ReversedIndices(q, rowQuarter);
  rowTables_[0].quarterReversal = rowTables_[1].quarterReversal = q;
  q = reinterpret_cast<int32_t*>(take(colQuarter));
  ReversedIndices(q, colQuarter);
  colTables_[0].quarterReversal = colTables_[1].quarterReversal = q;
  return true;
}

bool FftEngine::SizesUsable() const {
  if (!IsPowerOfTwo(N_) || N_ < 4 || N_ > kMaxLength) return false;
  if (!IsPowerOfTwo(M_) || M_ < 2 || M_ > kMaxLength) return false;
  if (H_ < 2 || H_ > M_) return false;
  if (L_ < 2 || L_ > N_) return false;
  return true;
}

bool FftEngine::CreateWorkers() {
  for (int32_t t = 0; t < workerCount_; ++t) {
    int32_t first = 0, count = 0;
    WorkerShare(H_, workerCount_, t, &first, &count);
    if (count == 0) break;
    rowWorkers_[t] = new (std::nothrow) CFFTRowThread(this, t, first, count);
    if (!rowWorkers_[t] || !rowWorkers_[t]->IsUsable()) return false;
  }
  for (int32_t t = 0; t < workerCount_; ++t) {
    int32_t first = 0, count = 0;
    WorkerShare(bins_, workerCount_, t, &first, &count);
    if (count == 0) break;
    colWorkers_[t] = new (std::nothrow) CFFTColThread(this, t, first, count);
    if (!colWorkers_[t] || !colWorkers_[t]->IsUsable()) return false;
  }
  return true;
}

FftEngine::~FftEngine() {
  for (CFFTRowThread*& w : rowWorkers_) {
    if (!w) break;
    w->Stop();
    delete w;
    w = nullptr;
  }
  for (CFFTColThread*& w : colWorkers_) {
    if (!w) break;
    w->Stop();
    delete w;
    w = nullptr;
  }
  platform::AlignedFree(spectrum_);
  platform::AlignedFree(masks_[0]);
  platform::AlignedFree(masks_[1]);
  platform::AlignedFree(columnMasks_[0]);
  platform::AlignedFree(columnMasks_[1]);
  platform::AlignedFree(display_);
  platform::AlignedFree(window_);
  platform::AlignedFree(inverseWindow_);
  platform::AlignedFree(rowPairs_);
  platform::AlignedFree(colPairs_);
  platform::AlignedFree(tableStore_);
}

bool FftEngine::IsUsable() const { return usable_; }

// ---------------------------------------------------------------- tables

// Every window type builds the Hamming window, the only one the system uses.
void FftEngine::BuildWindow(int32_t type) {
  if (!usable_) return;
  platform::AlignedFree(window_);
  window_ = nullptr;
  windowSum_ = 0.0f;
  WindowFactors f(L_, H_);
  window_ = static_cast<float*>(platform::AlignedAlloc(static_cast<size_t>(H_) * L_ * sizeof(float)));
  if (!window_ || !f.ok()) {
    platform::AlignedFree(window_);
    window_ = nullptr;
    return;
  }
  float sum = 0.0f;
  for (int32_t m = 0; m < H_; ++m) {
    for (int32_t n = 0; n < L_; ++n) {
      const double weight = f.r[n] * f.s[m];
      window_[static_cast<size_t>(m) * L_ + n] = static_cast<float>(weight);
      sum = static_cast<float>(static_cast<double>(sum) + weight);
    }
  }
  windowSum_ = sum;
}

void FftEngine::BuildInverseWindow(int32_t type) {
  if (!usable_) return;
  platform::AlignedFree(inverseWindow_);
  inverseWindow_ = nullptr;
  WindowFactors f(L_, H_);
  inverseWindow_ = static_cast<float*>(platform::AlignedAlloc(static_cast<size_t>(H_) * L_ * sizeof(float)));
  if (!inverseWindow_ || !f.ok()) {
    platform::AlignedFree(inverseWindow_);
    inverseWindow_ = nullptr;
    return;
  }
  for (int32_t m = 0; m < H_; ++m) {
    for (int32_t n = 0; n < L_; ++n) {
      inverseWindow_[static_cast<size_t>(m) * L_ + n] = static_cast<float>((1.0 / f.s[m]) / f.r[n]);
    }
  }
}

bool FftEngine::AllocateMask() {
  if (!usable_) return false;
  if (masks_[0]) return true;
  const size_t count = static_cast<size_t>(M_) * pitch_;
  const size_t columnCount = MaskColumnStride(M_) * bins_;
  float* tables[4] = {};
  bool ok = true;
  for (int i = 0; i < 4; ++i) {
    tables[i] = static_cast<float*>(platform::AlignedAlloc((i < 2 ? count : columnCount) * sizeof(float)));
    ok = ok && tables[i] != nullptr;
  }
  if (!ok) {
    for (float* t : tables) platform::AlignedFree(t);
    return false;
  }
  for (int i = 0; i < 4; ++i) std::fill(tables[i], tables[i] + (i < 2 ? count : columnCount), 1.0f);
  platform::ScopedLock lock(maskLock_);
  masks_[0] = tables[0];
  masks_[1] = tables[1];
  columnMasks_[0] = tables[2];
  columnMasks_[1] = tables[3];
  gains_[0] = gains_[1] = 1.0f;
  front_ = 0;
  return true;
}

bool FftEngine::AllocateDisplay() {
  if (!usable_) return false;
  if (display_) return true;
  const size_t count = static_cast<size_t>(M_) * bins_;
  display_ = static_cast<float*>(platform::AlignedAlloc(count * sizeof(float)));
  if (!display_) return false;
  std::memset(display_, 0, count * sizeof(float));
  return true;
}

int32_t ScaleRowRateKHz(int32_t lineLength) { return platform::MulDiv(13500, lineLength, 704); }
int32_t ScaleColRateKHz(int32_t height) { return platform::MulDiv(14727, height, 576); }

void FftEngine::SetRates(int32_t rowRateKHz, int32_t colRateKHz) {
  rowRateKHz_ = rowRateKHz;
  colRateKHz_ = colRateKHz;
}

// ---------------------------------------------------------------- transform

void FftEngine::SelectKernels() {
  const platform::CpuFeatures& cpu = platform::Cpu();
  const BlockKernels* sse = cpu.sse ? SseBlockKernels() : nullptr;
  const BlockKernels* avx = cpu.avx2 ? Avx2BlockKernels() : nullptr;
  kernels_[0] = avx ? avx : sse;
  kernels_[1] = avx ? sse : nullptr;
}

void FftEngine::Transform(int32_t direction, RowStage* stage) {
  if (!usable_ || (direction != 1 && direction != -1)) return;
  SelectKernels();
  rowStage_ = stage;
  // Forward: rows, then columns; inverse: columns, then rows. The last
  // worker of the first phase starts the second itself.
  const bool columnsFirst = direction < 0;
  if (callerRuns_) {
    Worker(columnsFirst, 0)->RunHere(direction);
    Worker(!columnsFirst, 0)->RunHere(direction);
    rowStage_ = nullptr;
    return;
  }
  StartPhase(columnsFirst, direction, true);
  WaitPhase(columnsFirst);
  WaitPhase(!columnsFirst);
  rowStage_ = nullptr;
}

FftWorker* FftEngine::Worker(bool columns, int i) const {
  return columns ? static_cast<FftWorker*>(colWorkers_[i]) : static_cast<FftWorker*>(rowWorkers_[i]);
}

// Starts the workers of one kind; with chained, the last of them to finish
// starts the workers of the other kind (ChainedPhaseDone).
void FftEngine::StartPhase(bool columns, int32_t direction, bool chained) {
  int count = 0;
  while (count < kMaxWorkers && Worker(columns, count)) ++count;
  chainRemaining_.store(chained ? count : 0);
  chainNext_ = chained ? (columns ? kChainRows : kChainColumns) : kChainNone;
  for (int i = 0; i < count; ++i) Worker(columns, i)->ResumeThread(direction);
}

// Called by each worker after its share, before it reports done: the last
// one of a chained phase starts the next phase, so that no round trip
// through the dispatching thread lies between the two. The next phase's
// TaskDone events are reset before this worker's own is set, so a wait for
// them that begins after this phase's wait has ended cannot see them early.
void FftEngine::ChainedPhaseDone(int32_t direction) {
  if (chainNext_ == kChainNone || chainRemaining_.fetch_sub(1) != 1) return;
  const bool columns = chainNext_ == kChainColumns;
  chainNext_ = kChainNone;
  for (int i = 0; i < kMaxWorkers && Worker(columns, i); ++i) Worker(columns, i)->ResumeThread(direction);
}

// Waits for the workers of one kind. After a time-out the wait goes on
// without limit: the next phase works on the same spectrum and must not
// start while one of these workers still writes.
void FftEngine::WaitPhase(bool columns) {
  platform::Event done[kMaxWorkers];
  int count = 0;
  while (count < kMaxWorkers && Worker(columns, count)) {
    done[count] = Worker(columns, count)->TaskDone();
    ++count;
  }
  if (count == 0) return;
  platform::WaitStatus status = platform::WaitAll(done, count, phaseTimeoutMs_);
  if (status == platform::WaitStatus::Timeout) {
    platform::ShowMessage(columns ? "FFTColThread - WAIT_TIMEOUT" : "FFTRowThread - WAIT_TIMEOUT");
    status = platform::WaitAll(done, count, platform::kInfinite);
  }
  if (status == platform::WaitStatus::Failed) {
    for (int i = 0; i < count; ++i) platform::WaitAny(&done[i], 1, platform::kInfinite);
  }
}

// ---------------------------------------------------------------- mask

void FftEngine::PublishMask(const float* mask, float gain) {
  if (!mask || !masks_[0]) return;
  platform::ScopedLock publishing(publishLock_);
  int32_t back;
  {
    platform::ScopedLock lock(maskLock_);
    back = 1 - front_;
  }
  // Nobody reads the back table: ApplyMask holds maskLock_ while it uses the
  // front one, so once the switch below is made the old front is free.
  std::memcpy(masks_[back], mask, static_cast<size_t>(M_) * pitch_ * sizeof(float));
  // The same factors column by column, as the inverse column transforms
  // take them in (InverseWithMask): each column's factors one after another.
  float* columns = columnMasks_[back];
  for (int32_t q = 0; q < M_; ++q) {
    const float* row = mask + static_cast<size_t>(q) * pitch_;
    for (int32_t k = 0; k < bins_; ++k) columns[MaskColumnStride(M_) * k + q] = row[k];
  }
  platform::ScopedLock lock(maskLock_);
  gains_[back] = gain;
  front_ = back;
}

const float* FftEngine::CurrentMask() const {
  platform::ScopedLock lock(maskLock_);
  return masks_[front_];
}

void FftEngine::ApplyMask() {
  if (!usable_ || !masks_[0]) return;
  platform::ScopedLock lock(maskLock_);
  const float* mask = masks_[front_];
  appliedGain_ = gains_[front_];
  float* s = spectrum_;
  const size_t count = static_cast<size_t>(M_) * pitch_;  // a multiple of 4
#if defined(__SSE__)
  for (size_t i = 0; i < count; i += 4) {
    const __m128 m = _mm_load_ps(mask + i);
    float* p = s + 2 * i;
    _mm_store_ps(p, _mm_mul_ps(_mm_load_ps(p), _mm_unpacklo_ps(m, m)));
    _mm_store_ps(p + 4, _mm_mul_ps(_mm_load_ps(p + 4), _mm_unpackhi_ps(m, m)));
  }
#else
  for (size_t i = 0; i < count; ++i) {
    s[2 * i] *= mask[i];
    s[2 * i + 1] *= mask[i];
  }
#endif
}

void FftEngine::InverseWithMask(RowStage* stage) {
  if (!usable_) return;
  if (!masks_[0]) {
    Transform(-1, stage);
    return;
  }
  SelectKernels();
  rowStage_ = stage;
  {
    // The table stays current while the column workers read it.
    platform::ScopedLock lock(maskLock_);
    appliedGain_ = gains_[front_];
    columnMask_ = masks_[front_];
    columnMaskByColumn_ = columnMasks_[front_];
    StartPhase(true, -1, true);
    WaitPhase(true);
    columnMask_ = nullptr;
    columnMaskByColumn_ = nullptr;
  }
  WaitPhase(false);
  rowStage_ = nullptr;
}

// ---------------------------------------------------------------- display

void FftEngine::BuildDisplay(float scale) {
  if (!usable_ || !display_) return;
  for (int32_t q = 0; q < M_; ++q)
    display::LogMagnitude(spectrum_ + static_cast<size_t>(q) * pitch_ * 2, display_ + static_cast<size_t>(q) * bins_,
                          bins_, scale);
}

// ---------------------------------------------------------------- kHz scale

int32_t FftEngine::WidthToColumns(int32_t kHz) const { return platform::MulDiv(kHz, N_, rowRateKHz_); }

int32_t FftEngine::WidthToRows(int32_t kHz) const { return platform::MulDiv(kHz, M_, colRateKHz_); }

int32_t FftEngine::FreqToColumn(int32_t kHz) const { return platform::MulDiv(kHz, N_, rowRateKHz_); }

int32_t FftEngine::FreqToRow(int32_t kHz) const {
  const int32_t v = kHz < 0 ? kHz + colRateKHz_ : kHz;
  const int32_t r = platform::MulDiv(v, M_, colRateKHz_) + M_ / 2;
  return r >= M_ ? r - M_ : r;
}

}  // namespace qrx
