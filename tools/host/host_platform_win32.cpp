// The host's system helpers on Windows (C runtime calls only).
#include <direct.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "host_platform.h"

namespace qrxhost {

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
