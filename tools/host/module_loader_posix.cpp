#include <dlfcn.h>
#include <unistd.h>

#include <vector>

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

std::string ExecutableFolder() {
  std::vector<char> buffer(4096);
  const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (length <= 0) return "./";
  std::string path(buffer.data(), static_cast<size_t>(length));
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? "./" : path.substr(0, slash + 1);
}

const char* ModuleSuffix() { return ".so"; }

}  // namespace qrxhost

#include <stdlib.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <iterator>

namespace qrxhost {

namespace {
std::string g_privateRoot;
std::string g_placedFile;
}  // namespace

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
  char pattern[] = "/tmp/qrx_host.XXXXXX";
  if (mkdtemp(pattern) == nullptr) return false;
  g_privateRoot = pattern;
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
