// Threads, manual-reset events, waits and critical sections.
#include <algorithm>
#include <atomic>

#ifdef _WIN32
#include <windows.h>
#elif defined(__linux__)
#include <sys/resource.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include "platform/platform.h"

namespace qrx {
namespace platform {
namespace {

// ---------------------------------------------------------------- threads
uint32_t StoreSeven(void* arg) {
  static_cast<std::atomic<int>*>(arg)->store(7);
  return 0;
}

TEST(PlatformThreads, StartRunsAtOnceAndJoins) {
  std::atomic<int> value{0};
  Thread thread = StartThread(StoreSeven, &value);
  ASSERT_NE(thread, nullptr);
  EXPECT_EQ(JoinThread(thread, kInfinite), WaitStatus::Ok);
  EXPECT_EQ(value.load(), 7);
  // A second join of a finished thread is still Ok.
  EXPECT_EQ(JoinThread(thread, 0), WaitStatus::Ok);
  CloseThread(thread);
  CloseThread(nullptr);
  EXPECT_EQ(JoinThread(nullptr, 10), WaitStatus::Failed);
}

// The thread's own priority as the system reports it: Windows' level, or
// Linux's nice value; 0 elsewhere.
int OwnPriority() {
#ifdef _WIN32
  return ::GetThreadPriority(::GetCurrentThread());
#elif defined(__linux__)
  return getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
#else
  return 0;
#endif
}

uint32_t RecordPriority(void* arg) {
  *static_cast<int*>(arg) = OwnPriority();
  return 0;
}

struct Lowered {
  int before = 0, after = 0, child = 0;
};

uint32_t LowerAndStartChild(void* arg) {
  Lowered* r = static_cast<Lowered*>(arg);
  r->before = OwnPriority();
  LowerThisThreadPriority();
  r->after = OwnPriority();
  Thread child = StartThread(RecordPriority, &r->child);
  if (child != nullptr) {
    JoinThread(child, kInfinite);
    CloseThread(child);
  }
  return 0;
}

// Lowered on a thread of its own, so that the test's thread keeps its
// priority; on Linux the threads it starts afterwards inherit it.
TEST(PlatformThreads, LowerThisThreadPriority) {
  Lowered r;
  Thread thread = StartThread(LowerAndStartChild, &r);
  ASSERT_NE(thread, nullptr);
  ASSERT_EQ(JoinThread(thread, kInfinite), WaitStatus::Ok);
  CloseThread(thread);
#ifdef _WIN32
  EXPECT_EQ(r.before, THREAD_PRIORITY_NORMAL);
  EXPECT_EQ(r.after, THREAD_PRIORITY_BELOW_NORMAL);
#elif defined(__linux__)
  // Nice 10, or where it was when lower already.
  EXPECT_EQ(r.after, std::max(r.before, 10));
  EXPECT_EQ(r.child, r.after);
#endif
  EXPECT_EQ(OwnPriority(), r.before);
}

// Blocks until the event is set. The event is never closed: on POSIX a
// terminated thread keeps running and still uses it.
Event BlockerEvent() {
  static Event event = CreateEvent(false);
  return event;
}

uint32_t BlockOnEvent(void* arg) {
  static_cast<std::atomic<int>*>(arg)->fetch_add(1);
  Event event = BlockerEvent();
  WaitAny(&event, 1, kInfinite);
  return 0;
}

TEST(PlatformThreads, JoinTimesOutThenTerminateLetsCallerGoOn) {
  ASSERT_NE(BlockerEvent(), nullptr);
  std::atomic<int> started{0};
  Thread thread = StartThread(BlockOnEvent, &started);
  ASSERT_NE(thread, nullptr);
  EXPECT_EQ(JoinThread(thread, 50), WaitStatus::Timeout);
  TerminateThread(thread);
#ifdef _WIN32
  // The thread is gone.
  EXPECT_EQ(JoinThread(thread, 5000), WaitStatus::Ok);
#else
  // The thread was left running; it still ends normally once released.
  EXPECT_EQ(JoinThread(thread, 50), WaitStatus::Timeout);
  ASSERT_TRUE(SetEvent(BlockerEvent()));
  EXPECT_EQ(JoinThread(thread, kInfinite), WaitStatus::Ok);
  EXPECT_EQ(started.load(), 1);
  ResetEvent(BlockerEvent());
#endif
  CloseThread(thread);
}

struct Handoff {
  Event release;
  std::atomic<int> finished{0};
};

uint32_t WaitThenCount(void* arg) {
  Handoff* handoff = static_cast<Handoff*>(arg);
  WaitAny(&handoff->release, 1, kInfinite);
  handoff->finished.fetch_add(1);
  return 0;
}

TEST(PlatformThreads, HandleClosedWhileThreadRuns) {
  // Closing the handle first must not pull memory from under the thread.
  Handoff handoff;
  handoff.release = CreateEvent(false);
  ASSERT_NE(handoff.release, nullptr);
  for (int i = 0; i < 4; ++i) {
    Thread thread = StartThread(WaitThenCount, &handoff);
    ASSERT_NE(thread, nullptr);
    CloseThread(thread);
  }
  SetEvent(handoff.release);
  for (int spins = 0; spins < 5000 && handoff.finished.load() < 4; ++spins) Sleep(1);
  // Counting is the threads' last use of the event and of the record.
  EXPECT_EQ(handoff.finished.load(), 4);
  CloseEvent(handoff.release);
}

// ---------------------------------------------------------------- events
TEST(PlatformEvents, CreatedSetOrNotAndManualReset) {
  Event set = CreateEvent(true);
  Event unset = CreateEvent(false);
  ASSERT_NE(set, nullptr);
  ASSERT_NE(unset, nullptr);
  EXPECT_EQ(WaitAll(&set, 1, 0), WaitStatus::Ok);
  EXPECT_EQ(WaitAll(&set, 1, 0), WaitStatus::Ok);  // still set: manual reset
  EXPECT_EQ(WaitAll(&unset, 1, 0), WaitStatus::Timeout);
  EXPECT_TRUE(ResetEvent(set));
  EXPECT_EQ(WaitAll(&set, 1, 0), WaitStatus::Timeout);
  EXPECT_TRUE(SetEvent(unset));
  EXPECT_TRUE(SetEvent(unset));
  EXPECT_EQ(WaitAny(&unset, 1, 0).status, WaitStatus::Ok);
  CloseEvent(set);
  CloseEvent(unset);
  CloseEvent(nullptr);
  EXPECT_FALSE(SetEvent(nullptr));
  EXPECT_FALSE(ResetEvent(nullptr));
}

TEST(PlatformEvents, WaitAnyPicksFirstListedSetEvent) {
  Event events[4];
  for (Event& e : events) {
    e = CreateEvent(false);
    ASSERT_NE(e, nullptr);
  }
  SetEvent(events[3]);
  SetEvent(events[1]);
  WaitAnyResult r = WaitAny(events, 4, 0);
  EXPECT_EQ(r.status, WaitStatus::Ok);
  EXPECT_EQ(r.index, 1);
  r = WaitAny(events, 4, kInfinite);
  EXPECT_EQ(r.index, 1);
  ResetEvent(events[1]);
  r = WaitAny(events, 4, 50);
  EXPECT_EQ(r.status, WaitStatus::Ok);
  EXPECT_EQ(r.index, 3);
  // The same set event listed later than an unset one.
  Event reordered[2] = {events[0], events[3]};
  EXPECT_EQ(WaitAny(reordered, 2, 50).index, 1);
  for (Event e : events) CloseEvent(e);
}

TEST(PlatformEvents, WaitsTimeOut) {
  Event events[3] = {CreateEvent(false), CreateEvent(true), CreateEvent(false)};
  EXPECT_EQ(WaitAny(&events[0], 1, 50).status, WaitStatus::Timeout);
  EXPECT_EQ(WaitAny(&events[0], 1, 0).status, WaitStatus::Timeout);
  // One set is not enough for WaitAll.
  EXPECT_EQ(WaitAll(events, 3, 50), WaitStatus::Timeout);
  EXPECT_EQ(WaitAll(events, 3, 0), WaitStatus::Timeout);
  for (Event e : events) CloseEvent(e);
}

TEST(PlatformEvents, InvalidWaitsFail) {
  Event good = CreateEvent(true);
  Event list[2] = {good, nullptr};
  EXPECT_EQ(WaitAny(list, 2, 0).status, WaitStatus::Failed);
  EXPECT_EQ(WaitAll(list, 2, 0), WaitStatus::Failed);
  EXPECT_EQ(WaitAny(list, 0, 0).status, WaitStatus::Failed);
  EXPECT_EQ(WaitAll(list, 0, 0), WaitStatus::Failed);
  EXPECT_EQ(WaitAny(nullptr, 1, 0).status, WaitStatus::Failed);
  Event many[65];
  for (Event& e : many) e = good;
  EXPECT_EQ(WaitAny(many, 65, 0).status, WaitStatus::Failed);
  EXPECT_EQ(WaitAll(many, 65, 0), WaitStatus::Failed);
  CloseEvent(good);
}

TEST(PlatformEvents, SixtyFourEvents) {
  Event events[64];
  for (Event& e : events) e = CreateEvent(true);
  EXPECT_EQ(WaitAll(events, 64, 0), WaitStatus::Ok);
  for (int i = 0; i < 63; ++i) ResetEvent(events[i]);
  WaitAnyResult r = WaitAny(events, 64, 0);
  EXPECT_EQ(r.status, WaitStatus::Ok);
  EXPECT_EQ(r.index, 63);
  for (Event e : events) CloseEvent(e);
}

struct Setter {
  Event events[3];
  Event proceed;  // the setter waits for this before each step
  Event stepped;  // and sets this after it
};

uint32_t SetOneByOne(void* arg) {
  Setter* s = static_cast<Setter*>(arg);
  for (Event e : s->events) {
    WaitAny(&s->proceed, 1, kInfinite);
    ResetEvent(s->proceed);
    SetEvent(e);
    SetEvent(s->stepped);
  }
  return 0;
}

TEST(PlatformEvents, WaitAllReturnsOnlyWhenAllAreSet) {
  Setter s;
  for (Event& e : s.events) e = CreateEvent(false);
  s.proceed = CreateEvent(false);
  s.stepped = CreateEvent(false);
  Thread thread = StartThread(SetOneByOne, &s);
  ASSERT_NE(thread, nullptr);
  for (int step = 0; step < 2; ++step) {
    ResetEvent(s.stepped);
    SetEvent(s.proceed);
    ASSERT_EQ(WaitAny(&s.stepped, 1, 5000).status, WaitStatus::Ok);
    EXPECT_EQ(WaitAll(s.events, 3, 50), WaitStatus::Timeout) << "after " << step + 1 << " set";
  }
  // The last one is set while this thread already waits.
  SetEvent(s.proceed);
  EXPECT_EQ(WaitAll(s.events, 3, kInfinite), WaitStatus::Ok);
  EXPECT_EQ(JoinThread(thread, 5000), WaitStatus::Ok);
  CloseThread(thread);
  for (Event e : s.events) CloseEvent(e);
  CloseEvent(s.proceed);
  CloseEvent(s.stepped);
}

TEST(PlatformEvents, WaitAllSeesAllSetAtOnce) {
  // A and B are never set at the same time after the start, so WaitAll must
  // time out although each of them is set again and again.
  Event a = CreateEvent(true);
  Event b = CreateEvent(false);
  Event both[2] = {a, b};
  for (int i = 0; i < 20; ++i) {
    ResetEvent(a);
    SetEvent(b);
    EXPECT_EQ(WaitAll(both, 2, 0), WaitStatus::Timeout);
    ResetEvent(b);
    SetEvent(a);
    EXPECT_EQ(WaitAll(both, 2, 0), WaitStatus::Timeout);
  }
  SetEvent(b);
  EXPECT_EQ(WaitAll(both, 2, 0), WaitStatus::Ok);
  CloseEvent(a);
  CloseEvent(b);
}

// The pattern of the transform workers: the dispatcher resets Done and sets
// Start; the worker waits for {exit, Start}, resets Start, works, sets Done.
struct PingPong {
  Event exit;
  Event start;
  Event done;
  int work = 0;  // guarded by the handshake itself
  std::atomic<int> failures{0};
};

uint32_t Worker(void* arg) {
  PingPong* p = static_cast<PingPong*>(arg);
  Event wakers[2] = {p->exit, p->start};
  for (;;) {
    const WaitAnyResult r = WaitAny(wakers, 2, 5000);
    if (r.status != WaitStatus::Ok) {
      p->failures.fetch_add(1);
      return 1;
    }
    if (r.index == 0) return 0;
    ResetEvent(p->start);
    ++p->work;
    SetEvent(p->done);
  }
}

TEST(PlatformEvents, PingPongHandshakes) {
#ifdef QRX_SMALL_TESTS
  const int kRounds = 1000;
#else
  const int kRounds = 5000;
#endif
  PingPong p;
  p.exit = CreateEvent(false);
  p.start = CreateEvent(false);
  p.done = CreateEvent(false);
  Thread worker = StartThread(Worker, &p);
  ASSERT_NE(worker, nullptr);
  int completed = 0;
  for (int round = 0; round < kRounds; ++round) {
    ResetEvent(p.done);
    SetEvent(p.start);
    if (WaitAll(&p.done, 1, 5000) != WaitStatus::Ok) break;
    ++completed;
    ASSERT_EQ(p.work, completed);
  }
  EXPECT_EQ(completed, kRounds);
  SetEvent(p.exit);
  EXPECT_EQ(JoinThread(worker, 5000), WaitStatus::Ok);
  EXPECT_EQ(p.failures.load(), 0);
  CloseThread(worker);
  CloseEvent(p.exit);
  CloseEvent(p.start);
  CloseEvent(p.done);
}

// Several waiters on one event all wake when it is set.
struct Crowd {
  Event gate;
  std::atomic<int> through{0};
};

uint32_t PassGate(void* arg) {
  Crowd* c = static_cast<Crowd*>(arg);
  if (WaitAny(&c->gate, 1, 5000).status == WaitStatus::Ok) c->through.fetch_add(1);
  return 0;
}

TEST(PlatformEvents, SetWakesEveryWaiter) {
  Crowd crowd;
  crowd.gate = CreateEvent(false);
  Thread threads[6];
  for (Thread& t : threads) t = StartThread(PassGate, &crowd);
  Sleep(20);
  SetEvent(crowd.gate);
  for (Thread t : threads) {
    EXPECT_EQ(JoinThread(t, 10000), WaitStatus::Ok);
    CloseThread(t);
  }
  EXPECT_EQ(crowd.through.load(), 6);
  CloseEvent(crowd.gate);
}

// ---------------------------------------------------------------- locks
struct Counter {
  CriticalSection lock;
  long long value = 0;  // plain on purpose: only the lock protects it
  int rounds = 0;
};

uint32_t CountUp(void* arg) {
  Counter* c = static_cast<Counter*>(arg);
  for (int i = 0; i < c->rounds; ++i) {
    ScopedLock hold(c->lock);
    // Read, yield a moment, write: an unprotected interleaving loses counts.
    const long long v = c->value;
    if ((i & 255) == 0) Sleep(0);
    c->value = v + 1;
  }
  return 0;
}

TEST(PlatformLocks, CriticalSectionExcludes) {
  Counter counter;
#ifdef QRX_SMALL_TESTS
  counter.rounds = 5000;
#else
  counter.rounds = 50000;
#endif
  Thread threads[4];
  for (Thread& t : threads) {
    t = StartThread(CountUp, &counter);
    ASSERT_NE(t, nullptr);
  }
  for (Thread t : threads) {
    EXPECT_EQ(JoinThread(t, kInfinite), WaitStatus::Ok);
    CloseThread(t);
  }
  EXPECT_EQ(counter.value, 4LL * counter.rounds);
}

struct Probe {
  CriticalSection* lock;
  Event entered;
};

uint32_t EnterAndSignal(void* arg) {
  Probe* p = static_cast<Probe*>(arg);
  ScopedLock hold(*p->lock);
  SetEvent(p->entered);
  return 0;
}

TEST(PlatformLocks, CriticalSectionIsRecursive) {
  CriticalSection lock;
  Probe probe{&lock, CreateEvent(false)};
  lock.Enter();
  {
    ScopedLock again(lock);  // the owner enters again without blocking
    ScopedLock third(lock);
  }
  Thread other = StartThread(EnterAndSignal, &probe);
  ASSERT_NE(other, nullptr);
  // Still held once: the other thread cannot get in.
  EXPECT_EQ(WaitAny(&probe.entered, 1, 50).status, WaitStatus::Timeout);
  lock.Leave();
  EXPECT_EQ(WaitAny(&probe.entered, 1, 5000).status, WaitStatus::Ok);
  EXPECT_EQ(JoinThread(other, 5000), WaitStatus::Ok);
  CloseThread(other);
  CloseEvent(probe.entered);
}

}  // namespace
}  // namespace platform
}  // namespace qrx
