#include "line_ending_converter.h"

namespace tarnwhistle {

LineEndingConverter::LineEndingConverter(Encoding encoding, LineEndingKind target)
    : encoding_(encoding), target_(target) {}

std::uint8_t* LineEndingConverter::PutUnit(std::uint8_t* out, std::uint16_t unit) const {
  if (encoding_ == Encoding::Bytes) {
    *out++ = static_cast<std::uint8_t>(unit);
  } else if (encoding_ == Encoding::Utf16Le) {
    *out++ = static_cast<std::uint8_t>(unit);
    *out++ = static_cast<std::uint8_t>(unit >> 8);
  } else {
    *out++ = static_cast<std::uint8_t>(unit >> 8);
    *out++ = static_cast<std::uint8_t>(unit);
  }
  return out;
}

std::uint8_t* LineEndingConverter::PutEnding(std::uint8_t* out) const {
  if (target_ != LineEndingKind::Unix) out = PutUnit(out, kCr);
  if (target_ != LineEndingKind::Mac) out = PutUnit(out, kLf);
  return out;
}

std::ptrdiff_t LineEndingConverter::Convert(std::span<const std::uint8_t> in, std::uint8_t* out) {
  std::uint8_t* const start = out;
  const bool bytes = encoding_ == Encoding::Bytes;
  for (const std::uint8_t byte : in) {
    std::uint16_t unit = byte;
    if (!bytes) {
      if (half_ < 0) {
        half_ = byte;
        continue;
      }
      const auto first = static_cast<std::uint16_t>(half_);
      unit = encoding_ == Encoding::Utf16Le ? static_cast<std::uint16_t>(first | (byte << 8))
                                            : static_cast<std::uint16_t>((first << 8) | byte);
      half_ = -1;
    }
    if (unit == 0) return -1;
    if (pending_cr_) {
      pending_cr_ = false;
      out = PutEnding(out);
      if (unit == kLf) {
        changed_ |= target_ != LineEndingKind::MsDos;
        continue;
      }
      changed_ |= target_ != LineEndingKind::Mac;
    }
    if (unit == kCr) {
      pending_cr_ = true;
    } else if (unit == kLf) {
      changed_ |= target_ != LineEndingKind::Unix;
      out = PutEnding(out);
    } else {
      out = PutUnit(out, unit);
    }
  }
  return out - start;
}

std::size_t LineEndingConverter::Finish(std::uint8_t* out) {
  std::uint8_t* const start = out;
  if (pending_cr_) {
    pending_cr_ = false;
    changed_ |= target_ != LineEndingKind::Mac;
    out = PutEnding(out);
  }
  if (half_ >= 0) *out++ = static_cast<std::uint8_t>(half_);
  half_ = -1;
  return static_cast<std::size_t>(out - start);
}

}  // namespace tarnwhistle
