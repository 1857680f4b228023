// Raw frames, back to back, from a file or standard input.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace qrxhost {

class FrameReader {
 public:
  enum class Result { kFrame, kEnd, kTruncated, kError };

  FrameReader() = default;
  ~FrameReader();
  FrameReader(const FrameReader&) = delete;
  FrameReader& operator=(const FrameReader&) = delete;

  // path "-" is standard input. False with a one-line reason.
  bool Open(const std::string& path, size_t frameBytes, std::string* error);
  // kFrame: frame holds the next frame. kTruncated: the input ended inside
  // a frame (BytesRead() tells how far). kError: a read error.
  Result Next(std::vector<uint8_t>* frame);
  size_t BytesRead() const { return got_; }
  size_t FrameBytes() const { return frameBytes_; }

 private:
  std::FILE* file_ = nullptr;
  bool ownsFile_ = false;
  size_t frameBytes_ = 0;
  size_t got_ = 0;
};

// Reverses the order of the lines of a frame in place (24-bit frames come
// top line first from ffmpeg; the plug-in takes them bottom line first).
void FlipLines(std::vector<uint8_t>* frame, size_t lineBytes, int32_t height);

}  // namespace qrxhost
