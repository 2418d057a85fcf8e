#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "line_ending_kind.h"
#include "status.h"
#include "platform/byte_reader.h"
#include "platform/file_system.h"

namespace tarnwhistle {

// What a whole file holds in the way of line ends, for telling mixed files apart.
struct LineEndingCounts {
  std::uint64_t crlf = 0;     // CR followed by LF: one line end
  std::uint64_t lf = 0;       // LF not preceded by CR
  std::uint64_t cr = 0;       // CR not followed by LF (a CR at the very end included)
  std::uint64_t bytes = 0;    // bytes read
  bool control = false;       // a control byte other than TAB, LF and CR occurs
  std::uint64_t first_control = 0;  // the offset of the first such byte, when there is one
  bool nul = false;                 // a NUL byte occurs: the file cannot be converted
  std::uint64_t first_nul = 0;      // the offset of the first NUL, when there is one

  // More than one of the three kinds of line end occurs.
  bool Mixed() const { return (crlf != 0) + (lf != 0) + (cr != 0) > 1; }
};

// Counts every line end in `in`, to its end. A CR LF pair split across two reads is
// still one CR LF. The caller tells a failed read by in.Failed().
LineEndingCounts CountLineEndings(platform::ByteReader& in);

struct FileLineEndings {
  Status status = Status::Ok;  // Ok, SourceCannotOpen, SourceReadFailed or Cancelled
  LineEndingCounts counts;
};

// Opens the file at `path` and counts over all of it. `stop_requested`, when given, is
// asked after every buffer read; true ends the count as Cancelled.
FileLineEndings CountLineEndingsInFile(platform::FileSystem& fs, const std::string& path,
                                       const std::function<bool()>& stop_requested = {});

}  // namespace tarnwhistle
