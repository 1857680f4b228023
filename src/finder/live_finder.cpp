#include "finder/live_finder.h"

#include <algorithm>
#include <atomic>
#include <complex>
#include <cstring>
#include <deque>
#include <vector>

#include "finder/interference_finder.h"
#include "finder/magnitude_average.h"
#include "platform/platform.h"

namespace qrx {

namespace {
// The finder's engines run their transforms on one worker each: the
// finder's work must not take the processors from the stream.
constexpr int32_t kFinderWorkers = 1;
constexpr uint32_t kPollMs = 1;
}  // namespace

struct LiveFinder::Impl {
  explicit Impl(const LiveFinderOptions& o) : options(o) {
    options.analyseEvery = std::max(1, options.analyseEvery);
    options.lookEvery = std::max(options.analyseEvery, options.lookEvery / options.analyseEvery * options.analyseEvery);
    options.memory = std::max(1, options.memory);
    options.looksToDrop = std::max(1, options.looksToDrop);
  }

  // A frame handed from Feed to the finder's thread: its pixels, or its
  // spectrum (rows x bins complex values, packed).
  struct Slot {
    std::vector<uint8_t> pixels;
    std::vector<std::complex<float>> spectrum;
    bool isSpectrum = false;
    int32_t rows = 0, bins = 0;
    int32_t width = 0, height = 0, fftLine = 0;
    int64_t frame = -1;
    int64_t generation = 0;
    bool look = false;
  };

  static uint32_t ThreadEntry(void* self) { return static_cast<Impl*>(self)->Run(); }
  uint32_t Run();
  // A fed frame: its number and whether the finder wants it.
  struct Admission {
    int64_t frame;
    bool restart, wanted, lookDue;
  };
  // The stream's thread: numbers the frame (a new size or line restarts).
  Admission Number(int32_t w, int32_t h, int32_t line);
  // Under the lock: true when the slot is to receive the frame (its payload
  // is then copied into the slot and Hand called).
  bool Admit(const Admission& a, bool present);
  void Hand(const Admission& a);
  void AddToAverage(Slot* s, bool keep);
  void Restart(const Slot& slot);
  void Look(int64_t frame);
  bool TakeWork(Slot* slot, bool* look, int64_t* lookFrame);

  LiveFinderOptions options;
  platform::Thread thread = nullptr;
  platform::Event wake = nullptr;  // work for the thread, or stop
  mutable platform::CriticalSection lock;

  // Under lock.
  bool stop = false;
  Slot slot;
  bool slotFull = false;
  bool lookNow = false;
  int64_t lookNowFrame = -1;
  int64_t newestFed = -1;
  int64_t restartFrame = 0;  // the first frame of the current generation
  std::deque<LiveFinderUpdate> updates;
  std::atomic<int64_t> lookedThrough{-1};
  LiveFinderStats stats;

  // The stream's thread only.
  int64_t nextFrame = 0;
  int32_t width = 0, height = 0, fftLine = 0;
  int64_t generation = 0;
  int64_t sinceRestart = 0;
  bool lookOwed = false;  // a look fell on a frame that was passed by

  // The finder's thread only.
  Slot mine;
  int64_t myGeneration = 0;
  std::unique_ptr<MagnitudeAverage> average;
  std::unique_ptr<InterferenceFinder> finder;
  std::vector<TrackedPeak> tracked;
  bool handedNonEmpty = false;
  int64_t myRestartFrame = 0;
  bool lookedSinceRestart = false;
};

LiveFinder::LiveFinder(const LiveFinderOptions& options) : impl_(std::make_unique<Impl>(options)) {
  impl_->wake = platform::CreateEvent(false);
  if (impl_->wake != nullptr) impl_->thread = platform::StartThread(&Impl::ThreadEntry, impl_.get());
}

LiveFinder::~LiveFinder() {
  if (impl_->thread != nullptr) {
    {
      platform::ScopedLock hold(impl_->lock);
      impl_->stop = true;
      platform::SetEvent(impl_->wake);
    }
    // The thread leaves between two steps of its work; never forced, as it
    // uses this object to the end.
    platform::JoinThread(impl_->thread, platform::kInfinite);
    platform::CloseThread(impl_->thread);
  }
  platform::CloseEvent(impl_->wake);
}

bool LiveFinder::IsUsable() const { return impl_->thread != nullptr; }

LiveFinder::Impl::Admission LiveFinder::Impl::Number(int32_t w, int32_t h, int32_t line) {
  Admission a;
  a.frame = nextFrame++;
  a.restart = a.frame == 0 || w != width || h != height || line != fftLine;
  if (a.restart) {
    width = w;
    height = h;
    fftLine = line;
    ++generation;
    sinceRestart = 0;
    lookOwed = false;
  }
  const int64_t index = sinceRestart++;
  a.wanted = index % options.analyseEvery == 0 && w > 0 && h > 0;
  // Looks fall on analysed frames, the first after two of them.
  a.lookDue = a.wanted && (index + options.analyseEvery) % options.lookEvery == 0;
  return a;
}

bool LiveFinder::Impl::Admit(const Admission& a, bool present) {
  ++stats.framesFed;
  newestFed = a.frame;
  if (a.restart) restartFrame = a.frame;
  if (!a.wanted || !present) return false;
  if (slotFull && options.waitForFinder && thread != nullptr) {
    while (slotFull && !stop) {
      lock.Leave();
      platform::Sleep(kPollMs);
      lock.Enter();
    }
  }
  if (slotFull) {
    ++stats.framesPassed;
    lookOwed |= a.lookDue;
    return false;
  }
  // The slot is the stream's while it is empty: the copy needs no lock, but
  // it is short, and holding it keeps the rule simple.
  return true;
}

void LiveFinder::Impl::Hand(const Admission& a) {
  slot.width = width;
  slot.height = height;
  slot.fftLine = fftLine;
  slot.frame = a.frame;
  slot.generation = generation;
  slot.look = a.lookDue || lookOwed;
  lookOwed = false;
  slotFull = true;
  platform::SetEvent(wake);
}

int64_t LiveFinder::Feed(const uint8_t* work, int32_t width, int32_t height, int32_t fftLine) {
  Impl& s = *impl_;
  const Impl::Admission a = s.Number(width, height, fftLine);
  platform::ScopedLock hold(s.lock);
  if (!s.Admit(a, work != nullptr)) return a.frame;
  const size_t bytes = static_cast<size_t>(width) * height * 2;
  s.slot.pixels.resize(bytes);
  std::memcpy(s.slot.pixels.data(), work, bytes);
  s.slot.isSpectrum = false;
  s.Hand(a);
  return a.frame;
}

int64_t LiveFinder::FeedSpectrum(const FrameSpectrum& spectrum, int32_t width, int32_t height, int32_t fftLine) {
  Impl& s = *impl_;
  const Impl::Admission a = s.Number(width, height, fftLine);
  const bool present =
      spectrum.values != nullptr && spectrum.rows > 0 && spectrum.bins > 0 && spectrum.pitch >= spectrum.bins;
  platform::ScopedLock hold(s.lock);
  if (!s.Admit(a, present)) return a.frame;
  const size_t row = static_cast<size_t>(spectrum.bins);
  s.slot.spectrum.resize(row * spectrum.rows);
  // std::complex<float> is laid out as two floats, re and im.
  float* to = reinterpret_cast<float*>(s.slot.spectrum.data());
  for (int32_t q = 0; q < spectrum.rows; ++q)
    std::memcpy(to + row * 2 * q, spectrum.values + static_cast<size_t>(q) * spectrum.pitch * 2,
                row * 2 * sizeof(float));
  s.slot.rows = spectrum.rows;
  s.slot.bins = spectrum.bins;
  s.slot.isSpectrum = true;
  s.Hand(a);
  return a.frame;
}

bool LiveFinder::Poll(LiveFinderUpdate* update) {
  platform::ScopedLock hold(impl_->lock);
  if (impl_->updates.empty()) return false;
  update->frame = impl_->updates.front().frame;
  update->filters = std::move(impl_->updates.front().filters);
  impl_->updates.pop_front();
  return true;
}

int64_t LiveFinder::LookedThrough() const { return impl_->lookedThrough.load(std::memory_order_acquire); }

void LiveFinder::LookNow() {
  platform::ScopedLock hold(impl_->lock);
  impl_->lookNow = true;
  impl_->lookNowFrame = impl_->newestFed;
  platform::SetEvent(impl_->wake);
}

bool LiveFinder::WaitForLook(int64_t frame, uint32_t timeoutMs) const {
  for (uint32_t waited = 0; LookedThrough() < frame; waited += kPollMs) {
    if (waited >= timeoutMs || impl_->thread == nullptr) return false;
    platform::Sleep(kPollMs);
  }
  return true;
}

LiveFinderStats LiveFinder::Stats() const {
  platform::ScopedLock hold(impl_->lock);
  return impl_->stats;
}

// Takes the slot's frame and any asked-for look; false when told to stop.
bool LiveFinder::Impl::TakeWork(Slot* taken, bool* look, int64_t* lookFrame) {
  for (;;) {
    platform::WaitAny(&wake, 1, platform::kInfinite);
    platform::ScopedLock hold(lock);
    if (stop) return false;
    if (!slotFull && !lookNow) {
      platform::ResetEvent(wake);
      continue;
    }
    taken->frame = -1;
    if (slotFull) {
      std::swap(*taken, slot);
      slotFull = false;
    }
    *look = lookNow;
    *lookFrame = lookNowFrame;
    lookNow = false;
    if (*look && taken->frame >= 0) *lookFrame = std::max(*lookFrame, taken->frame);
    platform::ResetEvent(wake);
    return true;
  }
}

void LiveFinder::Impl::Restart(const Slot& s) {
  myGeneration = s.generation;
  tracked.clear();
  finder.reset();
  average.reset();
  const FrameFormatRecord format{s.width, s.height, 0, 0};
  average = std::make_unique<MagnitudeAverage>(format, s.fftLine, options.memory, kFinderWorkers);
  if (average->IsUsable()) finder = std::make_unique<InterferenceFinder>(*average);
  int64_t from;
  {
    platform::ScopedLock hold(lock);
    ++stats.restarts;
    from = restartFrame;
  }
  myRestartFrame = from;
  lookedSinceRestart = false;
  if (handedNonEmpty) {
    platform::ScopedLock hold(lock);
    updates.push_back(LiveFinderUpdate{from, FilterList()});
    ++stats.changes;
    handedNonEmpty = false;
  }
}

void LiveFinder::Impl::Look(int64_t frame) {
  bool changed = false;
  if (finder != nullptr && finder->IsUsable()) changed = finder->Update(options.limits, options.looksToDrop, &tracked);
  platform::ScopedLock hold(lock);
  if (changed) {
    const FilterList list = ToFilterList(FiltersOf(tracked));
    if (list.Count() > 0 || handedNonEmpty) {
      LiveFinderUpdate u;
      // The frames before the first look had no list yet: its list is the
      // earliest knowledge of them.
      u.frame = lookedSinceRestart ? frame : myRestartFrame;
      u.filters.CopyFrom(list);
      updates.push_back(std::move(u));
      ++stats.changes;
      handedNonEmpty = list.Count() > 0;
    }
  }
  ++stats.looks;
  lookedSinceRestart = true;
  lookedThrough.store(std::max(lookedThrough.load(std::memory_order_relaxed), frame), std::memory_order_release);
}

void LiveFinder::Impl::AddToAverage(Slot* s, bool keep) {
  if (!s->isSpectrum) {
    average->Add(s->pixels.data(), keep);
  } else if (s->rows == average->Rows() && s->bins == average->Bins()) {
    // The kept spectrum changes places with the average's newest: the
    // buffers go round between the stream and the finder without copies.
    average->TakeSpectrum(&s->spectrum, keep);
  } else {
    return;  // not this engine's spectrum
  }
  platform::ScopedLock hold(lock);
  ++stats.framesAnalysed;
}

uint32_t LiveFinder::Impl::Run() {
  bool look = false;
  int64_t lookFrame = -1;
  while (TakeWork(&mine, &look, &lookFrame)) {
    if (mine.frame >= 0) {
      if (mine.generation != myGeneration) Restart(mine);
      if (average != nullptr && average->IsUsable()) {
        // The complex spectrum only of a frame that is looked at (or may be).
        AddToAverage(&mine, mine.look || look);
      }
      if (mine.look) Look(mine.frame);
    }
    if (look) Look(lookFrame);
  }
  return 0;
}

}  // namespace qrx
