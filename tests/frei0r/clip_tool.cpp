// qrx_frei0r_clip: the clips of the frei0r client tests and their verdict.
//
//   qrx_frei0r_clip make W H FRAMES FILTERS CLEAN NOISY
//       raw BGRA clips: the clean picture, and the same with gratings at the
//       enabled Dots of the Filter= text FILTERS.
//   qrx_frei0r_clip check W H FILTERS CLEAN NOISY OUTPUT [--frames N]
//                   [--from F] [--min-removed DB] [--max-change N] [--alpha]
//       every frame of OUTPUT (raw BGRA; from frame F, default 0) against
//       the clips: the interference removed by at least DB, the clean area
//       within rounding (at most N off), alpha unchanged (with --alpha);
//       OUTPUT must hold N frames (default: as many as NOISY). Exit status 1
//       when any frame fails.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "clip_picture.h"

namespace {

constexpr double kAmplitude = 12.0;

bool ReadAll(const char* path, std::vector<uint8_t>* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

int Make(int argc, char** argv) {
  if (argc != 8) return 2;
  const int32_t width = std::atoi(argv[2]), height = std::atoi(argv[3]), frames = std::atoi(argv[4]);
  const auto gratings = qrxtest::GratingsOfFilterText(argv[5], kAmplitude);
  std::ofstream clean(argv[6], std::ios::binary | std::ios::trunc), noisy(argv[7], std::ios::binary | std::ios::trunc);
  for (int32_t f = 0; f < frames; ++f) {
    const std::vector<uint8_t> c = qrxtest::CleanFrame(width, height, f);
    const std::vector<uint8_t> n = qrxtest::WithInterference(c, width, height, gratings);
    clean.write(reinterpret_cast<const char*>(c.data()), static_cast<std::streamsize>(c.size()));
    noisy.write(reinterpret_cast<const char*>(n.data()), static_cast<std::streamsize>(n.size()));
  }
  return clean && noisy && !gratings.empty() ? 0 : 1;
}

int Check(int argc, char** argv) {
  if (argc < 8) return 2;
  const int32_t width = std::atoi(argv[2]), height = std::atoi(argv[3]);
  const auto gratings = qrxtest::GratingsOfFilterText(argv[4], kAmplitude);
  double minRemoved = 20.0;
  int maxChange = qrxtest::kCleanMaxChange, frames = -1, from = 0;
  bool alpha = false;
  for (int i = 8; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--alpha"))
      alpha = true;
    else if (!std::strcmp(argv[i], "--min-removed") && i + 1 < argc)
      minRemoved = std::atof(argv[++i]);
    else if (!std::strcmp(argv[i], "--max-change") && i + 1 < argc)
      maxChange = std::atoi(argv[++i]);
    else if (!std::strcmp(argv[i], "--frames") && i + 1 < argc)
      frames = std::atoi(argv[++i]);
    else if (!std::strcmp(argv[i], "--from") && i + 1 < argc)
      from = std::atoi(argv[++i]);
    else
      return 2;
  }
  std::vector<uint8_t> clean, noisy, output;
  if (!ReadAll(argv[5], &clean) || !ReadAll(argv[6], &noisy) || !ReadAll(argv[7], &output)) {
    std::fprintf(stderr, "qrx_frei0r_clip: cannot read the clips\n");
    return 1;
  }
  const size_t frameBytes = static_cast<size_t>(width) * height * 4;
  const size_t expected = frames >= 0 ? static_cast<size_t>(frames) : noisy.size() / frameBytes;
  if (output.size() != expected * frameBytes || clean.size() < output.size() || noisy.size() < output.size()) {
    std::fprintf(stderr, "qrx_frei0r_clip: %zu bytes of output, expected %zu frames of %zu\n", output.size(), expected,
                 frameBytes);
    return 1;
  }
  bool ok = expected > static_cast<size_t>(from);
  for (size_t f = static_cast<size_t>(from); f < expected; ++f) {
    const size_t at = f * frameBytes;
    const qrxtest::FrameVerdict v = qrxtest::Judge(&clean[at], &noisy[at], &output[at], width, height, gratings);
    const bool frameOk = v.worstRemovedDb >= minRemoved && v.cleanMaxChange <= maxChange &&
                         v.cleanShareWithinOne >= qrxtest::kCleanShareWithinOne && (!alpha || v.alphaKept);
    std::printf("frame %zu: interference removed %.1f dB; clean area: at most %d off, %.1f %% within 1%s%s\n", f,
                v.worstRemovedDb, v.cleanMaxChange, 100.0 * v.cleanShareWithinOne,
                alpha ? (v.alphaKept ? "; alpha kept" : "; ALPHA CHANGED") : "", frameOk ? "" : "  FAIL");
    ok = ok && frameOk;
  }
  return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  const int status = command == "make" ? Make(argc, argv) : command == "check" ? Check(argc, argv) : 2;
  if (status == 2) {
    std::fprintf(stderr,
                 "usage: qrx_frei0r_clip make W H FRAMES FILTERS CLEAN NOISY\n"
                 "       qrx_frei0r_clip check W H FILTERS CLEAN NOISY OUTPUT [--frames N] [--min-removed DB]"
                 " [--from F] [--max-change N] [--alpha]\n");
  }
  return status;
}
