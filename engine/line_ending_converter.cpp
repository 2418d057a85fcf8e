#include "line_ending_converter.h"

#include <array>
#include <cstring>

#ifdef __SSE2__
#include <immintrin.h>
#endif

// Builds without the AVX2 path (the tests build one, so that the SSE2 path is tested on
// machines that have AVX2).
#if defined(__SSE2__) && !defined(TARNWHISTLE_NO_AVX2)
#define TARNWHISTLE_AVX2 1
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

  // The bytes of `units` (one or two), padded to four so that each is one store.
  static constexpr std::array<std::uint8_t, 4> Spell(std::uint32_t first, std::uint32_t second) {
    std::array<std::uint8_t, 4> bytes{};
    std::size_t at = 0;
    for (std::uint32_t unit : {first, second}) {
      if (kWidth == 2 && kBigEndian) bytes[at++] = 0;
      bytes[at++] = static_cast<std::uint8_t>(unit);
      if (kWidth == 2 && !kBigEndian) bytes[at++] = 0;
    }
    return bytes;
  }
  static constexpr std::array<std::uint8_t, 4> kCrUnit = Spell(kCr, 0);  // both named: clang takes no default argument here
  static constexpr std::array<std::uint8_t, 4> kLfUnit = Spell(kLf, 0);
  static constexpr std::array<std::uint8_t, 4> kEnding =
      kTarget == K::MsDos ? Spell(kCr, kLf) : kTarget == K::Unix ? kLfUnit : kCrUnit;
  static constexpr std::size_t kEndingSize = (kTarget == K::MsDos ? 2 : 1) * kWidth;
};

// A register's worth of bytes: 16 for SSE2, 32 for AVX2 (whose functions are the only
// ones Move64<Bytes32> is inlined into). Moved through memcpy, as they may lie anywhere.
typedef std::uint8_t Bytes16 __attribute__((vector_size(16)));
typedef std::uint8_t Bytes32 __attribute__((vector_size(32)));

template <typename Chunk>
[[gnu::always_inline]] inline void Move64(std::uint8_t* out, const std::uint8_t* in) {
  constexpr std::size_t kSize = sizeof(Chunk);
  Chunk chunks[64 / kSize];
  for (std::size_t i = 0; i < 64 / kSize; ++i) std::memcpy(&chunks[i], in + i * kSize, kSize);
  for (std::size_t i = 0; i < 64 / kSize; ++i) std::memcpy(out + i * kSize, &chunks[i], kSize);
}

// Writes the 64-byte block at `in` with the edits marked in `edits` (one bit at the
// first byte of each unit edited; see Blocks below) and returns the end of what it
// wrote. A run up to an edit is copied with a whole 64-byte move, the bytes past the run
// being overwritten by what follows; so it reads up to 127 bytes past `in`, and one unit
// before it, and writes up to 64 past its result.
template <typename F, typename Chunk>
[[gnu::always_inline]] inline std::uint8_t* EditBlock(const std::uint8_t* in, std::uint64_t edits, std::uint8_t* out) {
  std::size_t from = 0;  // the first byte of the block not yet written
  for (; edits != 0; edits &= edits - 1) {
    const std::size_t at = static_cast<std::size_t>(__builtin_ctzll(edits));
    Move64<Chunk>(out, in + from);
    out += at - from;
    if constexpr (F::kTo == K::MsDos) {
      std::memcpy(out, (F::UnitAt(in + at) == kLf ? F::kCrUnit : F::kLfUnit).data(), 4);
      out += F::kUnit;
      from = at;
    } else {
      std::memcpy(out, F::kEnding.data(), 4);
      if constexpr (F::kTo == K::Unix) out += F::UnitAt(in + at + F::kUnit) == kLf ? 0 : F::kEndingSize;
      if constexpr (F::kTo == K::Mac) out += F::UnitAt(in + at - F::kUnit) == kCr ? 0 : F::kEndingSize;
      from = at + F::kUnit;
    }
  }
  Move64<Chunk>(out, in + from);
  return out + 64 - from;
}

// The edits of the 64 bytes at `in`: to UNIX every CR, to MAC every LF, to MS-DOS every
// unit after a lone CR or that is a lone LF (where the missing half of a CR LF goes
// in). `nul` tells whether any of the units is NUL, from the same loads. In two widths:
// SSE2, which every x86-64 has, and AVX2 where the processor has it; each with its loop
// over the blocks, so that the AVX2 one is compiled for AVX2 whole.
#ifdef __SSE2__
template <typename F>
inline __m128i Splat128(int unit) {
  return F::kUnit == 1 ? _mm_set1_epi8(static_cast<char>(unit))
                       : _mm_set1_epi16(static_cast<short>(F::kBig ? unit << 8 : unit));
}

template <typename F>
inline __m128i Equal128(__m128i a, __m128i b) {
  return F::kUnit == 1 ? _mm_cmpeq_epi8(a, b) : _mm_cmpeq_epi16(a, b);
}

template <typename F>
inline std::uint64_t Edits64Sse2(const std::uint8_t* in, bool& nul) {
  const __m128i cr = Splat128<F>(kCr), lf = Splat128<F>(kLf), zero = _mm_setzero_si128();
  // Bytes: the least byte of each lane, so that one compare covers four loads. Units: any NUL.
  __m128i nuls = F::kUnit == 1 ? _mm_set1_epi8(-1) : zero;
  std::uint64_t edits = 0;
  for (int i = 0; i < 64; i += 16) {
    const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
    __m128i edit;
    if constexpr (F::kTo == K::Unix) {
      edit = Equal128<F>(units, cr);
    } else if constexpr (F::kTo == K::Mac) {
      edit = Equal128<F>(units, lf);
    } else {
      const __m128i before = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i - F::kUnit));
      edit = _mm_xor_si128(Equal128<F>(before, cr), Equal128<F>(units, lf));
    }
    edits |= static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(edit))) << i;
    nuls = F::kUnit == 1 ? _mm_min_epu8(nuls, units) : _mm_or_si128(nuls, _mm_cmpeq_epi16(units, zero));
  }
  nul = _mm_movemask_epi8(F::kUnit == 1 ? _mm_cmpeq_epi8(nuls, zero) : nuls) != 0;
  return F::kUnit == 1 ? edits : edits & 0x5555555555555555;
}

// Blocks while at least 128 bytes are left; nullptr at a NUL. (`out` is kept in a
// local: the byte stores could change it, as far as the compiler knows.)
template <typename F>
const std::uint8_t* BlocksSse2(const std::uint8_t* in, const std::uint8_t* end, std::uint8_t*& out) {
  std::uint8_t* next = out;
  for (; end - in >= 128; in += 64) {
    bool nul;
    __builtin_prefetch(in + 1024);  // text not in the caches converted about a tenth faster
    const std::uint64_t edits = Edits64Sse2<F>(in, nul);
    if (nul) return nullptr;
    next = EditBlock<F, Bytes16>(in, edits, next);
  }
  out = next;
  return in;
}
#endif

#ifdef TARNWHISTLE_AVX2
template <typename F>
[[gnu::target("avx2")]] inline __m256i Splat256(int unit) {
  return F::kUnit == 1 ? _mm256_set1_epi8(static_cast<char>(unit))
                       : _mm256_set1_epi16(static_cast<short>(F::kBig ? unit << 8 : unit));
}

template <typename F>
[[gnu::target("avx2")]] inline __m256i Equal256(__m256i a, __m256i b) {
  return F::kUnit == 1 ? _mm256_cmpeq_epi8(a, b) : _mm256_cmpeq_epi16(a, b);
}

template <typename F>
[[gnu::target("avx2")]] inline std::uint64_t Edits64Avx2(const std::uint8_t* in, bool& nul) {
  const __m256i cr = Splat256<F>(kCr), lf = Splat256<F>(kLf), zero = _mm256_setzero_si256();
  __m256i nuls = F::kUnit == 1 ? _mm256_set1_epi8(-1) : zero;
  std::uint64_t edits = 0;
  for (int i = 0; i < 64; i += 32) {
    const __m256i units = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i));
    __m256i edit;
    if constexpr (F::kTo == K::Unix) {
      edit = Equal256<F>(units, cr);
    } else if constexpr (F::kTo == K::Mac) {
      edit = Equal256<F>(units, lf);
    } else {
      const __m256i before = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i - F::kUnit));
      edit = _mm256_xor_si256(Equal256<F>(before, cr), Equal256<F>(units, lf));
    }
    edits |= static_cast<std::uint64_t>(static_cast<unsigned>(_mm256_movemask_epi8(edit))) << i;
    nuls = F::kUnit == 1 ? _mm256_min_epu8(nuls, units) : _mm256_or_si256(nuls, _mm256_cmpeq_epi16(units, zero));
  }
  nul = _mm256_movemask_epi8(F::kUnit == 1 ? _mm256_cmpeq_epi8(nuls, zero) : nuls) != 0;
  return F::kUnit == 1 ? edits : edits & 0x5555555555555555;
}

template <typename F>
[[gnu::target("avx2")]] const std::uint8_t* BlocksAvx2(const std::uint8_t* in, const std::uint8_t* end,
                                                       std::uint8_t*& out) {
  std::uint8_t* next = out;
  for (; end - in >= 128; in += 64) {
    bool nul;
    __builtin_prefetch(in + 1024);  // text not in the caches converted about a tenth faster
    const std::uint64_t edits = Edits64Avx2<F>(in, nul);
    if (nul) return nullptr;
    next = EditBlock<F, Bytes32>(in, edits, next);
  }
  out = next;
  return in;
}
#endif

}  // namespace

struct LineEndingConverter::Kernel {
  using Routine = decltype(LineEndingConverter::convert_);

  template <typename F>
  static void PutEnding(std::uint8_t*& out) {
    std::memcpy(out, F::kEnding.data(), 4);
    out += F::kEndingSize;
  }

  // One code unit by the rule, a CR held until the unit after it is seen. False at NUL.
  template <typename F>
  static bool Step(LineEndingConverter& c, const std::uint8_t* unit, std::uint8_t*& out) {
    const std::uint32_t u = F::UnitAt(unit);
    if (u == 0) return false;
    if (c.cr_held_) {
      c.cr_held_ = false;
      PutEnding<F>(out);
      if (u == kLf) return true;
    }
    if (u == kCr) {
      c.cr_held_ = true;
    } else if (u == kLf) {
      PutEnding<F>(out);
    } else {
      std::memcpy(out, unit, F::kUnit);
      out += F::kUnit;
    }
    return true;
  }

  // Converts 64-byte blocks while at least 128 bytes are left, then what the last
  // block's edge splits. Returns where it stopped, or nullptr at a NUL. The unit before
  // `in` is readable and not a CR still to be decided.
  //
  // Each line ending is made by one edit, the rest of it copied: to UNIX a CR is written
  // as LF, or dropped when an LF follows; to MAC an LF is written as CR, or dropped after
  // a CR; to MS-DOS the missing LF goes in after a lone CR and the missing CR before a
  // lone LF.
  template <typename F, bool kAvx2>
  static const std::uint8_t* Blocks(const std::uint8_t* in, const std::uint8_t* end, std::uint8_t*& out) {
#ifdef __SSE2__
#ifdef TARNWHISTLE_AVX2
    if constexpr (kAvx2) in = BlocksAvx2<F>(in, end, out);
#endif
    if constexpr (!kAvx2) in = BlocksSse2<F>(in, end, out);
    if (in == nullptr) return nullptr;
    if (in != end && F::UnitAt(in - F::kUnit) == kCr) {  // a line ending across the last edge
      if (F::UnitAt(in) == kLf) {
        if constexpr (F::kTo != K::Mac) {
          std::memcpy(out, in, F::kUnit);
          out += F::kUnit;
        }
        in += F::kUnit;
      } else if constexpr (F::kTo == K::MsDos) {
        std::memcpy(out, F::kLfUnit.data(), 4);
        out += F::kUnit;
      }
    }
#else
    (void)end, (void)out;
#endif
    return in;
  }

  template <typename F, bool kAvx2>
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
    // One unit at least, so that the blocks can look at the one before them, and on to
    // where their loads do not straddle cache lines.
    const std::uint8_t* const first = in;
    const auto aligned = [](const std::uint8_t* p) { return (reinterpret_cast<std::uintptr_t>(p) & 63) < F::kUnit; };
    for (; text && (c.cr_held_ || in == first || !aligned(in)) && end - in >= F::kUnit; in += F::kUnit) {
      text = Step<F>(c, in, out);
    }
    if (text && !c.cr_held_ && in != first) text = (in = Blocks<F, kAvx2>(in, end, out)) != nullptr;
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

  // The end of the stream: a held CR becomes the target's ending, a held odd byte is
  // copied as it is.
  template <typename F>
  static std::size_t Finish(LineEndingConverter& c, std::uint8_t* start) {
    if (c.failed_) return 0;
    std::uint8_t* out = start;
    if (c.cr_held_) {
      PutEnding<F>(out);
      c.cr_held_ = false;
    }
    if (c.odd_held_) {
      *out++ = c.odd_;
      c.odd_held_ = false;
    }
    return static_cast<std::size_t>(out - start);
  }

  static std::ptrdiff_t Refuse(LineEndingConverter&, std::span<const std::uint8_t>, std::uint8_t*) { return -1; }
  static std::size_t FinishRefused(LineEndingConverter&, std::uint8_t*) { return 0; }

  struct Routines {
    Routine convert;
    decltype(LineEndingConverter::finish_) finish;
  };

  template <typename F, bool kAvx2>
  static Routines Of() {
    return {&Convert<F, kAvx2>, &Finish<F>};
  }

  template <std::size_t kWidth, bool kBigEndian, bool kAvx2>
  static Routines For(K target) {
    switch (target) {
      case K::MsDos: return Of<Form<kWidth, kBigEndian, K::MsDos>, kAvx2>();
      case K::Unix: return Of<Form<kWidth, kBigEndian, K::Unix>, kAvx2>();
      case K::Mac: return Of<Form<kWidth, kBigEndian, K::Mac>, kAvx2>();
      default: return {&Refuse, &FinishRefused};  // no line ending to convert to: fail, never pass the text on
    }
  }

  template <bool kAvx2>
  static Routines For(Encoding encoding, K target) {
    switch (encoding) {
      case Encoding::Utf16Le: return For<2, false, kAvx2>(target);
      case Encoding::Utf16Be: return For<2, true, kAvx2>(target);
      default: return For<1, false, kAvx2>(target);
    }
  }

  static Routines For(Encoding encoding, K target) {
#ifdef TARNWHISTLE_AVX2
    if (__builtin_cpu_supports("avx2")) return For<true>(encoding, target);
#endif
    return For<false>(encoding, target);
  }
};

LineEndingConverter::LineEndingConverter(Encoding encoding, LineEndingKind target) {
  const Kernel::Routines routines = Kernel::For(encoding, target);
  convert_ = routines.convert;
  finish_ = routines.finish;
}

}  // namespace tarnwhistle
