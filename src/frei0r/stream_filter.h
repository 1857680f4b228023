// One frei0r instance: a stream of BGRA frames of one size through its own
// frame pipeline. Parameters are kept as the host sets them and take effect
// on the next frame; a frame that follows a change (or is the first) leaves
// only once the mask of the new list is in place, while frames in between
// changes never wait. Bad input is reported in one line on standard error
// and the frames pass unchanged until the parameters change again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "frei0r/list_source.h"
#include "frei0r/stream_settings.h"
#include "plugin/frame_pipeline.h"

namespace qrx {

class StreamFilter {
 public:
  // The sizes the filter takes: smaller or larger frames pass unchanged.
  static constexpr uint32_t kMinWidth = 8, kMinHeight = 6, kMaxSize = 8192;
  // How long a frame waits at most for the mask of a new list.
  static constexpr uint32_t kMaskWaitMs = 5000;

  StreamFilter(uint32_t width, uint32_t height);
  ~StreamFilter();
  StreamFilter(const StreamFilter&) = delete;
  StreamFilter& operator=(const StreamFilter&) = delete;

  // Parameters by name of field; a value equal to the current one is no
  // change (hosts that set every parameter before every frame then cost
  // nothing).
  void SetSettingsPath(const char* value) { SetText(&parameters_.settings, value); }
  void SetSection(const char* value) { SetText(&parameters_.section, value); }
  void SetFilters(const char* value) { SetText(&parameters_.filters, value); }
  void SetFftLine(double value);
  const ModuleParameters& Parameters() const { return parameters_; }

  // in and out hold width x height BGRA pixels and do not overlap (a host
  // that passes the same buffer gets the frame filtered in place).
  void Update(const uint8_t* in, uint8_t* out);

  // For tests: whether the last frame was filtered, and the pipeline.
  bool Filtering() const { return filtering_; }
  const FramePipeline& Pipeline() const { return pipeline_; }

 private:
  void SetText(std::string* field, const char* value);
  void Reconfigure();
  void PassUnchanged(const uint8_t* in, uint8_t* out) const;

  const uint32_t width_, height_;
  const bool sizeAccepted_;
  ModuleParameters parameters_;
  bool changed_ = true;
  bool filtering_ = false;
  FramePipeline pipeline_;
  int32_t pipelineFftLine_ = 0;
  uint8_t* work_ = nullptr;
  FixedListSource fixedSource_;
  FilterListSource* source_ = &fixedSource_;
  uint64_t listVersion_ = 0;
  FilterList filters_;
};

// The one line on standard error, "qrx_freqfilter: <text>".
void ReportLine(const std::string& text);

}  // namespace qrx
