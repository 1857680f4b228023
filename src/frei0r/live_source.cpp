#include "frei0r/live_source.h"

#include <utility>

#include "transform/fft_engine.h"

namespace qrx {

void LiveListSource::SetBase(FilterList&& base, int32_t fftLine) {
  base_ = std::move(base);
  fftLine_ = fftLine;
  ++version_;
}

bool LiveListSource::CopyList(FilterList* list) const {
  if (!list->CopyFrom(base_)) return false;
  for (int32_t i = 0; i < found_.Count(); ++i)
    if (!list->Append(found_[i])) return false;
  return true;
}

void LiveListSource::Observe(const uint8_t* work, int32_t width, int32_t height) {
  finder_.Feed(work, width, height, fftLine_);
  TakeChanges();
}

void LiveListSource::ObserveSpectrum(const FftEngine& engine) {
  FrameSpectrum spectrum;
  spectrum.values = engine.Spectrum();
  spectrum.rows = engine.Rows();
  spectrum.bins = engine.Bins();
  spectrum.pitch = engine.Pitch();
  finder_.FeedSpectrum(spectrum, width_, height_, fftLine_);
  TakeChanges();
}

void LiveListSource::TakeChanges() {
  // The stream follows the newest change from the next frame.
  LiveFinderUpdate update;
  bool changed = false;
  while (finder_.Poll(&update)) {
    found_ = std::move(update.filters);
    changed = true;
  }
  if (changed) ++version_;
}

}  // namespace qrx
