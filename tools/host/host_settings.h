// The settings file seen from the host: what the plug-in will read from it
// for one channel, and a copy of it with that channel's filters replaced,
// written through the settings store's own writer so that the plug-in on
// every platform reads it.
#pragma once

#include <cstdint>
#include <string>

namespace qrxhost {

struct ChannelSettingsView {
  int32_t fftLine = 512;  // the FFT line the engines use (EffectiveFftLine)
  int32_t procEnable = 0;
  std::string filter;     // the channel's filter text
};

// path empty: the values of a missing file. False (with a one-line reason)
// when the file cannot be read.
bool ReadChannelSettings(const std::string& path, int32_t keyLow, int32_t keyHigh, ChannelSettingsView* view,
                         std::string* error);

// Writes the settings of source (empty: a new file) to outPath with the
// channel's ProcEnable and Filter replaced. The file appears whole or not
// at all: it is written under a temporary name and then renamed.
bool WriteChannelSettings(const std::string& source, const std::string& outPath, int32_t keyLow, int32_t keyHigh,
                          int32_t procEnable, const std::string& filter, std::string* error);

}  // namespace qrxhost
