#include "frei0r/stream_filter.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

#include "frame/pixel_bgra.h"
#include "platform/platform.h"

namespace qrx {

void ReportLine(const std::string& text) { std::fprintf(stderr, "qrx_freqfilter: %s\n", text.c_str()); }

StreamFilter::StreamFilter(uint32_t width, uint32_t height)
    : width_(width),
      height_(height),
      sizeAccepted_(width >= kMinWidth && height >= kMinHeight && width <= kMaxSize && height <= kMaxSize) {}

StreamFilter::~StreamFilter() {
  // The mask builder's thread ends before the buffers go.
  pipeline_.Destroy();
  platform::AlignedFree(work_);
}

void StreamFilter::SetText(std::string* field, const char* value) {
  const char* text = value != nullptr ? value : "";
  if (*field == text) return;
  *field = text;
  changed_ = true;
}

void StreamFilter::SetFftLine(double value) {
  const double current = parameters_.fftLine;
  if (value == current || (std::isnan(value) && std::isnan(current))) return;
  parameters_.fftLine = value;
  changed_ = true;
}

void StreamFilter::SetAuto(double value) {
  const bool on = value >= 0.5;
  if (on == parameters_.autoFind) return;
  parameters_.autoFind = on;
  changed_ = true;
}

void StreamFilter::PassUnchanged(const uint8_t* in, uint8_t* out) const {
  if (in != out) std::memcpy(out, in, static_cast<size_t>(width_) * height_ * 4);
}

void StreamFilter::Reconfigure() {
  changed_ = false;
  filtering_ = false;
  const std::string unchanged = ": frames pass unchanged";
  if (!sizeAccepted_) {
    ReportLine("frames of " + std::to_string(width_) + " x " + std::to_string(height_) +
               " are outside 8 x 6 .. 8192 x 8192" + unchanged);
    return;
  }
  StreamSettings settings;
  std::string error;
  if (!ResolveStreamSettings(parameters_, &settings, &error)) {
    ReportLine(error + unchanged);
    return;
  }
  if (!settings.filtering) {
    ReportLine(settings.idleReason + unchanged);
    return;
  }
  if (work_ == nullptr) {
    work_ = static_cast<uint8_t*>(platform::AlignedAlloc(static_cast<size_t>(width_) * height_ * 2));
    if (work_ == nullptr) {
      ReportLine("out of memory for " + std::to_string(width_) + " x " + std::to_string(height_) + " frames" +
                 unchanged);
      return;
    }
  }
  if (!pipeline_.Ready() || pipelineFftLine_ != settings.fftLine) {
    // The working layout, top line first.
    const FrameFormatRecord format = {static_cast<int32_t>(width_), static_cast<int32_t>(height_), 0, 0};
    if (!pipeline_.Create(format, settings.fftLine)) {
      pipelineFftLine_ = 0;
      ReportLine("cannot set up the filter for " + std::to_string(width_) + " x " + std::to_string(height_) +
                 " frames with FFT line " + std::to_string(settings.fftLine) + unchanged);
      return;
    }
    pipelineFftLine_ = settings.fftLine;
    // A new builder holds the neutral mask: the list goes to it again.
    listVersion_ = 0;
  }
  if (parameters_.autoFind) {
    if (liveSource_ == nullptr)
      liveSource_.reset(new (std::nothrow) LiveListSource(static_cast<int32_t>(width_), static_cast<int32_t>(height_)));
    if (liveSource_ == nullptr || !liveSource_->IsUsable()) {
      liveSource_.reset();
      ReportLine("cannot start the interference finder" + unchanged);
      return;
    }
    liveSource_->SetBase(std::move(settings.filters), settings.fftLine);
    source_ = liveSource_.get();
  } else {
    // Off: the finder's thread ends.
    liveSource_.reset();
    fixedSource_.Set(std::move(settings.filters));
    source_ = &fixedSource_;
  }
  filtering_ = true;
}

void StreamFilter::Update(const uint8_t* in, uint8_t* out) {
  if (in == nullptr || out == nullptr) return;
  if (changed_) Reconfigure();
  if (!filtering_) {
    PassUnchanged(in, out);
    return;
  }
  bool awaitMask = false;
  const uint64_t version = source_->Version();
  if (version != listVersion_) {
    if (source_->CopyList(&filters_)) {
      pipeline_.SetFilters(filters_);
      awaitMask = true;
    }
    listVersion_ = version;
  }
  const size_t pixels = static_cast<size_t>(width_) * height_;
  BgraToLumaPairs(in, work_, pixels);
  // Until the finder has found something the frames leave as they came,
  // not resampled through a neutral mask; it sees their pixels then, and
  // the spectra of the frames that are filtered.
  const bool pass = source_ == liveSource_.get() && filters_.Count() == 0;
  SpectrumObserver* analyser = pass ? nullptr : source_->Analyser();
  if (analyser == nullptr) source_->Observe(work_, static_cast<int32_t>(width_), static_cast<int32_t>(height_));
  if (pass) {
    PassUnchanged(in, out);
    return;
  }
  // The mask is built while the frame was converted; only a frame after a
  // change waits for the rest.
  if (awaitMask && !pipeline_.WaitForMask(kMaskWaitMs)) {
    ReportLine("the mask of the new filters was not ready after " + std::to_string(kMaskWaitMs / 1000) +
               " s; this frame had the previous one");
  }
  pipeline_.Analyse(work_, filters_, true, analyser);
  pipeline_.Synthesise(work_, 0);
  ApplyLumaPairsToBgra(work_, in, out, pixels);
}

}  // namespace qrx
