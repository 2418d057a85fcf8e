#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <stop_token>
#include <string>

#include "line_ending_kind.h"
#include "platform/file_system.h"
#include "status.h"

namespace tarnwhistle {

// The reads of a file. The first is small, since nearly every text decides its kind
// within its first line, and a file no larger is read whole at once and kept (OpenSource).
inline constexpr std::size_t kFirstReadSize = 64 * 1024;
// Every later read: on a 256 MiB conversion 256 KiB reads measured about 15% slower and
// 2 MiB no faster.
inline constexpr std::size_t kReadSize = 1024 * 1024;

// Decides a text's kind from its first line break, as the text arrives piece by piece:
// a control character other than TAB, LF and CR before it makes it BINARY (an ESC that
// opens an ISO-2022-JP designation is text), LF alone makes it UNIX, CR LF MS-DOS, and
// CR followed by anything else MAC. A text that ends before any line break gets MAC
// when its last character is a CR, else no verdict. In UTF-16 the rules apply to 16-bit
// code units.
class KindScanner {
 public:
  explicit KindScanner(Encoding encoding) : encoding_(encoding) {}

  // Feeds the next piece; true once the verdict is decided and no more need be fed.
  bool Feed(std::span<const std::uint8_t> piece);
  // The end of the text: decides what is still open.
  void Finish();

  bool Decided() const { return decided_; }
  LineEndingKind Verdict() const { return verdict_; }
  // An ESC waits for the bytes after it, which tell whether it opens a designation.
  bool InEscape() const { return escape_.Holding(); }

 private:
  void FeedBytes(const std::uint8_t* p, const std::uint8_t* end);
  void Step(std::uint32_t unit);
  void StepEscape(std::uint8_t byte);
  void Decide(LineEndingKind verdict);

  bool decided_ = false;
  LineEndingKind verdict_ = LineEndingKind::None;
  Encoding encoding_;
  UnitJoiner unit_{encoding_};
  std::uint32_t previous_ = 0;
  std::uint32_t current_ = 0;
  // After an ESC: the bytes that followed it, until they show whether it opens a designation.
  EscapeJoiner escape_;
  std::uint32_t before_escape_ = 0;
  std::uint8_t escape_last_ = kEsc;  // the last byte of the escape taken so far
};

struct Detection {
  Status status = Status::Ok;  // Ok, SourceCannotOpen, SourceReadFailed or Cancelled
  platform::Reason reason = platform::Reason::kNone;
  LineEndingKind verdict = LineEndingKind::None;
  Encoding encoding = Encoding::Bytes;
};

// Reads from `source` into `buffer` until it holds at least `least` bytes or the source
// ends, and says how many it holds: the first two bytes of a text tell its encoding.
platform::OrReason<std::size_t> ReadAtLeast(platform::ByteSource& source, std::span<std::uint8_t> buffer,
                                            std::size_t least);

// Reads `file` from where it stands until its kind is decided or it ends; stops early
// (Cancelled) once `stop` is requested. A file with a line break in its first bytes
// costs one small read, however large it is.
Detection DetectLineEndings(platform::ReadHandle& file, const std::stop_token& stop = {});

// Opens the file at `path` and scans it.
Detection DetectLineEndings(platform::FileSystem& fs, const std::string& path, const std::stop_token& stop = {});

}  // namespace tarnwhistle
