// The operating system behind one small interface. Everything the plug-in
// needs from Windows (threads, manual-reset events, waits, critical
// sections, MulDiv, affinity, message boxes, the inputs of the settings
// location, files) is reached through these calls; platform_win32.cpp and
// platform_posix.cpp implement them. Nothing else in the tree includes
// <windows.h> (src/ui/ aside).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// <windows.h> maps CreateEvent to CreateEventA; a file that includes it
// before this header still gets the platform call. (One that includes it
// afterwards must #undef CreateEvent itself.)
#ifdef CreateEvent
#undef CreateEvent
#endif

namespace qrx {
namespace platform {

constexpr uint32_t kInfinite = 0xFFFFFFFFu;

enum class WaitStatus { Ok, Timeout, Failed };

// ---------------------------------------------------------------- threads
// A thread starts running at once. JoinThread waits for it to end (Ok) or
// gives up after the time-out (Timeout). TerminateThread ends it by force
// where the platform can (Win32, exit code 0); on POSIX the thread is left
// running, detached, and the caller goes on. CloseThread releases the handle
// after either; it is safe with nullptr.
using ThreadProc = uint32_t (*)(void* arg);
struct ThreadImpl;
using Thread = ThreadImpl*;

Thread StartThread(ThreadProc proc, void* arg);  // nullptr on failure
WaitStatus JoinThread(Thread thread, uint32_t timeoutMs);
void TerminateThread(Thread thread);
void CloseThread(Thread thread);
// The calling thread takes a smaller share of the processors when the
// process's other threads compete for them (work a stream waits for but
// that must not hold up its workers, such as reading and writing its
// frames). Never raises it. On POSIX the threads it starts afterwards
// inherit this; on Windows they do not.
void LowerThisThreadPriority();

// ---------------------------------------------------------------- events
// Manual-reset events: once set, every wait sees them set until reset.
struct EventImpl;
using Event = EventImpl*;

Event CreateEvent(bool initiallySet);  // nullptr on failure
bool SetEvent(Event event);            // false on failure
bool ResetEvent(Event event);          // false on failure
void CloseEvent(Event event);          // safe with nullptr

struct WaitAnyResult {
  WaitStatus status;
  int index;  // with Ok: the first listed event that is set
};
// Waits until one of the events is set; when several are, the first listed
// wins. count is 1 to 64.
WaitAnyResult WaitAny(const Event* events, int count, uint32_t timeoutMs);
// Waits until every event is set at the same time.
WaitStatus WaitAll(const Event* events, int count, uint32_t timeoutMs);

// ---------------------------------------------------------------- locks
class CriticalSection {
 public:
  CriticalSection();
  ~CriticalSection();
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;
  void Enter();
  void Leave();

 private:
  struct Impl;
  Impl* impl_;
};

class ScopedLock {
 public:
  explicit ScopedLock(CriticalSection& section) : section_(section) { section_.Enter(); }
  ~ScopedLock() { section_.Leave(); }
  ScopedLock(const ScopedLock&) = delete;
  ScopedLock& operator=(const ScopedLock&) = delete;

 private:
  CriticalSection& section_;
};

// ---------------------------------------------------------------- numbers
// number * numerator / denominator with a 64-bit intermediate, rounded to
// the nearest integer with halves away from zero; -1 when the denominator is
// 0 or the result does not fit 32 bits. Identical to the Win32 MulDiv.
int32_t MulDiv(int32_t number, int32_t numerator, int32_t denominator);

// Processors the process may run on, bit i for processor i; 0 if unknown.
uint64_t ProcessAffinityMask();

// ---------------------------------------------------------------- memory
// 16-byte aligned blocks for everything SIMD code touches; nullptr on
// failure. AlignedFree accepts nullptr.
void* AlignedAlloc(size_t bytes);
void AlignedFree(void* block);

// ---------------------------------------------------------------- messages
enum class MessageIcon { None, Information };
// The modal message box with an OK button (Win32); on POSIX one line on
// standard error. A sink set for tests receives the text instead.
void ShowMessage(const char* text, MessageIcon icon = MessageIcon::None);
using MessageSink = void (*)(const char* text, void* context);
void SetMessageSink(MessageSink sink, void* context);  // nullptr restores

void Sleep(uint32_t ms);

// ---------------------------------------------------------------- settings location
// The six inputs from which the settings file's path is formed, and the
// folder and file operations the settings store needs.
bool QueryNtFamily(bool* isNt);           // false when the version query fails
uint32_t ReadStoreInUsersFolder();        // the machine-wide switch; 0 when absent
bool GetUserAppDataFolder(std::string* folder);  // no trailing separator
std::string HostExecutablePath();         // the process image, full path
std::string ProcessCommandLine();
std::string ModuleBaseName();             // this module's file name, no folder or extension
char PathSeparator();                     // '\\' on Windows, '/' on POSIX

bool CreateFolder(const std::string& path);  // one level; false if it failed or exists
// Opens the file for reading, creating it empty when it does not exist, and
// reads it whole. False when it cannot be opened.
bool ReadWholeFile(const std::string& path, std::vector<char>* data);
// Writes the bytes to a temporary file in the same folder and puts it in
// place of the old file in one step; on any failure the old file is kept.
bool ReplaceFileContents(const std::string& path, const char* data, size_t size);

}  // namespace platform
}  // namespace qrx
