#include "suggest_command.h"

#include <cstdio>
#include <vector>

#include "filter/filter_list.h"
#include "finder/interference_finder.h"
#include "finder/magnitude_average.h"
#include "frame_reader.h"
#include "host_settings.h"
#include "transform/fft_engine.h"

namespace qrxhost {

namespace {

int Fail(const std::string& message) {
  std::fprintf(stderr, "qrx_host: %s\n", message.c_str());
  return 1;
}

}  // namespace

std::unique_ptr<qrx::MagnitudeAverage> AverageInput(const SuggestRequest& r, int32_t fftLine, std::string* error) {
  const StreamFormat& f = r.format;
  const qrx::FrameFormatRecord format{f.width, f.height, 0, f.bgr24 ? 1 : 0};
  auto average = std::make_unique<qrx::MagnitudeAverage>(format, fftLine);
  if (!average->IsUsable()) {
    char text[96];
    std::snprintf(text, sizeof(text), "the plug-in does not process %dx%d frames", f.width, f.height);
    *error = text;
    return nullptr;
  }
  FrameReader reader;
  if (!reader.Open(r.input, f.FrameBytes(), error)) return nullptr;
  std::vector<uint8_t> frame;
  while (r.maxFrames < 0 || average->Frames() < r.maxFrames) {
    const FrameReader::Result got = reader.Next(&frame);
    if (got == FrameReader::Result::kEnd) break;
    if (got == FrameReader::Result::kError) {
      *error = "cannot read " + r.input;
      return nullptr;
    }
    if (got == FrameReader::Result::kTruncated) {
      char text[160];
      std::snprintf(text, sizeof(text), "frame %lld of %s is incomplete (%zu of %zu bytes)",
                    static_cast<long long>(average->Frames()) + 1, r.input.c_str(), reader.BytesRead(),
                    reader.FrameBytes());
      *error = text;
      return nullptr;
    }
    f.FlipIfTopDown(&frame);
    average->Add(frame.data());
  }
  if (average->Frames() == 0) {
    *error = "no frames in " + r.input;
    return nullptr;
  }
  return average;
}

int RunSuggest(const SuggestRequest& r) {
  ChannelSettingsView view;
  std::string error;
  if (!ReadChannelSettings(r.settings, r.keyLow, r.keyHigh, &view, &error)) return Fail(error);
  const std::unique_ptr<qrx::MagnitudeAverage> input = AverageInput(r, view.fftLine, &error);
  if (input == nullptr) return Fail(error);
  const qrx::MagnitudeAverage& average = *input;

  const std::vector<qrx::FoundFilter> found = qrx::FindInterference(average);
  const std::string text = qrx::FormatFilterText(qrx::ToFilterList(found));
  if (!r.writeSettings.empty()) {
    // Nothing to remove: processing off, so the channel passes unchanged
    // instead of being resampled for nothing.
    const int32_t procEnable = found.empty() ? 0 : 1;
    if (!WriteChannelSettings(r.settings, r.writeSettings, r.keyLow, r.keyHigh, procEnable, text, &error))
      return Fail(error);
  }

  const qrx::FftEngine& e = average.Engine();
  std::fprintf(stderr, "qrx_host: %lld frames, FFT line %d: %zu filters\n", static_cast<long long>(average.Frames()),
               e.N(), found.size());
  for (const qrx::FoundFilter& f : found) {
    std::fprintf(stderr,
                 "  Dot Fx %5d kHz Fy %6d kHz (bin %3d, %+4d of %d rows)  %5.1f dB above background%s,"
                 " Wx %d Wy %d O %d S %d: %.0f dB removed by the model\n",
                 f.spec.Fx, f.spec.Fy, f.column, f.row - e.Rows() / 2, e.Rows(), f.heightDb,
                 f.twin ? " (mirror half)" : "", f.spec.Wx, f.spec.Wy, f.spec.O, f.spec.S, f.predictedDb);
  }
  std::printf("Filter=%s\n", text.c_str());
  std::fflush(stdout);
  return 0;
}

}  // namespace qrxhost
