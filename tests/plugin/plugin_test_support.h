// Shared pieces of the plug-in tests: settings files where the plug-in looks
// for them, frames with known interference, and the filter text for them.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "demo_picture.h"
#include "host_platform.h"
#include "module_loader.h"
#include "settle.h"

namespace qrxtest {

using qrxhost::Grating;

// Program-folder mode: the settings file is "<exe folder>/Plugins/<base>.ini".
inline void UseProgramFolderSettings() {
#if defined(_WIN32)
  _putenv("QRX_STORE_IN_USERS_FOLDER=");
#else
  setenv("QRX_STORE_IN_USERS_FOLDER", "", 1);
#endif
}

inline std::string SettingsPath(const std::string& moduleBase) {
  return qrxhost::ExecutableFolder() + "Plugins/" + moduleBase + ".ini";
}

inline void MakePluginsFolder() {
  const std::string folder = qrxhost::ExecutableFolder() + "Plugins";
#if defined(_WIN32)
  std::system(("mkdir \"" + folder + "\" 2>NUL").c_str());
#else
  std::system(("mkdir -p '" + folder + "'").c_str());
#endif
}

// Writes the lines with the CR LF line ends the settings store uses.
inline void WriteSettings(const std::string& moduleBase, const std::vector<std::string>& lines) {
  MakePluginsFolder();
  std::ofstream out(SettingsPath(moduleBase), std::ios::binary | std::ios::trunc);
  for (const std::string& line : lines) out << line << "\r\n";
}

inline std::string ReadFileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

inline std::vector<std::string> SettingsWith(int32_t fftLine, const std::vector<std::string>& channelLines) {
  std::vector<std::string> lines = {
      "[DIALOG]",  "DlgWndPosX=-100", "DlgWndPosY=-100", "[GLOBAL]", "FFTLine=" + std::to_string(fftLine),
      "AngleZ=30", "AngleX=70",       "DemoMode=1"};
  lines.insert(lines.end(), channelLines.begin(), channelLines.end());
  return lines;
}

inline std::string FilterText(int32_t en, int32_t fx, int32_t fy, int32_t wx, int32_t wy, int32_t o, int32_t s,
                              int32_t t) {
  char text[160];
  std::snprintf(text, sizeof(text), "En:%d/Fx:%d/Fy:%d/Wx:%d/Wy:%d/O:%d/S:%d/T:%d//", en, fx, fy, wx, wy, o, s, t);
  return text;
}

// Smallest power of two not below h: the column FFT length.
inline int32_t RowsM(int32_t height) {
  int32_t m = 2;
  while (m < height) m *= 2;
  return m;
}

// A Dot notch on a grating: the stored peak of cos(2 pi (k x/W + v y/M)) lies
// at horizontal bin k and vertical bin -v.
inline std::string DotOn(const Grating& g, int32_t fftLine, int32_t height, int32_t widthKHz = 300,
                         int32_t strength = -60, int32_t order = 3) {
  return FilterText(1, qrxhost::HorizontalKHz(g.cyclesX, fftLine),
                    -qrxhost::VerticalKHz(g.cyclesY, RowsM(height), height), widthKHz, widthKHz, order, strength, 0);
}

struct TestPicture {
  int32_t width, height;
  std::vector<double> clean, noisy;
  std::vector<uint8_t> cleanFrame, frame;  // packed 4:2:2
};

inline TestPicture MakePicture(int32_t width, int32_t height, const std::vector<Grating>& gratings) {
  TestPicture p{width, height, qrxhost::MakeCleanLuma(width, height), {}, {}, {}};
  p.noisy = p.clean;
  for (const Grating& g : gratings) qrxhost::AddGrating(&p.noisy, width, height, g);
  p.cleanFrame = qrxhost::MakeYuy2(p.clean, width, height);
  p.frame = qrxhost::MakeYuy2(p.noisy, width, height);
  return p;
}

// Luma error of a frame against the clean picture, as doubles.
inline std::vector<double> LumaError(const std::vector<uint8_t>& frame, const TestPicture& p) {
  std::vector<double> e(static_cast<size_t>(p.width) * p.height);
  for (size_t i = 0; i < e.size(); ++i) e[i] = static_cast<double>(frame[2 * i]) - p.cleanFrame[2 * i];
  return e;
}

inline double RemovedDb(const std::vector<uint8_t>& out, const TestPicture& p, const Grating& g) {
  const double before = qrxhost::GratingAmplitude(LumaError(p.frame, p), p.width, p.height, g);
  const double after = qrxhost::GratingAmplitude(LumaError(out, p), p.width, p.height, g);
  return qrxhost::PowerRatioDb(before, after);
}

// The interference left in a filtered frame: the filtered noisy frame minus
// the same filter's output for the clean picture, so picture content that
// the filter takes away near the grating's frequency does not count.
inline double ResidualDb(const std::vector<uint8_t>& out, const std::vector<uint8_t>& outClean, const TestPicture& p,
                         const Grating& g) {
  std::vector<double> residual(static_cast<size_t>(p.width) * p.height);
  for (size_t i = 0; i < residual.size(); ++i) residual[i] = static_cast<double>(out[2 * i]) - outClean[2 * i];
  const double before = qrxhost::GratingAmplitude(LumaError(p.frame, p), p.width, p.height, g);
  return qrxhost::PowerRatioDb(before, qrxhost::GratingAmplitude(residual, p.width, p.height, g));
}

inline double LumaPsnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, int32_t width, int32_t height,
                       int32_t y0 = 0, int32_t y1 = -1) {
  if (y1 < 0) y1 = height;
  std::vector<double> la = qrxhost::LumaOfYuy2(a, width, height), lb = qrxhost::LumaOfYuy2(b, width, height);
  return qrxhost::Psnr(la, lb, width, 0, y0, width, y1);
}

inline bool ChromaEqual(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 1; i < a.size(); i += 2)
    if (a[i] != b[i]) return false;
  return true;
}

// Runs frames through process(frame) until the output has not changed for
// quietMs (the mask is built on the plug-in's own thread, so the first
// frames of a stream may still see the previous mask).
inline std::vector<uint8_t> SettledOutput(const std::vector<uint8_t>& input,
                                          const std::function<void(std::vector<uint8_t>*)>& process, int quietMs = 1000,
                                          int maxMs = 30000) {
  const qrxhost::Settled settled = qrxhost::SettleOutput(input, process, {quietMs, quietMs, maxMs, 20});
  if (!settled.settled) ADD_FAILURE() << "output did not settle";
  return settled.output;
}

}  // namespace qrxtest
