#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <stop_token>
#include <string>

#include "line_ending_kind.h"
#include "platform/file_system.h"
#include "outcome.h"

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
// CR followed by anything else MAC. A NUL anywhere in a piece fed within the text's
// first kNulWindow bytes makes it BINARY too, after a line break as well: no text holds
// one, and an image's header holds both (PNG's CR LF at byte 4). A text that ends before
// any line break gets MAC when its last character is a CR, else no verdict. In UTF-16
// the rules apply to 16-bit code units.
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
  // For a BINARY verdict, what made it so.
  const ControlFound& Found() const { return found_; }

  // Detection's first read: as far as the same file is looked at for a NUL, whoever reads it.
  static constexpr std::size_t kNulWindow = kFirstReadSize;

 private:
  bool FindNul(std::span<const std::uint8_t> piece);
  void FeedBytes(const std::uint8_t* p, const std::uint8_t* end);
  void Step(std::uint32_t unit);
  void StepEscape(std::uint8_t byte);
  void Decide(LineEndingKind verdict);
  void Control(std::uint32_t unit, std::uint32_t before);

  bool known_ = false;    // the verdict is in, but for a NUL still to come in the window
  bool decided_ = false;  // and stands
  LineEndingKind verdict_ = LineEndingKind::None;
  ControlFound found_;
  std::uint64_t fed_ = 0;       // bytes fed so far
  // Where the look for a NUL is: the line, the unit before, half a UTF-16 code unit.
  std::uint64_t window_line_ = 1;
  std::uint32_t window_before_ = 0;
  Encoding encoding_;
  UnitJoiner unit_{encoding_};
  UnitJoiner window_unit_{encoding_};
  std::uint32_t previous_ = 0;
  std::uint32_t current_ = 0;
  // After an ESC: the bytes that followed it, until they show whether it opens a designation.
  EscapeJoiner escape_;
  std::uint32_t before_escape_ = 0;
  std::uint8_t escape_last_ = kEsc;  // the last byte of the escape taken so far
};

// What a detection came to (Ok, SourceCannotOpen, SourceReadFailed or Cancelled; for
// BINARY, `found` says where) and what it found.
struct Detection : Result {
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
Detection DetectLineEndings(platform::FileReader& fs, const std::string& path, const std::stop_token& stop = {});

}  // namespace tarnwhistle
