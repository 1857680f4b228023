// Loading the plug-in module the way a host does: by file name, then looking
// up its exports by name. Nothing else of the module is reachable.
#pragma once

#include <string>

namespace qrxhost {

struct Module;

Module* LoadModule(const std::string& path, std::string* error);
void* ModuleSymbol(Module* module, const char* name);
void UnloadModule(Module* module);  // safe with nullptr

// The module's file name suffix on this platform (".so" or ".dll").
const char* ModuleSuffix();

}  // namespace qrxhost
