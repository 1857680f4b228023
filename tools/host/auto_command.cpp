#include "auto_command.h"

#include <cstdio>
#include <deque>
#include <vector>

#include "filter/filter_list.h"
#include "finder/live_finder.h"
#include "frame/pixel_convert.h"
#include "frame_reader.h"
#include "host_platform.h"
#include "host_settings.h"
#include "plugin/frame_pipeline.h"

namespace qrxhost {

namespace {

// A list's mask is built in well under this; a stream that waits longer has
// a broken mask builder.
constexpr uint32_t kMaskWaitMs = 30000;
// The finder's last look, at the end of the stream.
constexpr uint32_t kLastLookMs = 120000;

int Fail(const std::string& message) {
  std::fprintf(stderr, "qrx_host: %s\n", message.c_str());
  return 1;
}

struct PendingFrame {
  int64_t number;
  std::vector<uint8_t> work;  // working layout
};

// The filtering side of the pass: the list in force, its mask, and where the
// frames go.
class AutoFilter {
 public:
  AutoFilter(const StreamFormat& format, std::FILE* out) : format_(format), out_(out) {}

  bool Create(int32_t fftLine) {
    return pipeline_.Create(qrx::FrameFormatRecord{format_.width, format_.height, 0, 0}, fftLine);
  }

  // A new list from its frame on.
  bool Change(int64_t frame, qrx::FilterList&& list) {
    filters_ = std::move(list);
    pipeline_.SetFilters(filters_);
    std::fprintf(stderr, "qrx_host: frame %lld: %d filters: Filter=%s\n", static_cast<long long>(frame),
                 filters_.Count(), qrx::FormatFilterText(filters_).c_str());
    return pipeline_.WaitForMask(kMaskWaitMs);
  }

  // With no filters the frame passes unchanged (filtering would only soften
  // it); otherwise it goes through the pipeline.
  bool Write(PendingFrame* f) {
    if (filters_.Count() > 0) {
      pipeline_.Analyse(f->work.data(), filters_, true);
      pipeline_.Synthesise(f->work.data(), 0);
    }
    if (out_ == nullptr) return true;
    const std::vector<uint8_t>* bytes = &f->work;
    if (format_.bgr24) {
      host_.resize(format_.FrameBytes());
      const qrx::FrameFormatRecord record{format_.width, format_.height, 0, 1};
      qrx::ConvertFromWorking(f->work.data(), host_.data(), record, 0, format_.height);
      format_.FlipIfTopDown(&host_);
      bytes = &host_;
    }
    return std::fwrite(bytes->data(), 1, bytes->size(), out_) == bytes->size();
  }

  const qrx::FilterList& Filters() const { return filters_; }

 private:
  StreamFormat format_;
  std::FILE* out_;
  qrx::FramePipeline pipeline_;
  qrx::FilterList filters_;
  std::vector<uint8_t> host_;
};

// Writes the frames the finder has looked at, each with the list in force
// for it. False when a mask did not come or the output failed.
bool WriteLookedAt(qrx::LiveFinder& finder, std::deque<qrx::LiveFinderUpdate>* changes,
                   std::deque<PendingFrame>* pending, AutoFilter* filter, std::string* error) {
  const int64_t through = finder.LookedThrough();
  qrx::LiveFinderUpdate u;
  while (finder.Poll(&u)) changes->push_back(std::move(u));
  while (!pending->empty() && pending->front().number <= through) {
    PendingFrame& f = pending->front();
    while (!changes->empty() && changes->front().frame <= f.number) {
      if (!filter->Change(changes->front().frame, std::move(changes->front().filters))) {
        *error = "the filter mask was not built in time";
        return false;
      }
      changes->pop_front();
    }
    if (!filter->Write(&f)) {
      *error = "write failed";
      return false;
    }
    pending->pop_front();
  }
  return true;
}

// Reads, finds and writes the whole stream; 0 or, after a one-line
// message, 1.
int FilterStream(const AutoRequest& r, int32_t fftLine, FrameReader& reader, AutoFilter& filter, int64_t* frames) {
  const StreamFormat& f = r.format;
  qrx::LiveFinderOptions options;
  options.waitForFinder = true;  // the same result whatever the machine's load
  qrx::LiveFinder finder(options);
  std::deque<PendingFrame> pending;
  std::deque<qrx::LiveFinderUpdate> changes;
  std::vector<uint8_t> frame;
  const qrx::FrameFormatRecord host{f.width, f.height, 0, 1};
  std::string error;
  while (r.maxFrames < 0 || *frames < r.maxFrames) {
    const FrameReader::Result got = reader.Next(&frame);
    if (got == FrameReader::Result::kEnd) break;
    if (got == FrameReader::Result::kError) return Fail("cannot read " + r.input);
    if (got == FrameReader::Result::kTruncated)
      return Fail("frame " + std::to_string(*frames + 1) + " of " + r.input + " is incomplete");
    PendingFrame p{(*frames)++, {}};
    if (f.bgr24) {
      f.FlipIfTopDown(&frame);
      p.work.resize(static_cast<size_t>(f.width) * f.height * 2);
      qrx::ConvertToWorking(frame.data(), p.work.data(), host, 0, f.height);
    } else {
      p.work.swap(frame);
    }
    finder.Feed(p.work.data(), f.width, f.height, fftLine);
    pending.push_back(std::move(p));
    if (!WriteLookedAt(finder, &changes, &pending, &filter, &error)) return Fail(error);
  }
  if (*frames == 0) return Fail("no frames in " + r.input);
  finder.LookNow();
  if (!finder.WaitForLook(*frames - 1, kLastLookMs)) return Fail("the finder did not finish its last look");
  if (!WriteLookedAt(finder, &changes, &pending, &filter, &error)) return Fail(error);
  return 0;
}

}  // namespace

int RunAuto(const AutoRequest& r) {
  ChannelSettingsView view;
  std::string error;
  if (!ReadChannelSettings(r.settings, r.keyLow, r.keyHigh, &view, &error)) return Fail(error);
  const StreamFormat& f = r.format;
  FrameReader reader;
  if (!reader.Open(r.input, f.FrameBytes(), &error)) return Fail(error);
  std::FILE* out = nullptr;
  if (!r.output.empty()) {
    out = r.output == "-" ? stdout : std::fopen(r.output.c_str(), "wb");
    if (out == nullptr) return Fail("cannot create " + r.output);
    if (out == stdout) SetBinaryMode(stdout);
  }
  AutoFilter filter(f, out);
  int64_t frames = 0;
  int status = 0;
  if (!filter.Create(view.fftLine)) {
    char text[96];
    std::snprintf(text, sizeof(text), "the plug-in does not process %dx%d frames", f.width, f.height);
    status = Fail(text);
  } else {
    status = FilterStream(r, view.fftLine, reader, filter, &frames);
  }
  if (out == stdout) {
    std::fflush(stdout);
  } else if (out != nullptr) {
    std::fclose(out);
  }
  if (status != 0) return status;
  if (!r.writeSettings.empty()) {
    const std::string text = qrx::FormatFilterText(filter.Filters());
    const int32_t procEnable = filter.Filters().Count() > 0 ? 1 : 0;
    if (!WriteChannelSettings(r.settings, r.writeSettings, r.keyLow, r.keyHigh, procEnable, text, &error))
      return Fail(error);
  }
  std::fprintf(stderr, "qrx_host: %lld frames, FFT line %d: %d filters at the end\n", static_cast<long long>(frames),
               view.fftLine, filter.Filters().Count());
  return 0;
}

}  // namespace qrxhost
