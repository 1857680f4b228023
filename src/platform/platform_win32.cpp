// Windows implementation of the platform layer (32- and 64-bit MinGW).
// windows.h first, in a block of its own: the other system headers need it.
#include <windows.h>

#include <malloc.h>
#include <shlobj.h>

#include <atomic>
#include <cstdio>
#include <new>

#include "platform/platform.h"
#include "platform/platform_internal.h"

// <windows.h> maps CreateEvent to CreateEventA; the platform call of that
// name must keep its own.
#undef CreateEvent

namespace qrx {
namespace platform {

// Thread and event handles are the system's handles themselves.
namespace {

HANDLE ToHandle(ThreadImpl* thread) { return reinterpret_cast<HANDLE>(thread); }
HANDLE ToHandle(EventImpl* event) { return reinterpret_cast<HANDLE>(event); }

WaitStatus ToStatus(DWORD result) {
  if (result == WAIT_OBJECT_0) return WaitStatus::Ok;
  if (result == WAIT_TIMEOUT) return WaitStatus::Timeout;
  return WaitStatus::Failed;
}

// What the new thread needs to call the procedure. The thread frees it once
// it has read it (a thread terminated before it ran leaks these few bytes).
struct ThreadStart {
  ThreadProc proc;
  void* arg;
};

DWORD WINAPI ThreadEntry(LPVOID param) {
  ThreadStart start = *static_cast<ThreadStart*>(param);
  delete static_cast<ThreadStart*>(param);
  return start.proc(start.arg);
}

}  // namespace

// ---------------------------------------------------------------- threads
Thread StartThread(ThreadProc proc, void* arg) {
  if (proc == nullptr) return nullptr;
  ThreadStart* start = new (std::nothrow) ThreadStart{proc, arg};
  if (start == nullptr) return nullptr;
  DWORD id = 0;
  HANDLE handle = ::CreateThread(nullptr, 0, ThreadEntry, start, 0, &id);
  if (handle == nullptr) {
    delete start;
    return nullptr;
  }
  return reinterpret_cast<Thread>(handle);
}

WaitStatus JoinThread(Thread thread, uint32_t timeoutMs) {
  if (thread == nullptr) return WaitStatus::Failed;
  return ToStatus(::WaitForSingleObject(ToHandle(thread), timeoutMs));
}

void TerminateThread(Thread thread) {
  if (thread != nullptr) ::TerminateThread(ToHandle(thread), 0);
}

void CloseThread(Thread thread) {
  if (thread != nullptr) ::CloseHandle(ToHandle(thread));
}

void LowerThisThreadPriority() {
  if (::GetThreadPriority(::GetCurrentThread()) > THREAD_PRIORITY_BELOW_NORMAL)
    ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
}

// ---------------------------------------------------------------- events
Event CreateEvent(bool initiallySet) {
  return reinterpret_cast<Event>(::CreateEventA(nullptr, TRUE, initiallySet ? TRUE : FALSE, nullptr));
}

bool SetEvent(Event event) { return event != nullptr && ::SetEvent(ToHandle(event)) != FALSE; }

bool ResetEvent(Event event) {
  return event != nullptr && ::ResetEvent(ToHandle(event)) != FALSE;
}

void CloseEvent(Event event) {
  if (event != nullptr) ::CloseHandle(ToHandle(event));
}

namespace {

bool CopyHandles(const Event* events, int count, HANDLE* handles) {
  if (events == nullptr || count < 1 || count > MAXIMUM_WAIT_OBJECTS) return false;
  for (int i = 0; i < count; ++i) {
    if (events[i] == nullptr) return false;
    handles[i] = ToHandle(events[i]);
  }
  return true;
}

}  // namespace

WaitAnyResult WaitAny(const Event* events, int count, uint32_t timeoutMs) {
  HANDLE handles[MAXIMUM_WAIT_OBJECTS];
  if (!CopyHandles(events, count, handles)) return WaitAnyResult{WaitStatus::Failed, -1};
  const DWORD result = ::WaitForMultipleObjects(static_cast<DWORD>(count), handles, FALSE, timeoutMs);
  if (result >= WAIT_OBJECT_0 && result < WAIT_OBJECT_0 + static_cast<DWORD>(count)) {
    return WaitAnyResult{WaitStatus::Ok, static_cast<int>(result - WAIT_OBJECT_0)};
  }
  if (result == WAIT_TIMEOUT) return WaitAnyResult{WaitStatus::Timeout, -1};
  return WaitAnyResult{WaitStatus::Failed, -1};
}

WaitStatus WaitAll(const Event* events, int count, uint32_t timeoutMs) {
  HANDLE handles[MAXIMUM_WAIT_OBJECTS];
  if (!CopyHandles(events, count, handles)) return WaitStatus::Failed;
  const DWORD result = ::WaitForMultipleObjects(static_cast<DWORD>(count), handles, TRUE, timeoutMs);
  if (result >= WAIT_OBJECT_0 && result < WAIT_OBJECT_0 + static_cast<DWORD>(count)) {
    return WaitStatus::Ok;
  }
  return ToStatus(result);
}

// ---------------------------------------------------------------- locks
struct CriticalSection::Impl {
  CRITICAL_SECTION section;
};

CriticalSection::CriticalSection() : impl_(new (std::nothrow) Impl) {
  if (impl_ != nullptr) ::InitializeCriticalSection(&impl_->section);
}

CriticalSection::~CriticalSection() {
  if (impl_ == nullptr) return;
  ::DeleteCriticalSection(&impl_->section);
  delete impl_;
}

void CriticalSection::Enter() {
  if (impl_ != nullptr) ::EnterCriticalSection(&impl_->section);
}

void CriticalSection::Leave() {
  if (impl_ != nullptr) ::LeaveCriticalSection(&impl_->section);
}

// ---------------------------------------------------------------- numbers
int32_t MulDiv(int32_t number, int32_t numerator, int32_t denominator) {
  return ::MulDiv(number, numerator, denominator);
}

uint64_t ProcessAffinityMask() {
  DWORD_PTR process = 0;
  DWORD_PTR system = 0;
  if (!::GetProcessAffinityMask(::GetCurrentProcess(), &process, &system)) return 0;
  return static_cast<uint64_t>(process);
}

// ---------------------------------------------------------------- memory
void* AlignedAlloc(size_t bytes) {
  // A zero-byte request still gets a block of its own.
  return _aligned_malloc(bytes == 0 ? 16 : bytes, 16);
}

void AlignedFree(void* block) {
  if (block != nullptr) _aligned_free(block);
}

// ---------------------------------------------------------------- messages
void detail::ShowMessageNative(const char* text, MessageIcon icon) {
  UINT style = MB_OK | MB_TASKMODAL | MB_SETFOREGROUND;
  if (icon == MessageIcon::Information) style |= MB_ICONINFORMATION;
  ::MessageBoxA(nullptr, text, "QRX_FreqFilter", style);
}

void Sleep(uint32_t ms) { ::Sleep(ms); }

// ---------------------------------------------------------------- settings location
namespace {

std::string FileNameWithoutExtension(const std::string& path) {
  const size_t slash = path.find_last_of("\\/");
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const size_t dot = name.find_last_of('.');
  if (dot != std::string::npos) name.resize(dot);
  return name;
}

std::string ModuleFileName(HMODULE module) {
  char buffer[MAX_PATH] = {};
  const DWORD length = ::GetModuleFileNameA(module, buffer, MAX_PATH);
  if (length == 0 || length > MAX_PATH) return std::string();
  return std::string(buffer, length);
}

}  // namespace

bool QueryNtFamily(bool* isNt) {
  if (isNt == nullptr) return false;
  static_assert(sizeof(OSVERSIONINFOEXA) == 156, "extended version record");
  static_assert(sizeof(OSVERSIONINFOA) == 148, "basic version record");
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  DWORD platformId = 0;
  OSVERSIONINFOEXA extended = {};
  extended.dwOSVersionInfoSize = sizeof(extended);
  if (::GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&extended))) {
    platformId = extended.dwPlatformId;
  } else {
    OSVERSIONINFOA basic = {};
    basic.dwOSVersionInfoSize = sizeof(basic);
    if (!::GetVersionExA(&basic)) return false;
    platformId = basic.dwPlatformId;
  }
#pragma GCC diagnostic pop
  *isNt = platformId == VER_PLATFORM_WIN32_NT;
  return true;
}

uint32_t ReadStoreInUsersFolder() {
  HKEY key = nullptr;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Velmorin", 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return 0;
  }
  // A value of up to four bytes counts by its bytes, little-endian, whatever
  // its registry type; a longer one (the query fails) counts as absent.
  BYTE bytes[4] = {0, 0, 0, 0};
  DWORD size = sizeof(bytes);
  const LONG result = ::RegQueryValueExA(key, "StoreInUsersFolder", nullptr, nullptr, bytes, &size);
  ::RegCloseKey(key);
  if (result != ERROR_SUCCESS) return 0;
  return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
         static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

bool GetUserAppDataFolder(std::string* folder) {
  if (folder == nullptr) return false;
  char buffer[MAX_PATH] = {};
  if (!::SHGetSpecialFolderPathA(nullptr, buffer, CSIDL_APPDATA, FALSE)) return false;
  std::string path(buffer);
  while (path.size() > 3 && (path.back() == '\\' || path.back() == '/')) path.pop_back();
  if (path.empty()) return false;
  *folder = path;
  return true;
}

std::string HostExecutablePath() { return ModuleFileName(nullptr); }

std::string ProcessCommandLine() {
  const char* line = ::GetCommandLineA();
  return line != nullptr ? std::string(line) : std::string();
}

std::string ModuleBaseName() {
  HMODULE module = nullptr;
  if (!::GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCSTR>(&ModuleBaseName), &module)) {
    return std::string();
  }
  return FileNameWithoutExtension(ModuleFileName(module));
}

char PathSeparator() { return '\\'; }

bool CreateFolder(const std::string& path) {
  return ::CreateDirectoryA(path.c_str(), nullptr) != FALSE;
}

// ---------------------------------------------------------------- files
bool ReadWholeFile(const std::string& path, std::vector<char>* data) {
  if (data == nullptr) return false;
  data->clear();
  HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size;
  bool ok = ::GetFileSizeEx(file, &size) != FALSE && size.QuadPart >= 0 &&
            static_cast<uint64_t>(size.QuadPart) <= 0x7FFFFFFFu;
  if (ok) {
    data->resize(static_cast<size_t>(size.QuadPart));
    size_t done = 0;
    while (ok && done < data->size()) {
      DWORD got = 0;
      ok = ::ReadFile(file, data->data() + done, static_cast<DWORD>(data->size() - done), &got,
                      nullptr) != FALSE;
      if (ok && got == 0) break;  // the file shrank meanwhile
      done += got;
    }
    data->resize(done);
  }
  ::CloseHandle(file);
  if (!ok) data->clear();
  return ok;
}

namespace {

HANDLE CreateTemporary(const std::string& path, std::string* tempPath) {
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < 16; ++attempt) {
    char suffix[48];
    std::snprintf(suffix, sizeof(suffix), ".tmp%lu-%u",
                  static_cast<unsigned long>(::GetCurrentProcessId()), counter.fetch_add(1));
    *tempPath = path + suffix;
    HANDLE file = ::CreateFileA(tempPath->c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE || ::GetLastError() != ERROR_FILE_EXISTS) return file;
  }
  return INVALID_HANDLE_VALUE;
}

bool WriteAll(HANDLE file, const char* data, size_t size) {
  while (size > 0) {
    const DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!::WriteFile(file, data, chunk, &written, nullptr) || written == 0) return false;
    data += written;
    size -= written;
  }
  return true;
}

}  // namespace

bool ReplaceFileContents(const std::string& path, const char* data, size_t size) {
  if (data == nullptr && size > 0) return false;
  std::string tempPath;
  HANDLE file = CreateTemporary(path, &tempPath);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool ok = WriteAll(file, data, size) && ::FlushFileBuffers(file) != FALSE;
  ok = ::CloseHandle(file) != FALSE && ok;
  if (ok) {
    ok = ::MoveFileExA(tempPath.c_str(), path.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
  }
  if (!ok) ::DeleteFileA(tempPath.c_str());
  return ok;
}

}  // namespace platform
}  // namespace qrx
