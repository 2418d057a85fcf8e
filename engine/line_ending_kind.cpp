#include "line_ending_kind.h"

namespace tarnwhistle {

Designation OpensDesignation(std::span<const std::uint8_t> bytes) {
  // bytes[0] is the ESC; what may follow it.
  static constexpr std::string_view kSequences[] = {"$@", "$B", "(B", "(J", "$(D", "(I"};
  bool too_short = false;
  for (std::string_view sequence : kSequences) {
    std::size_t i = 0;
    while (i < sequence.size() && 1 + i < bytes.size() && bytes[1 + i] == static_cast<std::uint8_t>(sequence[i])) ++i;
    if (i == sequence.size()) return Designation::Yes;
    if (1 + i == bytes.size()) too_short = true;  // matched as far as the bytes go
  }
  return too_short ? Designation::TooShort : Designation::No;
}

std::string_view DisplayName(LineEndingKind kind) {
  switch (kind) {
    case LineEndingKind::MsDos: return "MS-DOS";
    case LineEndingKind::Unix: return "UNIX";
    case LineEndingKind::Mac: return "MAC";
    case LineEndingKind::Binary: return "BINARY";
    case LineEndingKind::None: break;
  }
  return {};
}

Encoding EncodingOf(std::span<const std::uint8_t> start) {
  if (start.size() >= 2 && start[0] == 0xFF && start[1] == 0xFE) return Encoding::Utf16Le;
  if (start.size() >= 2 && start[0] == 0xFE && start[1] == 0xFF) return Encoding::Utf16Be;
  return Encoding::Bytes;
}

std::string_view EncodingName(Encoding encoding) {
  switch (encoding) {
    case Encoding::Utf16Le: return "UTF-16LE";
    case Encoding::Utf16Be: return "UTF-16BE";
    case Encoding::Bytes: break;
  }
  return {};
}

}  // namespace tarnwhistle
