#include "printable_name.h"

#include <cstdint>

namespace tarnwhistle::cli {
namespace {

// Written here because neither the standard library nor CLI11 validates UTF-8, and the
// command-line tool links no Qt.
//
// The length of the valid UTF-8 sequence at the start of `s`, or 0 when it is not one
// (overlong forms, surrogates and code points past U+10FFFF are not valid).
std::size_t Utf8SequenceLength(std::string_view s) {
  const auto byte = [&s](std::size_t i) { return static_cast<std::uint8_t>(s[i]); };
  const std::uint8_t lead = byte(0);
  std::size_t length = 0;
  std::uint32_t min = 0, code = 0;
  if (lead >= 0xC2 && lead <= 0xDF) length = 2, min = 0x80, code = lead & 0x1F;
  else if (lead >= 0xE0 && lead <= 0xEF) length = 3, min = 0x800, code = lead & 0x0F;
  else if (lead >= 0xF0 && lead <= 0xF4) length = 4, min = 0x10000, code = lead & 0x07;
  else return 0;
  if (s.size() < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(i) & 0x3F);
  }
  if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  // C1 controls (U+0080 to U+009F) act as escapes on some terminals.
  if (code >= 0x80 && code <= 0x9F) return 0;
  return length;
}

}  // namespace

std::string PrintableName(std::string_view name) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(name.size());
  while (!name.empty()) {
    const auto byte = static_cast<std::uint8_t>(name.front());
    std::size_t take = 1;
    if (byte == '\\') {
      out += "\\\\";
    } else if (byte == '\n') {
      out += "\\n";
    } else if (byte == '\t') {
      out += "\\t";
    } else if (byte == '\r') {
      out += "\\r";
    } else if (byte >= 0x20 && byte < 0x7F) {
      out += static_cast<char>(byte);
    } else if (byte >= 0x80 && (take = Utf8SequenceLength(name)) != 0) {
      out.append(name.substr(0, take));
    } else {
      take = 1;
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    }
    name.remove_prefix(take);
  }
  return out;
}

std::string JsonString(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  const auto escape = [](std::string& out, unsigned code) {
    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(code >> shift) & 0xF];
  };
  std::string out = "\"";
  while (!text.empty()) {
    const auto byte = static_cast<std::uint8_t>(text.front());
    std::size_t take = 1;
    if (byte == '"' || byte == '\\') {
      out += '\\';
      out += static_cast<char>(byte);
    } else if (byte < 0x20 || byte == 0x7F) {
      escape(out, byte);
    } else if (byte < 0x80) {
      out += static_cast<char>(byte);
    } else if (byte == 0xC2 && text.size() > 1 && (static_cast<std::uint8_t>(text[1]) & 0xE0) == 0x80) {
      escape(out, static_cast<std::uint8_t>(text[1]));  // a C1 control, valid UTF-8
      take = 2;
    } else if ((take = Utf8SequenceLength(text)) != 0) {
      out.append(text.substr(0, take));
    } else {
      take = 1;
      escape(out, 0xDC00 + byte);  // a byte that is not UTF-8, as Python's surrogateescape reads it
    }
    text.remove_prefix(take);
  }
  return out + '"';
}

}  // namespace tarnwhistle::cli
