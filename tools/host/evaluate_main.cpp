// qrx_evaluate: the measuring side of the interference-removal evaluation
// and of the ffmpeg pipeline test.
//
//   qrx_evaluate make PICTURE OUT [--frames N] [--shift DX] [TIMING] [--noise S] GRATING...
//       OUT: N frames (default 1) of the packed 4:2:2 PICTURE (frame f of
//       OUT from frame f of PICTURE, the last one repeated), moved DX pixels
//       to the right per frame (wrapping), plus the gratings, plus Gaussian
//       noise of standard deviation S levels (a fixed seed).
//   qrx_evaluate measure CLEAN INPUT OUTPUT [--min-removed DB] [--min-psnr DB] [--from F] [TIMING] GRATING...
//       per frame: the interference removed at each grating's frequency,
//       the luma of (OUTPUT - CLEAN) against (INPUT - CLEAN), in dB ("-"
//       for a frame without the gratings), and the PSNR of OUTPUT and INPUT
//       against CLEAN, and the most the first measure can show for CLEAN
//       (grating amplitude against CLEAN's own content at its frequency,
//       worst grating). Exit status 1 when a frame from F on (default 0)
//       falls below a given limit.
//   TIMING: the gratings over time, the same for make and measure:
//       --drift P     the phase grows by P radians per frame
//       --appear F    no gratings before frame F
//       --vanish F    no gratings from frame F on
//       --move D:F0:F1  cx grows by D cycles, evenly from frame F0 to F1
//
// GRATING: cx,cy,amplitude[,phase]: amplitude * cos(2 pi (cx x / W + cy y / H)
// + phase), cx cycles across the picture width, cy down its height (so a
// negative cy slants the other way). Frames are W x H (--width, --height;
// default 720 x 576), luma in the even bytes.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "demo_picture.h"
#include "platform/math_constants.h"

namespace qrxhost {
namespace {

struct Args {
  std::vector<std::string> files;
  std::vector<Grating> gratings;
  int32_t width = 720, height = 576;
  int frames = 1, shift = 0;
  double minRemoved = -1e9, minPsnr = -1e9;
  int from = 0;
  double noise = 0.0;
  // Timing.
  double drift = 0.0;
  int appear = 0, vanish = 1 << 30;
  double move = 0.0;
  int moveFrom = 0, moveTo = 0;

  // The gratings of frame f (none while absent).
  std::vector<Grating> At(int f) const {
    if (f < appear || f >= vanish) return {};
    std::vector<Grating> out = gratings;
    const double t = moveTo > moveFrom ? std::clamp((f - moveFrom) / static_cast<double>(moveTo - moveFrom), 0.0, 1.0)
                                       : (f >= moveFrom ? 1.0 : 0.0);
    for (Grating& g : out) {
      g.phase += drift * f;
      g.cyclesX += move * t;
    }
    return out;
  }
};

bool ParseGrating(const std::string& text, int32_t height, Grating* g) {
  double v[4] = {0, 0, 0, 0};
  const int n = std::sscanf(text.c_str(), "%lf,%lf,%lf,%lf", &v[0], &v[1], &v[2], &v[3]);
  if (n < 3) return false;
  *g = Grating{v[0], v[1], height, v[2], v[3]};
  return true;
}

bool Parse(int argc, char** argv, Args* a) {
  std::vector<std::string> gratingTexts;
  for (int i = 2; i < argc; ++i) {
    const std::string s = argv[i];
    auto value = [&]() { return i + 1 < argc ? std::atof(argv[++i]) : 0.0; };
    if (s == "--width")
      a->width = static_cast<int32_t>(value());
    else if (s == "--height")
      a->height = static_cast<int32_t>(value());
    else if (s == "--frames")
      a->frames = static_cast<int>(value());
    else if (s == "--shift")
      a->shift = static_cast<int>(value());
    else if (s == "--min-removed")
      a->minRemoved = value();
    else if (s == "--min-psnr")
      a->minPsnr = value();
    else if (s == "--from")
      a->from = static_cast<int>(value());
    else if (s == "--noise")
      a->noise = value();
    else if (s == "--drift")
      a->drift = value();
    else if (s == "--appear")
      a->appear = static_cast<int>(value());
    else if (s == "--vanish")
      a->vanish = static_cast<int>(value());
    else if (s == "--move" && i + 1 < argc) {
      if (std::sscanf(argv[++i], "%lf:%d:%d", &a->move, &a->moveFrom, &a->moveTo) != 3) return false;
    } else if (s.find(',') != std::string::npos && s[0] != '-')
      gratingTexts.push_back(s);
    else
      a->files.push_back(s);
  }
  for (const std::string& t : gratingTexts) {
    Grating g;
    if (!ParseGrating(t, a->height, &g)) return false;
    a->gratings.push_back(g);
  }
  return a->width > 0 && a->height > 0 && a->frames > 0;
}

bool ReadBytes(const std::string& path, std::vector<uint8_t>* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

// A normally distributed number (Box-Muller on a 64-bit LCG).
double Gaussian(uint64_t* seed) {
  auto uniform = [seed]() {
    *seed = *seed * 6364136223846793005ull + 1442695040888963407ull;
    return (static_cast<double>(*seed >> 11) + 0.5) / 9007199254740992.0;
  };
  const double u = uniform(), v = uniform();
  return std::sqrt(-2.0 * std::log(u)) * std::cos(2.0 * qrx::kPi * v);
}

int Make(const Args& a) {
  if (a.files.size() != 2) return 2;
  const size_t frameBytes = static_cast<size_t>(a.width) * a.height * 2;
  std::vector<uint8_t> picture;
  if (!ReadBytes(a.files[0], &picture) || picture.size() < frameBytes) {
    std::fprintf(stderr, "qrx_evaluate: cannot read a %dx%d frame from %s\n", a.width, a.height, a.files[0].c_str());
    return 1;
  }
  std::ofstream out(a.files[1], std::ios::binary | std::ios::trunc);
  const size_t pictures = picture.size() / frameBytes;
  uint64_t seed = 0x9E3779B97F4A7C15ull;
  for (int f = 0; f < a.frames; ++f) {
    const uint8_t* source = &picture[std::min(static_cast<size_t>(f), pictures - 1) * frameBytes];
    // The picture moves (whole pixel pairs, so chroma stays paired); the
    // interference stays where it is, as a carrier beat would.
    const int32_t dx = ((f * a.shift) % a.width + a.width) % a.width & ~1;
    std::vector<double> luma(static_cast<size_t>(a.width) * a.height);
    std::vector<uint8_t> frame(frameBytes);
    for (int32_t y = 0; y < a.height; ++y)
      for (int32_t x = 0; x < a.width; ++x) {
        const size_t from = static_cast<size_t>(y) * a.width + (x + a.width - dx) % a.width;
        const size_t to = static_cast<size_t>(y) * a.width + x;
        luma[to] = source[2 * from];
        frame[2 * to + 1] = source[2 * from + 1];
      }
    for (const Grating& g : a.At(f)) AddGrating(&luma, a.width, a.height, g);
    for (double& v : luma) v += a.noise * Gaussian(&seed);
    const std::vector<uint8_t> withLuma = MakeYuy2(luma, a.width, a.height);
    for (size_t i = 0; i < luma.size(); ++i) frame[2 * i] = withLuma[2 * i];
    out.write(reinterpret_cast<const char*>(frame.data()), static_cast<std::streamsize>(frame.size()));
  }
  return out ? 0 : 1;
}

std::vector<double> LumaDifference(const uint8_t* a, const uint8_t* b, size_t pixels) {
  std::vector<double> d(pixels);
  for (size_t i = 0; i < pixels; ++i) d[i] = static_cast<double>(a[2 * i]) - b[2 * i];
  return d;
}

int Measure(const Args& a) {
  if (a.files.size() != 3) return 2;
  std::vector<uint8_t> clean, input, output;
  const size_t pixels = static_cast<size_t>(a.width) * a.height;
  const size_t frameBytes = pixels * 2;
  if (!ReadBytes(a.files[0], &clean) || !ReadBytes(a.files[1], &input) || !ReadBytes(a.files[2], &output)) {
    std::fprintf(stderr, "qrx_evaluate: cannot read the frames\n");
    return 1;
  }
  const size_t frames = output.size() / frameBytes;
  if (frames == 0 || clean.size() < frames * frameBytes || input.size() < frames * frameBytes) {
    std::fprintf(stderr, "qrx_evaluate: %zu output frames, fewer clean or input ones\n", frames);
    return 1;
  }
  bool ok = true;
  for (size_t f = 0; f < frames; ++f) {
    const uint8_t* c = &clean[f * frameBytes];
    // The clean picture's own content at a grating's frequency: a filter
    // that takes the grating takes that too, which the measure counts as
    // interference left. Its ratio to the grating is the most the measure
    // can show.
    std::vector<double> picture(pixels);
    double mean = 0.0;
    for (size_t i = 0; i < pixels; ++i) mean += c[2 * i];
    mean /= static_cast<double>(pixels);
    for (size_t i = 0; i < pixels; ++i) picture[i] = c[2 * i] - mean;
    const std::vector<double> before = LumaDifference(&input[f * frameBytes], c, pixels);
    const std::vector<double> after = LumaDifference(&output[f * frameBytes], c, pixels);
    double worst = 200.0, ceiling = 200.0;
    const std::vector<Grating> gratings = a.At(static_cast<int>(f));
    std::printf("frame %zu removed", f);
    if (gratings.empty()) std::printf(" -");
    for (const Grating& g : gratings) {
      const double db =
          PowerRatioDb(GratingAmplitude(before, a.width, a.height, g), GratingAmplitude(after, a.width, a.height, g));
      worst = std::min(worst, db);
      ceiling = std::min(ceiling, PowerRatioDb(g.amplitude, GratingAmplitude(picture, a.width, a.height, g)));
      std::printf(" %.1f", db);
    }
    const std::vector<double> zero(pixels, 0.0);
    const double psnrOut = Psnr(after, zero, a.width, 0, 0, a.width, a.height);
    const double psnrIn = Psnr(before, zero, a.width, 0, 0, a.width, a.height);
    std::printf(" psnr %.2f input %.2f ceiling %.1f\n", psnrOut, psnrIn, ceiling);
    if (static_cast<int>(f) >= a.from && ((!gratings.empty() && worst < a.minRemoved) || psnrOut < a.minPsnr))
      ok = false;
  }
  return ok ? 0 : 1;
}

}  // namespace
}  // namespace qrxhost

int main(int argc, char** argv) {
  using namespace qrxhost;
  Args a;
  const std::string command = argc > 1 ? argv[1] : "";
  if ((command != "make" && command != "measure") || !Parse(argc, argv, &a)) {
    std::fprintf(stderr,
                 "usage: qrx_evaluate make PICTURE OUT [--frames N] [--shift DX] [TIMING] [--noise S] GRATING...\n"
                 "       qrx_evaluate measure CLEAN INPUT OUTPUT [--min-removed DB] [--min-psnr DB] [--from F]\n"
                 "                            [TIMING] GRATING...\n"
                 "  TIMING: --drift P --appear F --vanish F --move D:F0:F1\n"
                 "  GRATING: cx,cy,amplitude[,phase] (cycles per picture width, per picture height)\n");
    return 2;
  }
  const int status = command == "make" ? Make(a) : Measure(a);
  if (status == 2) std::fprintf(stderr, "qrx_evaluate: wrong number of files\n");
  return status;
}
