#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace tarnwhistle::platform {

// The most bytes of a text GuessCharset is worth being given: a few pages of it tell
// its encoding as well as the whole file would.
inline constexpr std::size_t kCharsetSampleSize = 16 * 1024;

// A guess, from the first bytes of a text in bytes, of how it stores its characters:
// "ASCII", "UTF-8", "Shift_JIS", "EUC-JP" or "ISO-2022-JP"; empty for anything else
// (another encoding, or bytes that are no text), as Debian's uchardet judges it.
std::string_view GuessCharset(std::span<const std::uint8_t> sample);

}  // namespace tarnwhistle::platform
