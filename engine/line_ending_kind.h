#pragma once

#include <cstdint>
#include <string_view>

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

inline constexpr std::uint8_t kTab = 0x09;
inline constexpr std::uint8_t kLf = 0x0A;
inline constexpr std::uint8_t kCr = 0x0D;

// A control byte other than TAB, LF and CR: no text file holds one.
constexpr bool IsOtherControl(std::uint8_t b) { return b < 0x20 && b != kTab && b != kLf && b != kCr; }

// "MS-DOS", "UNIX", "MAC" or "BINARY"; empty for None.
std::string_view DisplayName(LineEndingKind kind);

}  // namespace tarnwhistle
