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
void ConvertDosToUnix(platform::ByteReader& in, platform::ByteWriter& out);  // CR is dropped
void ConvertDosToMac(platform::ByteReader& in, platform::ByteWriter& out);   // LF is dropped
void ConvertUnixToDos(platform::ByteReader& in, platform::ByteWriter& out);  // LF is written as CR LF
void ConvertUnixToMac(platform::ByteReader& in, platform::ByteWriter& out);  // LF is written as CR
void ConvertMacToDos(platform::ByteReader& in, platform::ByteWriter& out);   // CR is written as CR LF
void ConvertMacToUnix(platform::ByteReader& in, platform::ByteWriter& out);  // CR is written as LF

using ConversionRoutine = void (*)(platform::ByteReader& in, platform::ByteWriter& out);

// The routine that converts a file of kind `from` into kind `to`; nullptr when there is
// none (either kind None or BINARY, or both the same).
ConversionRoutine RoutineFor(LineEndingKind from, LineEndingKind to);

// Told how many bytes of the source have been read out of how many; returning false
// cancels the conversion.
using ConversionProgress = std::function<bool(std::uint64_t done, std::uint64_t total)>;

// Runs `routine` from the file `source` into the file `output`. The output is replaced
// whole on success and left exactly as it was on any failure or cancellation; the source
// is only read. When the source cannot be opened, the output is not touched at all.
Status ConvertFile(platform::FileSystem& fs, ConversionRoutine routine, const std::string& source,
                   const std::string& output, const ConversionProgress& progress = {});

}  // namespace tarnwhistle
