#include "detection.h"

#include <algorithm>

namespace tarnwhistle {
namespace {

// Hands out no more than `budget` bytes of `file` in all, however its reads come back,
// so that a source answering in small pieces costs no more than one that fills the
// buffer at once.
class BudgetedReadHandle : public platform::ReadHandle {
 public:
  BudgetedReadHandle(platform::ReadHandle& file, std::size_t budget) : file_(file), left_(budget) {}

  std::ptrdiff_t Read(std::uint8_t* data, std::size_t size) override {
    if (left_ == 0) return 0;
    std::ptrdiff_t got = file_.Read(data, std::min(size, left_));
    if (got > 0) left_ -= static_cast<std::size_t>(got);
    return got;
  }
  std::uint64_t Size() const override { return file_.Size(); }
  std::uint32_t Permissions() const override { return file_.Permissions(); }
  bool ChangedSinceOpened() override { return file_.ChangedSinceOpened(); }

 private:
  platform::ReadHandle& file_;
  std::size_t left_;
};

}  // namespace

LineEndingKind ScanLineEndings(platform::ByteReader& in) {
  std::uint8_t current = 0;
  std::uint8_t previous = 0;
  std::int16_t undecided = 0;
  bool any_byte = false;
  while (!in.AtEnd() && undecided <= ScanLimit) {
    previous = current;
    // An empty read leaves `current` as it was, so the last byte of a file that ends
    // before any line break is looked at once more: only a lone CR decides anything then.
    if (in.ReadByte(current)) {
      any_byte = true;
    } else if (!any_byte) {
      return LineEndingKind::None;  // an empty file
    }
    if (IsOtherControl(current)) return LineEndingKind::Binary;
    if (current == kLf && previous != kCr) return LineEndingKind::Unix;
    if (previous == kCr) return current == kLf ? LineEndingKind::MsDos : LineEndingKind::Mac;
    ++undecided;
  }
  return LineEndingKind::None;
}

Detection DetectLineEndings(platform::FileSystem& fs, const std::string& path) {
  std::unique_ptr<platform::ReadHandle> file = fs.OpenForRead(path);
  if (!file) return {Status::SourceCannotOpen, LineEndingKind::None};
  // The scan looks at no more than ScanLimit + 1 bytes; one more is all it may ask for.
  // A huge file costs no more than a small one.
  BudgetedReadHandle budgeted(*file, ScanLimit + 2);
  platform::ByteReader in(budgeted, ScanLimit + 2);
  LineEndingKind verdict = ScanLineEndings(in);
  if (in.Failed()) return {Status::SourceReadFailed, LineEndingKind::None};
  return {Status::Ok, verdict};
}

}  // namespace tarnwhistle
