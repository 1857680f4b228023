// The three loader calls, declared here rather than through the system
// headers, which stay confined to the platform and window code of the plug-in.
#include <string>

#include "module_loader.h"

extern "C" {
__declspec(dllimport) void* __stdcall LoadLibraryA(const char* fileName);
__declspec(dllimport) void* __stdcall GetProcAddress(void* module, const char* procName);
__declspec(dllimport) int __stdcall FreeLibrary(void* module);
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

const char* ModuleSuffix() { return ".dll"; }

}  // namespace qrxhost
