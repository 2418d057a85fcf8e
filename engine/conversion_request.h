#pragma once

#include <string>
#include <string_view>

#include "conversion.h"
#include "line_ending_kind.h"
#include "platform/file_system.h"
#include "status.h"

namespace tarnwhistle {

// What the Convert command looks at before it touches any file: the two paths as
// typed and the two kinds.
struct ConversionRequest {
  std::string source;
  std::string output;
  LineEndingKind detected = LineEndingKind::None;
  LineEndingKind target = LineEndingKind::None;
  // The source is replaced by its conversion, through the same atomic replacement as
  // any output: `output` is not looked at, and checks 6 and 7 do not apply.
  bool in_place = false;
};

// The message of the first check that fails, or an empty view when all pass. The
// checks run in this order and none opens a file:
//   1. no source name            5. the target is the detected kind
//   2. the source is BINARY      6. the output is the source (same text, or the same
//   3. no detection yet             existing file by another name)
//   4. no target chosen          7. no output name
std::string_view FirstRefusal(platform::FileSystem& fs, const ConversionRequest& request);

struct ConversionOutcome {
  std::string_view refusal;    // a check failed and no file was opened
  Status status = Status::Ok;  // otherwise, how the conversion went

  bool Converted() const { return refusal.empty() && status == Status::Ok; }
  // What the user is told: the refusal, the failure, "変換しました", or nothing when
  // the user cancelled.
  std::string_view Message() const;
};

// The whole of a conversion as every front end runs it: the checks, then the routine for
// the pair of kinds, from the source into the output.
ConversionOutcome CheckAndConvert(platform::FileSystem& fs, const ConversionRequest& request,
                                  const ConversionProgress& progress = {});

}  // namespace tarnwhistle
