// The module's parameters as a host sets them, and what a stream makes of
// them: the FFT line, whether it filters, and the filter list. The settings
// file is only ever read here (opened read-only, never created); nothing in
// the module writes it.
#pragma once

#include <cstdint>
#include <string>

#include "filter/filter_list.h"

namespace qrx {

struct ModuleParameters {
  std::string settings;  // a settings file in the plug-in's format; empty: none
  std::string section;   // its channel section; empty: [DEFAULT], else the first channel section
  std::string filters;   // Filter= text; when given it is the list, whatever the file says
  double fftLine = 0.0;  // 256, 512, 1024 (or 0.25, 0.5, 1: the length / 1024); 0: the file's, else 512
};

struct StreamSettings {
  int32_t fftLine = 512;
  bool filtering = false;
  FilterList filters;
  // Why a stream with usable settings does not filter (empty when it does).
  std::string idleReason;
};

// The FFT line a parameter value asks for: 0 when it asks for none, -1 when
// it is not one of the accepted values.
int32_t FftLineFromParameter(double value);

// Reads the Filter= text strictly: records "En:n/Fx:n/Fy:n/Wx:n/Wy:n/O:n/S:n/T:n//"
// with decimal integers (blanks between them allowed) and shapes 0, 1 or 2.
// False with the reason when the text is anything else.
bool ParseFilterParameter(const std::string& text, FilterList* list, std::string* error);

// Everything the parameters say, or false with a one-line reason (a missing
// or unreadable file, an absent section, malformed filters, an FFT line out
// of range).
bool ResolveStreamSettings(const ModuleParameters& parameters, StreamSettings* out, std::string* error);

}  // namespace qrx
