// Test pictures for the reference host and the plug-in's tests: a clean
// picture with edges, gradients, fine texture and text-like blocks, periodic
// interference at chosen frequencies, and the measures of what a filter did.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qrxhost {

// A sinusoidal grating: amplitude * cos(2 pi (cyclesX * x / width +
// cyclesY * y / rowsM) + phase). cyclesX counts cycles across the whole line
// (so a line resampled to any length keeps it on bin cyclesX), cyclesY counts
// cycles per rowsM lines (the column FFT length), so it sits on row bin cyclesY.
struct Grating {
  double cyclesX;
  double cyclesY;
  int32_t rowsM;
  double amplitude;
  double phase;
};

// Luma as doubles, row-major, width x height.
std::vector<double> MakeCleanLuma(int32_t width, int32_t height);
void AddGrating(std::vector<double>* luma, int32_t width, int32_t height, const Grating& grating);

// Packed 4:2:2 (Y0 Cb Y1 Cr) with a colourful but smooth chroma pattern.
std::vector<uint8_t> MakeYuy2(const std::vector<double>& luma, int32_t width, int32_t height);
std::vector<double> LumaOfYuy2(const std::vector<uint8_t>& frame, int32_t width, int32_t height);
// 24-bit BGR bottom-up, from the 4:2:2 frame through BT.601.
std::vector<uint8_t> Yuy2ToBgr24(const std::vector<uint8_t>& frame, int32_t width, int32_t height);

// Amplitude of the grating's frequency in the picture (least-squares fit of
// cos and sin over the frame).
double GratingAmplitude(const std::vector<double>& luma, int32_t width, int32_t height, const Grating& grating);
// 10 log10(before / after) of the grating's power; capped at 200 dB.
double PowerRatioDb(double amplitudeBefore, double amplitudeAfter);
double Psnr(const std::vector<double>& a, const std::vector<double>& b, int32_t width, int32_t x0, int32_t y0,
            int32_t x1, int32_t y1);
double SquaredError(const std::vector<double>& a, const std::vector<double>& b);

// The kHz values the plug-in's frequency scale assigns to a bin: horizontal
// bin k of an fftLine-point line, vertical bin v of an M-row column for a
// frame of the given height. Rounded to integer kHz as the filters store them.
int32_t HorizontalKHz(double bin, int32_t fftLine);
int32_t VerticalKHz(double bin, int32_t rowsM, int32_t frameHeight);

// PNG output; false when unavailable or failing.
bool WritePngFromYuy2(const std::string& path, const std::vector<uint8_t>& frame, int32_t width, int32_t height);
bool WritePngFromBgr24(const std::string& path, const std::vector<uint8_t>& frame, int32_t width, int32_t height);
bool PngAvailable();

}  // namespace qrxhost
