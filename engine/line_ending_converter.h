#pragma once

#include <cstddef>
#include <cstdint>
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
  LineEndingConverter(Encoding encoding, LineEndingKind target);  // target: MsDos, Unix or Mac

  // The most bytes Convert may write (including any scratch it writes past its result)
  // for a piece of `input_size` bytes, the bytes held back from before included.
  static constexpr std::size_t MaxOutput(std::size_t input_size) { return 2 * input_size + 64; }

  // Converts the next piece into `out`, which has room for MaxOutput(in.size()) bytes.
  // Returns how many bytes of the result it wrote, or -1 when the piece holds a NUL
  // (a NUL byte; in UTF-16 a NUL code unit): text never holds one, and the converter
  // is of no further use then.
  std::ptrdiff_t Convert(std::span<const std::uint8_t> in, std::uint8_t* out);

  // The end of the stream: writes what is still held back (a last CR becomes the
  // target's ending; in UTF-16 an odd last byte is copied as it is) and returns its
  // length; `out` has room for MaxOutput(0) bytes.
  std::size_t Finish(std::uint8_t* out);

  // True once a line ending was met that is not already the target's, that is, once
  // the output differs from the input.
  bool Changed() const { return changed_; }

 private:
  std::uint8_t* PutEnding(std::uint8_t* out) const;
  std::uint8_t* PutUnit(std::uint8_t* out, std::uint16_t unit) const;

  Encoding encoding_;
  LineEndingKind target_;
  bool pending_cr_ = false;
  std::int16_t half_ = -1;
  bool changed_ = false;
};

}  // namespace tarnwhistle
