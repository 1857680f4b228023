// The processing objects of one stream (line transform, FFT engine, mask
// builder) and the passes a frame makes through them. The plug-in's exports
// drive the one in PluginState; other faces of the filter (the frei0r module,
// the reference host's automatic mode) own one each, so instances share
// nothing.
#pragma once

#include <cstdint>

#include "filter/filter_list.h"
#include "frame/pixel_convert.h"

namespace qrx {

class LineTransform;
class FftEngine;
class MaskBuilder;

class FramePipeline {
 public:
  FramePipeline() = default;
  ~FramePipeline() { Destroy(); }
  FramePipeline(const FramePipeline&) = delete;
  FramePipeline& operator=(const FramePipeline&) = delete;

  // Builds the three objects for frames of this format (the working layout's
  // sizes) and an effective FFT line of 256, 512 or 1024. All or nothing: on
  // any failure whatever was built is destroyed and false is returned. The
  // mask starts neutral (all 1.0, gain 1) until a list is handed over.
  bool Create(const FrameFormatRecord& format, int32_t fftLine);
  // Builder first (its thread writes the engine's mask), then engine, then
  // line transform; every pointer is null afterwards.
  void Destroy();
  bool Ready() const { return lineTransform != nullptr && engine != nullptr && maskBuilder != nullptr; }

  // Hands the list to the mask builder; returns at once.
  void SetFilters(const FilterList& filters);
  // Waits until the engine holds the mask of the last list handed over;
  // false after timeoutMs or without a builder.
  bool WaitForMask(uint32_t timeoutMs) const;

  // A working-layout frame into the engine's spectrum (windowed rows,
  // forward transform); with filtering, the adaptive clip of the list's
  // strength-0 Dots and the mask are applied.
  void Analyse(const uint8_t* work, const FilterList& filters, bool filtering);
  // The spectrum back into the frame's luma: inverse transform, unwindowed,
  // rows 0 .. H/2-1 only when demo is 1. Returns the gain of the mask that
  // was applied.
  float Synthesise(uint8_t* work, int32_t demo);

  LineTransform* lineTransform = nullptr;
  FftEngine* engine = nullptr;
  MaskBuilder* maskBuilder = nullptr;
};

}  // namespace qrx
