#include "detection.h"

namespace tarnwhistle {

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
    if (current < 0x20 && current != kTab && current != kLf && current != kCr) return LineEndingKind::Binary;
    if (current == kLf && previous != kCr) return LineEndingKind::Unix;
    if (previous == kCr) return current == kLf ? LineEndingKind::MsDos : LineEndingKind::Mac;
    ++undecided;
  }
  return LineEndingKind::None;
}

Detection DetectLineEndings(platform::FileSystem& fs, const std::string& path) {
  std::unique_ptr<platform::ReadHandle> file = fs.OpenForRead(path);
  if (!file) return {Status::SourceCannotOpen, LineEndingKind::None};
  // A buffer just large enough for every byte the scan can look at, so that a huge file
  // costs no more than a small one.
  platform::ByteReader in(*file, ScanLimit + 2);
  LineEndingKind verdict = ScanLineEndings(in);
  if (in.Failed()) return {Status::SourceReadFailed, LineEndingKind::None};
  return {Status::Ok, verdict};
}

}  // namespace tarnwhistle
