// Builds without cairo (the Windows host) have no --spectrum.
#include <cstdio>

#include "suggest_command.h"

namespace qrxhost {

int RunSpectrum(const SuggestRequest&) {
  std::fprintf(stderr, "qrx_host: --spectrum needs the Linux build of the host (drawn with cairo)\n");
  return 2;
}

}  // namespace qrxhost
