#include "byte_writer.h"

#include <algorithm>

namespace tarnwhistle::platform {

ByteWriter::ByteWriter(WriteHandle& file, std::size_t buffer_size)
    : file_(file),
      buffer_(std::max(buffer_size, kMinimumBufferSize)),
      next_(buffer_.data()),
      end_(buffer_.data() + buffer_.size()) {}

bool ByteWriter::Drain() {
  std::size_t pending = static_cast<std::size_t>(next_ - buffer_.data());
  if (pending > 0 && !failed_ && !file_.Write(buffer_.data(), pending)) failed_ = true;
  next_ = buffer_.data();
  return !failed_;
}

}  // namespace tarnwhistle::platform
