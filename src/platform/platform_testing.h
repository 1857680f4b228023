// Raw Windows calls for the Windows-only tests, so that they can set up the
// registry switch, hold files open and compare against the system's own
// answers without including <windows.h>. Built on Windows only; a test that
// uses it sits inside #ifdef _WIN32. Nothing here goes through the platform
// interface under test: each call is the plain system call.
#pragma once

#include <cstdint>
#include <string>

namespace qrx {
namespace platform {
namespace testing {

// ---------------------------------------------------------------- registry
// The machine-wide switch HKLM\SOFTWARE\Velmorin "StoreInUsersFolder", the
// value ReadStoreInUsersFolder reads.
enum class RegistryType { Dword, Binary, String };

// Creates the key or opens it if it exists; *createdNew (may be nullptr)
// tells which. False on failure.
bool CreateSwitchKey(bool* createdNew);
// Deletes the key; false when it failed (for instance, no key).
bool DeleteSwitchKey();
// Writes the value with the given type and bytes, creating the key if
// needed. False on failure.
bool SetSwitchValue(RegistryType type, const void* bytes, uint32_t size);
// Removes the value, keeping the key; false when it failed.
bool DeleteSwitchValue();

// ---------------------------------------------------------------- process
std::string RawCommandLine();     // GetCommandLineA
std::string RawExecutablePath();  // GetModuleFileNameA of the process image
uint32_t RawProcessId();
// The CSIDL_APPDATA folder as the shell reports it; false on failure.
bool RawAppDataFolder(std::string* folder);

// ---------------------------------------------------------------- files
bool RawPathExists(const std::string& path);  // file attributes readable
bool RawCreateFolder(const std::string& path);

// A file held open for reading, sharing read and write but not delete, as
// another program might hold it.
struct HeldFileImpl;
using HeldFile = HeldFileImpl*;
HeldFile HoldFileOpen(const std::string& path);  // nullptr on failure
void ReleaseFile(HeldFile file);                 // safe with nullptr

// ---------------------------------------------------------------- numbers
int32_t SystemMulDiv(int32_t number, int32_t numerator, int32_t denominator);  // ::MulDiv

}  // namespace testing
}  // namespace platform
}  // namespace qrx
