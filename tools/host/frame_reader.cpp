#include "frame_reader.h"

#include <cerrno>
#include <cstring>

#include "host_platform.h"

namespace qrxhost {

FrameReader::~FrameReader() {
  if (ownsFile_) std::fclose(file_);
}

bool FrameReader::Open(const std::string& path, size_t frameBytes, std::string* error) {
  frameBytes_ = frameBytes;
  if (path == "-") {
    file_ = stdin;
    SetBinaryMode(stdin);
    return true;
  }
  file_ = std::fopen(path.c_str(), "rb");
  if (file_ == nullptr) {
    *error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  ownsFile_ = true;
  return true;
}

FrameReader::Result FrameReader::Next(std::vector<uint8_t>* frame) {
  frame->resize(frameBytes_);
  got_ = std::fread(frame->data(), 1, frameBytes_, file_);
  if (got_ == frameBytes_) return Result::kFrame;
  if (std::ferror(file_)) return Result::kError;
  return got_ == 0 ? Result::kEnd : Result::kTruncated;
}

void FlipLines(std::vector<uint8_t>* frame, size_t lineBytes, int32_t height) {
  std::vector<uint8_t> line(lineBytes);
  for (int32_t top = 0, bottom = height - 1; top < bottom; ++top, --bottom) {
    uint8_t* a = &(*frame)[top * lineBytes];
    uint8_t* b = &(*frame)[bottom * lineBytes];
    std::memcpy(line.data(), a, lineBytes);
    std::memcpy(a, b, lineBytes);
    std::memcpy(b, line.data(), lineBytes);
  }
}

}  // namespace qrxhost
