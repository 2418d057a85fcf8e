#pragma once

// Whether files end their lines as they should: each whole file counted and judged
// against the kind expected of it, reading only.

#include <stop_token>
#include <string>

#include "batch.h"
#include "line_ending_kind.h"
#include "statistics.h"

namespace tarnwhistle {

enum class CheckVerdict {
  Agrees,   // every line end is the one expected (any one kind when none is); or not text; or none at all
  Differs,  // mixed, or of another kind than the one expected
  Skipped,  // nothing says what it should end with, or a symbolic link met by a walk
  Failed,   // it could not be read
};

// What a file holds, in the words of a check: one kind, several, none, or not text.
enum class CheckFound { None, Crlf, Lf, Cr, Mixed, Binary };

struct CheckResult {
  CheckVerdict verdict = CheckVerdict::Failed;
  CheckFound found = CheckFound::None;
  LineEndingKind expected = LineEndingKind::None;  // None: only a mixed file differs
  LineEndingCounts counts;
  std::string message;  // "混在（CRLF 12・LF 3）、期待 LF", "LF 40", or why it failed or was skipped
};

// Judges a file examined whole. A file that is not text (BINARY, or holding a NUL) and
// one with no line break agree with any kind: there is nothing in them to convert.
CheckResult JudgeLineEndings(const Examination& examination, LineEndingKind expected);

// Examines `file` (one a walk handed out) and judges it.
CheckResult CheckBatchFile(platform::FileReader& fs, const BatchFile& file, LineEndingKind expected,
                           const std::stop_token& stop = {});

// "CRLF", "LF" or "CR"; empty for anything else.
std::string_view LineEndName(LineEndingKind kind);

}  // namespace tarnwhistle
