#pragma once

#include <cstddef>
#include <cstdint>

#include "file_system.h"
#include "page_buffer.h"

namespace tarnwhistle::platform {

// Writes a file through a buffer that callers fill directly, a run of bytes at a time.
// A failed write is remembered: later bytes are dropped and Drain() keeps saying false.
class ByteWriter {
 public:
  static constexpr std::size_t kDefaultBufferSize = 1024 * 1024;
  static constexpr std::size_t kMinimumBufferSize = 256;

  explicit ByteWriter(WriteHandle& file, std::size_t buffer_size = kDefaultBufferSize);

  // Returns room for at least `size` bytes (at most Capacity()); the caller writes its
  // bytes there, then hands back the end of what it wrote.
  std::uint8_t* Reserve(std::size_t size) {
    if (static_cast<std::size_t>(end_ - next_) < size) Drain();
    return next_;
  }
  void Advance(std::uint8_t* written_end) { next_ = written_end; }
  std::size_t Capacity() const { return buffer_.size(); }

  // Hands every buffered byte to the file. False once any write has failed.
  bool Drain();

  bool Failed() const { return failed_; }

 private:
  WriteHandle& file_;
  PageBuffer buffer_;
  std::uint8_t* next_;
  std::uint8_t* end_;
  bool failed_ = false;
};

}  // namespace tarnwhistle::platform
