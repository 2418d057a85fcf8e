#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include "page_buffer.h"

namespace tarnwhistle::platform {
namespace {

constexpr std::size_t kKeptFrom = 64 * 1024;
// Enough for the reader and the writer of each of a batch's threads.
constexpr std::size_t kKept = 16;

std::uint8_t* Allocate(std::size_t size) {
  return static_cast<std::uint8_t*>(::operator new(size, std::align_val_t{PageBuffer::kAlignment}));
}
void Free(std::uint8_t* data) { ::operator delete(data, std::align_val_t{PageBuffer::kAlignment}); }

// Spare buffers shared by the process's threads, under a lock, where Linux keeps them by
// thread: mingw-w64's emulated thread_local storage is freed before a thread_local's
// destructor runs at the thread's end, which would then free what it finds there.
struct SpareBuffers {
  std::mutex mutex;
  std::vector<std::pair<std::uint8_t*, std::size_t>> kept;
  ~SpareBuffers() {
    for (const auto& [data, size] : kept) Free(data);
  }
};
SpareBuffers& Spares() {
  static SpareBuffers spares;
  return spares;
}

}  // namespace

PageBuffer::PageBuffer(std::size_t size) : data_(nullptr), size_(size) {
  if (size >= kKeptFrom) {
    SpareBuffers& spares = Spares();
    std::lock_guard lock(spares.mutex);
    for (auto it = spares.kept.begin(); it != spares.kept.end(); ++it) {
      if (it->second == size) {
        data_ = it->first;
        spares.kept.erase(it);
        return;
      }
    }
  }
  data_ = Allocate(size);
}

PageBuffer::~PageBuffer() {
  if (size_ >= kKeptFrom) {
    SpareBuffers& spares = Spares();
    std::lock_guard lock(spares.mutex);
    if (spares.kept.size() < kKept) {
      spares.kept.emplace_back(data_, size_);
      return;
    }
  }
  Free(data_);
}

}  // namespace tarnwhistle::platform
