// qrx_host --auto: finds periodic interference and filters it in one pass.
// The frames go through the live finder and, in the host's own process,
// through the filter's frame pipeline (the plug-in's exports cannot change
// the filters in the middle of a stream). Every frame leaves filtered with
// the list in force for it: frames wait until the finder has looked at them,
// and a new list's mask is ready before the first frame that needs it.
#pragma once

#include <cstdint>
#include <string>

#include "stream_format.h"

namespace qrxhost {

struct AutoRequest {
  std::string input, output;  // "-" for standard input / output; no output: nothing written
  std::string settings;       // the FFT line and the rest of the file come from here (may be empty)
  std::string writeSettings;  // where the settings with the last list go (empty: nowhere)
  StreamFormat format;
  int32_t keyLow = 1, keyHigh = 0;
  long maxFrames = -1;
};

// Exit status: 0 done, 1 on any failure, after a one-line message on
// standard error. Each change of the list is logged on standard error with
// the frame it applies from.
int RunAuto(const AutoRequest& request);

}  // namespace qrxhost
