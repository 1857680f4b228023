// Frames handed from one thread to the next: the stream command reads,
// filters and writes on three threads, so that reading and writing a frame
// overlap the filtering of another.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

namespace qrxhost {

// At most `capacity` frames wait: Push blocks while the queue is full, Pop
// while it is empty. After Close (either side may call it) Push refuses
// and Pop hands out what is left, then returns false.
class FrameQueue {
 public:
  explicit FrameQueue(size_t capacity) : capacity_(capacity) {}

  bool Push(std::vector<uint8_t>* frame) {
    std::unique_lock<std::mutex> hold(lock_);
    changed_.wait(hold, [this] { return closed_ || frames_.size() < capacity_; });
    if (closed_) return false;
    frames_.push_back(std::move(*frame));
    changed_.notify_all();
    return true;
  }

  bool Pop(std::vector<uint8_t>* frame) {
    std::unique_lock<std::mutex> hold(lock_);
    changed_.wait(hold, [this] { return closed_ || !frames_.empty(); });
    return Take(frame);
  }

  // Pop without waiting: false when nothing is there.
  bool TryPop(std::vector<uint8_t>* frame) {
    std::lock_guard<std::mutex> hold(lock_);
    return Take(frame);
  }

  // Push without waiting: false (and the frame left with the caller) when
  // the queue is full or closed.
  bool TryPush(std::vector<uint8_t>* frame) {
    std::lock_guard<std::mutex> hold(lock_);
    if (closed_ || frames_.size() >= capacity_) return false;
    frames_.push_back(std::move(*frame));
    changed_.notify_all();
    return true;
  }

  void Close() {
    std::lock_guard<std::mutex> hold(lock_);
    closed_ = true;
    changed_.notify_all();
  }

 private:
  bool Take(std::vector<uint8_t>* frame) {
    if (frames_.empty()) return false;
    *frame = std::move(frames_.front());
    frames_.pop_front();
    changed_.notify_all();
    return true;
  }

  std::mutex lock_;
  std::condition_variable changed_;
  std::deque<std::vector<uint8_t>> frames_;
  const size_t capacity_;
  bool closed_ = false;
};

}  // namespace qrxhost
