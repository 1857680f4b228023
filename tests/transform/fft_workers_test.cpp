// Worker pool: shares, worker counts, pass order, shutdown and the phase
// time-out.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <string>
#include <vector>

#include "fft_test_support.h"
#include "platform/platform.h"
#include "transform/fft_engine.h"
#include "transform/fft_workers.h"

namespace qrx {
namespace {

std::vector<int> Shares(int total, int workers) {
  std::vector<int> counts;
  int expectedFirst = 0;
  for (int t = 0; t < workers; ++t) {
    int first = -1, count = -1;
    WorkerShare(total, workers, t, &first, &count);
    EXPECT_EQ(first, expectedFirst);
    expectedFirst += count;
    counts.push_back(count);
  }
  EXPECT_EQ(expectedFirst, total);
  return counts;
}

TEST(FftWorkerShares, BasePlusExtraInOrder) {
  EXPECT_EQ(Shares(576, 1), std::vector<int>({576}));
  EXPECT_EQ(Shares(257, 1), std::vector<int>({257}));
  EXPECT_EQ(Shares(576, 3), std::vector<int>({192, 192, 192}));
  EXPECT_EQ(Shares(257, 3), std::vector<int>({86, 86, 85}));
  EXPECT_EQ(Shares(576, 4), std::vector<int>({144, 144, 144, 144}));
  EXPECT_EQ(Shares(257, 4), std::vector<int>({65, 64, 64, 64}));
  EXPECT_EQ(Shares(257, 8), std::vector<int>({33, 32, 32, 32, 32, 32, 32, 32}));
  EXPECT_EQ(Shares(3, 8), std::vector<int>({1, 1, 1, 0, 0, 0, 0, 0}));
}

TEST(FftWorkerCount, FromAffinityMask) {
  EXPECT_EQ(WorkerCountFromMask(0x1), 1);
  EXPECT_EQ(WorkerCountFromMask(0xB), 3);
  EXPECT_EQ(WorkerCountFromMask(0xF0), 4);
  EXPECT_EQ(WorkerCountFromMask(0xFFFFFFFFFFFFFFFFull), 8);
  EXPECT_EQ(WorkerCountFromMask(0x8000000000000001ull), 2);
  EXPECT_EQ(WorkerCountFromMask(0x8000000000000000ull), 1);
  EXPECT_EQ(WorkerCountFromMask(0), 1);  // unknown: one of each
}

int UsedSlots(const FftEngine& e, bool columns) {
  int n = 0;
  for (int i = 0; i < FftEngine::kMaxWorkers; ++i) {
    const bool used = columns ? e.ColWorker(i) != nullptr : e.RowWorker(i) != nullptr;
    if (used) {
      EXPECT_EQ(n, i) << "used slots must come first";
      ++n;
    }
  }
  return n;
}

TEST(FftWorkerPool, SlotsForOneManyAndTooManyWorkers) {
  {
    FftEngine e(512, 576, 512, 0, 2, 1);
    ASSERT_TRUE(e.IsUsable());
    EXPECT_EQ(UsedSlots(e, false), 1);
    EXPECT_EQ(UsedSlots(e, true), 1);
    EXPECT_EQ(e.RowWorker(0)->Count(), 576);
    EXPECT_EQ(e.ColWorker(0)->Count(), 257);
  }
  {
    FftEngine e(512, 576, 512, 0, 2, 12);  // more than 8 asked: 8
    ASSERT_TRUE(e.IsUsable());
    EXPECT_EQ(e.WorkerCount(), 8);
    EXPECT_EQ(UsedSlots(e, false), 8);
    EXPECT_EQ(UsedSlots(e, true), 8);
    EXPECT_EQ(e.ColWorker(0)->Count(), 33);
    EXPECT_EQ(e.ColWorker(7)->First(), 225);
  }
  {
    // 8 workers, a 4-row frame with 3 columns: one item each.
    FftEngine e(4, 4, 4, 0, 2, 8);
    ASSERT_TRUE(e.IsUsable());
    EXPECT_EQ(UsedSlots(e, false), 4);
    EXPECT_EQ(UsedSlots(e, true), 3);
    for (int i = 0; i < 4; ++i) {
      EXPECT_EQ(e.RowWorker(i)->First(), i);
      EXPECT_EQ(e.RowWorker(i)->Count(), 1);
    }
    // And the transform still runs and round-trips.
    float* s = e.Spectrum();
    for (int m = 0; m < 4; ++m)
      for (int n = 0; n < 4; ++n) s[m * 2 * e.Pitch() + n] = static_cast<float>(m * 4 + n);
    e.Transform(1);
    e.Transform(-1);
    for (int m = 0; m < 4; ++m)
      for (int n = 0; n < 4; ++n) EXPECT_NEAR(s[m * 2 * e.Pitch() + n], m * 4 + n, 1e-5);
  }
  {
    FftEngine e(512, 576, 512, 0, 2, 0);  // from the process affinity mask
    ASSERT_TRUE(e.IsUsable());
    EXPECT_EQ(e.WorkerCount(), WorkerCountFromMask(platform::ProcessAffinityMask()));
    EXPECT_EQ(UsedSlots(e, false), e.WorkerCount());
  }
}

struct PassRecord {
  int kind, first, direction;
  bool begin;
};

struct Trace {
  std::mutex lock;
  std::vector<PassRecord> records;
  int slowKind = -1;  // this kind's worker 0 sleeps in its pass
  uint32_t slowMs = 0;
};

void Record(void* context, int32_t kind, int32_t first, int32_t direction, bool begin) {
  Trace* t = static_cast<Trace*>(context);
  if (begin && kind == t->slowKind && first == 0) platform::Sleep(t->slowMs);
  std::lock_guard<std::mutex> g(t->lock);
  t->records.push_back({kind, first, direction, begin});
}

// Index of the last record of one kind and the first of the other.
void ExpectPhaseOrder(const std::vector<PassRecord>& r, int firstKind, int workers) {
  ASSERT_EQ(r.size(), static_cast<size_t>(4 * workers));
  for (size_t i = 0; i < r.size(); ++i) {
    EXPECT_EQ(r[i].kind, i < r.size() / 2 ? firstKind : 1 - firstKind) << i;
  }
}

TEST(FftWorkerPool, ForwardRunsRowsThenColumnsInverseTheOpposite) {
  Trace trace;
  FftEngine e(64, 48, 64, 0, 2, 3);
  ASSERT_TRUE(e.IsUsable());
  e.SetPassHook(&Record, &trace);
  e.Transform(1);
  ExpectPhaseOrder(trace.records, 0, 3);
  for (const PassRecord& r : trace.records) EXPECT_EQ(r.direction, 1);
  trace.records.clear();
  e.Transform(-1);
  ExpectPhaseOrder(trace.records, 1, 3);
  for (const PassRecord& r : trace.records) EXPECT_EQ(r.direction, -1);
  e.SetPassHook(nullptr, nullptr);
}

struct ThreadTrace {
  std::mutex lock;
  std::vector<std::thread::id> threads;
  std::vector<int> kinds;
};

void RecordThread(void* context, int32_t kind, int32_t, int32_t, bool begin) {
  ThreadTrace* t = static_cast<ThreadTrace*>(context);
  std::lock_guard<std::mutex> g(t->lock);
  if (!begin) return;
  t->threads.push_back(std::this_thread::get_id());
  t->kinds.push_back(kind);
}

// On the calling thread (an engine of one worker of each kind): the same
// bits as the workers give, the passes in the same order, none on a
// worker's thread; an engine of more workers keeps them.
TEST(FftWorkerPool, CallingThreadRunsOneWorkersPassesWithTheSameResults) {
  for (const int32_t workers : {1, 2}) {
    SCOPED_TRACE(workers);
    FftEngine byWorkers(100, 70, 128, 0, 2, workers), here(100, 70, 128, 0, 2, workers);
    ASSERT_TRUE(byWorkers.IsUsable() && here.IsUsable());
    here.RunOnCallingThread(true);
    ThreadTrace trace;
    here.SetPassHook(&RecordThread, &trace);
    const size_t floats = static_cast<size_t>(here.M()) * here.Pitch() * 2;
    for (size_t i = 0; i < floats; ++i)
      byWorkers.Spectrum()[i] = here.Spectrum()[i] = static_cast<float>((i * 37) % 101) - 50.0f;
    for (const int32_t direction : {1, -1}) {
      byWorkers.Transform(direction);
      here.Transform(direction);
      EXPECT_EQ(std::memcmp(byWorkers.Spectrum(), here.Spectrum(), floats * sizeof(float)), 0) << direction;
    }
    here.SetPassHook(nullptr, nullptr);
    const bool calling = workers == 1;
    ASSERT_EQ(trace.kinds.size(), static_cast<size_t>(4 * workers));
    EXPECT_EQ(trace.kinds.front(), 0);  // forward: rows first
    EXPECT_EQ(trace.kinds.back(), 0);   // inverse: rows last
    for (const std::thread::id& id : trace.threads) EXPECT_EQ(id == std::this_thread::get_id(), calling);
  }
}

TEST(FftWorkerPool, IdleDestructionEndsEveryThreadPromptly) {
  const auto start = std::chrono::steady_clock::now();
  {
    FftEngine e(512, 576, 512, 0, 2, 8);
    ASSERT_TRUE(e.IsUsable());
    e.Transform(1);
  }
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  // Correctness bound: a worker missing its exit event would cost 5000 ms.
  EXPECT_LT(ms, 5000);
}

struct Messages {
  std::mutex lock;
  std::vector<std::string> texts;
};

void Capture(const char* text, void* context) {
  Messages* m = static_cast<Messages*>(context);
  std::lock_guard<std::mutex> g(m->lock);
  m->texts.push_back(text);
}

// A row worker that overruns the phase time-out: one message, and the
// column phase starts only after the slow worker has finished.
TEST(FftWorkerPool, PhaseTimeOutReportsOnceAndKeepsPhasesApart) {
  Messages messages;
  platform::SetMessageSink(&Capture, &messages);
  Trace trace;
  trace.slowKind = 0;
  trace.slowMs = 400;
  {
    FftEngine e(64, 48, 64, 0, 2, 2);
    ASSERT_TRUE(e.IsUsable());
    e.SetPhaseTimeout(50);
    e.SetPassHook(&Record, &trace);
    e.Transform(1);
    e.SetPassHook(nullptr, nullptr);
  }
  platform::SetMessageSink(nullptr, nullptr);
  ASSERT_EQ(messages.texts.size(), 1u);
  EXPECT_EQ(messages.texts[0], "FFTRowThread - WAIT_TIMEOUT");
  size_t slowEnd = 0, firstColumn = trace.records.size();
  for (size_t i = 0; i < trace.records.size(); ++i) {
    const PassRecord& r = trace.records[i];
    if (r.kind == 0 && r.first == 0 && !r.begin) slowEnd = i;
    if (r.kind == 1 && firstColumn == trace.records.size()) firstColumn = i;
  }
  EXPECT_LT(slowEnd, firstColumn);
  EXPECT_EQ(trace.records.size(), 8u);
}

TEST(FftWorkerPool, ColumnTimeOutHasItsOwnText) {
  Messages messages;
  platform::SetMessageSink(&Capture, &messages);
  Trace trace;
  trace.slowKind = 1;
  trace.slowMs = 300;
  {
    FftEngine e(16, 16, 16, 0, 2, 1);
    ASSERT_TRUE(e.IsUsable());
    e.SetPhaseTimeout(30);
    e.SetPassHook(&Record, &trace);
    e.Transform(-1);
    e.SetPassHook(nullptr, nullptr);
  }
  platform::SetMessageSink(nullptr, nullptr);
  ASSERT_EQ(messages.texts.size(), 1u);
  EXPECT_EQ(messages.texts[0], "FFTColThread - WAIT_TIMEOUT");
  ASSERT_EQ(trace.records.size(), 4u);
  EXPECT_EQ(trace.records[1].kind, 1);  // the slow column pass ended first
  EXPECT_FALSE(trace.records[1].begin);
}

TEST(FftWorkerPool, ResumeThreadResetsTaskDoneAndStartsAPass) {
  FftEngine e(16, 8, 16, 0, 2, 1);
  ASSERT_TRUE(e.IsUsable());
  CFFTRowThread* w = e.RowWorker(0);
  ASSERT_NE(w, nullptr);
  // Created set: an idle worker reports done.
  platform::Event done = w->TaskDone();
  EXPECT_EQ(platform::WaitAll(&done, 1, 0), platform::WaitStatus::Ok);
  platform::Event returned = w->ResumeThread(1);
  EXPECT_EQ(returned, done);
  EXPECT_EQ(platform::WaitAll(&done, 1, 5000), platform::WaitStatus::Ok);
}

// A row stage that fills rows from a frame on Load and copies them out on
// Store, and counts the calls each row gets and from which worker.
class CopyingStage : public RowStage {
 public:
  CopyingStage(FftEngine& e, const std::vector<float>& frame)
      : e_(e), frame_(frame), out_(frame.size()), loads_(e.H()), stores_(e.H()), workers_(e.H(), -1) {}
  void Load(int32_t worker, int32_t first, int32_t count) override {
    for (int32_t r = first; r < first + count; ++r) {
      std::memcpy(Row(r), &frame_[static_cast<size_t>(r) * e_.N()], e_.N() * sizeof(float));
      Note(&loads_, worker, r);
    }
  }
  void Store(int32_t worker, int32_t first, int32_t count) override {
    for (int32_t r = first; r < first + count; ++r) {
      std::memcpy(&out_[static_cast<size_t>(r) * e_.N()], Row(r), e_.N() * sizeof(float));
      Note(&stores_, worker, r);
    }
  }
  const std::vector<float>& Out() const { return out_; }
  const std::vector<int>& Loads() const { return loads_; }
  const std::vector<int>& Stores() const { return stores_; }
  const std::vector<int>& Workers() const { return workers_; }

 private:
  float* Row(int32_t r) { return e_.Spectrum() + static_cast<size_t>(r) * 2 * e_.Pitch(); }
  void Note(std::vector<int>* calls, int32_t worker, int32_t r) {
    ++(*calls)[r];  // rows are disjoint between workers
    workers_[r] = worker;
  }

  FftEngine& e_;
  const std::vector<float>& frame_;
  std::vector<float> out_;
  std::vector<int> loads_, stores_, workers_;
};

// The stage's Load runs before each row's forward transform and its Store
// after each row's inverse one, once per row, on the worker whose share
// holds the row: the spectrum and the stored rows are those of filling the
// rows first and reading them after a plain transform.
TEST(FftWorkerPool, RowStageRunsOnEveryRowAroundItsTransform) {
  struct Case {
    int32_t N, H, workers;
  };
  const Case cases[] = {{16, 7, 1}, {16, 7, 3}, {64, 45, 2}, {64, 45, 5}, {256, 99, 2}, {8, 3, 8}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "N=" << c.N << " H=" << c.H << " workers=" << c.workers);
    FftEngine staged(c.N, c.H, c.N, 0, 2, c.workers), plain(c.N, c.H, c.N, 0, 2, 1);
    ASSERT_TRUE(staged.IsUsable() && plain.IsUsable());
    const std::vector<float> frame = fft_test::RandomFloats(static_cast<size_t>(c.H) * c.N, c.N + c.H);
    const size_t floats = 2 * static_cast<size_t>(plain.Pitch()) * plain.M();
    std::fill(staged.Spectrum(), staged.Spectrum() + floats, 7.0f);  // stale rows: Load must replace them
    for (int32_t r = 0; r < c.H; ++r) {
      std::memcpy(plain.Spectrum() + static_cast<size_t>(r) * 2 * plain.Pitch(), &frame[static_cast<size_t>(r) * c.N],
                  c.N * sizeof(float));
    }
    CopyingStage stage(staged, frame);
    staged.Transform(+1, &stage);
    plain.Transform(+1);
    // The spare element of every row is nobody's business.
    for (int32_t r = 0; r < plain.M(); ++r) {
      for (int32_t i = c.N + 2; i < 2 * plain.Pitch(); ++i) staged.Spectrum()[r * 2 * plain.Pitch() + i] = 0.0f;
      for (int32_t i = c.N + 2; i < 2 * plain.Pitch(); ++i) plain.Spectrum()[r * 2 * plain.Pitch() + i] = 0.0f;
    }
    for (size_t i = 0; i < floats; ++i) ASSERT_EQ(staged.Spectrum()[i], plain.Spectrum()[i]) << i;
    staged.Transform(-1, &stage);
    plain.Transform(-1);
    for (int32_t r = 0; r < c.H; ++r) {
      EXPECT_EQ(stage.Loads()[r], 1) << r;
      EXPECT_EQ(stage.Stores()[r], 1) << r;
      const int32_t w = stage.Workers()[r];
      ASSERT_TRUE(w >= 0 && w < staged.WorkerCount()) << r;
      const CFFTRowThread* worker = staged.RowWorker(w);
      ASSERT_NE(worker, nullptr);
      EXPECT_TRUE(r >= worker->First() && r < worker->First() + worker->Count()) << r;
      for (int32_t n = 0; n < c.N; ++n) {
        ASSERT_EQ(stage.Out()[static_cast<size_t>(r) * c.N + n], plain.Spectrum()[r * 2 * plain.Pitch() + n]) << r;
      }
    }
  }
}

}  // namespace
}  // namespace qrx
