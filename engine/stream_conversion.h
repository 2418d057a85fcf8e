#pragma once

#include <stop_token>

#include "conversion_request.h"
#include "line_ending_kind.h"
#include "platform/file_system.h"

namespace tarnwhistle {

// Converts a stream that can be read only once (a pipe) into `out` as it flows, with
// every line ending made the target's. Its first bytes are held back until they decide
// its kind, as for a file, unless `from` gives it: a stream found BINARY by a control
// character in its first MiB, or holding a NUL among the bytes held back, writes nothing
// and is refused. A filter in a pipe passes on what it does not change, so a stream
// already of the target kind, or without a line break, comes out as it went in. A NUL
// further on ends the work as NotConvertible, after what came before it; so does a
// control character before a first line break further on, with kControlCharacter. When the stream is a file
// (`file`), one that changes while it is read is SourceReadFailed. Nothing of `out` is
// flushed or closed here.
Result ConvertStream(platform::ByteSource& in, platform::ByteSink& out, LineEndingKind from, LineEndingKind target,
                     const std::stop_token& stop = {}, platform::ReadHandle* file = nullptr);

}  // namespace tarnwhistle
