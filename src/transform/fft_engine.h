// The frequency-domain engine: spectrum, mask and display tables, Hamming
// windows, the kHz frequency scale, and the 2-D transform run on worker
// threads.
//
// Spectrum layout after Transform(+1), rows q = 0..M-1, columns k = 0..N/2:
//   S[q][k] = (-1)^q * X(q - M/2, k),
//   X(v, k) = sum_m sum_n x[m][n] e^(-2 pi i v m / M) e^(+2 pi i k n / N).
// Row M/2 is the zero vertical frequency; column 0 the zero horizontal one.
// Each row holds pitch = N/2 + 2 complex elements (two floats, real first);
// bins = N/2 + 1 of them are used, the last is spare. Mask: one float per
// complex element, same rows and pitch. Display: M rows of bins floats.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/platform.h"
#include "transform/fft_kernels_simd.h"

namespace qrx {

// The frequency scale's rates for a line of lineLength samples and a frame of
// height lines: 13500 kHz over 704 pixels horizontally, 14727 kHz over 576
// lines vertically (MulDiv). Whoever builds an engine passes these to
// SetRates, so that kHz values mean the same everywhere.
int32_t ScaleRowRateKHz(int32_t lineLength);
int32_t ScaleColRateKHz(int32_t height);

class CFFTRowThread;
class CFFTColThread;
class FftWorker;

// Work on whole spectrum rows that rides on the row workers' passes, so
// that it is split over the same threads as the transform and finds its rows
// still in the cache: Load fills rows first .. first + count - 1 just before
// their forward row transform, Store takes them just after their inverse
// one. Called on the row workers' threads (worker: the worker's slot,
// 0 .. WorkerCount() - 1) with disjoint ranges, in increasing row order
// within a worker's share; every row 0 .. H-1 exactly once per pass.
class RowStage {
 public:
  virtual void Load(int32_t worker, int32_t first, int32_t count) = 0;
  virtual void Store(int32_t worker, int32_t first, int32_t count) = 0;

 protected:
  ~RowStage() = default;
};

// Called by a worker at the beginning (begin = true) and end of each pass:
// kind 0 = row worker, 1 = column worker; first = the worker's first item.
// For tests (order of passes, slow workers); runs on the worker's thread.
using FftPassHook = void (*)(void* context, int32_t kind, int32_t first, int32_t direction, bool begin);

class FftEngine {
 public:
  static constexpr int kMaxWorkers = 8;

  // lineLength L (always N in this system), height H, rowLength N (0: the
  // smallest power of two >= L), columnLength M (0: the smallest power of
  // two >= H), layout (2). workerCount 0 takes the count from the process
  // affinity mask (at most 8); tests pass a count to force one.
  FftEngine(int32_t lineLength, int32_t height, int32_t rowLength, int32_t columnLength, int32_t layout,
            int32_t workerCount = 0);
  virtual ~FftEngine();
  FftEngine(const FftEngine&) = delete;
  FftEngine& operator=(const FftEngine&) = delete;

  // False when a size was unusable (N not a power of two >= 4, M not a power
  // of two >= 2 or < H, H < 2, L < 2 or L > N, either length above 65536),
  // or an allocation, event or thread could not be created. The engine's
  // operations then do nothing; callers should not use it.
  bool IsUsable() const;

  void BuildWindow(int32_t type);         // 1: Hamming
  void BuildInverseWindow(int32_t type);  // 1: Hamming
  bool AllocateMask();                    // M x pitch floats, set to 1.0 (no mask published yet)
  bool AllocateDisplay();                 // M x bins floats
  void SetRates(int32_t rowRateKHz, int32_t colRateKHz);

  // +1 forward (rows then columns), -1 inverse (columns then rows); any other
  // value does nothing. Returns when the workers are done. With a stage,
  // the forward row pass calls its Load and the inverse row pass its Store
  // around each block of rows.
  void Transform(int32_t direction) { Transform(direction, nullptr); }
  void Transform(int32_t direction, RowStage* stage);
  // Transform's passes run on the calling thread instead of waking the
  // workers (an engine of one worker of each kind only): for small
  // transforms made one after another on a thread of their own, where the
  // two hand-overs cost more than the passes. The results are the same.
  void RunOnCallingThread(bool on) { callerRuns_ = on && workerCount_ == 1; }

  // Multiplies every complex element by its mask factor. The mask used is
  // one whole table published by PublishMask (all 1.0 before the first).
  void ApplyMask();
  // ApplyMask() followed by Transform(-1, stage), with the mask multiplied
  // into each column as the column transforms take it in: the same
  // products, without a pass of their own over the spectrum. (The spare
  // element of each row, which nothing reads, is left unmultiplied.)
  void InverseWithMask(RowStage* stage);
  // Copies a complete M x pitch mask with its normalising gain into the
  // engine; safe against a concurrent ApplyMask (which sees the old or the
  // new table whole). Called by the mask builder's thread.
  void PublishMask(const float* mask, float gain);
  // The gain that belongs to the mask the last ApplyMask used (1 before any).
  float AppliedMaskGain() const { return appliedGain_; }

  // display[q][k] = scale * log10(1 + |S[q][k]|); nothing without a display.
  void BuildDisplay(float scale);

  // kHz conversions through MulDiv (see the frequency scale above).
  int32_t WidthToColumns(int32_t kHz) const;
  int32_t WidthToRows(int32_t kHz) const;
  int32_t FreqToColumn(int32_t kHz) const;
  int32_t FreqToRow(int32_t kHz) const;

  // Sizes and tables.
  int32_t N() const { return N_; }
  int32_t M() const { return M_; }
  int32_t L() const { return L_; }
  int32_t H() const { return H_; }
  int32_t Pitch() const { return pitch_; }
  int32_t Bins() const { return bins_; }
  int32_t Rows() const { return rows_; }
  int32_t WorkerCount() const { return workerCount_; }
  int32_t RowRateKHz() const { return rowRateKHz_; }
  int32_t ColRateKHz() const { return colRateKHz_; }
  float WindowSum() const { return windowSum_; }
  float* Spectrum() { return spectrum_; }  // M x pitch complex = 2*M*pitch floats
  const float* Spectrum() const { return spectrum_; }
  const float* Display() const { return display_; }
  const float* Window() const { return window_; }                // H x L
  const float* InverseWindow() const { return inverseWindow_; }  // H x L
  const float* CurrentMask() const;                              // the published table ApplyMask uses

  // How long a phase may take before its time-out message (5000 ms).
  void SetPhaseTimeout(uint32_t ms) { phaseTimeoutMs_ = ms; }
  // Set while no transform is running.
  void SetPassHook(FftPassHook hook, void* context) {
    passHook_ = hook;
    passHookContext_ = context;
  }
  static constexpr uint32_t kPhaseTimeoutMs = 5000;

  // Worker slots (used first, then null), for tests.
  CFFTRowThread* RowWorker(int i) const { return rowWorkers_[i]; }
  CFFTColThread* ColWorker(int i) const { return colWorkers_[i]; }

 private:
  friend class CFFTRowThread;
  friend class CFFTColThread;
  friend class FftWorker;
  bool SizesUsable() const;
  bool BuildPassTables();
  bool CreateWorkers();
  void SelectKernels();
  FftWorker* Worker(bool columns, int i) const;
  void StartPhase(bool columns, int32_t direction, bool chained);
  void ChainedPhaseDone(int32_t direction);
  void WaitPhase(bool columns);

  float* spectrum_ = nullptr;
  float* display_ = nullptr;
  float* window_ = nullptr;
  float* inverseWindow_ = nullptr;
  int32_t pitch_ = 0, bins_ = 0, rows_ = 0;
  int32_t N_ = 0, M_ = 0, L_ = 0, H_ = 0;
  int32_t rowRateKHz_ = 0, colRateKHz_ = 0;
  int32_t layout_ = 2;
  int32_t workerCount_ = 0;
  float windowSum_ = 0.0f;
  float appliedGain_ = 1.0f;
  CFFTRowThread* rowWorkers_[kMaxWorkers] = {};
  CFFTColThread* colWorkers_[kMaxWorkers] = {};
  // Two mask tables: PublishMask fills the one ApplyMask is not using and
  // then makes it current under maskLock_, which ApplyMask holds for its
  // loop; publishLock_ keeps publishers apart.
  float* masks_[2] = {nullptr, nullptr};
  // Each table's factors column by column (bins columns of M rows,
  // MaskColumnStride apart), for
  // InverseWithMask's column transforms, which then read them in order.
  float* columnMasks_[2] = {nullptr, nullptr};
  float gains_[2] = {1.0f, 1.0f};
  int32_t front_ = 0;
  mutable platform::CriticalSection maskLock_;
  platform::CriticalSection publishLock_;
  int32_t* rowPairs_ = nullptr;  // BitReversePairs for N/2 points (room for N int32)
  int32_t* colPairs_ = nullptr;  // BitReversePairs for M points (room for 2 M int32)
  int32_t rowPairCount_ = 0;
  int32_t colPairCount_ = 0;
  // Block kernels for the current transform, widest first (null: none).
  const BlockKernels* kernels_[2] = {nullptr, nullptr};
  // The block kernels' tables, built once: [0] forward, [1] inverse pass.
  FftPassTables rowTables_[2] = {};
  FftPassTables colTables_[2] = {};
  void* tableStore_ = nullptr;
  RowStage* rowStage_ = nullptr;               // for the pass running now
  const float* columnMask_ = nullptr;          // for the column pass running now
  const float* columnMaskByColumn_ = nullptr;  // the same table column by column
  // The phase the last worker of the running one starts, and how many of
  // its workers have yet to finish.
  enum Chain { kChainNone, kChainRows, kChainColumns };
  Chain chainNext_ = kChainNone;
  std::atomic<int32_t> chainRemaining_{0};
  uint32_t phaseTimeoutMs_ = kPhaseTimeoutMs;
  FftPassHook passHook_ = nullptr;
  bool callerRuns_ = false;
  void* passHookContext_ = nullptr;
  bool usable_ = false;
};

}  // namespace qrx
