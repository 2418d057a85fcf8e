#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stop_token>
#include <vector>

#include "line_ending_kind.h"
#include "outcome.h"
#include "platform/file_system.h"
#include "platform/replacement_file.h"

namespace tarnwhistle {

// How far a conversion has come: bytes of the source read out of its size, then the
// last step, when the new file is made durable and put in place.
enum class Stage { Converting, Finishing };
using ConversionProgress = std::function<void(std::uint64_t done, std::uint64_t total, Stage stage)>;

// A source file opened once: the bytes that decide its kind are the bytes converted.
struct Source {
  platform::Place place;
  std::unique_ptr<platform::ReadHandle> file;
  Encoding encoding = Encoding::Bytes;
  LineEndingKind verdict = LineEndingKind::None;  // from its first line break, as detection decides
  ControlFound found;                             // for BINARY, what made it so
  // A small file's bytes, when its first read held all of them: read from here again,
  // not from the file, which a batch of thousands of small files feels.
  std::vector<std::uint8_t> whole;
  bool held_whole = false;
};

// Opens the file at `place` and decides its kind from its first line break. A file of up
// to 64 KiB (detection's first read) is read whole, once, and kept in `source.whole`; a
// larger one is read no further than detection needs and left at its first byte again.
Result OpenSource(platform::FileReader& fs, const platform::Place& place, Source& source,
                  const std::stop_token& stop = {});

// Whether every line ending of `source` is already `kind`'s, read to its end (a NUL
// byte on the way does not matter); the file is left at its first byte again (a file
// held whole is not read again). `nul`, when given, is told whether the file holds a NUL.
Result AllLineEndingsOf(Source& source, LineEndingKind kind, bool& all, bool* nul = nullptr,
                        const std::stop_token& stop = {});

// The first half of WriteConverted, for a batch that makes many new files durable
// together: the new file written whole and checked against its source, but neither
// durable nor in its output's place yet. Dropping it leaves nothing behind.
struct Written {
  Result result;
  std::unique_ptr<platform::ReplacementFile> file;  // when the result is Ok
};
Written WriteUnpublished(platform::FileSystem& fs, Source& source, const platform::Place& output,
                         LineEndingKind target, const std::stop_token& stop = {},
                         const ConversionProgress& progress = {}, bool keep_modified = false);

// Puts a file WriteUnpublished wrote in its place (ReplacementFile::Commit): Cancelled
// when the stop came first, OutputCannotWrite with the reason when it failed.
Result Publish(platform::ReplacementFile& file, const std::stop_token& stop);

// Writes `source`, from its first byte, into a new file that replaces `output` in one
// step, with every line ending (CR LF, LF alone, CR alone) made the target's; or, with
// LineEndingKind::None as the target, copied byte for byte. The output is replaced whole
// on success and left exactly as it was on any failure or stop; the source is only
// read. A NUL (byte, or UTF-16 code unit) stops a conversion: NotConvertible, kNulCharacter. A source
// that changes while it is read (its size or modification time, or fewer or more bytes
// than it had) is SourceReadFailed. A stop requested before the output takes its place,
// even during the final flush, is Cancelled. With `keep_modified` the output takes the
// source's modification time.
Result WriteConverted(platform::FileSystem& fs, Source& source, const platform::Place& output, LineEndingKind target,
                      const std::stop_token& stop = {}, const ConversionProgress& progress = {},
                      bool keep_modified = false);

}  // namespace tarnwhistle
