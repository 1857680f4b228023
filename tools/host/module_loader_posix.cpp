#include <dlfcn.h>

#include "module_loader.h"

namespace qrxhost {

struct Module {
  void* handle;
};

Module* LoadModule(const std::string& path, std::string* error) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    if (error != nullptr) *error = dlerror();
    return nullptr;
  }
  return new Module{handle};
}

void* ModuleSymbol(Module* module, const char* name) {
  return module != nullptr ? dlsym(module->handle, name) : nullptr;
}

void UnloadModule(Module* module) {
  if (module == nullptr) return;
  dlclose(module->handle);
  delete module;
}

const char* ModuleSuffix() { return ".so"; }

}  // namespace qrxhost
