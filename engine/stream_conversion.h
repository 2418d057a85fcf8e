#pragma once

#include "conversion_request.h"
#include "line_ending_kind.h"
#include "platform/file_system.h"

namespace tarnwhistle {

// Converts a stream that can be read only once (a pipe) into `out` as it flows. The
// kind is decided from the first bytes, as for a file, unless `from` gives it; those
// bytes are held back until the verdict, so a refused stream (BINARY, a NUL byte among
// them, or no verdict) writes nothing. A stream already of the target kind is copied
// unchanged: a filter in a pipe must pass on what it does not change. A NUL byte
// further on ends the work with Status::SourceNotText, after what came before it.
// Nothing of `out` is flushed or closed here.
ConversionOutcome ConvertStream(platform::ReadHandle& in, platform::WriteHandle& out, LineEndingKind from,
                                LineEndingKind target, const ConversionProgress& progress = {});

}  // namespace tarnwhistle
