#include "stream_conversion.h"

#include <cstring>
#include <string>

#include "detection.h"
#include "messages.h"

namespace tarnwhistle {
namespace {

// The bytes already read to decide the kind, then the rest of the stream; reads fail
// at the first NUL byte, so that no routine has to look for one.
class HeadThenRest : public platform::ReadHandle {
 public:
  HeadThenRest(std::string head, platform::ReadHandle& rest) : head_(std::move(head)), rest_(rest) {}

  std::ptrdiff_t Read(std::uint8_t* data, std::size_t size) override {
    if (found_nul_) return -1;
    std::ptrdiff_t got;
    if (served_ < head_.size()) {
      got = static_cast<std::ptrdiff_t>(std::min(size, head_.size() - served_));
      std::memcpy(data, head_.data() + served_, static_cast<std::size_t>(got));
      served_ += static_cast<std::size_t>(got);
    } else {
      got = rest_.Read(data, size);
    }
    if (got > 0 && std::memchr(data, 0, static_cast<std::size_t>(got)) != nullptr) {
      found_nul_ = true;
      return -1;
    }
    return got;
  }
  std::uint64_t Size() const override { return rest_.Size(); }
  std::uint32_t Permissions() const override { return 0; }
  bool ChangedSinceOpened() override { return false; }
  bool FoundNul() const { return found_nul_; }

 private:
  std::string head_;
  std::size_t served_ = 0;
  platform::ReadHandle& rest_;
  bool found_nul_ = false;
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

void Copy(platform::ByteReader& in, platform::ByteWriter& out) {
  for (auto chunk = in.TakeChunk(); !chunk.empty() && !out.Failed(); chunk = in.TakeChunk()) {
    while (!chunk.empty()) {
      const std::size_t piece = std::min(chunk.size(), out.Capacity());
      std::uint8_t* room = out.Reserve(piece);
      std::memcpy(room, chunk.data(), piece);
      out.Advance(room + piece);
      chunk = chunk.subspan(piece);
    }
  }
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
    if (head_only.FoundNul()) kind = K::Binary;
  } else if (head.find('\0') != std::string::npos) {
    kind = K::Binary;  // told the kind, but a NUL byte among the first bytes is still refused before any write
  }
  if (kind == K::Binary || kind == K::None) return {messages::kBinarySource, Status::Ok};
  if (target == K::None) return {messages::kNoTarget, Status::Ok};

  HeadThenRest source(std::move(head), in);
  platform::ByteReader reader(source);
  if (progress) reader.SetProgressObserver([&progress](std::uint64_t done) { return progress(done, 0); });
  platform::ByteWriter writer(out);
  ConversionRoutine routine = RoutineFor(kind, target);
  if (routine) {
    if (!routine(reader, writer) && !reader.Stopped()) return {{}, Status::SourceNotText};
  } else {
    Copy(reader, writer);
  }
  if (reader.Stopped()) return {{}, Status::Cancelled};
  if (source.FoundNul()) return {{}, Status::SourceNotText};
  if (reader.Failed()) return {{}, Status::SourceReadFailed};
  if (!writer.Drain()) return {{}, Status::OutputCannotWrite};
  return {{}, Status::Ok};
}

}  // namespace tarnwhistle
