// The automatic mode's list: the filters the module's parameters give, with
// those the live interference finder hands out added after them. The finder
// sees every frame of the stream (the spectrum of those it filters); a
// change it finds shows in the version the stream reads before the next
// frame.
#pragma once

#include <cstdint>

#include "finder/live_finder.h"
#include "frei0r/list_source.h"

namespace qrx {

class LiveListSource final : public FilterListSource, private SpectrumObserver {
 public:
  // The stream's frame size.
  LiveListSource(int32_t width, int32_t height) : width_(width), height_(height) {}

  // False when the finder's thread could not be started.
  bool IsUsable() const { return finder_.IsUsable(); }
  // The parameters' list and the stream's FFT line (the finder restarts on
  // a new line).
  void SetBase(FilterList&& base, int32_t fftLine);

  uint64_t Version() const override { return version_; }
  bool CopyList(FilterList* list) const override;
  void Observe(const uint8_t* work, int32_t width, int32_t height) override;
  // The filtered frames' spectra go to the finder in place of their pixels:
  // the stream's own transform serves both.
  SpectrumObserver* Analyser() override { return this; }

 private:
  void ObserveSpectrum(const FftEngine& engine) override;
  // Takes the finder's changes: only the newest counts.
  void TakeChanges();

  const int32_t width_, height_;
  LiveFinder finder_;
  FilterList base_, found_;
  int32_t fftLine_ = 512;
  uint64_t version_ = 1;
};

}  // namespace qrx
