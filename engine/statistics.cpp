#include "statistics.h"

#include <cstddef>
#include <cstring>
#include <span>

namespace tarnwhistle {
namespace {

// Totals of one chunk. The loop has no branches, so the compiler turns it into vector
// code: it counts every LF, every CR and every CR LF pair inside the chunk, and the
// lone ones are told apart afterwards by subtraction.
struct ChunkTotals {
  std::uint64_t lf = 0;
  std::uint64_t cr = 0;
  std::uint64_t pairs = 0;
  bool control = false;
  bool nul = false;
};

ChunkTotals CountChunk(std::span<const std::uint8_t> chunk) {
  ChunkTotals totals;
  const std::uint8_t* p = chunk.data();
  const std::size_t n = chunk.size();
  // Byte-wide counters vectorise best; a block of 240 bytes cannot overflow them and is
  // a whole number of 16-byte vectors, which leaves no byte-at-a-time tail inside a
  // chunk. They are added into the wide totals after each block.
  constexpr std::size_t kBlock = 240;
  std::uint8_t control = 0, nul = 0;
  for (std::size_t start = 0; start < n; start += kBlock) {
    const std::size_t stop = n - start < kBlock ? n : start + kBlock;
    std::uint8_t lf = 0, cr = 0, pairs = 0;
    for (std::size_t i = start; i < stop; ++i) {
      const std::uint8_t b = p[i];
      lf += b == kLf;
      cr += b == kCr;
      control |= IsOtherControl(b);
      nul |= b == 0;
    }
    // The pair test looks one byte ahead, so it stops one short of the chunk's end.
    const std::size_t pair_stop = stop < n ? stop : n - 1;
    for (std::size_t i = start; i < pair_stop; ++i) pairs += (p[i] == kCr) & (p[i + 1] == kLf);
    totals.lf += lf;
    totals.cr += cr;
    totals.pairs += pairs;
  }
  totals.control = control != 0;
  totals.nul = nul != 0;
  return totals;
}

}  // namespace

LineEndingCounts CountLineEndings(platform::ByteReader& in) {
  LineEndingCounts counts;
  std::uint64_t lf = 0, cr = 0, pairs = 0;
  bool cr_before = false;  // the last byte of the previous chunk was a CR
  for (auto chunk = in.TakeChunk(); !chunk.empty(); chunk = in.TakeChunk()) {
    ChunkTotals totals = CountChunk(chunk);
    lf += totals.lf;
    cr += totals.cr;
    pairs += totals.pairs;
    if (cr_before && chunk.front() == kLf) ++pairs;
    cr_before = chunk.back() == kCr;
    if (totals.control && !counts.control) {
      std::size_t i = 0;
      while (!IsOtherControl(chunk[i])) ++i;
      counts.control = true;
      counts.first_control = counts.bytes + i;
    }
    if (totals.nul && !counts.nul) {
      const auto* at = static_cast<const std::uint8_t*>(std::memchr(chunk.data(), 0, chunk.size()));
      counts.nul = true;
      counts.first_nul = counts.bytes + static_cast<std::uint64_t>(at - chunk.data());
    }
    counts.bytes += chunk.size();
  }
  counts.crlf = pairs;
  counts.lf = lf - pairs;
  counts.cr = cr - pairs;
  return counts;
}

FileLineEndings CountLineEndingsInFile(platform::FileSystem& fs, const std::string& path,
                                       const std::function<bool()>& stop_requested) {
  std::unique_ptr<platform::ReadHandle> file = fs.OpenForRead(path);
  if (!file) return {Status::SourceCannotOpen, {}};
  platform::ByteReader in(*file);
  if (stop_requested) in.SetProgressObserver([&stop_requested](std::uint64_t) { return !stop_requested(); });
  LineEndingCounts counts = CountLineEndings(in);
  if (in.Stopped()) return {Status::Cancelled, {}};
  if (in.Failed()) return {Status::SourceReadFailed, {}};
  return {Status::Ok, counts};
}

}  // namespace tarnwhistle
