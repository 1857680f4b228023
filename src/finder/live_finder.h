// Finding periodic interference while a stream runs.
//
// Frames go in one at a time on the stream's own thread (Feed: cheap, at
// most a copy of the frame now and then). A thread of the finder's own
// keeps a running average of their spectrum, looks at it at a fixed
// interval of frames and hands out a new filter list only when something
// changed: interference appeared, moved outside its notch, or went away.
// Static interference keeps the very same list.
//
// Frames are numbered from 0 in the order they are fed, over the finder's
// whole life (a restart does not renumber them). Instances share nothing;
// destroying one at any time is safe: its thread is told to stop, leaves
// its work at the next step and is joined.
#pragma once

#include <cstdint>
#include <memory>

#include "filter/filter_list.h"
#include "finder/interference_finder.h"

namespace qrx {

struct LiveFinderOptions {
  // One of this many frames enters the running average (its spectrum is
  // the finder's main cost).
  int32_t analyseEvery = 8;
  // Frames between two looks at the average (a multiple of analyseEvery).
  int32_t lookEvery = 8;
  // Time constant of the running average, in analysed frames.
  int32_t memory = 2;
  // A filter whose interference is no longer seen goes after this many
  // looks in a row without it.
  int32_t looksToDrop = 2;
  // Feed waits until the finder has taken the frame it wants instead of
  // passing it by while the finder is busy: for file processing, where the
  // result must not depend on timing. A live stream leaves it false.
  bool waitForFinder = false;
  FinderLimits limits;
};

// A change of the filter list and the frame from which on it applies: the
// frame of the look that found it, or, for the first look after a start or
// restart, the first frame of it (those frames had no list before).
struct LiveFinderUpdate {
  int64_t frame = -1;
  FilterList filters;
};

// A frame's spectrum as the filter's own engine left it after the forward
// transform, before its clip and mask: rows x bins complex values (re, im
// floats), pitch complex values from one row to the next. The finder's
// average takes it in place of a transform of its own.
struct FrameSpectrum {
  const float* values = nullptr;
  int32_t rows = 0, bins = 0, pitch = 0;
};

// What the finder did so far (for logs, tests and benchmarks).
struct LiveFinderStats {
  int64_t framesFed = 0;
  int64_t framesAnalysed = 0;
  int64_t framesPassed = 0;  // wanted for the average while the finder was busy
  int64_t looks = 0;
  int64_t changes = 0;
  int64_t restarts = 0;
};

class LiveFinder {
 public:
  explicit LiveFinder(const LiveFinderOptions& options = LiveFinderOptions());
  ~LiveFinder();
  LiveFinder(const LiveFinder&) = delete;
  LiveFinder& operator=(const LiveFinder&) = delete;

  // False when the finder's thread could not be started.
  bool IsUsable() const;

  // The stream's thread. work: one frame in the working layout (packed
  // 4:2:2, bytes Y0 Cb Y1 Cr, top line first), width x height pixels;
  // fftLine: the stream's FFT line length (256, 512 or 1024). A size or FFT
  // line other than the previous frame's restarts the finder: the average
  // starts anew and, when the last list handed out was not empty, an empty
  // list is handed out from this frame on. A size the filter refuses is
  // passed by (no filters for it). Returns the frame's number.
  int64_t Feed(const uint8_t* work, int32_t width, int32_t height, int32_t fftLine);
  // The same frame by its spectrum, for a stream that transforms it anyway
  // (it is then not transformed twice); copied only when the finder wants
  // the frame. Frames fed either way count alike and may alternate. A
  // spectrum whose sizes are not those of the finder's engine for this
  // frame size and FFT line is passed by.
  int64_t FeedSpectrum(const FrameSpectrum& spectrum, int32_t width, int32_t height, int32_t fftLine);

  // Any thread; never waits for the finder's work. True when a change is
  // ready: update receives the oldest one not yet taken. Changes come out in
  // the order of their frames; each list differs from the one before it.
  bool Poll(LiveFinderUpdate* update);

  // The newest frame the finder has looked at (-1 before the first look):
  // every change up to it can be taken from Poll. Read it before draining
  // Poll to know which frames' lists are final.
  int64_t LookedThrough() const;

  // Asks for a look at the newest frame fed even off the interval (the end
  // of a stream); returns at once.
  void LookNow();
  // Waits until the finder has looked through the frame (or the time-out in
  // milliseconds passed); for consumers that may wait, such as a file host.
  bool WaitForLook(int64_t frame, uint32_t timeoutMs) const;

  LiveFinderStats Stats() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qrx
