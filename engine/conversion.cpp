#include "conversion.h"

#include <cstring>
#include <initializer_list>

#include "platform/replacement_file.h"

namespace tarnwhistle {
namespace {

using platform::ByteReader;
using platform::ByteWriter;

// Copies `in` to `out`, writing `written` (zero, one or two bytes) in place of every
// `byte`. The runs between two such bytes are copied whole, which keeps the output
// exactly as a byte-by-byte copy would make it.
void Replace(ByteReader& in, ByteWriter& out, std::uint8_t byte, std::initializer_list<std::uint8_t> written) {
  for (auto chunk = in.TakeChunk(); !chunk.empty() && !out.Failed(); chunk = in.TakeChunk()) {
    const std::uint8_t* next = chunk.data();
    const std::uint8_t* end = next + chunk.size();
    while (next < end) {
      auto* hit = static_cast<const std::uint8_t*>(std::memchr(next, byte, static_cast<std::size_t>(end - next)));
      if (hit == nullptr) {
        out.Write(next, static_cast<std::size_t>(end - next));
        break;
      }
      out.Write(next, static_cast<std::size_t>(hit - next));
      for (std::uint8_t b : written) out.WriteByte(b);
      next = hit + 1;
    }
  }
}

}  // namespace

void ConvertDosToUnix(ByteReader& in, ByteWriter& out) { Replace(in, out, kCr, {}); }
void ConvertDosToMac(ByteReader& in, ByteWriter& out) { Replace(in, out, kLf, {}); }
void ConvertUnixToDos(ByteReader& in, ByteWriter& out) { Replace(in, out, kLf, {kCr, kLf}); }
void ConvertUnixToMac(ByteReader& in, ByteWriter& out) { Replace(in, out, kLf, {kCr}); }
void ConvertMacToDos(ByteReader& in, ByteWriter& out) { Replace(in, out, kCr, {kCr, kLf}); }
void ConvertMacToUnix(ByteReader& in, ByteWriter& out) { Replace(in, out, kCr, {kLf}); }

ConversionRoutine RoutineFor(LineEndingKind from, LineEndingKind to) {
  using K = LineEndingKind;
  if (from == K::MsDos && to == K::Unix) return ConvertDosToUnix;
  if (from == K::MsDos && to == K::Mac) return ConvertDosToMac;
  if (from == K::Unix && to == K::MsDos) return ConvertUnixToDos;
  if (from == K::Unix && to == K::Mac) return ConvertUnixToMac;
  if (from == K::Mac && to == K::MsDos) return ConvertMacToDos;
  if (from == K::Mac && to == K::Unix) return ConvertMacToUnix;
  return nullptr;
}

Status ConvertFile(platform::FileSystem& fs, ConversionRoutine routine, const std::string& source,
                   const std::string& output, const ConversionProgress& progress) {
  std::unique_ptr<platform::ReadHandle> source_file = fs.OpenForRead(source);
  if (!source_file) return Status::SourceCannotOpen;
  // Declared after the source, so the output is closed first.
  std::unique_ptr<platform::ReplacementFile> output_file = platform::ReplacementFile::Create(fs, output);
  if (!output_file) return Status::OutputCannotWrite;

  ByteReader in(*source_file);
  if (progress) {
    std::uint64_t total = source_file->Size();
    in.SetProgressObserver([&progress, total](std::uint64_t done) { return progress(done, total); });
  }
  ByteWriter out(output_file->Handle());
  routine(in, out);

  if (in.Stopped()) return Status::Cancelled;
  if (in.Failed()) return Status::SourceReadFailed;
  if (!out.Drain() || !output_file->Commit()) return Status::OutputCannotWrite;
  return Status::Ok;
}

}  // namespace tarnwhistle
