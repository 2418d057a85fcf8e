#include "page_buffer.h"

#include <new>

namespace tarnwhistle::platform {
namespace {

// Smaller blocks come from the allocator's own free lists cheaply.
constexpr std::size_t kKeptFrom = 64 * 1024;
// Two kept a thread: the serial road's piece read and piece converted, or a file held
// whole's one buffer. The overlapped road holds five at once (a piece read and four being
// written); two of them are kept, the others allocated afresh each time.
constexpr int kKept = 2;

std::uint8_t* Allocate(std::size_t size) {
  return static_cast<std::uint8_t*>(::operator new(size, std::align_val_t{PageBuffer::kAlignment}));
}
void Free(std::uint8_t* data) { ::operator delete(data, std::align_val_t{PageBuffer::kAlignment}); }

struct SpareBuffers {
  std::uint8_t* data[kKept] = {};
  std::size_t size[kKept] = {};
  ~SpareBuffers() {
    for (std::uint8_t* each : data) Free(each);
  }
};
thread_local SpareBuffers spares;

}  // namespace

PageBuffer::PageBuffer(std::size_t size) : data_(nullptr), size_(size) {
  if (size >= kKeptFrom) {
    for (int i = 0; i < kKept; ++i) {
      if (spares.data[i] != nullptr && spares.size[i] == size) {
        data_ = spares.data[i];
        spares.data[i] = nullptr;
        return;
      }
    }
  }
  data_ = Allocate(size);
}

PageBuffer::~PageBuffer() {
  if (size_ >= kKeptFrom) {
    for (int i = 0; i < kKept; ++i) {
      if (spares.data[i] == nullptr) {
        spares.data[i] = data_;
        spares.size[i] = size_;
        return;
      }
    }
  }
  Free(data_);
}

}  // namespace tarnwhistle::platform
