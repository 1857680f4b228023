// POSIX (Linux) implementation of the platform layer.
//
// The Windows-specific inputs of the settings location map to these POSIX
// equivalents:
//   QueryNtFamily           always true: a POSIX system counts like the NT
//                           family, so the user-folder switch works.
//   ReadStoreInUsersFolder  the environment variable QRX_STORE_IN_USERS_FOLDER
//                           read as a decimal number (its leading digits);
//                           unset, empty or not starting with a digit gives 0.
//   GetUserAppDataFolder    $XDG_CONFIG_HOME, else $HOME/.config; false when
//                           neither variable is set.
//   HostExecutablePath      the target of /proc/self/exe.
//   ProcessCommandLine      /proc/self/cmdline with its NUL separators turned
//                           into spaces.
//   ModuleBaseName          the file of the module holding this code (dladdr),
//                           without folder and without its last extension:
//                           QRX_FreqFilter.so gives QRX_FreqFilter.
//   PathSeparator           '/'.
//   CreateFolder            mkdir(path, 0777), one level.
//
// Other behaviour that differs from Windows:
//   TerminateThread         cannot end a thread safely, so the thread is
//                           detached and left running; JoinThread still
//                           waits for its procedure to return.
//   ShowMessage             one line "QRX_FreqFilter: <text>" on stderr.
//   AlignedAlloc(0)         returns a valid, unique 16-byte block (both
//                           platforms).
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <new>

#include "platform/platform.h"
#include "platform/platform_internal.h"

namespace qrx {
namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

Clock::time_point Deadline(uint32_t timeoutMs) {
  return Clock::now() + std::chrono::milliseconds(timeoutMs);
}

}  // namespace

// ---------------------------------------------------------------- threads
// The record is shared by the handle and the running thread; whichever lets
// go last frees it, so a detached thread may outlive its handle.
struct ThreadImpl {
  ThreadProc proc = nullptr;
  void* arg = nullptr;
  pthread_t id{};
  std::atomic<int> refs{2};
  std::mutex lock;
  std::condition_variable finished;
  bool done = false;    // the procedure has returned
  bool reaped = false;  // pthread_join or pthread_detach has been called
};

namespace {

void Release(ThreadImpl* thread) {
  if (thread->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete thread;
}

void* ThreadEntry(void* param) {
  ThreadImpl* thread = static_cast<ThreadImpl*>(param);
  thread->proc(thread->arg);
  {
    std::lock_guard<std::mutex> hold(thread->lock);
    thread->done = true;
  }
  thread->finished.notify_all();
  Release(thread);
  return nullptr;
}

// Hands the system thread back once nobody will join it any more.
void Detach(ThreadImpl* thread) {
  std::lock_guard<std::mutex> hold(thread->lock);
  if (!thread->reaped) {
    thread->reaped = true;
    pthread_detach(thread->id);
  }
}

}  // namespace

Thread StartThread(ThreadProc proc, void* arg) {
  if (proc == nullptr) return nullptr;
  ThreadImpl* thread = new (std::nothrow) ThreadImpl;
  if (thread == nullptr) return nullptr;
  thread->proc = proc;
  thread->arg = arg;
  if (pthread_create(&thread->id, nullptr, ThreadEntry, thread) != 0) {
    delete thread;
    return nullptr;
  }
  return thread;
}

WaitStatus JoinThread(Thread thread, uint32_t timeoutMs) {
  if (thread == nullptr) return WaitStatus::Failed;
  std::unique_lock<std::mutex> hold(thread->lock);
  auto isDone = [thread] { return thread->done; };
  if (timeoutMs == kInfinite) {
    thread->finished.wait(hold, isDone);
  } else if (!thread->finished.wait_until(hold, Deadline(timeoutMs), isDone)) {
    return WaitStatus::Timeout;
  }
  const bool join = !thread->reaped;
  thread->reaped = true;
  hold.unlock();
  if (join) pthread_join(thread->id, nullptr);
  return WaitStatus::Ok;
}

void TerminateThread(Thread thread) {
  if (thread != nullptr) Detach(thread);
}

void LowerThisThreadPriority() {
#ifdef __linux__
  // A Linux thread has a nice value of its own (the process's id is its
  // main thread's).
  constexpr int kLowerNice = 10;
  const id_t self = static_cast<id_t>(gettid());
  errno = 0;
  const int nice = getpriority(PRIO_PROCESS, self);
  if (errno == 0 && nice < kLowerNice) setpriority(PRIO_PROCESS, self, kLowerNice);
#endif
}

void CloseThread(Thread thread) {
  if (thread == nullptr) return;
  Detach(thread);
  Release(thread);
}

// ---------------------------------------------------------------- events
// Each waiting thread has a waiter record of its own and links it into the
// events it waits for; SetEvent wakes only the waiters linked to that event.
// Lock order: event locks (by address when several), then a waiter's lock.
namespace {

struct Waiter {
  std::mutex lock;
  std::condition_variable wake;
  bool signaled = false;
};

struct WaitLink {
  Waiter* waiter = nullptr;
  WaitLink* prev = nullptr;
  WaitLink* next = nullptr;
};

constexpr int kMaxWaitEvents = 64;

}  // namespace

struct EventImpl {
  std::mutex lock;
  bool set = false;
  WaitLink* waiters = nullptr;
};

Event CreateEvent(bool initiallySet) {
  EventImpl* event = new (std::nothrow) EventImpl;
  if (event != nullptr) event->set = initiallySet;
  return event;
}

bool SetEvent(Event event) {
  if (event == nullptr) return false;
  std::lock_guard<std::mutex> hold(event->lock);
  if (event->set) return true;
  event->set = true;
  for (WaitLink* link = event->waiters; link != nullptr; link = link->next) {
    Waiter* waiter = link->waiter;
    std::lock_guard<std::mutex> holdWaiter(waiter->lock);
    if (!waiter->signaled) {
      waiter->signaled = true;
      waiter->wake.notify_one();
    }
  }
  return true;
}

bool ResetEvent(Event event) {
  if (event == nullptr) return false;
  std::lock_guard<std::mutex> hold(event->lock);
  event->set = false;
  return true;
}

void CloseEvent(Event event) { delete event; }

namespace {

// The distinct events of one wait, in address order, so that several of
// them can be locked together without deadlock.
class EventGroup {
 public:
  EventGroup(const Event* events, int count) : count_(0) {
    std::copy(events, events + count, sorted_);
    std::sort(sorted_, sorted_ + count, std::less<EventImpl*>());
    count_ = static_cast<int>(std::unique(sorted_, sorted_ + count) - sorted_);
  }
  void LockAll() {
    for (int i = 0; i < count_; ++i) sorted_[i]->lock.lock();
  }
  void UnlockAll() {
    for (int i = count_; i-- > 0;) sorted_[i]->lock.unlock();
  }
  // Called with every lock held.
  void Link(Waiter* waiter) {
    for (int i = 0; i < count_; ++i) {
      WaitLink& link = links_[i];
      link.waiter = waiter;
      link.prev = nullptr;
      link.next = sorted_[i]->waiters;
      if (link.next != nullptr) link.next->prev = &link;
      sorted_[i]->waiters = &link;
    }
  }
  void Unlink() {
    for (int i = 0; i < count_; ++i) {
      WaitLink& link = links_[i];
      if (link.prev != nullptr) {
        link.prev->next = link.next;
      } else {
        sorted_[i]->waiters = link.next;
      }
      if (link.next != nullptr) link.next->prev = link.prev;
    }
  }

 private:
  EventImpl* sorted_[kMaxWaitEvents];
  WaitLink links_[kMaxWaitEvents];
  int count_;
};

// With every event locked: for "all", 0 when all are set; otherwise the
// index of the first set event; -1 when the wait is not over.
int Ready(const Event* events, int count, bool all) {
  for (int i = 0; i < count; ++i) {
    const bool set = events[i]->set;
    if (all && !set) return -1;
    if (!all && set) return i;
  }
  return all ? 0 : -1;
}

bool ValidWaitList(const Event* events, int count) {
  if (events == nullptr || count < 1 || count > kMaxWaitEvents) return false;
  for (int i = 0; i < count; ++i) {
    if (events[i] == nullptr) return false;
  }
  return true;
}

WaitStatus WaitCore(const Event* events, int count, uint32_t timeoutMs, bool all, int* index) {
  if (!ValidWaitList(events, count)) return WaitStatus::Failed;
  EventGroup group(events, count);
  group.LockAll();
  int ready = Ready(events, count, all);
  if (ready >= 0 || timeoutMs == 0) {
    group.UnlockAll();
    *index = ready;
    return ready >= 0 ? WaitStatus::Ok : WaitStatus::Timeout;
  }
  Waiter waiter;
  group.Link(&waiter);
  group.UnlockAll();
  const Clock::time_point deadline = Deadline(timeoutMs);
  auto signaled = [&waiter] { return waiter.signaled; };
  for (;;) {
    bool timedOut = false;
    {
      std::unique_lock<std::mutex> hold(waiter.lock);
      if (timeoutMs == kInfinite) {
        waiter.wake.wait(hold, signaled);
      } else {
        timedOut = !waiter.wake.wait_until(hold, deadline, signaled);
      }
      waiter.signaled = false;
    }
    // A wake-up only says that one of the events was set; another thread may
    // have reset it since, so look again with the events locked.
    group.LockAll();
    ready = Ready(events, count, all);
    if (ready >= 0 || timedOut) {
      group.Unlink();
      group.UnlockAll();
      *index = ready;
      return ready >= 0 ? WaitStatus::Ok : WaitStatus::Timeout;
    }
    group.UnlockAll();
  }
}

}  // namespace

WaitAnyResult WaitAny(const Event* events, int count, uint32_t timeoutMs) {
  int index = -1;
  const WaitStatus status = WaitCore(events, count, timeoutMs, false, &index);
  return WaitAnyResult{status, status == WaitStatus::Ok ? index : -1};
}

WaitStatus WaitAll(const Event* events, int count, uint32_t timeoutMs) {
  int index = -1;
  return WaitCore(events, count, timeoutMs, true, &index);
}

// ---------------------------------------------------------------- locks
// Recursive, like a Windows critical section.
struct CriticalSection::Impl {
  pthread_mutex_t mutex;
};

CriticalSection::CriticalSection() : impl_(new (std::nothrow) Impl) {
  if (impl_ == nullptr) return;
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(&impl_->mutex, &attr);
  pthread_mutexattr_destroy(&attr);
}

CriticalSection::~CriticalSection() {
  if (impl_ == nullptr) return;
  pthread_mutex_destroy(&impl_->mutex);
  delete impl_;
}

void CriticalSection::Enter() {
  if (impl_ != nullptr) pthread_mutex_lock(&impl_->mutex);
}

void CriticalSection::Leave() {
  if (impl_ != nullptr) pthread_mutex_unlock(&impl_->mutex);
}

// ---------------------------------------------------------------- numbers
int32_t MulDiv(int32_t number, int32_t numerator, int32_t denominator) {
  return detail::PortableMulDiv(number, numerator, denominator);
}

uint64_t ProcessAffinityMask() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof(set), &set) != 0) return 0;
  uint64_t mask = 0;
  for (int cpu = 0; cpu < 64 && cpu < CPU_SETSIZE; ++cpu) {
    if (CPU_ISSET(cpu, &set)) mask |= uint64_t{1} << cpu;
  }
  return mask;
}

// ---------------------------------------------------------------- memory
void* AlignedAlloc(size_t bytes) {
  void* block = nullptr;
  // A zero-byte request still gets a block of its own.
  if (posix_memalign(&block, 16, bytes == 0 ? 16 : bytes) != 0) return nullptr;
  return block;
}

void AlignedFree(void* block) { free(block); }

// ---------------------------------------------------------------- messages
void detail::ShowMessageNative(const char* text, MessageIcon) {
  std::fprintf(stderr, "QRX_FreqFilter: %s\n", text);
  std::fflush(stderr);
}

void Sleep(uint32_t ms) {
  if (ms == 0) {  // as on Windows: give up the rest of the time slice
    sched_yield();
    return;
  }
  timespec rest;
  rest.tv_sec = static_cast<time_t>(ms / 1000);
  rest.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
  while (nanosleep(&rest, &rest) != 0 && errno == EINTR) {
  }
}

// ---------------------------------------------------------------- settings location
namespace {

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string(value) : std::string();
}

std::string FileNameWithoutExtension(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  return name;
}

// Reads a file that reports no size (as /proc files do) until its end.
bool ReadDescriptor(int fd, std::vector<char>* data) {
  char chunk[4096];
  for (;;) {
    const ssize_t got = read(fd, chunk, sizeof(chunk));
    if (got == 0) return true;
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data->insert(data->end(), chunk, chunk + got);
  }
}

}  // namespace

bool QueryNtFamily(bool* isNt) {
  if (isNt == nullptr) return false;
  *isNt = true;
  return true;
}

uint32_t ReadStoreInUsersFolder() {
  const std::string value = Environment("QRX_STORE_IN_USERS_FOLDER");
  if (value.empty()) return 0;
  char* end = nullptr;
  errno = 0;
  const unsigned long long number = std::strtoull(value.c_str(), &end, 10);
  if (end == value.c_str() || errno != 0) return 0;
  return static_cast<uint32_t>(number);
}

bool GetUserAppDataFolder(std::string* folder) {
  if (folder == nullptr) return false;
  std::string path = Environment("XDG_CONFIG_HOME");
  if (path.empty()) {
    const std::string home = Environment("HOME");
    if (home.empty()) return false;
    path = home + (home.back() == '/' ? "" : "/") + ".config";
  }
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  *folder = path;
  return true;
}

std::string HostExecutablePath() {
  std::vector<char> buffer(256);
  for (;;) {
    const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) return std::string();
    if (static_cast<size_t>(length) < buffer.size()) return std::string(buffer.data(), length);
    if (buffer.size() >= 65536) return std::string();
    buffer.resize(buffer.size() * 2);
  }
}

std::string ProcessCommandLine() {
  const int fd = open("/proc/self/cmdline", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::string();
  std::vector<char> data;
  const bool ok = ReadDescriptor(fd, &data);
  close(fd);
  if (!ok) return std::string();
  while (!data.empty() && data.back() == '\0') data.pop_back();
  std::replace(data.begin(), data.end(), '\0', ' ');
  return std::string(data.begin(), data.end());
}

std::string ModuleBaseName() {
  Dl_info info;
  std::memset(&info, 0, sizeof(info));
  std::string path;
  if (dladdr(reinterpret_cast<void*>(&ModuleBaseName), &info) != 0 && info.dli_fname != nullptr) {
    path = info.dli_fname;
  }
  if (path.empty()) path = HostExecutablePath();
  return FileNameWithoutExtension(path);
}

char PathSeparator() { return '/'; }

bool CreateFolder(const std::string& path) { return mkdir(path.c_str(), 0777) == 0; }

// ---------------------------------------------------------------- files
bool ReadWholeFile(const std::string& path, std::vector<char>* data) {
  if (data == nullptr) return false;
  data->clear();
  // Opening for writing is what creates a missing file; a read-only file is
  // still read.
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat info;
  if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
    data->reserve(static_cast<size_t>(info.st_size));
  }
  const bool ok = ReadDescriptor(fd, data);
  close(fd);
  if (!ok) data->clear();
  return ok;
}

namespace {

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t written = write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

// Creates a new temporary file next to the target; -1 on failure.
int CreateTemporary(const std::string& path, std::string* tempPath) {
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < 16; ++attempt) {
    char suffix[48];
    std::snprintf(suffix, sizeof(suffix), ".tmp%ld-%u", static_cast<long>(getpid()),
                  counter.fetch_add(1));
    *tempPath = path + suffix;
    const int fd = open(tempPath->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

}  // namespace

bool ReplaceFileContents(const std::string& path, const char* data, size_t size) {
  if (data == nullptr && size > 0) return false;
  std::string tempPath;
  const int fd = CreateTemporary(path, &tempPath);
  if (fd < 0) return false;
  // Keep the permissions of the file being replaced.
  struct stat old;
  if (stat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode)) fchmod(fd, old.st_mode & 07777);
  bool ok = WriteAll(fd, data, size) && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  if (ok) ok = rename(tempPath.c_str(), path.c_str()) == 0;
  if (!ok) unlink(tempPath.c_str());
  return ok;
}

}  // namespace platform
}  // namespace qrx
