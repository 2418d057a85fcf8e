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

// How far the loop below may write past the end of what belongs to the output.
constexpr std::size_t kOverrun = 64;

#ifdef __SSE2__
// Copies 64 bytes, sixteen at a time.
inline void Move64(std::uint8_t* out, const std::uint8_t* in) {
  for (int i = 0; i < 64; i += 16) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i)));
  }
}

// One bit for each of the 64 bytes at `in` that equals `wanted`'s byte; `nul` tells
// whether any of them is a NUL, from the same loads.
inline std::uint64_t Hits64(const std::uint8_t* in, __m128i wanted, bool& nul) {
  std::uint64_t hits = 0;
  __m128i nuls = _mm_setzero_si128();
  for (int i = 0; i < 64; i += 16) {
    __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
    hits |= static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, wanted)))) << i;
    nuls = _mm_or_si128(nuls, _mm_cmpeq_epi8(block, _mm_setzero_si128()));
  }
  nul = _mm_movemask_epi8(nuls) != 0;
  return hits;
}
#endif

// Copies [in, end) to `out`, writing `with` in place of every `byte`, and returns the
// end of what it wrote, or nullptr when it met a NUL byte (having written part of the
// bytes before it). `out` needs room for 2 * (end - in) + kOverrun bytes.
//
// The input goes in blocks of 64 bytes. Each run of a block up to a hit is copied with
// a whole 64-byte move (the bytes past the run are overwritten by what follows), then
// the replacement's two bytes are stored whatever its size and the output moves on by
// as many as belong to it.
std::uint8_t* ReplaceBytes(const std::uint8_t* in, const std::uint8_t* end, std::uint8_t* out, std::uint8_t byte,
                           Replacement with) {
#ifdef __SSE2__
  const __m128i wanted = _mm_set1_epi8(static_cast<char>(byte));
  while (end - in >= 128) {  // a move may read up to 127 bytes past the block's start
    bool nul = false;
    std::uint64_t hits = Hits64(in, wanted, nul);
    if (nul) return nullptr;
    std::size_t from = 0;  // the first byte of the block not yet written
    while (hits != 0) {
      std::size_t at = static_cast<std::size_t>(__builtin_ctzll(hits));
      hits &= hits - 1;
      Move64(out, in + from);
      out += at - from;
      out[0] = with.bytes[0];
      out[1] = with.bytes[1];
      out += with.size;
      from = at + 1;
    }
    Move64(out, in + from);
    out += 64 - from;
    in += 64;
  }
#endif
  for (; in < end; ++in) {
    if (*in == 0) return nullptr;
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
// False at a NUL byte.
bool Replace(ByteReader& in, ByteWriter& out, std::uint8_t byte, Replacement with) {
  const std::size_t piece_limit = (out.Capacity() - kOverrun) / 2;
  for (auto chunk = in.TakeChunk(); !chunk.empty() && !out.Failed(); chunk = in.TakeChunk()) {
    while (!chunk.empty()) {
      std::size_t piece = chunk.size() < piece_limit ? chunk.size() : piece_limit;
      std::uint8_t* room = out.Reserve(2 * piece + kOverrun);
      std::uint8_t* written = ReplaceBytes(chunk.data(), chunk.data() + piece, room, byte, with);
      if (written == nullptr) return false;
      out.Advance(written);
      chunk = chunk.subspan(piece);
    }
  }
  return true;
}

}  // namespace

bool ConvertDosToUnix(ByteReader& in, ByteWriter& out) { return Replace(in, out, kCr, {{0, 0}, 0}); }
bool ConvertDosToMac(ByteReader& in, ByteWriter& out) { return Replace(in, out, kLf, {{0, 0}, 0}); }
bool ConvertUnixToDos(ByteReader& in, ByteWriter& out) { return Replace(in, out, kLf, {{kCr, kLf}, 2}); }
bool ConvertUnixToMac(ByteReader& in, ByteWriter& out) { return Replace(in, out, kLf, {{kCr, 0}, 1}); }
bool ConvertMacToDos(ByteReader& in, ByteWriter& out) { return Replace(in, out, kCr, {{kCr, kLf}, 2}); }
bool ConvertMacToUnix(ByteReader& in, ByteWriter& out) { return Replace(in, out, kCr, {{kLf, 0}, 1}); }
bool CopyText(ByteReader& in, ByteWriter& out) { return Replace(in, out, kCr, {{kCr, 0}, 1}); }

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
  std::unique_ptr<platform::ReplacementFile> output_file =
      platform::ReplacementFile::Create(fs, output, source_file->Permissions());
  if (!output_file) return Status::OutputCannotWrite;

  ByteReader in(*source_file);
  const std::uint64_t total = source_file->Size();
  if (progress) in.SetProgressObserver([&progress, total](std::uint64_t done) { return progress(done, total); });
  ByteWriter out(output_file->Handle());
  const bool text = routine(in, out);

  if (in.Stopped()) return Status::Cancelled;
  if (in.Failed()) return Status::SourceReadFailed;
  if (out.Failed()) return Status::OutputCannotWrite;  // the routine stopped before the source's end
  if (!text) return Status::SourceNotText;
  if (in.BytesRead() != total || source_file->ChangedSinceOpened()) return Status::SourceReadFailed;
  if (!out.Drain()) return Status::OutputCannotWrite;
  if (progress && !progress(in.BytesRead(), total)) return Status::Cancelled;
  if (!output_file->Commit()) return Status::OutputCannotWrite;
  return Status::Ok;
}

}  // namespace tarnwhistle
