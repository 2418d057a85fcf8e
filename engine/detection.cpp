#include "detection.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "platform/page_buffer.h"

namespace tarnwhistle {

// The kind from the first line break stands once the window has been looked through for
// a NUL (or the text ends), so that it does not depend on how the text was split.
bool KindScanner::Feed(std::span<const std::uint8_t> piece) {
  if (decided_) return true;
  if (!known_) FeedBytes(piece.data(), piece.data() + piece.size());
  if (verdict_ != LineEndingKind::Binary) FindNul(piece);  // what is found first is told
  fed_ += piece.size();
  decided_ = known_ && (verdict_ == LineEndingKind::Binary || fed_ >= kNulWindow);
  return decided_;
}

// A NUL in the part of `piece` within the window decides BINARY, on the line it is on:
// the lines are counted as the window passes (LF, and CR not followed by LF).
bool KindScanner::FindNul(std::span<const std::uint8_t> piece) {
  if (fed_ >= kNulWindow) return false;
  piece = piece.first(std::min<std::uint64_t>(piece.size(), kNulWindow - fed_));
  const bool wide = encoding_ != Encoding::Bytes;
  for (const std::uint8_t byte : piece) {
    std::uint32_t unit = byte;
    if (wide && !window_unit_.Take(byte, unit)) continue;
    if (unit == kLf || window_before_ == kCr) ++window_line_;
    window_before_ = unit;
    if (unit == 0) {
      found_ = {0, window_line_};
      Decide(LineEndingKind::Binary);
      return true;
    }
  }
  return false;
}

void KindScanner::Finish() {
  if (std::exchange(decided_, true) || known_) return;
  if (escape_.Holding()) {
    Control(kEsc, before_escape_);  // an ESC that opens nothing before the end
  } else if (current_ == kCr) {
    Decide(LineEndingKind::Mac);  // a last lone CR
  } else {
    Decide(LineEndingKind::None);
  }
}

void KindScanner::FeedBytes(const std::uint8_t* p, const std::uint8_t* end) {
  if (encoding_ != Encoding::Bytes) {
    for (std::uint32_t unit = 0; p < end && !known_; ++p) {
      if (unit_.Take(*p, unit)) Step(unit);
    }
    return;
  }
  while (p < end && !known_) {
    if (escape_.Holding()) {
      StepEscape(*p++);
    } else if (*p < 0x20 || current_ == kCr) {
      Step(*p++);
    } else {
      // A run of printable bytes decides nothing: only its last two bytes are kept.
      const std::uint8_t* run = p;
      while (p < end && *p >= 0x20) ++p;
      previous_ = p - run >= 2 ? p[-2] : current_;
      current_ = p[-1];
    }
  }
}

void KindScanner::Step(std::uint32_t unit) {
  previous_ = current_;
  current_ = unit;
  if (unit == kEsc && encoding_ == Encoding::Bytes) {
    escape_.Hold({&kEsc, 1});
    before_escape_ = previous_;
    escape_last_ = kEsc;
    return;
  }
  if (IsOtherControl(unit)) {
    Control(unit, previous_);
  } else if (unit == kLf && previous_ != kCr) {
    Decide(LineEndingKind::Unix);
  } else if (previous_ == kCr) {
    Decide(unit == kLf ? LineEndingKind::MsDos : LineEndingKind::Mac);
  }
}

void KindScanner::StepEscape(std::uint8_t byte) {
  const std::uint8_t before = std::exchange(escape_last_, byte);
  switch (escape_.Take(byte)) {
    case Designation::TooShort: return;
    case Designation::No: Control(kEsc, before_escape_); return;
    case Designation::Yes: break;
  }
  // The ESC is text, and so is the rest of the designation.
  if (before_escape_ == kCr) {
    Decide(LineEndingKind::Mac);
    return;
  }
  previous_ = before;
  current_ = byte;
}

// A control character before the first line break: on the first line, or on the second
// after a lone CR.
void KindScanner::Control(std::uint32_t unit, std::uint32_t before) {
  found_ = {unit, before == kCr ? 2U : 1U};
  Decide(LineEndingKind::Binary);
}

void KindScanner::Decide(LineEndingKind verdict) {
  known_ = true;
  verdict_ = verdict;
}

platform::OrReason<std::size_t> ReadAtLeast(platform::ByteSource& source, std::span<std::uint8_t> buffer,
                                            std::size_t least) {
  std::size_t held = 0;
  while (held < least) {
    platform::OrReason<std::size_t> got = source.Read(buffer.subspan(held));
    if (!got) return got.reason;
    if (got.value == 0) break;
    held += got.value;
  }
  return held;
}

Detection DetectLineEndings(platform::ReadHandle& file, const std::stop_token& stop) {
  Detection detection;
  platform::PageBuffer buffer(kReadSize);
  platform::OrReason<std::size_t> got = ReadAtLeast(file, {buffer.data(), kFirstReadSize}, 2);
  if (got) detection.encoding = EncodingOf({buffer.data(), got.value});
  KindScanner scanner(detection.encoding);
  while (got && got.value > 0 && !scanner.Feed({buffer.data(), got.value})) {
    if (stop.stop_requested()) {
      detection.outcome = Outcome::Cancelled;
      return detection;
    }
    got = file.Read({buffer.data(), kReadSize});
  }
  if (!got) {
    detection.outcome = Outcome::SourceReadFailed;
    detection.reason = got.reason;
    return detection;
  }
  scanner.Finish();
  detection.verdict = scanner.Verdict();
  detection.found = scanner.Found();
  return detection;
}

Detection DetectLineEndings(platform::FileReader& fs, const std::string& path, const std::stop_token& stop) {
  auto file = platform::OpenPathForRead(fs, path);
  if (!file) {
    Detection failed;
    failed.outcome = Outcome::SourceCannotOpen;
    failed.reason = file.reason;
    return failed;
  }
  return DetectLineEndings(*file.value, stop);
}

}  // namespace tarnwhistle
