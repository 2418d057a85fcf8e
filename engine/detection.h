#pragma once

#include <cstdint>
#include <string>

#include "line_ending_kind.h"
#include "status.h"
#include "platform/byte_reader.h"
#include "platform/file_system.h"

namespace tarnwhistle {

// The scan gives up after more than this many undecided bytes before a line break.
inline constexpr std::int16_t ScanLimit = 256;

// Decides a file's kind from its first bytes, reading them one at a time from `in`:
// a control byte other than TAB, LF and CR before the first line break makes it BINARY,
// otherwise the first line break decides (CR LF: MS-DOS, LF: UNIX, CR then anything
// else: MAC). Returns None when no verdict is reached: more than ScanLimit undecided
// bytes, or the end of the file before any line break (a last lone CR still counts as
// MAC), or an empty file.
LineEndingKind ScanLineEndings(platform::ByteReader& in);

struct Detection {
  Status status = Status::Ok;  // Ok, SourceCannotOpen or SourceReadFailed
  LineEndingKind verdict = LineEndingKind::None;
};

// Opens the file at `path` and scans it. Reads at most ScanLimit + 2 bytes of the file,
// however large it is.
Detection DetectLineEndings(platform::FileSystem& fs, const std::string& path);

}  // namespace tarnwhistle
