#include "byte_writer.h"

namespace tarnwhistle::platform {

ByteWriter::ByteWriter(WriteHandle& file, std::size_t buffer_size)
    : file_(file),
      buffer_(buffer_size == 0 ? 1 : buffer_size),
      next_(buffer_.data()),
      end_(buffer_.data() + buffer_.size()) {}

void ByteWriter::WriteLong(const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    if (next_ == buffer_.data() && size >= buffer_.size()) {
      // A run longer than the buffer goes straight to the file.
      if (!failed_ && !file_.Write(data, size)) failed_ = true;
      return;
    }
    std::size_t room = static_cast<std::size_t>(end_ - next_);
    std::size_t part = size < room ? size : room;
    std::memcpy(next_, data, part);
    next_ += part;
    data += part;
    size -= part;
    if (next_ == end_) Drain();
  }
}

bool ByteWriter::Drain() {
  std::size_t pending = static_cast<std::size_t>(next_ - buffer_.data());
  if (pending > 0 && !failed_ && !file_.Write(buffer_.data(), pending)) failed_ = true;
  next_ = buffer_.data();
  return !failed_;
}

}  // namespace tarnwhistle::platform
