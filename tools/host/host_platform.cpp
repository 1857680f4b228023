#include "host_platform.h"

#include <fstream>
#include <iterator>
#include <vector>

#include "platform/platform.h"

namespace qrxhost {

std::string ExecutableFolder() {
  const std::string path = qrx::platform::HostExecutablePath();
  const std::string here = std::string(".") + qrx::platform::PathSeparator();
  // Windows accepts either separator in a path.
  const size_t slash = path.find_last_of(qrx::platform::PathSeparator() == '\\' ? "\\/" : "/");
  return slash == std::string::npos ? here : path.substr(0, slash + 1);
}

bool CopyFileBytes(const std::string& from, const std::string& to) {
  std::ifstream in(from, std::ios::binary);
  if (!in) return false;
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::ofstream out(to, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

}  // namespace qrxhost
