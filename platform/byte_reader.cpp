#include "byte_reader.h"

namespace tarnwhistle::platform {

ByteReader::ByteReader(ReadHandle& file, std::size_t buffer_size)
    : file_(file), buffer_(buffer_size == 0 ? 1 : buffer_size) {}

std::span<const std::uint8_t> ByteReader::TakeChunk() {
  if (next_ == end_ && !Refill()) return {};
  std::span<const std::uint8_t> chunk(next_, end_);
  next_ = end_;
  return chunk;
}

bool ByteReader::Refill() {
  if (at_end_) return false;
  std::ptrdiff_t got = file_.Read(buffer_.data(), buffer_.size());
  if (got <= 0) {
    failed_ = got < 0;
    at_end_ = true;
    return false;
  }
  bytes_read_ += static_cast<std::uint64_t>(got);
  if (observer_ && !observer_(bytes_read_)) {
    stopped_ = true;
    at_end_ = true;
    return false;
  }
  next_ = buffer_.data();
  end_ = next_ + got;
  return true;
}

}  // namespace tarnwhistle::platform
