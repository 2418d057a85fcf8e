#include "line_ending_converter.h"

#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace tarnwhistle {
namespace {

using K = LineEndingKind;

// How one converter reads its stream: the width of a code unit, its byte order, and
// the line ending it writes.
template <std::size_t kWidth, bool kBigEndian, K kTarget>
struct Form {
  static constexpr std::ptrdiff_t kUnit = kWidth;
  static constexpr bool kBig = kBigEndian;
  static constexpr K kTo = kTarget;

  static std::uint32_t UnitAt(const std::uint8_t* p) {
    if constexpr (kWidth == 1) return p[0];
    if constexpr (kBigEndian) return std::uint32_t{p[0]} << 8 | p[1];
    return p[0] | std::uint32_t{p[1]} << 8;
  }
};

#ifdef __SSE2__
// Copies 64 bytes, sixteen at a time.
inline void Move64(std::uint8_t* out, const std::uint8_t* in) {
  for (int i = 0; i < 64; i += 16) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i)));
  }
}

// Where the CR and LF units among the 64 bytes at `in` are (one bit at each one's first
// byte), and whether any unit is NUL.
struct Marks {
  std::uint64_t cr = 0;
  std::uint64_t lf = 0;
  bool nul = false;
};

template <typename F>
inline Marks Scan64(const std::uint8_t* in) {
  const auto splat = [](int unit) {
    return F::kUnit == 1 ? _mm_set1_epi8(static_cast<char>(unit))
                         : _mm_set1_epi16(static_cast<short>(F::kBig ? unit << 8 : unit));
  };
  const auto equal = [](__m128i a, __m128i b) { return F::kUnit == 1 ? _mm_cmpeq_epi8(a, b) : _mm_cmpeq_epi16(a, b); };
  const auto bits = [](__m128i m) { return static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(m))); };
  const __m128i cr = splat(kCr), lf = splat(kLf), zero = _mm_setzero_si128();
  // Bytes: the least byte of each lane, one compare for all four loads. Units: any NUL.
  __m128i nul = F::kUnit == 1 ? _mm_set1_epi8(-1) : zero;
  Marks m;
  for (int i = 0; i < 64; i += 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
    m.cr |= bits(equal(block, cr)) << i;
    m.lf |= bits(equal(block, lf)) << i;
    nul = F::kUnit == 1 ? _mm_min_epu8(nul, block) : _mm_or_si128(nul, _mm_cmpeq_epi16(block, zero));
  }
  m.nul = bits(F::kUnit == 1 ? _mm_cmpeq_epi8(nul, zero) : nul) != 0;
  if constexpr (F::kUnit == 2) {
    m.cr &= 0x5555555555555555;
    m.lf &= 0x5555555555555555;
  }
  return m;
}
#endif

}  // namespace

struct LineEndingConverter::Kernel {
  using Routine = decltype(LineEndingConverter::convert_);

  static void PutEnding(const LineEndingConverter& c, std::uint8_t*& out) {
    std::memcpy(out, c.ending_, sizeof c.ending_);  // all four bytes: one store
    out += c.ending_size_;
  }

  // One code unit by the rule, a CR held until the unit after it is seen. False at NUL.
  template <typename F>
  static bool Step(LineEndingConverter& c, const std::uint8_t* unit, std::uint8_t*& out) {
    const std::uint32_t u = F::UnitAt(unit);
    if (u == 0) return false;
    if (c.cr_held_) {
      c.cr_held_ = false;
      PutEnding(c, out);
      if (u == kLf) {
        c.changed_ |= F::kTo != K::MsDos;
        return true;
      }
      c.changed_ |= F::kTo != K::Mac;
    }
    if (u == kCr) {
      c.cr_held_ = true;
    } else if (u == kLf) {
      PutEnding(c, out);
      c.changed_ |= F::kTo != K::Unix;
    } else {
      std::memcpy(out, unit, F::kUnit);
      out += F::kUnit;
    }
    return true;
  }

  // Converts 64-byte blocks while at least 128 bytes are left (a run is copied with a
  // move that reads up to 127 bytes past its block's start), then takes the LF of a
  // CR LF split by the last block's edge. Returns where it stopped, or nullptr at a NUL.
  // No CR may be held when it starts.
  //
  // Each unit is decided from its neighbours alone: CR LF, LF alone and CR alone become
  // the target's ending by editing one unit of each (written as the ending, or dropped)
  // and copying the rest. Each block's runs between edits go in whole 64-byte moves, the
  // bytes past a run being overwritten by what follows.
  template <typename F>
  static const std::uint8_t* Blocks(LineEndingConverter& c, const std::uint8_t* in, const std::uint8_t* end,
                                    std::uint8_t*& out) {
#ifdef __SSE2__
    constexpr int kLast = 64 - F::kUnit;  // the bit of a block's last unit
    std::uint32_t ending;
    std::memcpy(&ending, c.ending_, sizeof ending);
    const std::size_t ending_size = c.ending_size_;
    std::uint64_t cr_last = 0;  // 1 when the block before ended with a CR
    std::uint64_t edited = 0;
    while (end - in >= 128) {
      const Marks m = Scan64<F>(in);
      if (m.nul) return nullptr;
      const std::uint64_t lf_next = m.lf >> F::kUnit | std::uint64_t{F::UnitAt(in + 64) == kLf} << kLast;
      const std::uint64_t cr_before = m.cr << F::kUnit | cr_last;
      cr_last = m.cr >> kLast;
      std::uint64_t edits;  // the units not copied as they are
      std::uint64_t drops;  // those of them that are dropped, not written as the ending
      if constexpr (F::kTo == K::Unix) {
        edits = m.cr;
        drops = m.cr & lf_next;
      } else if constexpr (F::kTo == K::Mac) {
        edits = m.lf;
        drops = m.lf & cr_before;
      } else {
        edits = (m.cr & ~lf_next) | (m.lf & ~cr_before);
        drops = 0;
      }
      edited |= edits;
      std::size_t from = 0;  // the first byte of the block not yet written
      for (; edits != 0; edits &= edits - 1) {
        const std::size_t at = static_cast<std::size_t>(__builtin_ctzll(edits));
        Move64(out, in + from);
        out += at - from;
        std::memcpy(out, &ending, sizeof ending);
        out += (drops >> at & 1) != 0 ? 0 : ending_size;
        from = at + F::kUnit;
      }
      Move64(out, in + from);
      out += 64 - from;
      in += 64;
    }
    c.changed_ |= edited != 0;
    if (cr_last != 0 && F::UnitAt(in) == kLf) {  // the rest of a CR LF whose CR the blocks wrote
      if constexpr (F::kTo == K::Mac) {
        c.changed_ = true;
      } else {
        std::memcpy(out, in, F::kUnit);
        out += F::kUnit;
      }
      in += F::kUnit;
    }
#else
    (void)c, (void)end, (void)out;
#endif
    return in;
  }

  template <typename F>
  static std::ptrdiff_t Convert(LineEndingConverter& c, std::span<const std::uint8_t> piece, std::uint8_t* start) {
    if (c.failed_) return -1;
    const std::uint8_t* in = piece.data();
    const std::uint8_t* const end = in + piece.size();
    std::uint8_t* out = start;
    bool text = true;
    if (c.odd_held_ && in != end) {
      const std::uint8_t unit[2] = {c.odd_, *in++};
      c.odd_held_ = false;
      text = Step<F>(c, unit, out);
    }
    for (; text && c.cr_held_ && end - in >= F::kUnit; in += F::kUnit) text = Step<F>(c, in, out);
    if (text && !c.cr_held_) text = (in = Blocks<F>(c, in, end, out)) != nullptr;
    for (; text && end - in >= F::kUnit; in += F::kUnit) text = Step<F>(c, in, out);
    if (!text) {
      c.failed_ = true;
      return -1;
    }
    if (in != end) {
      c.odd_ = *in;
      c.odd_held_ = true;
    }
    return out - start;
  }

  static std::ptrdiff_t Refuse(LineEndingConverter&, std::span<const std::uint8_t>, std::uint8_t*) { return -1; }

  template <std::size_t kWidth, bool kBigEndian>
  static Routine For(K target) {
    switch (target) {
      case K::MsDos: return &Convert<Form<kWidth, kBigEndian, K::MsDos>>;
      case K::Unix: return &Convert<Form<kWidth, kBigEndian, K::Unix>>;
      case K::Mac: return &Convert<Form<kWidth, kBigEndian, K::Mac>>;
      default: return &Refuse;  // no line ending to convert to: fail, never pass the text on
    }
  }

  static Routine For(Encoding encoding, K target) {
    switch (encoding) {
      case Encoding::Utf16Le: return For<2, false>(target);
      case Encoding::Utf16Be: return For<2, true>(target);
      default: return For<1, false>(target);
    }
  }
};

LineEndingConverter::LineEndingConverter(Encoding encoding, LineEndingKind target)
    : convert_(Kernel::For(encoding, target)), target_(target) {
  const char* ending = target == K::MsDos ? "\r\n" : target == K::Unix ? "\n" : "\r";
  for (; *ending != '\0'; ++ending) {
    if (encoding == Encoding::Utf16Be) ending_[ending_size_++] = 0;
    ending_[ending_size_++] = static_cast<std::uint8_t>(*ending);
    if (encoding == Encoding::Utf16Le) ending_[ending_size_++] = 0;
  }
}

std::size_t LineEndingConverter::Finish(std::uint8_t* out) {
  if (failed_) return 0;
  std::size_t size = 0;
  if (cr_held_) {
    std::memcpy(out, ending_, ending_size_);
    size = ending_size_;
    changed_ |= target_ != K::Mac;
    cr_held_ = false;
  }
  if (odd_held_) {
    out[size++] = odd_;
    odd_held_ = false;
  }
  return size;
}

}  // namespace tarnwhistle
