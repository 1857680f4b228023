// The settings window exists on Windows only.
#include <cstdio>

#include "window_host.h"

namespace qrxhost {

bool WindowHostAvailable() { return false; }

int RunWindowHost(PluginModule&, const WindowRun&) {
  std::fprintf(stderr, "qrx_host: --window needs the Windows build (the settings window is Windows-only)\n");
  return 2;
}

}  // namespace qrxhost
