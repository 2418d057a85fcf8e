#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "file_system.h"

namespace tarnwhistle::platform {

// Writes a file one byte (or one run of bytes) at a time, with a buffer underneath.
// A failed write is remembered: later bytes are dropped and Drain() keeps saying false.
class ByteWriter {
 public:
  static constexpr std::size_t kDefaultBufferSize = 256 * 1024;

  explicit ByteWriter(WriteHandle& file, std::size_t buffer_size = kDefaultBufferSize);

  void WriteByte(std::uint8_t byte) {
    if (next_ == end_) Drain();
    *next_++ = byte;
  }

  void Write(const std::uint8_t* data, std::size_t size) {
    if (size <= static_cast<std::size_t>(end_ - next_)) {
      std::memcpy(next_, data, size);
      next_ += size;
    } else {
      WriteLong(data, size);
    }
  }

  // Hands every buffered byte to the file. False once any write has failed.
  bool Drain();

  bool Failed() const { return failed_; }

 private:
  void WriteLong(const std::uint8_t* data, std::size_t size);

  WriteHandle& file_;
  std::vector<std::uint8_t> buffer_;
  std::uint8_t* next_;
  std::uint8_t* end_;
  bool failed_ = false;
};

}  // namespace tarnwhistle::platform
