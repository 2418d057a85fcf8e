#include "byte_writer.h"

#include <algorithm>

namespace tarnwhistle::platform {

ByteWriter::ByteWriter(WriteHandle& file, std::size_t buffer_size)
    : file_(file),
      buffers_{PageBuffer(std::max(buffer_size, kMinimumBufferSize)), PageBuffer(std::max(buffer_size, kMinimumBufferSize))},
      next_(buffers_[0].data()),
      end_(next_ + buffers_[0].size()) {}

ByteWriter::~ByteWriter() {
  if (!background_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  background_.join();
}

void ByteWriter::HandOver() {
  WaitForBackground();
  std::uint8_t* filled = buffers_[current_].data();
  std::size_t size = static_cast<std::size_t>(next_ - filled);
  if (size > 0 && !failed_) {
    if (!background_.joinable()) background_ = std::thread(&ByteWriter::BackgroundLoop, this);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      handed_ = filled;
      handed_size_ = size;
    }
    changed_.notify_all();
  }
  current_ = 1 - current_;
  next_ = buffers_[current_].data();
  end_ = next_ + buffers_[current_].size();
}

void ByteWriter::WaitForBackground() {
  if (!background_.joinable()) return;
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return handed_ == nullptr; });
  if (handed_failed_) failed_ = true;
}

bool ByteWriter::Drain() {
  HandOver();
  WaitForBackground();
  return !failed_;
}

void ByteWriter::BackgroundLoop() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return handed_ != nullptr || stopping_; });
    if (handed_ == nullptr) return;  // stopping, with nothing left to write
    const std::uint8_t* data = handed_;
    std::size_t size = handed_size_;
    lock.unlock();
    bool written = file_.Write(data, size);
    lock.lock();
    if (!written) handed_failed_ = true;
    handed_ = nullptr;
    changed_.notify_all();
  }
}

}  // namespace tarnwhistle::platform
