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

// Converts lines first .. first + count - 1 (working-layout numbering)
// between a host frame and the working layout: ConvertToWorking and
// ConvertFromWorking have this form.
using LineConversion = void (*)(const uint8_t* source, uint8_t* destination, const FrameFormatRecord& format,
                                int32_t firstLine, int32_t lineCount);

// A host frame as the passes see it. With conversions, `host` is converted
// into `work` (a working-layout buffer of the frame's size) on the way in
// and back on the way out; without, the frame is in the working layout and
// `work` is the frame itself (`host` unused).
struct FrameAccess {
  uint8_t* host = nullptr;
  uint8_t* work = nullptr;
  LineConversion toWorking = nullptr;
  LineConversion fromWorking = nullptr;
};

// Sees each frame's spectrum between the forward transform and the clip
// and mask: an analyser that shares the filter's transform instead of
// computing its own. Called on the frame's thread; it must not keep the
// pointer.
class SpectrumObserver {
 public:
  virtual void ObserveSpectrum(const FftEngine& engine) = 0;

 protected:
  ~SpectrumObserver() = default;
};

class FramePipeline {
 public:
  FramePipeline();
  ~FramePipeline();
  FramePipeline(const FramePipeline&) = delete;
  FramePipeline& operator=(const FramePipeline&) = delete;

  // Builds the three objects for frames of this format (the working layout's
  // sizes) and an effective FFT line of 256, 512 or 1024. All or nothing: on
  // any failure whatever was built is destroyed and false is returned. The
  // mask starts neutral (all 1.0, gain 1) until a list is handed over.
  bool Create(const FrameFormatRecord& format, int32_t fftLine) { return Create(format, fftLine, 0); }
  // The same with a given number of FFT workers of each kind (0: one per
  // usable processor, at most 8); tests force counts with it.
  bool Create(const FrameFormatRecord& format, int32_t fftLine, int32_t workerCount);
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
  // strength-0 Dots and the mask are applied. An observer, when given, sees
  // the spectrum before they are (AnalyseFrame's likewise).
  void Analyse(const uint8_t* work, const FilterList& filters, bool filtering, SpectrumObserver* observer = nullptr);
  // The spectrum back into the frame's luma: inverse transform, unwindowed,
  // rows 0 .. H/2-1 only when demo is 1. Returns the gain of the mask that
  // was applied.
  float Synthesise(uint8_t* work, int32_t demo);

  // The same two passes on a host frame: the conversions and the line
  // transforms run on the FFT's row workers, split by rows and fused with
  // the row transforms, with the results of converting and transforming the
  // whole frame on one thread. SynthesiseFrame with demo 1 writes rows
  // 0 .. H/2-1 only and adds markColour (0x00BBGGRR, as MarkRow) to rows
  // H/2-1 and H/2 before they are converted back.
  // With maskLater, the mask is not multiplied into the spectrum here but
  // on the way into the next SynthesiseFrame's inverse transform (the same
  // products, one pass less over the spectrum): for callers that do not
  // look at the spectrum in between.
  void AnalyseFrame(const FrameAccess& frame, const FilterList& filters, bool filtering, bool maskLater = false,
                    SpectrumObserver* observer = nullptr);
  float SynthesiseFrame(const FrameAccess& frame, int32_t demo, uint32_t markColour);

  LineTransform* lineTransform = nullptr;
  FftEngine* engine = nullptr;
  MaskBuilder* maskBuilder = nullptr;

 private:
  class Rows;
  // The inverse pass of Synthesise and SynthesiseFrame.
  float Inverse(const FrameAccess& frame, int32_t demo, bool mark, uint32_t markColour);
  Rows* rows_ = nullptr;
  bool maskPending_ = false;  // AnalyseFrame left the mask to SynthesiseFrame
};

}  // namespace qrx
