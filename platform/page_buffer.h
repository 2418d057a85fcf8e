#pragma once

#include <cstddef>
#include <cstdint>

namespace tarnwhistle::platform {

// A heap buffer that starts on a page boundary. A large std::vector starts 16 bytes
// past one (where malloc puts a large block), and the kernel's copy of a read into such
// a buffer measured up to three times slower than into an aligned one.
//
// Large buffers are kept by their thread when freed and handed to the next one of the
// same size: the allocator maps each 1 MiB block afresh and unmaps it on free, and on
// 10,000 small files (bench/compare.sh) that mapping, unmapping and touching of new
// pages took most of the time.
class PageBuffer {
 public:
  static constexpr std::size_t kAlignment = 4096;

  explicit PageBuffer(std::size_t size);
  ~PageBuffer();
  PageBuffer(const PageBuffer&) = delete;
  PageBuffer& operator=(const PageBuffer&) = delete;

  std::uint8_t* data() const { return data_; }
  std::size_t size() const { return size_; }

 private:
  std::uint8_t* data_;
  std::size_t size_;
};

}  // namespace tarnwhistle::platform
