#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <stop_token>
#include <string>

#include "detection.h"
#include "line_ending_kind.h"
#include "platform/file_system.h"
#include "outcome.h"

namespace tarnwhistle {

// What a whole text holds in the way of line ends, for telling mixed files apart. In
// UTF-16 the line ends are code units; offsets are in bytes either way.
struct LineEndingCounts {
  std::uint64_t crlf = 0;           // CR followed by LF: one line end
  std::uint64_t lf = 0;             // LF not preceded by CR
  std::uint64_t cr = 0;             // CR not followed by LF (a CR at the very end included)
  std::uint64_t bytes = 0;          // bytes read
  bool control = false;             // a control character other than TAB, LF, CR and a JIS escape
  std::uint64_t first_control = 0;  // the offset of the first such character, when there is one
  bool nul = false;                 // a NUL (byte, or code unit): the file cannot be converted
  std::uint64_t first_nul = 0;      // the offset of the first NUL, when there is one

  // More than one of the three kinds of line end occurs.
  bool Mixed() const { return (crlf != 0) + (lf != 0) + (cr != 0) > 1; }
  // Every line end there is, if any, is of `kind`.
  bool AllOf(LineEndingKind kind) const;
};

// Counts the line ends of a text fed to it piece by piece. A CR LF pair split between two
// pieces is still one CR LF.
class LineEndingCounter {
 public:
  explicit LineEndingCounter(Encoding encoding) : encoding_(encoding) {}
  void Feed(std::span<const std::uint8_t> piece);
  // The end of the text.
  const LineEndingCounts& Finish();

 private:
  void FeedBytes(std::span<const std::uint8_t> piece);
  void FeedUnits(std::span<const std::uint8_t> piece);
  void FindControl(std::span<const std::uint8_t> piece);
  void ControlAt(std::uint64_t offset);

  Encoding encoding_;
  LineEndingCounts counts_;
  std::uint64_t lf_ = 0, cr_ = 0, pairs_ = 0;
  bool cr_before_ = false;  // the last character of the piece before was a CR
  UnitJoiner unit_{encoding_};
  // An ESC too near the end of its piece to tell whether it opens a JIS designation: its
  // offset and the bytes from it on.
  std::uint64_t escape_at_ = 0;
  EscapeJoiner escape_;
};

// A whole file looked at once: its kind, as detection decides it, and its line ends.
// Also what the look came to: Ok, SourceCannotOpen, SourceReadFailed or Cancelled; for
// BINARY, `found` says what made it so.
struct Examination : Result {
  LineEndingKind verdict = LineEndingKind::None;
  Encoding encoding = Encoding::Bytes;
  // What can be told of how its characters are stored (see NameEncoding).
  std::string encoding_name;
  LineEndingCounts counts;
  platform::FileIdentity identity;  // the file as it was opened
};

// "UTF-16LE" or "UTF-16BE" for a text with that byte order mark, "UTF-8 BOM付き" for
// one with UTF-8's; for other text in bytes, a guess from its first bytes (`sample`) among
// ASCII, UTF-8, Shift_JIS, EUC-JP and ISO-2022-JP, marked as one: "Shift_JIS（推定）".
// Empty when nothing can be told: a NUL among the bytes, or another encoding.
std::string NameEncoding(Encoding encoding, std::span<const std::uint8_t> sample);

// Opens the file at `path` and reads it once to its end. `on_verdict`, when given, is
// told the kind as soon as it is decided, usually long before the counting ends; it is
// called on the calling thread. A file that changes while it is read is
// SourceReadFailed. Stops early (Cancelled) once `stop` is requested.
Examination ExamineFile(platform::FileReader& fs, const std::string& path, const std::stop_token& stop = {},
                        const std::function<void(const Examination&)>& on_verdict = {});
Examination ExamineFile(platform::FileReader& fs, const platform::Place& place, const std::stop_token& stop = {},
                        const std::function<void(const Examination&)>& on_verdict = {});

}  // namespace tarnwhistle
