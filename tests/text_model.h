#pragma once

// The rules of line endings written out once more, as plainly as they can be, a
// character at a time: the one model the engine's fast code is checked against, for
// detection, for the counts of a whole text and for conversion.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/line_ending_kind.h"
#include "engine/statistics.h"

namespace tarnwhistle::testkit {

// A text's characters: its bytes, or after a UTF-16 byte order mark its code units (the
// mark among them) and an odd last byte, if any.
struct Characters {
  Encoding encoding = Encoding::Bytes;
  std::vector<std::uint32_t> units;
  std::string tail;
};

inline Encoding EncodingOfMark(const std::string& bytes) {
  if (bytes.starts_with("\xff\xfe")) return Encoding::Utf16Le;
  if (bytes.starts_with("\xfe\xff")) return Encoding::Utf16Be;
  return Encoding::Bytes;
}

inline Characters Decode(const std::string& bytes, Encoding encoding) {
  Characters text;
  text.encoding = encoding;
  const auto byte = [&bytes](std::size_t i) { return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])); };
  if (text.encoding == Encoding::Bytes) {
    for (std::size_t i = 0; i < bytes.size(); ++i) text.units.push_back(byte(i));
    return text;
  }
  std::size_t i = 0;
  for (; i + 1 < bytes.size(); i += 2) {
    text.units.push_back(text.encoding == Encoding::Utf16Le ? byte(i) | byte(i + 1) << 8 : byte(i) << 8 | byte(i + 1));
  }
  text.tail = bytes.substr(i);
  return text;
}

inline Characters Decode(const std::string& bytes) { return Decode(bytes, EncodingOfMark(bytes)); }

// Whether the character at `i` is a control character for the BINARY rule: an ESC that
// opens a JIS designation in a text of bytes is not.
inline bool ControlAt(const Characters& text, const std::string& bytes, std::size_t i) {
  const std::uint32_t unit = text.units[i];
  if (!IsOtherControl(unit)) return false;
  if (unit != kEsc || text.encoding != Encoding::Bytes) return true;
  for (const char* sequence : {"\x1b$@", "\x1b$B", "\x1b(B", "\x1b(J", "\x1b$(D", "\x1b(I"}) {
    if (bytes.compare(i, std::string(sequence).size(), sequence) == 0) return false;
  }
  return true;
}

inline LineEndingKind ModelVerdict(const std::string& bytes) {
  const Characters text = Decode(bytes);
  const std::size_t width = text.encoding == Encoding::Bytes ? 1 : 2;
  for (std::size_t i = 0; i < text.units.size() && (i + 1) * width <= 64 * 1024; ++i) {
    if (text.units[i] == 0) return LineEndingKind::Binary;  // a NUL in the first 64 KiB
  }
  for (std::size_t i = 0; i < text.units.size(); ++i) {
    const std::uint32_t before = i == 0 ? 0 : text.units[i - 1];
    if (ControlAt(text, bytes, i)) return LineEndingKind::Binary;
    if (text.units[i] == kLf && before != kCr) return LineEndingKind::Unix;
    if (before == kCr) return text.units[i] == kLf ? LineEndingKind::MsDos : LineEndingKind::Mac;
  }
  return !text.units.empty() && text.units.back() == kCr ? LineEndingKind::Mac : LineEndingKind::None;
}

inline LineEndingCounts ModelCounts(const std::string& bytes) {
  const Characters text = Decode(bytes);
  const std::size_t width = text.encoding == Encoding::Bytes ? 1 : 2;
  LineEndingCounts counts;
  counts.bytes = bytes.size();
  for (std::size_t i = 0; i < text.units.size(); ++i) {
    const std::uint32_t unit = text.units[i];
    if (unit == kCr && i + 1 < text.units.size() && text.units[i + 1] == kLf) {
      ++counts.crlf;
      ++i;
      continue;
    }
    counts.cr += unit == kCr;
    counts.lf += unit == kLf;
    if (ControlAt(text, bytes, i) && !counts.control) {
      counts.control = true;
      counts.first_control = i * width;
    }
    if (unit == 0 && !counts.nul) {
      counts.nul = true;
      counts.first_nul = i * width;
    }
  }
  return counts;
}

// Every line ending of a text in `encoding` (a byte order mark is a character like any
// other) made `target`'s; nothing at a NUL. `changed`, when given, is told whether any
// line ending was not already the target's.
inline std::optional<std::string> ModelConvert(const std::string& bytes, Encoding encoding, LineEndingKind target,
                                               bool* changed = nullptr) {
  const Characters text = Decode(bytes, encoding);
  std::vector<std::uint32_t> out;
  bool differs = false;
  for (std::size_t i = 0; i < text.units.size(); ++i) {
    const std::uint32_t unit = text.units[i];
    if (unit == 0) return std::nullopt;
    if (unit != kCr && unit != kLf) {
      out.push_back(unit);
      continue;
    }
    const bool pair = unit == kCr && i + 1 < text.units.size() && text.units[i + 1] == kLf;
    const LineEndingKind was = pair ? LineEndingKind::MsDos : unit == kCr ? LineEndingKind::Mac : LineEndingKind::Unix;
    differs |= was != target;
    if (pair) ++i;
    if (target != LineEndingKind::Unix) out.push_back(kCr);
    if (target != LineEndingKind::Mac) out.push_back(kLf);
  }
  if (changed != nullptr) *changed = differs;
  std::string converted;
  for (const std::uint32_t unit : out) {
    if (text.encoding == Encoding::Bytes) {
      converted += static_cast<char>(unit);
    } else if (text.encoding == Encoding::Utf16Le) {
      converted += {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
    } else {
      converted += {static_cast<char>(unit >> 8), static_cast<char>(unit & 0xFF)};
    }
  }
  return converted + text.tail;
}

// The same for a text whose encoding its byte order mark tells.
inline std::optional<std::string> ModelConvert(const std::string& bytes, LineEndingKind target) {
  return ModelConvert(bytes, EncodingOfMark(bytes), target);
}

}  // namespace tarnwhistle::testkit
