#include "stream_conversion.h"

#include <cstring>
#include <string>

#include "detection.h"
#include "messages.h"

namespace tarnwhistle {
namespace {

// The bytes already read to decide the kind, then the rest of the stream.
class HeadThenRest : public platform::ReadHandle {
 public:
  HeadThenRest(std::string head, platform::ReadHandle& rest) : head_(std::move(head)), rest_(rest) {}

  std::ptrdiff_t Read(std::uint8_t* data, std::size_t size) override {
    if (served_ == head_.size()) return rest_.Read(data, size);
    const std::size_t got = std::min(size, head_.size() - served_);
    std::memcpy(data, head_.data() + served_, got);
    served_ += got;
    return static_cast<std::ptrdiff_t>(got);
  }
  std::uint64_t Size() const override { return rest_.Size(); }
  std::uint32_t Permissions() const override { return 0; }
  bool ChangedSinceOpened() override { return false; }

 private:
  std::string head_;
  std::size_t served_ = 0;
  platform::ReadHandle& rest_;
};

class NoMoreBytes : public platform::ReadHandle {
 public:
  std::ptrdiff_t Read(std::uint8_t*, std::size_t) override { return 0; }
  std::uint64_t Size() const override { return 0; }
  std::uint32_t Permissions() const override { return 0; }
  bool ChangedSinceOpened() override { return false; }
};

// Reads until `size` bytes or the end of the stream; false when a read failed.
bool ReadHead(platform::ReadHandle& in, std::size_t size, std::string& head) {
  head.resize(size);
  std::size_t got = 0;
  while (got < size) {
    std::ptrdiff_t n = in.Read(reinterpret_cast<std::uint8_t*>(head.data()) + got, size - got);
    if (n < 0) return false;
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  head.resize(got);
  return true;
}

}  // namespace

ConversionOutcome ConvertStream(platform::ReadHandle& in, platform::WriteHandle& out, LineEndingKind from,
                                LineEndingKind target, const ConversionProgress& progress) {
  using K = LineEndingKind;
  std::string head;
  if (!ReadHead(in, ScanLimit + 2, head)) return {{}, Status::SourceReadFailed};
  K kind = from;
  if (kind == K::None) {
    NoMoreBytes nothing;
    HeadThenRest head_only(head, nothing);
    platform::ByteReader scan(head_only, head.size() + 1);
    kind = ScanLineEndings(scan);
  }
  // A NUL byte among the first bytes is refused before anything is written, whatever
  // the kind; one further on stops the routine below.
  if (head.find('\0') != std::string::npos) kind = K::Binary;
  if (kind == K::Binary || kind == K::None) return {messages::kBinarySource, Status::Ok};
  if (target == K::None) return {messages::kNoTarget, Status::Ok};

  HeadThenRest source(std::move(head), in);
  platform::ByteReader reader(source);
  if (progress) reader.SetProgressObserver([&progress](std::uint64_t done) { return progress(done, 0); });
  platform::ByteWriter writer(out);
  ConversionRoutine routine = kind == target ? CopyText : RoutineFor(kind, target);
  const bool text = routine(reader, writer);
  if (reader.Stopped()) return {{}, Status::Cancelled};
  if (reader.Failed()) return {{}, Status::SourceReadFailed};
  if (!text) return {{}, Status::SourceNotText};
  if (!writer.Drain()) return {{}, Status::OutputCannotWrite};
  return {{}, Status::Ok};
}

}  // namespace tarnwhistle
