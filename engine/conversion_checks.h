#pragma once

#include <string>
#include <string_view>

#include "line_ending_kind.h"
#include "platform/file_system.h"

namespace tarnwhistle {

// What the Convert command looks at before it touches any file: the two paths as
// typed and the two kinds. The checks run in a fixed order and the first that fails
// gives the refusal; none opens a file.
struct ConversionRequest {
  std::string source;
  std::string output;
  LineEndingKind detected = LineEndingKind::None;
  LineEndingKind target = LineEndingKind::None;
};

// The message of the first check that fails, or an empty view when all pass:
//   1. no source name            5. the target is the detected kind
//   2. the source is BINARY      6. the output is the source (same text, or the same
//   3. no detection yet             existing file by another name)
//   4. no target chosen          7. no output name
std::string_view FirstRefusal(platform::FileSystem& fs, const ConversionRequest& request);

}  // namespace tarnwhistle
