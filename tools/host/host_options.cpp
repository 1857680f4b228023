#include "host_options.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace qrxhost {

namespace {

// Frame sides the host accepts; whether the plug-in processes them is the
// plug-in's business (it refuses sides above 8192 and below 2).
constexpr long kMaxSide = 65536;

// Whole decimal numbers only: "12x" or "" is refused, not read as 12 or 0.
bool ParseWhole(const std::string& text, long low, long high, long* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || v < low || v > high) return false;
  *value = v;
  return true;
}

bool ParseReal(const std::string& text, double low, double high, double* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (*end != '\0' || !(v > low && v <= high)) return false;
  *value = v;
  return true;
}

bool ParseSide(const std::string& text, int32_t* side, bool* given) {
  long v = 0;
  if (!ParseWhole(text, 1, kMaxSide, &v)) return false;
  *side = static_cast<int32_t>(v);
  *given = true;
  return true;
}

bool ParseKey(const std::string& text, Options* o) {
  const size_t colon = text.find(':');
  long low = 0, high = 0;
  if (!ParseWhole(text.substr(0, colon), INT32_MIN, INT32_MAX, &low)) return false;
  if (colon != std::string::npos && !ParseWhole(text.substr(colon + 1), INT32_MIN, INT32_MAX, &high)) return false;
  o->keyLow = static_cast<int32_t>(low);
  o->keyHigh = static_cast<int32_t>(high);
  return true;
}

// One option: its name, the placeholder of its value (null for a switch),
// what a value must be (for the error line), its usage text, and what it
// sets (false when the value is refused).
struct OptionRow {
  const char* name;
  const char* value;
  const char* accepts;
  const char* help;
  bool (*set)(Options* o, const std::string& v);
};

const OptionRow kOptions[] = {
    {"--width", "W", "a whole number from 1 to 65536", "frame width (default 720)",
     [](Options* o, const std::string& v) { return ParseSide(v, &o->format.width, &o->haveSize); }},
    {"--height", "H", "a whole number from 1 to 65536", "frame height (default 576)",
     [](Options* o, const std::string& v) { return ParseSide(v, &o->format.height, &o->haveSize); }},
    {"--format", "F", "yuy2 or bgr24", "yuy2: packed 4:2:2 top-down; bgr24: 24-bit BGR bottom-up",
     [](Options* o, const std::string& v) {
       if (v != "yuy2" && v != "bgr24") return false;
       o->format.bgr24 = v == "bgr24";
       return true;
     }},
    {"--top-down", nullptr, nullptr, "24-bit frames arrive top line first (as from ffmpeg)",
     [](Options* o, const std::string&) { return o->format.topDown = true; }},
    {"--channel-key", "L[:H]", "one or two whole 32-bit numbers, L or L:H", "channel key of every frame (default 1:0)",
     [](Options* o, const std::string& v) { return ParseKey(v, o); }},
    {"--channel-name", "NAME", nullptr, "channel name (default Demo)",
     [](Options* o, const std::string& v) { return o->channelName = v, true; }},
    {"--settings", "FILE", nullptr, "settings file for the plug-in (copied where it looks)",
     [](Options* o, const std::string& v) { return o->settings = v, true; }},
    {"--png-in", "F", nullptr, "first input frame as PNG",
     [](Options* o, const std::string& v) { return o->pngIn = v, true; }},
    {"--png-out", "F", nullptr, "first output frame as PNG",
     [](Options* o, const std::string& v) { return o->pngOut = v, true; }},
    {"--frames", "N", "a whole number, 0 or more", "stop after N frames",
     [](Options* o, const std::string& v) {
       long n = 0;
       if (!ParseWhole(v, 0, LONG_MAX, &n)) return false;
       o->maxFrames = n;
       return true;
     }},
    {"--module", "PATH", nullptr, "the plug-in module (default: beside the host)",
     [](Options* o, const std::string& v) { return o->modulePath = v, true; }},
    {"--demo", nullptr, nullptr, "built-in test picture with interference",
     [](Options* o, const std::string&) { return o->demo = true; }},
    {"--window", nullptr, nullptr,
     "(Windows) show the picture and the settings window, frames looped at --fps\n"
     "until either window closes; the tuned settings are copied back to --settings FILE",
     [](Options* o, const std::string&) { return o->window = true; }},
    {"--fps", "F", "a number above 0, at most 1000", "with --window: frames per second (default 25)",
     [](Options* o, const std::string& v) { return ParseReal(v, 0, 1000, &o->fps); }},
    {"--seconds", "S", "a number above 0", "with --window: close the settings window after S seconds",
     [](Options* o, const std::string& v) { return ParseReal(v, 0, 1e9, &o->seconds); }},
    {"--suggest", nullptr, nullptr, "find periodic interference in INPUT, print a Filter= line",
     [](Options* o, const std::string&) { return o->suggest = true; }},
    {"--write-settings", "F", nullptr, "with --suggest: write the settings with the suggestion to F",
     [](Options* o, const std::string& v) { return o->writeSettings = v, true; }},
    {"--spectrum", "F.png", nullptr,
     "(Linux) draw INPUT's averaged spectrum with the channel's filters and MHz\n"
     "scales, as the settings window shows it",
     [](Options* o, const std::string& v) { return o->spectrumPng = v, true; }},
};

const OptionRow* FindOption(const std::string& name) {
  for (const OptionRow& row : kOptions)
    if (name == row.name) return &row;
  return nullptr;
}

// The combinations the commands cannot run with; empty when they can.
std::string RefusedCombination(const Options& o) {
  const bool spectrum = !o.spectrumPng.empty();
  if (o.suggest && spectrum) return "--suggest and --spectrum are separate runs: one pass over the input each";
  if ((o.suggest || spectrum) && o.input.empty())
    return std::string(o.suggest ? "--suggest" : "--spectrum") + " needs INPUT";
  if (!o.writeSettings.empty() && !o.suggest) return "--write-settings goes with --suggest";
  return std::string();
}

}  // namespace

ParseStatus ParseOptions(int argc, char** argv, Options* o, std::string* error) {
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") return ParseStatus::kHelp;
    if (a == "-" || a.empty() || a[0] != '-') {
      files.push_back(a);
      continue;
    }
    const OptionRow* row = FindOption(a);
    if (row == nullptr) {
      *error = "unknown option " + a + " (--help lists them)";
      return ParseStatus::kError;
    }
    const std::string accepts = row->accepts != nullptr ? row->accepts : std::string("a value");
    if (row->value != nullptr && i + 1 >= argc) {
      *error = a + " needs " + row->value + ": " + accepts;
      return ParseStatus::kError;
    }
    const std::string value = row->value != nullptr ? argv[++i] : std::string();
    if (!row->set(o, value)) {
      *error = a + " takes " + accepts + ", not '" + value + "'";
      return ParseStatus::kError;
    }
  }
  if (files.size() > 2) {
    *error = "at most two files, INPUT and OUTPUT; '" + files[2] + "' is a third";
    return ParseStatus::kError;
  }
  if (!files.empty()) o->input = files[0];
  if (files.size() > 1) o->output = files[1];
  if (o->input.empty() && !o->suggest && o->spectrumPng.empty()) o->demo = true;
  *error = RefusedCombination(*o);
  return error->empty() ? ParseStatus::kRun : ParseStatus::kError;
}

void PrintUsage(std::FILE* to) {
  std::fprintf(to,
               "usage: qrx_host [options] [INPUT [OUTPUT]]\n"
               "  %-22s %s\n",
               "INPUT, OUTPUT", "raw frames; '-' for stdin/stdout (no INPUT: --demo)");
  for (const OptionRow& row : kOptions) {
    const std::string left = std::string(row.name) + (row.value != nullptr ? std::string(" ") + row.value : "");
    const std::string help = row.help;
    size_t start = 0;
    for (bool first = true; start <= help.size(); first = false) {
      const size_t end = help.find('\n', start);
      const std::string line = help.substr(start, end == std::string::npos ? std::string::npos : end - start);
      std::fprintf(to, "  %-22s %s\n", first ? left.c_str() : "", line.c_str());
      if (end == std::string::npos) break;
      start = end + 1;
    }
  }
}

}  // namespace qrxhost
