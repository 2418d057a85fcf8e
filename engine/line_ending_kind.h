#pragma once

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
// (ESC $ @, ESC $ B, ESC ( B, ESC ( J, ESC $ ( D) that JIS-coded text is full of: such
// an ESC is text. TooShort when `bytes` ends before that can be told.
enum class Designation { Yes, No, TooShort };
Designation OpensDesignation(std::span<const std::uint8_t> bytes);

// "MS-DOS", "UNIX", "MAC" or "BINARY"; empty for None.
std::string_view DisplayName(LineEndingKind kind);

// The encoding a byte order mark at the start of a file says: FF FE is UTF-16LE, FE FF
// UTF-16BE; anything else is taken as bytes. Needs the first two bytes, or all there are.
Encoding EncodingOf(std::span<const std::uint8_t> start);

// "UTF-16LE", "UTF-16BE", or "" for text in bytes.
std::string_view EncodingName(Encoding encoding);

}  // namespace tarnwhistle
