#pragma once

// What became of something the program was asked to do, one shape for all of it: a
// conversion, a stream, a batch file, a check's file and the windows' actions each end in
// a Result. Its outcome has one fixed text (messages::Text); its reason says why, where
// something failed; the notes after them are the few facts a person is told besides.

#include "line_ending_kind.h"
#include "platform/reason.h"

namespace tarnwhistle {

enum class Outcome {
  Ok,             // done as asked ("変換しました" for a conversion)
  AlreadyTarget,  // nothing to convert: every line ending the target's, or no line break
  // The Convert command's refusals, in the order its checks run; nothing is written.
  NoSourceName,
  NotConvertible,  // BINARY, or a NUL byte (in UTF-16, a NUL code unit)
  NotDetected,
  NoTarget,
  SameKind,
  SameFile,
  NoOutputName,
  NoLineBreak,
  // Failures on files.
  SourceMissing,         // a path that names no file
  SourceCannotOpen,      // missing, unreadable, a folder, or no regular file
  SourceReadFailed,      // opened, but a later read failed or the file changed while read
  OutputCannotWrite,     // the output could not be created, written, flushed, closed or put in place
  ChangedSinceDetected,  // not the file, or not the content, that detection looked at
  Cancelled,             // stopped on request
  DriveNotReady,         // a drive the file browser cannot show
  // The batch window's refusals of its 変換.
  NoBatchTarget,
  NoOutputFolder,
  // A window's own.
  ManualNotOpened,
  // A batch's files, and a batch refused whole.
  SkippedLink,  // a symbolic link met by a walk: told, never followed
  NotDone,      // the batch was stopped first; the file is as it was
  PassedOver,   // in place: the working file of a run of this program still going
  Removed,      // in place: a working file left by a run of this boot that is gone
  OutputFolderInsideSource,
  OutputIsSource,
};

struct Result {
  Result() = default;
  Result(Outcome what, platform::Reason why = platform::Reason::kNone)  // NOLINT: {Outcome::X, reason}
      : outcome(what), reason(why) {}

  Outcome outcome = Outcome::Ok;
  platform::Reason reason = platform::Reason::kNone;  // why, where it failed
  // Told after the outcome, where they apply:
  ControlFound found;            // NotConvertible: the control character that made it so
  bool no_line_break = false;    // AlreadyTarget: for there is no line break at all
  bool copied = false;           // written unchanged, where the output was to hold every file
  bool planned = false;          // a dry run's: what would be done
  LineEndingKind detected = LineEndingKind::None;  // a batch file's kind, when it was read

  // Done as asked, or nothing was there to do.
  bool ok() const { return outcome == Outcome::Ok || outcome == Outcome::AlreadyTarget; }
  // A file could not be read or written, or a batch could not begin: not a refusal,
  // nothing already done, not a stop.
  bool Failed() const;
};

inline bool Result::Failed() const {
  switch (outcome) {
    case Outcome::SourceMissing:
    case Outcome::SourceCannotOpen:
    case Outcome::SourceReadFailed:
    case Outcome::OutputCannotWrite:
    case Outcome::ChangedSinceDetected:
    case Outcome::DriveNotReady:
    case Outcome::OutputFolderInsideSource:
    case Outcome::OutputIsSource: return true;
    default: return false;
  }
}

}  // namespace tarnwhistle
