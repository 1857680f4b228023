// Loading the plug-in module the way a host does: by file name, then looking
// up its exports by name. Nothing else of the module is reachable.
#pragma once

#include <cstdio>
#include <string>

namespace qrxhost {

struct Module;

Module* LoadModule(const std::string& path, std::string* error);
void* ModuleSymbol(Module* module, const char* name);
void UnloadModule(Module* module);  // safe with nullptr

// Folder of the running executable, with a trailing separator.
std::string ExecutableFolder();
// The module's file name suffix on this platform (".so" or ".dll").
const char* ModuleSuffix();

}  // namespace qrxhost

namespace qrxhost {

// Puts a copy of the given settings file where the module will look for
// "<moduleBaseName>.ini" during Init. POSIX: a private folder in user-folder
// mode (XDG_CONFIG_HOME and QRX_STORE_IN_USERS_FOLDER are set for this
// process); Windows: "Plugins" beside the host executable. placedPath
// receives the copy's path.
bool PrepareSettingsFile(const std::string& moduleBaseName, const std::string& source, std::string* placedPath);
// Removes the private folder made by PrepareSettingsFile (POSIX).
void CleanUpSettingsFile();
bool CopyFileBytes(const std::string& from, const std::string& to);

bool StderrIsTerminal();
void SetBinaryMode(std::FILE* stream);

}  // namespace qrxhost
