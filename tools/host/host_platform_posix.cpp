// The host's system helpers on POSIX.
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "host_platform.h"

namespace qrxhost {

namespace {
std::string g_privateRoot;
std::string g_placedFile;
}  // namespace

bool PrepareSettingsFile(const std::string& moduleBaseName, const std::string& source, std::string* placedPath) {
  // The copy is scratch, removed at the end: in memory where there is a
  // memory file system, so that the plug-in's durable save of it at the end
  // of a stream costs no disk flush.
  char inMemory[] = "/dev/shm/qrx_host.XXXXXX";
  char onDisk[] = "/tmp/qrx_host.XXXXXX";
  const char* root = mkdtemp(inMemory);
  if (root == nullptr) root = mkdtemp(onDisk);
  if (root == nullptr) return false;
  g_privateRoot = root;
  const std::string velmorin = g_privateRoot + "/Velmorin";
  const std::string plugins = velmorin + "/Plugins";
  if (mkdir(velmorin.c_str(), 0700) != 0 || mkdir(plugins.c_str(), 0700) != 0) return false;
  g_placedFile = plugins + "/" + moduleBaseName + ".ini";
  if (!CopyFileBytes(source, g_placedFile)) return false;
  setenv("XDG_CONFIG_HOME", g_privateRoot.c_str(), 1);
  setenv("QRX_STORE_IN_USERS_FOLDER", "1", 1);
  if (placedPath != nullptr) *placedPath = g_placedFile;
  return true;
}

void CleanUpSettingsFile() {
  if (g_privateRoot.empty()) return;
  if (!g_placedFile.empty()) std::remove(g_placedFile.c_str());
  rmdir((g_privateRoot + "/Velmorin/Plugins").c_str());
  rmdir((g_privateRoot + "/Velmorin").c_str());
  rmdir(g_privateRoot.c_str());
  g_privateRoot.clear();
  g_placedFile.clear();
}

bool StderrIsTerminal() { return isatty(2) != 0; }

void SetBinaryMode(std::FILE*) {}

}  // namespace qrxhost
