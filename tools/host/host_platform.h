// What the host's commands need from the system beyond loading the module:
// the executable's folder, a settings file put where the plug-in looks for
// it, and the standard streams.
#pragma once

#include <cstdio>
#include <string>

namespace qrxhost {

// Folder of the running executable, with a trailing separator.
std::string ExecutableFolder();

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
