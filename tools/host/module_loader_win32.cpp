// The three loader calls and the executable's path, declared here rather
// than through the system headers, which stay confined to the platform and
// window code of the plug-in.
#include <string>

#include "module_loader.h"

extern "C" {
__declspec(dllimport) void* __stdcall LoadLibraryA(const char* fileName);
__declspec(dllimport) void* __stdcall GetProcAddress(void* module, const char* procName);
__declspec(dllimport) int __stdcall FreeLibrary(void* module);
__declspec(dllimport) unsigned long __stdcall GetModuleFileNameA(void* module, char* fileName,
                                                                 unsigned long size);
__declspec(dllimport) unsigned long __stdcall GetLastError(void);
}

namespace qrxhost {

struct Module {
  void* handle;
};

Module* LoadModule(const std::string& path, std::string* error) {
  void* handle = LoadLibraryA(path.c_str());
  if (handle == nullptr) {
    if (error != nullptr) *error = "LoadLibraryA failed, error " + std::to_string(GetLastError());
    return nullptr;
  }
  return new Module{handle};
}

void* ModuleSymbol(Module* module, const char* name) {
  return module != nullptr ? GetProcAddress(module->handle, name) : nullptr;
}

void UnloadModule(Module* module) {
  if (module == nullptr) return;
  FreeLibrary(module->handle);
  delete module;
}

std::string ExecutableFolder() {
  char buffer[1024];
  const unsigned long length = GetModuleFileNameA(nullptr, buffer, sizeof(buffer));
  if (length == 0 || length >= sizeof(buffer)) return ".\\";
  std::string path(buffer, length);
  const size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? ".\\" : path.substr(0, slash + 1);
}

const char* ModuleSuffix() { return ".dll"; }

}  // namespace qrxhost

#include <direct.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

namespace qrxhost {

bool CopyFileBytes(const std::string& from, const std::string& to) {
  std::ifstream in(from, std::ios::binary);
  if (!in) return false;
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::ofstream out(to, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

bool PrepareSettingsFile(const std::string& moduleBaseName, const std::string& source, std::string* placedPath) {
  // Program-folder mode: the plug-in reads "Plugins\" beside the host.
  const std::string plugins = ExecutableFolder() + "Plugins";
  _mkdir(plugins.c_str());
  const std::string placed = plugins + "\\" + moduleBaseName + ".ini";
  if (!CopyFileBytes(source, placed)) return false;
  if (placedPath != nullptr) *placedPath = placed;
  return true;
}

void CleanUpSettingsFile() {}

bool StderrIsTerminal() { return _isatty(2) != 0; }

void SetBinaryMode(std::FILE* stream) { _setmode(_fileno(stream), _O_BINARY); }

}  // namespace qrxhost
