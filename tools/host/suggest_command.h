// qrx_host --suggest: reads the frames, averages their spectrum with the
// plug-in's own transform, finds periodic interference and prints the Dot
// filters for it; with --write-settings also writes a settings file.
// qrx_host --spectrum: the same average drawn as the settings window's view
// would show it, into a PNG file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "stream_format.h"

namespace qrx {
class MagnitudeAverage;
}

namespace qrxhost {

struct SuggestRequest {
  std::string input;          // "-" for standard input
  std::string settings;       // the FFT line and the rest of the file come from here (may be empty)
  std::string writeSettings;  // where the settings with the suggestion go (empty: nowhere)
  std::string spectrumPng;    // --spectrum: where the picture goes
  StreamFormat format;
  int32_t keyLow = 1, keyHigh = 0;
  long maxFrames = -1;
};

// Exit status: 0 done (with or without filters), 1 on any failure, after a
// one-line message on standard error.
int RunSuggest(const SuggestRequest& request);
int RunSpectrum(const SuggestRequest& request);

// The request's frames averaged at the FFT line; null with a one-line
// reason when the size is refused or the input cannot be read whole.
std::unique_ptr<qrx::MagnitudeAverage> AverageInput(const SuggestRequest& request, int32_t fftLine, std::string* error);

}  // namespace qrxhost
