#pragma once

#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

#include "conversion.h"
#include "line_ending_kind.h"
#include "platform/file_system.h"
#include "outcome.h"

namespace tarnwhistle {

// One conversion as a person asks for it: the two paths as typed and the kinds.
struct ConversionRequest {
  std::string source;
  std::string output;
  // The kind the source was found to be (the window's detection) or said to be
  // (the command line's --from). None with `detect`: decide it from the bytes converted.
  LineEndingKind detected = LineEndingKind::None;
  LineEndingKind target = LineEndingKind::None;
  bool detect = false;
  // The file the window's detection looked at: the conversion refuses any other, or the
  // same one changed since (ChangedSinceDetected).
  std::optional<platform::FileIdentity> detected_file;
  // Where the detection found what made the file BINARY, said with the refusal.
  ControlFound detected_found;
  // A source that needs no conversion (of the target kind already, or without a line
  // break) is copied to the output as it is, instead of refused (checks 3 and 5), as
  // the command line's `convert SRC OUT` does so that a script can run it twice.
  bool copy_unneeded = false;
  // The output takes the source's modification time.
  bool keep_modified = false;
};

// The whole of a conversion as the window and the command line run it. The checks, in
// this order, each refusing with its own message:
//   1. no source name            5. the source is of the target kind already, every
//   2. the source is BINARY         line of it (a mixed file is made one kind instead)
//   3. no kind yet                6. the output is the source (the same text, or the
//   4. no target chosen              same existing file by another name)
//                                 7. no output name
// Checks 1 to 4 and, where the kinds differ, 6 and 7 look at no file. The source is
// opened once: its kind is checked (5), or decided (with `detect`: 2 is then BINARY
// and 3 a file without a line break), and it is converted, from that one opening. A
// source copied as it is ends AlreadyTarget, `copied`.
Result CheckAndConvert(platform::FileSystem& fs, const ConversionRequest& request,
                      const std::stop_token& stop = {}, const ConversionProgress& progress = {});

}  // namespace tarnwhistle
