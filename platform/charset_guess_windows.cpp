#include "charset_guess.h"

namespace tarnwhistle::platform {

// Debian builds libuchardet for Linux only: on Windows text in bytes is named by what its
// bytes prove alone (a byte order mark, UTF-16), and its encoding is never guessed.
std::string_view GuessCharset(std::span<const std::uint8_t>) { return {}; }

}  // namespace tarnwhistle::platform
