#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "encoding.h"

namespace tarnwhistle {

// The kinds of line ending the program speaks of. The same codes name the kind found
// in a file and the kind chosen as a conversion target; BINARY only ever comes from
// detection, and None means "no verdict yet" or "no target chosen".
enum class LineEndingKind : std::int16_t {
  None = 0,
  MsDos = 1,   // lines end with CR LF
  Unix = 2,    // lines end with LF
  Mac = 3,     // lines end with CR
  Binary = 4,  // not a text file
};

// What made a text BINARY: the control character (0 for a NUL) and the line it is on,
// from 1. Line 0: nothing was found.
struct ControlFound {
  std::uint32_t unit = 0;
  std::uint64_t line = 0;
};

inline constexpr std::uint8_t kTab = 0x09;
inline constexpr std::uint8_t kLf = 0x0A;
inline constexpr std::uint8_t kCr = 0x0D;
inline constexpr std::uint8_t kEsc = 0x1B;

// A control character other than TAB, LF and CR: no text holds one (a byte, or a UTF-16
// code unit).
constexpr bool IsOtherControl(std::uint32_t unit) { return unit < 0x20 && unit != kTab && unit != kLf && unit != kCr; }

// Whether the ESC at the start of `bytes` opens one of the ISO-2022-JP designations
// (ESC $ @, ESC $ B, ESC ( B, ESC ( J, ESC $ ( D, and ESC ( I for half-width katakana)
// that JIS-coded text is full of: such an ESC is text. TooShort when `bytes` ends before that can be told.
enum class Designation { Yes, No, TooShort };
Designation OpensDesignation(std::span<const std::uint8_t> bytes);

// A text comes in pieces; these join what a piece's edge splits, for every reader of it.

// A UTF-16 code unit whose two bytes may come in different pieces.
class UnitJoiner {
 public:
  explicit UnitJoiner(Encoding encoding) : little_(encoding == Encoding::Utf16Le) {}
  // Takes the next byte; true once it completes a unit, which `unit` then holds.
  bool Take(std::uint8_t byte, std::uint32_t& unit) {
    if (half_ < 0) {
      half_ = byte;
      return false;
    }
    const auto first = static_cast<std::uint32_t>(half_);
    unit = little_ ? first | (std::uint32_t{byte} << 8) : (first << 8) | byte;
    half_ = -1;
    return true;
  }
  // Whether a unit's first byte is held.
  bool Holding() const { return half_ >= 0; }

 private:
  bool little_;
  std::int16_t half_ = -1;
};

// An ESC whose next bytes may come in later pieces, held until they show whether it
// opens a designation.
class EscapeJoiner {
 public:
  bool Holding() const { return size_ > 0; }
  // Holds `bytes`, the ESC and what follows it, as far as OpensDesignation found them
  // too short to tell (three bytes at most).
  void Hold(std::span<const std::uint8_t> bytes) {
    size_ = std::min<std::size_t>(bytes.size(), 3);
    for (std::size_t i = 0; i < size_; ++i) bytes_[i] = bytes[i];
  }
  // Takes the next byte: TooShort while it still cannot be told; once it can, nothing is
  // held any more.
  Designation Take(std::uint8_t byte) {
    bytes_[size_++] = byte;
    const Designation opens = OpensDesignation({bytes_, size_});
    if (opens != Designation::TooShort) size_ = 0;
    return opens;
  }
  void Drop() { size_ = 0; }

 private:
  std::uint8_t bytes_[4] = {};  // the longest designation is four bytes
  std::size_t size_ = 0;
};

// "MS-DOS", "UNIX", "MAC" or "BINARY"; empty for None.
std::string_view DisplayName(LineEndingKind kind);

// The encoding a byte order mark at the start of a file says: FF FE is UTF-16LE, FE FF
// UTF-16BE; anything else is taken as bytes. Needs the first two bytes, or all there are.
Encoding EncodingOf(std::span<const std::uint8_t> start);

// "UTF-16LE", "UTF-16BE", or "" for text in bytes.
std::string_view EncodingName(Encoding encoding);

}  // namespace tarnwhistle
