// The frame passes with the conversions and line transforms split by rows
// over the FFT's workers, against the same frame converted and transformed
// whole on one thread, stage after stage (the way Process ran before the
// stages moved onto the workers): every byte of the frame and of the
// conversion buffer must be equal, for odd sizes, both pixel formats, one to
// three workers, the demonstration split, and the mask applied on its own
// or taken in by the inverse transform.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "filter/filter_list.h"
#include "filter/mask_builder.h"
#include "frame/pixel_convert.h"
#include "plugin/frame_pipeline.h"
#include "transform/fft_engine.h"
#include "transform/line_transform.h"

namespace qrx {
namespace {

constexpr uint32_t kMarkColour = 0xA0A0A0;

FilterList TestFilters() {
  // A notch, a band and an adaptive clip (a Dot of strength 0).
  const std::string text =
      "En:1/Fx:1200/Fy:0/Wx:300/Wy:300/O:3/S:-60/T:0//"
      "En:1/Fx:1500/Fy:0/Wx:200/Wy:0/O:2/S:-40/T:1//"
      "En:1/Fx:800/Fy:-300/Wx:300/Wy:300/O:2/S:0/T:0//";
  FilterList list;
  ParseFilterText(text.data(), text.size(), &list);
  return list;
}

std::vector<uint8_t> Picture(int32_t width, int32_t height, int32_t bytesPerPixel, uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> noise(-30, 30);
  std::vector<uint8_t> frame(static_cast<size_t>(width) * height * bytesPerPixel);
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width * bytesPerPixel; ++x) {
      // Stripes for the filters to act on, and texture.
      const int v = 128 + ((x / 3 + y) % 16 < 8 ? 50 : -50) + noise(rng);
      frame[static_cast<size_t>(y) * width * bytesPerPixel + x] = static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
    }
  }
  return frame;
}

// One stream: a pipeline with its mask in place and, for 24-bit frames, a
// conversion buffer that persists from frame to frame as the plug-in's does.
struct Stream {
  FramePipeline pipeline;
  std::vector<uint8_t> conversion;
  FrameFormatRecord format;
  Stream(const FrameFormatRecord& f, int32_t fftLine, int32_t workers, const FilterList& filters)
      : conversion(static_cast<size_t>(f.width) * f.height * 2, 0), format(f) {
    if (!pipeline.Create(f, fftLine, workers)) return;
    pipeline.SetFilters(filters);
    pipeline.WaitForMask(60000);
  }
  bool Bgr() const { return format.pixelFormat == 1; }
};

// The frame through AnalyseFrame and SynthesiseFrame, the mask multiplied
// in on its own or on the way into the inverse transform.
void SplitFrame(Stream& s, std::vector<uint8_t>* host, const FilterList& filters, int32_t demo, bool maskLater) {
  FrameAccess frame;
  frame.host = host->data();
  frame.work = s.Bgr() ? s.conversion.data() : host->data();
  if (s.Bgr()) {
    frame.toWorking = ConvertToWorking;
    frame.fromWorking = ConvertFromWorking;
  }
  s.pipeline.AnalyseFrame(frame, filters, true, maskLater);
  s.pipeline.SynthesiseFrame(frame, demo, kMarkColour);
}

// The same frame stage after stage, each on the whole frame.
void WholeFrame(Stream& s, std::vector<uint8_t>* host, const FilterList& filters, int32_t demo) {
  const FrameFormatRecord& f = s.format;
  uint8_t* work = s.Bgr() ? s.conversion.data() : host->data();
  FftEngine& e = *s.pipeline.engine;
  if (s.Bgr()) ConvertToWorking(host->data(), work, f, 0, f.height);
  s.pipeline.lineTransform->Forward(work, e.Spectrum(), e.Pitch(), e.Window());
  e.Transform(+1);
  AdaptiveClip(filters, &e);
  e.ApplyMask();
  e.Transform(-1);
  s.pipeline.lineTransform->Backward(work, e.Spectrum(), e.Pitch(), e.InverseWindow(), 1.0f, demo);
  if (demo) {
    MarkRow(work, f.width, f.height, f.height / 2 - 1, kMarkColour);
    MarkRow(work, f.width, f.height, f.height / 2, kMarkColour);
  }
  if (s.Bgr()) ConvertFromWorking(work, host->data(), f, 0, f.height);
}

TEST(FramePipelineSplit, WorkersGiveTheBytesOfTheWholeFrameOnOneThread) {
  struct Case {
    int32_t width, height, fftLine, pixelFormat;
  };
  std::vector<Case> cases = {
      {97, 61, 256, 0},  {97, 61, 256, 1},   // shrinking lines, odd sizes
      {256, 45, 256, 0}, {256, 45, 256, 1},  // the direct path (width = FFT line)
      {171, 35, 512, 1}, {333, 77, 512, 0},  // widening lines
  };
#ifndef QRX_SMALL_TESTS
  cases.push_back({721, 575, 1024, 1});
  cases.push_back({720, 576, 512, 0});
#endif
  const FilterList filters = TestFilters();
  for (const Case& c : cases) {
    const FrameFormatRecord format = {c.width, c.height, 0, c.pixelFormat};
    const int32_t bytesPerPixel = c.pixelFormat == 1 ? 3 : 2;
    for (int32_t workers : {1, 2, 3}) {
      Stream reference(format, c.fftLine, 1, filters), split(format, c.fftLine, workers, filters);
      ASSERT_TRUE(reference.pipeline.Ready() && split.pipeline.Ready());
      // Two frames per demo setting: the second starts from the conversion
      // buffer the first left behind.
      for (int32_t frameIndex = 0; frameIndex < 4; ++frameIndex) {
        const int32_t demo = frameIndex / 2;
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " FFT " << c.fftLine << " format "
                                        << c.pixelFormat << " workers " << workers << " frame " << frameIndex);
        const std::vector<uint8_t> input = Picture(c.width, c.height, bytesPerPixel, 17 * frameIndex + workers);
        std::vector<uint8_t> expected = input, actual = input;
        WholeFrame(reference, &expected, filters, demo);
        SplitFrame(split, &actual, filters, demo, frameIndex % 2 == 1);
        ASSERT_NE(expected, input);  // the filters changed the picture
        ASSERT_EQ(actual, expected);
        ASSERT_EQ(split.conversion, reference.conversion);
      }
    }
  }
}

}  // namespace
}  // namespace qrx
