#include "frei0r/stream_settings.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "settings/settings_ini.h"
#include "settings/settings_store.h"

namespace qrx {

namespace {

const char* const kFieldKeys[8] = {"En:", "Fx:", "Fy:", "Wx:", "Wy:", "O:", "S:", "T:"};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// A few characters of the text from `at`, for an error message.
std::string Excerpt(const std::string& text, size_t at) {
  std::string piece = text.substr(at, 16);
  if (at + 16 < text.size()) piece += "...";
  return piece.empty() ? std::string("the end") : "\"" + piece + "\"";
}

// The whole file, opened for reading only: a missing file stays missing.
bool ReadFileReadOnly(const std::string& path, std::vector<char>* data, std::string* error) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    *error = "cannot read the settings file " + path + ": " + std::strerror(errno);
    return false;
  }
  char block[65536];
  size_t got;
  while ((got = std::fread(block, 1, sizeof(block), file)) > 0) data->insert(data->end(), block, block + got);
  const bool failed = std::ferror(file) != 0;
  const int readErrno = errno;
  std::fclose(file);
  if (failed) {
    *error = "cannot read the settings file " + path + ": " + std::strerror(readErrno);
    return false;
  }
  return true;
}

// The name of the first section whose name is a channel number (the
// settings store's rule: a decimal number other than 0), or empty.
std::string FirstChannelSection(const std::vector<char>& text) {
  size_t i = 0;
  while (i < text.size()) {
    size_t end = i;
    while (end < text.size() && text[end] != '\r' && text[end] != '\n') ++end;
    const std::string line = TrimBlanks(std::string(text.data() + i, end - i));
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
      const std::string name = line.substr(1, line.size() - 2);
      if (ParseDecimal64(name.data(), name.size()) != 0) return TrimBlanks(name);
    }
    i = end + 1;
  }
  return std::string();
}

}  // namespace

int32_t FftLineFromParameter(double value) {
  if (value == 0.0) return 0;
  // Hosts that hold frei0r numbers to 0 .. 1 (GStreamer) pass the length
  // over 1024.
  const double length = value <= 1.0 ? value * 1024.0 : value;
  for (int32_t accepted : {256, 512, 1024}) {
    if (std::fabs(length - accepted) < 0.5) return accepted;
  }
  return -1;
}

bool ParseFilterParameter(const std::string& text, FilterList* list, std::string* error) {
  list->Clear();
  size_t at = 0;
  auto skipBlanks = [&]() {
    while (at < text.size() && IsBlank(text[at])) ++at;
  };
  auto fail = [&](const std::string& what) {
    *error = "malformed filters text: " + what + " at " + Excerpt(text, at);
    list->Clear();
    return false;
  };
  for (skipBlanks(); at < text.size(); skipBlanks()) {
    int32_t values[8];
    for (int k = 0; k < 8; ++k) {
      skipBlanks();
      const size_t keyLength = std::strlen(kFieldKeys[k]);
      if (text.compare(at, keyLength, kFieldKeys[k]) != 0) return fail(std::string("expected ") + kFieldKeys[k]);
      at += keyLength;
      skipBlanks();
      const bool negative = at < text.size() && text[at] == '-';
      if (negative) ++at;
      if (at >= text.size() || text[at] < '0' || text[at] > '9') return fail("expected a number");
      int64_t value = 0;
      for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        value = value * 10 + (text[at] - '0');
        if (value > INT32_MAX) return fail("number out of range");
      }
      values[k] = static_cast<int32_t>(negative ? -value : value);
      skipBlanks();
      if (at >= text.size() || text[at] != '/') return fail("expected /");
      ++at;
    }
    skipBlanks();
    if (at >= text.size() || text[at] != '/') return fail("expected // after T:");
    ++at;
    if (values[7] < kShapeDot || values[7] > kShapeWin2D) {
      *error = "malformed filters text: shape T:" + std::to_string(values[7]) + " is not 0, 1 or 2";
      list->Clear();
      return false;
    }
    const FilterSpec spec = {values[0], values[1], values[2], values[3], values[4], values[5], values[6], values[7]};
    if (!list->Append(spec)) {
      *error = "out of memory for the filter list";
      return false;
    }
  }
  return true;
}

bool ResolveStreamSettings(const ModuleParameters& parameters, StreamSettings* out, std::string* error) {
  out->fftLine = 512;
  out->filtering = false;
  out->filters.Clear();
  out->idleReason.clear();

  const int32_t askedLine = FftLineFromParameter(parameters.fftLine);
  if (askedLine < 0) {
    char text[96];
    std::snprintf(text, sizeof(text), "fft_line %g is not 256, 512 or 1024 (nor 0.25, 0.5 or 1)", parameters.fftLine);
    *error = text;
    return false;
  }
  const bool filtersGiven = TrimBlanks(parameters.filters).size() > 0;
  if (filtersGiven && !ParseFilterParameter(parameters.filters, &out->filters, error)) return false;

  int32_t procEnable = 1;
  if (!parameters.settings.empty()) {
    std::vector<char> data;
    if (!ReadFileReadOnly(parameters.settings, &data, error)) return false;
    SettingsIni ini;
    if (!ini.SetLoadedText(data.data(), data.size())) {
      *error = "out of memory for the settings file " + parameters.settings;
      return false;
    }
    std::string section = TrimBlanks(parameters.section);
    if (section.size() >= 2 && section.front() == '[' && section.back() == ']') {
      section = TrimBlanks(section.substr(1, section.size() - 2));
    }
    if (!section.empty()) {
      if (!ini.FindSection(section)) {
        *error = "no section [" + section + "] in the settings file " + parameters.settings;
        return false;
      }
    } else {
      section = ini.FindSection("DEFAULT") ? std::string("DEFAULT") : FirstChannelSection(data);
      if (section.empty()) {
        *error = "the settings file " + parameters.settings + " has no [DEFAULT] and no channel section";
        return false;
      }
    }
    std::string value;
    if (ini.FindKey("GLOBAL", "FFTLine", &value)) {
      out->fftLine = EffectiveFftLine(static_cast<int32_t>(ParseDecimal64(value.data(), value.size())));
    }
    // The plug-in's defaults for a key that is missing: ProcEnable 0, no filters.
    procEnable = ini.FindKey(section, "ProcEnable", &value)
                     ? static_cast<int32_t>(ParseDecimal64(value.data(), value.size()))
                     : 0;
    if (!filtersGiven) {
      if (ini.FindKey(section, "Filter", &value)) ParseFilterText(value.data(), value.size(), &out->filters);
      if (procEnable == 0)
        out->idleReason = "section [" + section + "] of " + parameters.settings + " has ProcEnable=0";
    }
  } else if (!TrimBlanks(parameters.section).empty()) {
    *error = "section " + TrimBlanks(parameters.section) + " given without a settings file";
    return false;
  }
  if (askedLine > 0) out->fftLine = askedLine;

  int32_t enabled = 0;
  for (int32_t i = 0; i < out->filters.Count(); ++i) enabled += out->filters[i].En != 0 ? 1 : 0;
  if (out->idleReason.empty() && enabled == 0) {
    out->idleReason =
        filtersGiven || !parameters.settings.empty() ? "no enabled filter" : "no settings and no filters given";
  }
  out->filtering = out->idleReason.empty();
  return true;
}

}  // namespace qrx
