#include <gtest/gtest.h>

#include <memory>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "engine/line_ending_converter.h"
#include "row_name.h"
#include "text_model.h"

namespace tarnwhistle {
namespace {

using E = Encoding;
using testkit::PrintTo;
using K = LineEndingKind;

struct Result {
  std::string out;  // "<nul>" when the converter refused the stream
  bool changed = false;
};

bool operator==(const Result& a, const Result& b) { return a.out == b.out && a.changed == b.changed; }
void PrintTo(const Result& r, std::ostream* os) { *os << ::testing::PrintToString(r.out) << " changed " << r.changed; }

// Runs the converter over `in` in pieces of `piece` bytes after a first of `first`. Each
// is copied alone to a 64-byte boundary, as a conversion's buffers are (so the blocks
// start 64 bytes in), and converted into a buffer of exactly MaxOutput bytes: the
// sanitizers see any read outside a piece and any write past its room. A NUL must be
// refused in the piece that completes it, never earlier.
Result Feed(const std::string& in, E encoding, K target, std::size_t piece, std::size_t first = 0) {
  const std::size_t unit = encoding == E::Bytes ? 1 : 2;
  std::size_t nul_end = std::string::npos;  // the end of the first NUL unit
  for (std::size_t i = 0; i + unit <= in.size() && nul_end == std::string::npos; i += unit) {
    if (in.compare(i, unit, std::string(unit, '\0')) == 0) nul_end = i + unit;
  }
  LineEndingConverter converter(encoding, target);
  Result r;
  for (std::size_t at = 0, size = 0; at < in.size(); at += size) {
    size = std::min(at == 0 && first != 0 ? first : piece, in.size() - at);
    const auto free_aligned = [](std::uint8_t* p) { ::operator delete(p, std::align_val_t{64}); };
    std::unique_ptr<std::uint8_t, decltype(free_aligned)> bytes(
        static_cast<std::uint8_t*>(::operator new(size, std::align_val_t{64})), free_aligned);
    in.copy(reinterpret_cast<char*>(bytes.get()), size, at);
    std::vector<std::uint8_t> out(LineEndingConverter::MaxOutput(size));
    const std::optional<std::size_t> n = converter.Convert({bytes.get(), size}, out.data());
    EXPECT_EQ(!n, at < nul_end && nul_end <= at + size) << "piece at " << at;
    if (!n) return {"<nul>", false};
    r.out.append(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(*n));
  }
  std::vector<std::uint8_t> out(LineEndingConverter::MaxOutput(0));
  r.out.append(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(converter.Finish(out.data())));
  r.changed = r.out != in;
  return r;
}

// The rule over the whole stream, as the tests' one model has it.
Result Model(const std::string& in, E encoding, K target) {
  bool changed = false;
  const std::optional<std::string> out = testkit::ModelConvert(in, encoding, target, &changed);
  return out ? Result{*out, changed} : Result{"<nul>", false};
}

std::string Utf16(const std::u16string& s, bool big) {
  std::string out;
  for (char16_t c : s) out += big ? std::string{char(c >> 8), char(c)} : std::string{char(c), char(c >> 8)};
  return out;
}
std::string Le(const std::u16string& s) { return Utf16(s, false); }
std::string Be(const std::u16string& s) { return Utf16(s, true); }

struct Case {
  std::string name;
  E encoding;
  std::string in;
  K target;
  Result want;
};

std::vector<Case> Cases() {
  std::vector<Case> cases = {
      {"dos to unix", E::Bytes, "a\r\nb\r\n", K::Unix, {"a\nb\n", true}},
      {"dos to mac", E::Bytes, "a\r\nb\r\n", K::Mac, {"a\rb\r", true}},
      {"dos to dos", E::Bytes, "a\r\nb\r\n", K::MsDos, {"a\r\nb\r\n", false}},
      {"unix to dos", E::Bytes, "a\n\nb\n", K::MsDos, {"a\r\n\r\nb\r\n", true}},
      {"unix to mac", E::Bytes, "a\n\nb\n", K::Mac, {"a\r\rb\r", true}},
      {"unix to unix", E::Bytes, "a\n\nb\n", K::Unix, {"a\n\nb\n", false}},
      {"mac to dos", E::Bytes, "a\r\rb\r", K::MsDos, {"a\r\n\r\nb\r\n", true}},
      {"mac to unix", E::Bytes, "a\r\rb\r", K::Unix, {"a\n\nb\n", true}},
      {"mac to mac", E::Bytes, "a\r\rb\r", K::Mac, {"a\r\rb\r", false}},
      {"mixed to unix", E::Bytes, "a\r\nb\nc\r\nd\re\n", K::Unix, {"a\nb\nc\nd\ne\n", true}},
      {"mixed to mac", E::Bytes, "a\r\nb\nc\r\nd\re\n", K::Mac, {"a\rb\rc\rd\re\r", true}},
      {"unix with a crlf line to dos", E::Bytes, "a\nb\r\nc\n", K::MsDos, {"a\r\nb\r\nc\r\n", true}},
      {"mac with a crlf line to dos", E::Bytes, "a\r\nb", K::MsDos, {"a\r\nb", false}},
      {"lf cr is two endings", E::Bytes, "\n\r", K::MsDos, {"\r\n\r\n", true}},
      {"a last cr to unix", E::Bytes, "a\r", K::Unix, {"a\n", true}},
      {"a last cr to mac", E::Bytes, "\r", K::Mac, {"\r", false}},
      {"no line ending", E::Bytes, "\t\x01\x7f\xff 日本語", K::MsDos, {"\t\x01\x7f\xff 日本語", false}},
      {"empty", E::Bytes, "", K::Unix, {"", false}},
      // The blocks end after byte 127 here, between the CR and the LF.
      {"crlf across the blocks' edge to mac", E::Bytes, std::string(127, 'x') + "\r\n" + std::string(100, 'y'),
       K::Mac, {std::string(127, 'x') + "\r" + std::string(100, 'y'), true}},
      {"utf-16le with a bom to dos", E::Utf16Le, Le(u"\xfeff" u"a\nb\r\nc\r"), K::MsDos,
       {Le(u"\xfeff" u"a\r\nb\r\nc\r\n"), true}},
      {"utf-16be with a bom to unix", E::Utf16Be, Be(u"\xfeff\x65e5\r\nb\r"), K::Unix,
       {Be(u"\xfeff\x65e5\nb\n"), true}},
      // Units whose bytes are CR and LF but which are neither, and a CR byte at an odd offset.
      {"utf-16le U+0D0A U+0A0D", E::Utf16Le, Le(u"\x0d0a\x0a0d\x0d41"), K::Mac, {Le(u"\x0d0a\x0a0d\x0d41"), false}},
      {"utf-16be U+0D0A U+0A0D", E::Utf16Be, Be(u"\x0d0a\x0a0d\x410d"), K::Mac, {Be(u"\x0d0a\x0a0d\x410d"), false}},
      {"utf-16le a nul unit", E::Utf16Le, Le(std::u16string(u"a\0b", 3)), K::Unix, {"<nul>", false}},
      {"utf-16be an odd last byte", E::Utf16Be, Be(u"a\r") + "x", K::MsDos, {Be(u"a\r\n") + "x", true}},
      {"utf-16le an odd last nul byte", E::Utf16Le, Le(u"\r") + '\0', K::Unix, {Le(u"\n") + '\0', true}},
  };
  // A NUL byte before the blocks, in them (at their edges, inside) or in the tail after.
  for (std::size_t at : {0, 1, 17, 63, 64, 127, 128, 191, 192, 250, 299}) {
    std::string text(300, 'a');
    text[at] = '\0';
    cases.push_back({"nul at " + std::to_string(at), E::Bytes, text, K(1 + at % 3), {"<nul>", false}});
  }
  return cases;
}

// Every case whole, a byte at a time, and split in two at every offset (a CR LF or a
// code unit across each edge); whether the output differs from the input with each.
class LineEndingConverterCase : public ::testing::TestWithParam<Case> {};

TEST_P(LineEndingConverterCase, WholeAByteAtATimeAndSplitAnywhere) {
  const Case& c = GetParam();
  EXPECT_EQ(Model(c.in, c.encoding, c.target), c.want) << "the model";
  EXPECT_EQ(Feed(c.in, c.encoding, c.target, 1), c.want) << "a byte at a time";
  for (std::size_t first = 1; first <= c.in.size(); ++first) {
    EXPECT_EQ(Feed(c.in, c.encoding, c.target, c.in.size(), first), c.want) << "split at " << first;
  }
}

INSTANTIATE_TEST_SUITE_P(, LineEndingConverterCase, ::testing::ValuesIn(Cases()), testkit::NameRowsByName(Cases()));

// Random streams dense in CR, LF, CR-and-LF look-alike units and the odd NUL, with runs
// long enough for the vector blocks, against the model for every encoding, target and
// piece size.
TEST(LineEndingConverter, MatchesTheModel) {
  std::mt19937 random(20261209);
  for (E encoding : {E::Bytes, E::Utf16Le, E::Utf16Be}) {
    const auto encode = [encoding](const std::u16string& s) {
      return encoding == E::Bytes ? std::string(s.begin(), s.end()) : encoding == E::Utf16Le ? Le(s) : Be(s);
    };
    // The last two shift UTF-16 off its units' edges and back.
    const std::string atoms[] = {encode(u"\r"),     encode(u"\n"),     encode(u"\r\n"),   encode(u"a"),
                                 encode(u"\x0d0a"), encode(u"\x0a0d"), encode(u"\xfeff"), "\xe3\x81\x82",
                                 "\r"};
    for (int round = 0; round < 40; ++round) {
      std::string text;
      const std::size_t length = random() % 6000;
      while (text.size() < length) {
        text += random() % 8 == 0 ? encode(std::u16string(random() % 200, u'x')) : atoms[random() % std::size(atoms)];
      }
      if (round % 4 == 1) text += atoms[0];
      if (round % 4 == 3) text.insert(random() % (text.size() + 1), encoding == E::Bytes ? 1 : 3, '\0');
      for (K target : {K::MsDos, K::Unix, K::Mac}) {
        const Result want = Model(text, encoding, target);
        for (std::size_t piece : {1, 2, 3, 5, 63, 64, 65, 127, 128, 129, 4095, 100000}) {
          EXPECT_EQ(Feed(text, encoding, target, piece), want) << "round " << round << ", pieces of " << piece;
        }
      }
    }
  }
}

}  // namespace
}  // namespace tarnwhistle
