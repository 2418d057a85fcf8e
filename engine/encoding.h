#pragma once

namespace tarnwhistle {

// How a text stores its characters: as bytes (ASCII, UTF-8, Shift_JIS, EUC-JP,
// ISO-2022-JP), where a line ends with the bytes CR and LF, or as 16-bit code units,
// where it ends with the code units U+000D and U+000A in the text's byte order.
enum class Encoding { Bytes, Utf16Le, Utf16Be };

}  // namespace tarnwhistle
