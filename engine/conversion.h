#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "line_ending_kind.h"
#include "status.h"
#include "platform/byte_reader.h"
#include "platform/byte_writer.h"
#include "platform/file_system.h"

namespace tarnwhistle {

// The six conversion routines, one for each ordered pair of text kinds. Each copies
// every byte of `in` to `out` in order, applying its rule to every CR or LF byte on its
// own (not to line-ending pairs), and trusts that the input is of its source kind.
// Text never holds a NUL byte, while images, UTF-16 texts and executables do, often
// with CR LF in their first bytes: a routine stops at the first NUL and returns false,
// and what it wrote by then is to be thrown away.
bool ConvertDosToUnix(platform::ByteReader& in, platform::ByteWriter& out);  // CR is dropped
bool ConvertDosToMac(platform::ByteReader& in, platform::ByteWriter& out);   // LF is dropped
bool ConvertUnixToDos(platform::ByteReader& in, platform::ByteWriter& out);  // LF is written as CR LF
bool ConvertUnixToMac(platform::ByteReader& in, platform::ByteWriter& out);  // LF is written as CR
bool ConvertMacToDos(platform::ByteReader& in, platform::ByteWriter& out);   // CR is written as CR LF
bool ConvertMacToUnix(platform::ByteReader& in, platform::ByteWriter& out);  // CR is written as LF

// Copies every byte unchanged, stopping at a NUL as the routines do: for a stream
// already of the kind asked for, which a filter passes on.
bool CopyText(platform::ByteReader& in, platform::ByteWriter& out);

using ConversionRoutine = bool (*)(platform::ByteReader& in, platform::ByteWriter& out);

// The routine that converts a file of kind `from` into kind `to`; nullptr when there is
// none (either kind None or BINARY, or both the same).
ConversionRoutine RoutineFor(LineEndingKind from, LineEndingKind to);

// Told how many bytes of the source have been read out of how many; returning false
// cancels the conversion. It is asked once more just before the output takes its place:
// the last moment a stop still leaves the output as it was.
using ConversionProgress = std::function<bool(std::uint64_t done, std::uint64_t total)>;

// Runs `routine` from the file `source` into the file `output`. The output is replaced
// whole on success and left exactly as it was on any failure or cancellation; the source
// is only read. When the source cannot be opened, the output is not touched at all. A
// source holding a NUL byte is SourceNotText; one that changes while it is read (its
// size or modification time, or fewer or more bytes than it had) is SourceReadFailed.
Status ConvertFile(platform::FileSystem& fs, ConversionRoutine routine, const std::string& source,
                   const std::string& output, const ConversionProgress& progress = {});

}  // namespace tarnwhistle
