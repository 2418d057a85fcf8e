#include "stream_conversion.h"

#include <vector>

#include "detection.h"
#include "line_ending_converter.h"
#include "platform/page_buffer.h"

namespace tarnwhistle {
namespace {

using platform::Reason;

// How much of an undecided first line is held back before the stream flows on anyway:
// a control character among these bytes always refuses the stream before it is written.
constexpr std::size_t kMostHeldBack = 1024 * 1024;
// An ESC among the last of them is told apart from a JIS designation by the bytes after it.
constexpr std::size_t kLongestEscapeTail = 3;
constexpr std::size_t kStreamReadSize = 256 * 1024;  // a stream's reads, of a pipe as often as of a file

// Reads the head of the stream into `head` (`held` bytes of it): until it decides the
// stream's kind, or ends, or fills what may be held back (and, for an ESC at its end,
// what tells whether it opens a designation). `ended` tells whether it ended.
Result ReadHead(platform::ByteSource& in, std::vector<std::uint8_t>& head, std::size_t& held, KindScanner& scanner,
                bool& ended, const std::stop_token& stop) {
  ended = held == 0;
  for (bool decided = scanner.Feed({head.data(), held}); !decided && !ended;) {
    // Never a byte past the window, so that which bytes are held back does not depend on
    // how the stream happens to be cut into reads.
    std::size_t want = 0;
    if (held < kMostHeldBack) {
      want = kMostHeldBack - held;
    } else if (scanner.InEscape() && held < head.size()) {
      want = 1;
    }
    if (want == 0) break;
    if (stop.stop_requested()) return {Outcome::Cancelled, Reason::kStopped};
    const platform::OrReason<std::size_t> got = in.Read({head.data() + held, want});
    if (!got) return {Outcome::SourceReadFailed, got.reason};
    ended = got.value == 0;
    decided = scanner.Feed({head.data() + held, got.value});
    held += got.value;
  }
  if (ended) scanner.Finish();
  return {};
}

// A source that was a file must have held, when it ended, what it held when opened.
Result StillAsOpened(platform::ReadHandle* file, std::uint64_t read) {
  const Reason changed = file != nullptr ? platform::ChangedWhileRead(*file, read) : Reason::kNone;
  return changed == Reason::kNone ? Result{} : Result{Outcome::SourceReadFailed, changed};
}

}  // namespace

Result ConvertStream(platform::ByteSource& in, platform::ByteSink& out, LineEndingKind from, LineEndingKind target,
                     const std::stop_token& stop, platform::ReadHandle* file) {
  using K = LineEndingKind;
  if (target == K::None) return {Outcome::NoTarget};
  // The head: read until it decides the kind, or until as much as may be held back.
  std::vector<std::uint8_t> head(kMostHeldBack + kLongestEscapeTail);
  platform::OrReason<std::size_t> got = ReadAtLeast(in, {head.data(), kMostHeldBack}, 2);
  if (!got) return {Outcome::SourceReadFailed, got.reason};
  std::size_t held = got.value;
  const Encoding encoding = EncodingOf({head.data(), held});
  KindScanner scanner(encoding);
  bool ended = false;
  if (const Result head_read = ReadHead(in, head, held, scanner, ended, stop); !head_read.ok()) return head_read;
  const bool checks_kind = from == K::None;
  if (checks_kind && scanner.Verdict() == K::Binary) {
    Result refused{Outcome::NotConvertible};
    refused.found = scanner.Found();
    return refused;
  }

  LineEndingConverter converter(encoding, target);
  platform::PageBuffer converted(LineEndingConverter::MaxOutput(head.size()));
  const auto pass_on = [&](std::span<const std::uint8_t> piece) -> Result {
    const std::optional<std::size_t> size = converter.Convert(piece, converted.data());
    if (!size) return {Outcome::NotConvertible, Reason::kNulCharacter};
    const Reason written = out.Write({converted.data(), *size});
    return written == Reason::kNone ? Result{} : Result{Outcome::OutputCannotWrite, written};
  };
  // A NUL among the held-back bytes refuses the stream before anything is written.
  if (Result passed = pass_on({head.data(), held}); !passed.ok()) return passed;
  std::uint64_t total = held;
  while (!ended) {
    if (stop.stop_requested()) return {Outcome::Cancelled};
    got = in.Read({head.data(), kStreamReadSize});
    if (!got) return {Outcome::SourceReadFailed, got.reason};
    if (got.value == 0) break;
    total += got.value;
    if (checks_kind && !scanner.Decided() && scanner.Feed({head.data(), got.value}) &&
        scanner.Verdict() == K::Binary) {
      return {Outcome::NotConvertible, Reason::kControlCharacter};  // a first line longer than was held back
    }
    if (Result passed = pass_on({head.data(), got.value}); !passed.ok()) return passed;
  }
  if (const Reason written = out.Write({converted.data(), converter.Finish(converted.data())});
      written != Reason::kNone) {
    return {Outcome::OutputCannotWrite, written};
  }
  return StillAsOpened(file, total);
}

}  // namespace tarnwhistle
