#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include "encoding.h"
#include "line_ending_kind.h"

namespace tarnwhistle {

// Converts a stream piece by piece so that every line ending in it (CR LF, LF alone, CR
// alone) becomes the target's; everything else is copied unchanged. A CR at the end of a
// piece is held back until the next piece shows whether an LF follows it; in UTF-16 so is
// half a code unit.
class LineEndingConverter {
 public:
  // `target` is MsDos, Unix or Mac; with any other, every Convert fails.
  LineEndingConverter(Encoding encoding, LineEndingKind target);

  // The most bytes Convert may write (including any scratch it writes past its result)
  // for a piece of `input_size` bytes, the bytes held back from before included.
  static constexpr std::size_t MaxOutput(std::size_t input_size) {
    // Every line ending at most doubles (LF into CR LF), so does the whole.
    return 2 * (input_size + kMostHeld) + kScratch;
  }

  // Converts the next piece into `out`, which has room for MaxOutput(in.size()) bytes
  // and does not overlap `in`.
  // Returns how many bytes of the result it wrote, or nothing when the piece holds a NUL
  // (a NUL byte; in UTF-16 a NUL code unit): text never holds one, and the converter
  // is of no further use then.
  std::optional<std::size_t> Convert(std::span<const std::uint8_t> in, std::uint8_t* out) {
    const std::ptrdiff_t made = convert_(*this, in, out);
    if (made < 0) return std::nullopt;
    return static_cast<std::size_t>(made);
  }

  // The end of the stream: writes what is still held back (a last CR becomes the
  // target's ending; in UTF-16 an odd last byte is copied as it is) and returns its
  // length; `out` has room for MaxOutput(0) bytes.
  std::size_t Finish(std::uint8_t* out) { return finish_(*this, out); }

 private:
  struct Kernel;  // the loops, one instance for each encoding and target

  static constexpr std::size_t kMostHeld = 3;  // in UTF-16 a CR and half the unit after it
  static constexpr std::size_t kScratch = 64;  // runs are copied in whole 64-byte moves

  // The kernel's routines for the encoding and the target, which spell the target's line
  // ending at compile time. The loop's own convert_ returns -1 for a NUL: one register,
  // no optional's flag, in the hottest loop.
  std::ptrdiff_t (*convert_)(LineEndingConverter&, std::span<const std::uint8_t>, std::uint8_t*);
  std::size_t (*finish_)(LineEndingConverter&, std::uint8_t*);
  bool cr_held_ = false;
  bool odd_held_ = false;
  std::uint8_t odd_ = 0;
  bool failed_ = false;
};

}  // namespace tarnwhistle
