// The mask builder's thread: hand-over of the list, collapsing of requests,
// publication into the engine and shutdown. Passes are held at a known
// point through the pass hook and platform events, never by sleeping.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "filter/filter_list.h"
#include "filter/mask_builder.h"
#include "mask_test_engine.h"
#include "platform/platform.h"
#include "transform/fft_engine.h"

namespace qrx {
namespace {

using testing_mask::MakeEngine;
using testing_mask::Spec;

constexpr uint32_t kWaitMs = 60000;  // generous for emulated runs

// Records the list of every pass and can hold a pass until released.
struct PassGate {
  platform::Event entered = platform::CreateEvent(false);
  platform::Event release = platform::CreateEvent(true);  // open unless closed
  std::mutex lock;
  std::vector<std::vector<int32_t>> lists;  // Fx of each filter, per pass
  std::atomic<bool>* observedFlag = nullptr;
  bool flagSeenDuringPass = false;

  ~PassGate() {
    platform::CloseEvent(entered);
    platform::CloseEvent(release);
  }
  static void Hook(const FilterList& working, void* context) {
    PassGate* gate = static_cast<PassGate*>(context);
    std::vector<int32_t> fx;
    for (int32_t i = 0; i < working.Count(); ++i) fx.push_back(working[i].Fx);
    {
      std::lock_guard<std::mutex> hold(gate->lock);
      gate->lists.push_back(fx);
    }
    platform::SetEvent(gate->entered);
    platform::WaitAny(&gate->release, 1, platform::kInfinite);
    if (gate->observedFlag != nullptr && gate->observedFlag->load()) {
      gate->flagSeenDuringPass = true;
    }
  }
  std::vector<std::vector<int32_t>> Lists() {
    std::lock_guard<std::mutex> hold(lock);
    return lists;
  }
};

bool WaitForPasses(const MaskBuilder& builder, int64_t n) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
  while (builder.PassesCompleted() < n) {
    if (std::chrono::steady_clock::now() > end) return false;
    platform::Sleep(1);
  }
  return true;
}

bool WaitSet(platform::Event event) { return platform::WaitAny(&event, 1, kWaitMs).status == platform::WaitStatus::Ok; }

FilterList ListOf(std::initializer_list<FilterSpec> specs) {
  FilterList list;
  for (const FilterSpec& s : specs) list.Append(s);
  return list;
}

void CollectMessage(const char* text, void* context) {
  static_cast<std::vector<std::string>*>(context)->push_back(text);
}

class MaskWorker : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::SetMessageSink(&CollectMessage, &messages_);
    engine_ = MakeEngine();
    ASSERT_NE(engine_, nullptr);
    builder_.reset(new MaskBuilder(engine_->Pitch(), engine_->Bins(), engine_->Rows(), engine_.get()));
    ASSERT_TRUE(builder_->IsUsable());
    M = engine_->Rows();
    pitch = engine_->Pitch();
    dc = (M / 2) * pitch;
  }
  void TearDown() override {
    builder_.reset();
    platform::SetMessageSink(nullptr, nullptr);
    EXPECT_TRUE(messages_.empty()) << messages_.front();
  }
  // Runs ApplyMask on a spectrum of ones; returns the factor of element i.
  std::vector<float> AppliedFactors() {
    float* s = engine_->Spectrum();
    for (int32_t i = 0; i < 2 * M * pitch; ++i) s[i] = 1.0f;
    engine_->ApplyMask();
    std::vector<float> f(M * pitch);
    for (int32_t i = 0; i < M * pitch; ++i) f[i] = s[2 * i];
    return f;
  }

  std::vector<std::string> messages_;
  std::unique_ptr<FftEngine> engine_;
  std::unique_ptr<MaskBuilder> builder_;
  int32_t M = 0, pitch = 0, dc = 0;
};

TEST_F(MaskWorker, PublishesIntoTheEngineAndAnEmptyListRestoresOnes) {
  builder_->SetFilters(ListOf({Spec(0, 0, 0, 400, 400, 2, -20)}));
  ASSERT_TRUE(WaitForPasses(*builder_, 1));
  std::vector<float> f = AppliedFactors();
  EXPECT_EQ(engine_->AppliedMaskGain(), 10.0f);
  EXPECT_EQ(f[dc], 1.0f);
  EXPECT_NEAR(f[0], 10.0f, 0.01f);
  // The builder's own table is the one it published.
  const float* own = builder_->Mask();
  const float* published = engine_->CurrentMask();
  int32_t differ = 0;
  for (int32_t i = 0; i < M * pitch; ++i) differ += own[i] != published[i];
  EXPECT_EQ(differ, 0);

  builder_->SetFilters(FilterList());
  ASSERT_TRUE(WaitForPasses(*builder_, 2));
  f = AppliedFactors();
  EXPECT_EQ(engine_->AppliedMaskGain(), 1.0f);
  int32_t notOne = 0;
  for (float v : f) notOne += v != 1.0f;
  EXPECT_EQ(notOne, 0);
  for (int32_t i = 0; i < M * pitch; ++i) notOne += builder_->Mask()[i] != 1.0f;
  EXPECT_EQ(notOne, 0);
}

TEST_F(MaskWorker, RequestsDuringAPassCollapseIntoOneWithTheNewestList) {
  PassGate gate;
  platform::ResetEvent(gate.release);
  builder_->SetPassHook(&PassGate::Hook, &gate);
  builder_->SetFilters(ListOf({Spec(0, 1, 0, 400, 400, 2, -20)}));
  ASSERT_TRUE(WaitSet(gate.entered));
  for (int32_t fx = 2; fx <= 11; ++fx) builder_->SetFilters(ListOf({Spec(0, fx, 0, 400, 400, 2, -20)}));
  EXPECT_EQ(builder_->RequestsMade(), 11);
  EXPECT_EQ(builder_->RequestsPublished(), 0);  // the held pass has published nothing
  platform::SetEvent(gate.release);
  ASSERT_TRUE(WaitForPasses(*builder_, 2));
  EXPECT_EQ(builder_->RequestsPublished(), 11);  // the second pass carried the newest request
  // A later request proves how many passes ran in between.
  builder_->SetFilters(ListOf({Spec(0, 99, 0, 400, 400, 2, -20), Spec(2, 98, 0, 1, 1, 1, 0)}));
  ASSERT_TRUE(WaitForPasses(*builder_, 3));
  const std::vector<std::vector<int32_t>> expected = {{1}, {11}, {99, 98}};
  EXPECT_EQ(gate.Lists(), expected);
  EXPECT_EQ(builder_->PassesCompleted(), 3);
  builder_.reset();  // before the gate goes
}

TEST_F(MaskWorker, ListChangedAfterHandOverDoesNotReachThePass) {
  PassGate gate;
  platform::ResetEvent(gate.release);
  builder_->SetPassHook(&PassGate::Hook, &gate);
  builder_->SetFilters(FilterList());
  ASSERT_TRUE(WaitSet(gate.entered));
  // Pass 1 is held; hand over a list and then change it in every way.
  FilterList live = ListOf({Spec(0, 0, 0, 400, 400, 2, -20), Spec(1, 700, 0, 300, 0, 2, -6)});
  builder_->SetFilters(live);
  live[0].Fx = 500;
  live[0].S = -60;
  live.Append(Spec(0, 8, 0, 400, 400, 2, -20));
  live.RemoveAt(1);
  platform::SetEvent(gate.release);
  ASSERT_TRUE(WaitForPasses(*builder_, 2));
  const std::vector<std::vector<int32_t>> expected = {{}, {0, 700}};
  EXPECT_EQ(gate.Lists(), expected);
  // The mask is that of the list as handed over: Dot -20 dB on zero frequency.
  AppliedFactors();
  EXPECT_EQ(engine_->AppliedMaskGain(), 10.0f);
  builder_.reset();  // before the gate goes
}

TEST_F(MaskWorker, DestroyingAnIdleBuilderReturnsQuickly) {
  builder_->SetFilters(FilterList());
  ASSERT_TRUE(WaitForPasses(*builder_, 1));
  const auto start = std::chrono::steady_clock::now();
  builder_.reset();
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(ms, 5000);  // far below the 15000 ms bound for a busy thread
}

struct Deleter {
  std::unique_ptr<MaskBuilder>* builder;
  std::atomic<bool> started{false};
  std::atomic<bool> done{false};
  static uint32_t Run(void* self) {
    Deleter* d = static_cast<Deleter*>(self);
    d->started = true;
    d->builder->reset();
    d->done = true;
    return 0;
  }
};

TEST_F(MaskWorker, DestroyingDuringAPassWaitsForItToFinish) {
  PassGate gate;
  platform::ResetEvent(gate.release);
  builder_->SetPassHook(&PassGate::Hook, &gate);
  builder_->SetFilters(ListOf({Spec(0, 0, 0, 400, 400, 2, -20)}));
  ASSERT_TRUE(WaitSet(gate.entered));
  Deleter deleter{&builder_};
  gate.observedFlag = &deleter.done;
  platform::Thread thread = platform::StartThread(&Deleter::Run, &deleter);
  ASSERT_NE(thread, nullptr);
  while (!deleter.started) platform::Sleep(1);
  platform::Sleep(50);  // let the destructor reach its wait (not required for the checks)
  EXPECT_FALSE(deleter.done);
  platform::SetEvent(gate.release);
  ASSERT_EQ(platform::JoinThread(thread, kWaitMs), platform::WaitStatus::Ok);
  platform::CloseThread(thread);
  EXPECT_TRUE(deleter.done);
  EXPECT_FALSE(gate.flagSeenDuringPass);
  // The pass ran to its end and published before the builder went away.
  AppliedFactors();
  EXPECT_EQ(engine_->AppliedMaskGain(), 10.0f);
  EXPECT_EQ(gate.Lists().size(), 1u);
}

struct Publisher {
  FftEngine* engine;
  std::vector<float> two, three;
  std::atomic<bool> stop{false};
  std::atomic<int64_t> count{0};
  static uint32_t Run(void* self) {
    Publisher* p = static_cast<Publisher*>(self);
    while (!p->stop.load()) {
      const bool even = p->count.load() % 2 == 0;
      p->engine->PublishMask(even ? p->two.data() : p->three.data(), even ? 2.0f : 3.0f);
      p->count.fetch_add(1);
    }
    return 0;
  }
};

TEST_F(MaskWorker, ApplyMaskNeverSeesAMixedTable) {
  builder_.reset();  // only the publisher below writes the engine's mask
  Publisher publisher;
  publisher.engine = engine_.get();
  publisher.two.assign(M * pitch, 2.0f);
  publisher.three.assign(M * pitch, 3.0f);
  platform::Thread thread = platform::StartThread(&Publisher::Run, &publisher);
  ASSERT_NE(thread, nullptr);
#ifdef QRX_SMALL_TESTS
  constexpr int kFrames = 30;
#else
  constexpr int kFrames = 100;
#endif
  int mixed = 0, wrongGain = 0;
  for (int frame = 0; frame < kFrames; ++frame) {
    const std::vector<float> f = AppliedFactors();
    const float first = f[0];
    for (float v : f) mixed += v != first;
    wrongGain += engine_->AppliedMaskGain() != (first == 1.0f ? 1.0f : first);
    if (first != 1.0f && first != 2.0f && first != 3.0f) ++mixed;
  }
  publisher.stop = true;
  ASSERT_EQ(platform::JoinThread(thread, kWaitMs), platform::WaitStatus::Ok);
  platform::CloseThread(thread);
  EXPECT_EQ(mixed, 0);
  EXPECT_EQ(wrongGain, 0);
  EXPECT_GT(publisher.count.load(), 1);
}

struct Feeder {
  MaskBuilder* builder;
  const FilterList* lists[2];
  int passes;
  std::atomic<bool> done{false};
  static uint32_t Run(void* self) {
    Feeder* f = static_cast<Feeder*>(self);
    for (int i = 0; i < f->passes; ++i) {
      f->builder->SetFilters(*f->lists[i % 2]);
      if (!WaitForPasses(*f->builder, i + 1)) break;
    }
    f->done = true;
    return 0;
  }
};

TEST_F(MaskWorker, FramesSeeWholeBuilderMasksWithTheirOwnGain) {
  const FilterList dot = ListOf({Spec(0, 0, 0, 400, 400, 2, -20)});
  const FilterList empty;
  // The two masks the passes will publish, composed here while idle.
  ASSERT_EQ(builder_->Rebuild(dot), 10.0f);
  const std::vector<float> dotMask(builder_->BuildTable(), builder_->BuildTable() + M * pitch);
  Feeder feeder{builder_.get(), {&dot, &empty}, 20};
  platform::Thread thread = platform::StartThread(&Feeder::Run, &feeder);
  ASSERT_NE(thread, nullptr);
  int frames = 0, mismatched = 0;
  while (!feeder.done) {
    const std::vector<float> f = AppliedFactors();
    const float gain = engine_->AppliedMaskGain();
    ++frames;
    if (gain == 10.0f) {
      mismatched += f != dotMask;
    } else {
      int32_t notOne = 0;
      for (float v : f) notOne += v != 1.0f;
      mismatched += gain != 1.0f || notOne != 0;
    }
  }
  ASSERT_EQ(platform::JoinThread(thread, kWaitMs), platform::WaitStatus::Ok);
  platform::CloseThread(thread);
  EXPECT_EQ(builder_->PassesCompleted(), 20);
  EXPECT_GT(frames, 0);
  EXPECT_EQ(mismatched, 0);
}

TEST_F(MaskWorker, StrongListGivesAFiniteEngineMask) {
  const FilterSpec strong = Spec(0, 0, 0, 2000, 2000, 2, -160);
  builder_->SetFilters(ListOf({strong, strong, strong, strong, strong, strong}));
  ASSERT_TRUE(WaitForPasses(*builder_, 1));
  const std::vector<float> f = AppliedFactors();
  int32_t bad = 0;
  for (float v : f) bad += !std::isfinite(v);
  EXPECT_EQ(bad, 0);
  EXPECT_EQ(engine_->AppliedMaskGain(), 1.0f);
}

}  // namespace
}  // namespace qrx
