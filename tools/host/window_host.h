// The reference host with a screen (Windows): a host window that shows the
// filtered picture, the plug-in's settings window opened through ShowDialog,
// and the frames streamed on a second thread at the frame rate.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "plugin_module.h"
#include "stream_format.h"

namespace qrxhost {

struct WindowRun {
  StreamFormat format;                       // frames in the plug-in's line order
  std::vector<std::vector<uint8_t>> frames;  // streamed in a loop
  int32_t keyLow = 1, keyHigh = 0;
  std::string channelName;
  double framesPerSecond = 25.0;
  // When positive, the settings window is asked to close after this long,
  // as if the user closed it (unattended runs and tests).
  double closeAfterSeconds = 0;
};

// Runs until the host window or the settings window is closed; then Stop and
// Exit (the plug-in saves its settings). Returns the process's exit status.
int RunWindowHost(PluginModule& plugin, const WindowRun& run);

// False where the platform has no settings window.
bool WindowHostAvailable();

}  // namespace qrxhost
