#pragma once

namespace tarnwhistle {

// What an engine operation on files came to. The engine never prints: callers turn
// these into their own messages (messages::ForStatus).
enum class Status {
  Ok,
  SourceCannotOpen,   // missing, unreadable, or not a regular file
  SourceReadFailed,   // opened, but a later read failed or the file changed while read
  SourceNotText,      // a NUL byte: an image, a UTF-16 text, an executable
  OutputCannotWrite,  // the output could not be created, written, flushed, closed or put in place
  Cancelled,          // the caller's progress observer asked to stop
};

}  // namespace tarnwhistle
