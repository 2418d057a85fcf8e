#pragma once

namespace tarnwhistle {

// What an engine operation on files came to; a platform::Reason beside it says why,
// where it failed. The engine never prints: callers turn these into their own messages
// (messages::ForStatus).
enum class Status {
  Ok,
  SourceCannotOpen,      // missing, unreadable, a folder, or no regular file
  SourceReadFailed,      // opened, but a later read failed or the file changed while read
  SourceNotText,         // a NUL byte (in UTF-16, a NUL code unit): an image, an executable; with
                         // kControlCharacter, a stream found BINARY once part of it was written
  OutputCannotWrite,     // the output could not be created, written, flushed, closed or put in place
  Cancelled,             // stopped on request
  ChangedSinceDetected,  // not the file, or not the content, that detection looked at
};

}  // namespace tarnwhistle
