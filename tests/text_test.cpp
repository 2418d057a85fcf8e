// What the engine reads in a text: its kind, decided from the first line break as
// detection decides it, its encoding, and the line ends, controls and NULs of the whole
// of it; and what a conversion writes from it. Checked against one table, against the
// plain model in text_model.h on random texts, however the reads split the file.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <string_view>

#include "engine/detection.h"
#include "engine/statistics.h"
#include "platform/charset_guess.h"
#include "fake_file_reader.h"
#include "row_name.h"
#include "text_model.h"

namespace tarnwhistle {
namespace {

using namespace std::string_literals;
using K = LineEndingKind;
using testkit::FakeFileReader;
using testkit::PrintTo;

std::string Xs(int count) { return std::string(static_cast<std::size_t>(count), 'x'); }

constexpr std::int64_t kNone = -1;

struct TextCase {
  const char* name;
  std::string bytes;
  K verdict;
  Encoding encoding;
  std::uint64_t crlf, lf, cr;
  std::int64_t first_control;  // kNone: no control character
  std::int64_t first_nul;
  const char* encoding_name = nullptr;  // what NameEncoding tells; nullptr: not looked at
};

const std::string kShiftJis =
    "\x93\xfa\x96\x7b\x8c\xea\x82\xcc\x95\xb6\x8f\xcd\x82\xc5\x82\xb7\x81\x42\x89\xfc\x8d\x73\x82\xf0\x95\xcf\x8a"
    "\xb7\x82\xb5\x82\xdc\x82\xb7\x81\x42";  // 日本語の文章です。改行を変換します。
const std::string kEucJp =
    "\xc6\xfc\xcb\xdc\xb8\xec\xa4\xce\xca\xb8\xbe\xcf\xa4\xc7\xa4\xb9\xa1\xa3\xb2\xfe\xb9\xd4\xa4\xf2\xca\xd1\xb4"
    "\xb9\xa4\xb7\xa4\xde\xa4\xb9\xa1\xa3";

const std::string kJapaneseLine = [] {
  std::string line;
  for (int i = 0; i < 100; ++i) line += "日";  // 300 bytes of UTF-8
  return line;
}();

const TextCase kTexts[] = {
    {"crlf", "abc\r\ndef", K::MsDos, Encoding::Bytes, 1, 0, 0, kNone, kNone},
    {"lf", "abc\ndef", K::Unix, Encoding::Bytes, 0, 1, 0, kNone, kNone},
    {"cr", "abc\rdef", K::Mac, Encoding::Bytes, 0, 0, 1, kNone, kNone},
    {"tab before crlf", "a\tb\r\n", K::MsDos, Encoding::Bytes, 1, 0, 0, kNone, kNone},
    {"nul before the break", "ab\0cd\n"s, K::Binary, Encoding::Bytes, 0, 1, 0, 2, 2},
    // A NUL in the first 64 KiB makes it BINARY wherever it is; past them it decides nothing.
    {"nul after the break", "ab\ncd\0"s, K::Binary, Encoding::Bytes, 0, 1, 0, 5, 5},
    {"nul past the first 64 KiB", "ab\n" + Xs(65533) + "\0"s, K::Unix, Encoding::Bytes, 0, 1, 0, 65536, 65536},
    {"cr cr lf: the second cr decides", "\r\r\n", K::Mac, Encoding::Bytes, 1, 0, 1, kNone, kNone},
    {"cr then esc", "\r\x1b", K::Binary, Encoding::Bytes, 0, 0, 1, 1, kNone},
    {"cr then nul", "\r\0"s, K::Binary, Encoding::Bytes, 0, 0, 1, 1, 1},
    {"cr then tab", "\r\t", K::Mac, Encoding::Bytes, 0, 0, 1, kNone, kNone},
    {"lf first", "\n", K::Unix, Encoding::Bytes, 0, 1, 0, kNone, kNone},
    {"unit separator is binary", "\x1f\n", K::Binary, Encoding::Bytes, 0, 1, 0, 0, kNone},
    {"delete and 0x80-0xff are text", "\x7f\x80\xfe\xff\n", K::Unix, Encoding::Bytes, 0, 1, 0, kNone, kNone},
    {"all three, mixed", "x\r\ny\nz\rw", K::MsDos, Encoding::Bytes, 1, 1, 1, kNone, kNone},
    {"utf-8 with a byte order mark", "\xef\xbb\xbf" "a\r\nb\r\n", K::MsDos, Encoding::Bytes, 2, 0, 0, kNone, kNone,
     "UTF-8 BOM付き"},
    // Other text in bytes: its encoding guessed, and said to be a guess.
    {"shift_jis", kShiftJis + "\r\n" + kShiftJis, K::MsDos, Encoding::Bytes, 1, 0, 0, kNone, kNone, "Shift_JIS（推定）"},
    {"euc-jp", kEucJp + "\n" + kEucJp, K::Unix, Encoding::Bytes, 0, 1, 0, kNone, kNone, "EUC-JP（推定）"},
    {"latin-1 is none of them", "caf\xe9 na\xefve\n", K::Unix, Encoding::Bytes, 0, 1, 0, kNone, kNone, ""},
    {"more line ends than a byte counts", std::string(1000, '\n') + std::string(700, '\r'), K::Unix, Encoding::Bytes,
     0, 1000, 700, kNone, kNone},
    // The first line break decides, however far into the file it is.
    {"256 undecided then lf", Xs(256) + "\n", K::Unix, Encoding::Bytes, 0, 1, 0, kNone, kNone},
    {"257 undecided then lf", Xs(257) + "\n", K::Unix, Encoding::Bytes, 0, 1, 0, kNone, kNone},
    {"256 undecided then crlf", Xs(256) + "\r\n", K::MsDos, Encoding::Bytes, 1, 0, 0, kNone, kNone},
    {"a japanese first line of 300 bytes", kJapaneseLine + "\r\n次\r\n", K::MsDos, Encoding::Bytes, 2, 0, 0, kNone, kNone},
    {"a control far into the first line", Xs(5000) + "\x01\n", K::Binary, Encoding::Bytes, 0, 1, 0, 5000, kNone},
    {"ends before any break", "abc", K::None, Encoding::Bytes, 0, 0, 0, kNone, kNone},
    {"ends with a lone cr", Xs(300) + "\r", K::Mac, Encoding::Bytes, 0, 0, 1, kNone, kNone},
    {"empty", "", K::None, Encoding::Bytes, 0, 0, 0, kNone, kNone},
    // JIS-coded text: an ESC that opens a designation is text, any other is a control.
    {"jis", "\x1b$B$3$s\x1b(B\r\n\x1b$@a\x1b(J\x1b$(D\r\n", K::MsDos, Encoding::Bytes, 2, 0, 0, kNone, kNone,
     "ISO-2022-JP（推定）"},
    {"jis with half-width katakana", "\x1b(I6@6E\x1b(B\r\n", K::MsDos, Encoding::Bytes, 1, 0, 0, kNone, kNone,
     "ISO-2022-JP（推定）"},
    {"an escape sequence that is no designation", "\x1b[2J\n", K::Binary, Encoding::Bytes, 0, 1, 0, 0, kNone},
    {"an esc cut off at the end", "ab\x1b$", K::Binary, Encoding::Bytes, 0, 0, 0, 2, kNone},
    {"cr then a designation", "\r\x1b$Bx", K::Mac, Encoding::Bytes, 0, 0, 1, kNone, kNone},
    // UTF-16 with a byte order mark: the rules apply to code units, in either order.
    {"utf-16le", "\xff\xfe" "a\0\r\0\n\0b\0\n\0"s, K::MsDos, Encoding::Utf16Le, 1, 1, 0, kNone, kNone, "UTF-16LE"},
    {"utf-16be", "\xfe\xff" "\0a\0\n\0\r"s, K::Unix, Encoding::Utf16Be, 0, 1, 1, kNone, kNone},
    {"utf-16le, a nul code unit", "\xff\xfe" "a\0\0\0\n\0"s, K::Binary, Encoding::Utf16Le, 0, 1, 0, 4, 4},
    {"utf-16le, a control code unit", "\xff\xfe" "\x1b\0\n\0"s, K::Binary, Encoding::Utf16Le, 0, 1, 0, 2, kNone},
    {"utf-16le, an odd last byte", "\xff\xfe" "a\0\n\0x"s, K::Unix, Encoding::Utf16Le, 0, 1, 0, kNone, kNone},
    {"utf-16 without a mark is bytes", "a\0\r\0\n\0"s, K::Binary, Encoding::Bytes, 0, 1, 1, 1, 1},
};

// Every row, through detection (which stops at the first line break) and through the
// whole file's examination, however the file is split across reads; and the model
// agrees with the row.
class TextRow : public ::testing::TestWithParam<TextCase> {};

TEST_P(TextRow, KindEncodingAndCountsWhateverTheReadSize) {
  const TextCase& c = GetParam();
  // Where the system has no guesser of encodings (Windows), a guessed name is no name.
  const std::uint8_t ascii[] = {'a', '\n'};
  const bool guesses = !platform::GuessCharset(ascii).empty();
  EXPECT_EQ(testkit::ModelVerdict(c.bytes), c.verdict) << "the model";
  for (std::size_t read_limit : {0, 1, 2, 3, 7, 255, 256}) {
    const std::string where = "reads of " + std::to_string(read_limit);
    FakeFileReader fs;
    fs.AddFile("/f", c.bytes);
    fs.SetReadLimit(read_limit);
    const Detection detection = DetectLineEndings(fs, "/f");
    EXPECT_EQ(detection.verdict, c.verdict) << where;
    EXPECT_EQ(detection.encoding, c.encoding) << where;
    const Examination whole = ExamineFile(fs, "/f");
    ASSERT_EQ(whole.outcome, Outcome::Ok) << where;
    EXPECT_EQ(whole.verdict, c.verdict) << where;
    if (c.encoding_name != nullptr) {
      const bool guessed = std::string_view(c.encoding_name).ends_with("（推定）");
      EXPECT_EQ(whole.encoding_name, guessed && !guesses ? "" : c.encoding_name) << where;
    }
    const LineEndingCounts& got = whole.counts;
    EXPECT_EQ(std::make_tuple(got.crlf, got.lf, got.cr, got.bytes), std::make_tuple(c.crlf, c.lf, c.cr, c.bytes.size()))
        << where;
    EXPECT_EQ(got.control ? static_cast<std::int64_t>(got.first_control) : kNone, c.first_control) << where;
    EXPECT_EQ(got.nul ? static_cast<std::int64_t>(got.first_nul) : kNone, c.first_nul) << where;
  }
}

INSTANTIATE_TEST_SUITE_P(, TextRow, ::testing::ValuesIn(kTexts), testkit::NameRowsByName(kTexts));

// Random texts heavy in what the rules look at (CR, LF, NUL, controls, JIS escapes, a
// UTF-16 mark), against the model: the kind and the counts. (The conversion of random
// texts is the kernel's test's.)
TEST(Text, RandomTextsAgreeWithTheModel) {
  std::mt19937 random(20261209);
  const std::string alphabet[] = {"\r", "\n", "\r\n", "a", "\t", "\x01", "\xe3\x81\x82", "\x1b$B", "\x1b", "\0"s, "\0a"s};
  for (int round = 0; round < 300; ++round) {
    std::string text = round % 3 == 0 ? "\xff\xfe" : round % 3 == 1 ? "\xfe\xff" : "";
    const int length = static_cast<int>(random() % 60);
    for (int i = 0; i < length; ++i) {
      const std::string& piece = alphabet[random() % std::size(alphabet)];
      text += round % 5 == 0 && piece == "\0"s ? "b" : piece;
    }
    const std::size_t read_limit = 1 + random() % 9;
    FakeFileReader fs;
    fs.AddDirectory("/d");
    fs.AddFile("/d/in", text);
    fs.SetReadLimit(read_limit);
    const std::string where = ::testing::PrintToString(text) + ", reads of " + std::to_string(read_limit);
    const Examination whole = ExamineFile(fs, "/d/in");
    const LineEndingCounts model = testkit::ModelCounts(text);
    EXPECT_EQ(whole.verdict, testkit::ModelVerdict(text)) << where;
    EXPECT_EQ(std::make_tuple(whole.counts.crlf, whole.counts.lf, whole.counts.cr, whole.counts.nul, whole.counts.control),
              std::make_tuple(model.crlf, model.lf, model.cr, model.nul, model.control))
        << where;
  }
}

// However the system splits its reads, a file whose first line breaks early is decided
// once its first 64 KiB are looked through for a NUL, and a huge one costs no more than
// a small one.
TEST(Text, DetectionReadsNoFurtherThanItNeeds) {
  for (std::size_t read_limit : {0, 1, 100, 4096}) {
    FakeFileReader fs;
    fs.AddFile("/big", "first line\r\n" + std::string(8 << 20, 'x'));
    fs.SetReadLimit(read_limit);
    EXPECT_EQ(DetectLineEndings(fs, "/big").verdict, K::MsDos);
    EXPECT_LE(fs.BytesRead(), kFirstReadSize + read_limit) << read_limit;
  }
}

// An examination tells the kind as soon as it is decided, long before the counts, and
// stops when asked.
TEST(Text, AnExaminationTellsTheKindEarlyAndStopsWhenAsked) {
  FakeFileReader fs;
  fs.AddFile("/file", std::string(200000, '\n'));
  fs.SetReadLimit(4096);
  std::stop_source stop;
  int told = 0;
  const Examination stopped = ExamineFile(fs, "/file", stop.get_token(), [&](const Examination& early) {
    EXPECT_EQ(early.verdict, K::Unix);
    ++told;
    stop.request_stop();
  });
  EXPECT_EQ(stopped.outcome, Outcome::Cancelled);
  EXPECT_EQ(told, 1);
  EXPECT_EQ(fs.BytesRead(), 64u * 1024);
}

}  // namespace
}  // namespace tarnwhistle
