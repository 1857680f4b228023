// The raw Windows calls behind platform_testing.h.
// windows.h first, in a block of its own: the other system headers need it.
#include <windows.h>

#include <shlobj.h>

#include <new>

#include "platform/platform_testing.h"

namespace qrx {
namespace platform {
namespace testing {
namespace {

const char kSwitchKey[] = "SOFTWARE\\Velmorin";
const char kSwitchValue[] = "StoreInUsersFolder";

DWORD ToRegistryType(RegistryType type) {
  switch (type) {
    case RegistryType::Dword:
      return REG_DWORD;
    case RegistryType::Binary:
      return REG_BINARY;
    case RegistryType::String:
      return REG_SZ;
  }
  return REG_NONE;
}

HKEY OpenSwitchKey(DWORD* disposition) {
  HKEY key = nullptr;
  if (::RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSwitchKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        disposition) != ERROR_SUCCESS) {
    return nullptr;
  }
  return key;
}

}  // namespace

struct HeldFileImpl {
  HANDLE handle;
};

bool CreateSwitchKey(bool* createdNew) {
  DWORD disposition = 0;
  HKEY key = OpenSwitchKey(&disposition);
  if (createdNew != nullptr) *createdNew = key != nullptr && disposition == REG_CREATED_NEW_KEY;
  if (key == nullptr) return false;
  ::RegCloseKey(key);
  return true;
}

bool DeleteSwitchKey() { return ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, kSwitchKey) == ERROR_SUCCESS; }

bool SetSwitchValue(RegistryType type, const void* bytes, uint32_t size) {
  HKEY key = OpenSwitchKey(nullptr);
  if (key == nullptr) return false;
  const bool ok = ::RegSetValueExA(key, kSwitchValue, 0, ToRegistryType(type),
                                   static_cast<const BYTE*>(bytes), size) == ERROR_SUCCESS;
  ::RegCloseKey(key);
  return ok;
}

bool DeleteSwitchValue() {
  HKEY key = nullptr;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSwitchKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) {
    return false;
  }
  const bool ok = ::RegDeleteValueA(key, kSwitchValue) == ERROR_SUCCESS;
  ::RegCloseKey(key);
  return ok;
}

std::string RawCommandLine() { return ::GetCommandLineA(); }

std::string RawExecutablePath() {
  char path[MAX_PATH] = {};
  ::GetModuleFileNameA(nullptr, path, MAX_PATH);
  return path;
}

uint32_t RawProcessId() { return ::GetCurrentProcessId(); }

bool RawAppDataFolder(std::string* folder) {
  char path[MAX_PATH] = {};
  if (!::SHGetSpecialFolderPathA(nullptr, path, CSIDL_APPDATA, FALSE)) return false;
  *folder = path;
  return true;
}

bool RawPathExists(const std::string& path) {
  return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool RawCreateFolder(const std::string& path) { return ::CreateDirectoryA(path.c_str(), nullptr) != 0; }

HeldFile HoldFileOpen(const std::string& path) {
  const HANDLE handle = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  HeldFile held = new (std::nothrow) HeldFileImpl{handle};
  if (held == nullptr) ::CloseHandle(handle);
  return held;
}

void ReleaseFile(HeldFile file) {
  if (file == nullptr) return;
  ::CloseHandle(file->handle);
  delete file;
}

int32_t SystemMulDiv(int32_t number, int32_t numerator, int32_t denominator) {
  return ::MulDiv(number, numerator, denominator);
}

}  // namespace testing
}  // namespace platform
}  // namespace qrx
