#include "conversion.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "platform/replacement_file.h"

namespace tarnwhistle {
namespace {

using platform::ByteReader;
using platform::ByteWriter;

// What one routine writes in place of its one special byte: nothing, one byte or two.
struct Replacement {
  std::uint8_t bytes[2];
  std::uint8_t size;
};

// Copies [in, end) to `out`, writing `with` in place of every `byte`, and returns the
// end of what it wrote. `out` needs room for 2 * (end - in) + 16 bytes: the loop stores
// sixteen bytes at a time and the two bytes of a replacement whatever its size, and
// only then moves on by as many as belong to the output.
std::uint8_t* ReplaceBytes(const std::uint8_t* in, const std::uint8_t* end, std::uint8_t* out, std::uint8_t byte,
                           Replacement with) {
#ifdef __SSE2__
  const __m128i wanted = _mm_set1_epi8(static_cast<char>(byte));
  while (end - in >= 16) {
    __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    unsigned hits = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, wanted)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), block);
    if (hits == 0) {
      in += 16;
      out += 16;
      continue;
    }
    unsigned at = static_cast<unsigned>(__builtin_ctz(hits));  // bytes before the first hit
    in += at + 1;
    out += at;
    out[0] = with.bytes[0];
    out[1] = with.bytes[1];
    out += with.size;
  }
#endif
  for (; in < end; ++in) {
    if (*in == byte) {
      out[0] = with.bytes[0];
      out[1] = with.bytes[1];
      out += with.size;
    } else {
      *out++ = *in;
    }
  }
  return out;
}

// Copies `in` to `out` with `with` in place of every `byte`: the rule of every routine.
void Replace(ByteReader& in, ByteWriter& out, std::uint8_t byte, Replacement with) {
  const std::size_t piece_limit = (out.Capacity() - 16) / 2;
  for (auto chunk = in.TakeChunk(); !chunk.empty() && !out.Failed(); chunk = in.TakeChunk()) {
    while (!chunk.empty()) {
      std::size_t piece = chunk.size() < piece_limit ? chunk.size() : piece_limit;
      std::uint8_t* room = out.Reserve(2 * piece + 16);
      out.Advance(ReplaceBytes(chunk.data(), chunk.data() + piece, room, byte, with));
      chunk = chunk.subspan(piece);
    }
  }
}

}  // namespace

void ConvertDosToUnix(ByteReader& in, ByteWriter& out) { Replace(in, out, kCr, {{0, 0}, 0}); }
void ConvertDosToMac(ByteReader& in, ByteWriter& out) { Replace(in, out, kLf, {{0, 0}, 0}); }
void ConvertUnixToDos(ByteReader& in, ByteWriter& out) { Replace(in, out, kLf, {{kCr, kLf}, 2}); }
void ConvertUnixToMac(ByteReader& in, ByteWriter& out) { Replace(in, out, kLf, {{kCr, 0}, 1}); }
void ConvertMacToDos(ByteReader& in, ByteWriter& out) { Replace(in, out, kCr, {{kCr, kLf}, 2}); }
void ConvertMacToUnix(ByteReader& in, ByteWriter& out) { Replace(in, out, kCr, {{kLf, 0}, 1}); }

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
