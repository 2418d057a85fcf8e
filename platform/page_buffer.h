#pragma once

#include <cstddef>
#include <cstdint>
#include <new>

namespace tarnwhistle::platform {

// A heap buffer that starts on a page boundary. A large std::vector starts 16 bytes
// past one (where malloc puts a large block), and the kernel's copy of a read into such
// a buffer measured up to three times slower than into an aligned one.
class PageBuffer {
 public:
  static constexpr std::size_t kAlignment = 4096;

  explicit PageBuffer(std::size_t size)
      : data_(static_cast<std::uint8_t*>(::operator new(size, std::align_val_t{kAlignment}))), size_(size) {}
  ~PageBuffer() { ::operator delete(data_, std::align_val_t{kAlignment}); }
  PageBuffer(const PageBuffer&) = delete;
  PageBuffer& operator=(const PageBuffer&) = delete;

  std::uint8_t* data() const { return data_; }
  std::size_t size() const { return size_; }

 private:
  std::uint8_t* data_;
  std::size_t size_;
};

}  // namespace tarnwhistle::platform
