// qrx_host's command line: one table of options drives both the parsing and
// the usage text.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "stream_format.h"

namespace qrxhost {

struct Options {
  std::string input, output;  // raw frames; "-" is standard input / output
  StreamFormat format;
  bool haveSize = false;  // --width or --height given
  int32_t keyLow = 1, keyHigh = 0;
  std::string channelName = "Demo";
  std::string settings, modulePath, pngIn, pngOut;
  long maxFrames = -1;
  bool demo = false;
  bool window = false;
  double fps = 25.0, seconds = 0;
  bool suggest = false;
  std::string writeSettings, spectrumPng;
};

enum class ParseStatus { kRun, kHelp, kError };

// kError leaves one line in *error that names the option (or the argument)
// and what it accepts.
ParseStatus ParseOptions(int argc, char** argv, Options* options, std::string* error);
void PrintUsage(std::FILE* to);

}  // namespace qrxhost
