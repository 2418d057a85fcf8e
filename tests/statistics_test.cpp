#include <gtest/gtest.h>

#include <random>
#include <string>

#include "engine/statistics.h"
#include "fake_file_system.h"

namespace tarnwhistle {
namespace {

using testing::FakeFileSystem;

struct Expected {
  std::uint64_t crlf, lf, cr;
  bool control;
  std::uint64_t first_control;
};

struct CountCase {
  const char* name;
  std::string bytes;
  Expected expected;
};

const CountCase kCountCases[] = {
    {"empty", "", {0, 0, 0, false, 0}},
    {"no line end", "abc", {0, 0, 0, false, 0}},
    {"crlf", "a\r\nb\r\n", {2, 0, 0, false, 0}},
    {"lf", "a\nb\n", {0, 2, 0, false, 0}},
    {"cr, the last one at the very end", "a\rb\r", {0, 0, 2, false, 0}},
    {"cr cr lf", "\r\r\n", {1, 0, 1, false, 0}},
    {"crlf lf", "\r\n\n", {1, 1, 0, false, 0}},
    {"lf cr", "\n\r", {0, 1, 1, false, 0}},
    {"lf cr lf", "\n\r\n", {1, 1, 0, false, 0}},
    {"all three", "x\r\ny\nz\rw", {1, 1, 1, false, 0}},
    {"tab is not a control", "a\tb\n", {0, 1, 0, false, 0}},
    {"nul", std::string("ab\0c\n", 5), {0, 1, 0, true, 2}},
    {"escape after the line ends", "a\r\nb\x1b", {1, 0, 0, true, 4}},
    {"only the first control counts", "\x01\x02", {0, 0, 0, true, 0}},
    {"unit separator", "\x1f", {0, 0, 0, true, 0}},
    {"delete is text", "\x7f\n", {0, 1, 0, false, 0}},
    {"bytes 0x80-0xff are text", "\x80\xfe\xff\r\n", {1, 0, 0, false, 0}},
    {"japanese utf-8", "日本語\r\nテキスト\n改行\r", {1, 1, 1, false, 0}},
    {"more line ends than a byte counts", std::string(1000, '\n') + std::string(700, '\r'), {0, 1000, 700, false, 0}},
    {"more pairs than a byte counts", [] {
       std::string s;
       for (int i = 0; i < 600; ++i) s += "\r\n";
       return s;
     }(), {600, 0, 0, false, 0}},
};

LineEndingCounts Count(const std::string& bytes, std::size_t read_limit) {
  FakeFileSystem fs;
  fs.AddFile("/f", bytes);
  fs.SetReadLimit(read_limit);
  FileLineEndings result = CountLineEndingsInFile(fs, "/f");
  EXPECT_EQ(result.status, Status::Ok);
  return result.counts;
}

void ExpectCounts(const LineEndingCounts& got, const Expected& want, std::uint64_t bytes, const std::string& where) {
  EXPECT_EQ(got.crlf, want.crlf) << where;
  EXPECT_EQ(got.lf, want.lf) << where;
  EXPECT_EQ(got.cr, want.cr) << where;
  EXPECT_EQ(got.control, want.control) << where;
  if (want.control) {
    EXPECT_EQ(got.first_control, want.first_control) << where;
  }
  EXPECT_EQ(got.bytes, bytes) << where;
}

// The same counts however the file is split across reads: a CR at the end of one read
// and its LF at the start of the next is still one CR LF.
TEST(CountLineEndings, CountsWhateverTheReadSize) {
  for (const CountCase& c : kCountCases) {
    for (std::size_t read_limit : {0, 1, 2, 3, 7, 254, 255, 256}) {
      ExpectCounts(Count(c.bytes, read_limit), c.expected, c.bytes.size(),
                   std::string(c.name) + ", reads of at most " + std::to_string(read_limit));
    }
  }
}

// Random bytes heavy in CR, LF and controls, against the rules applied one byte at a
// time.
TEST(CountLineEndings, MatchesAByteByByteCount) {
  std::mt19937 random(20261208);
  const char alphabet[] = {'\r', '\n', 'a', '\t', '\xe3', '\r', '\n'};
  for (int round = 0; round < 20; ++round) {
    std::string text;
    const int length = 1 + static_cast<int>(random() % 5000);
    for (int i = 0; i < length; ++i) text += alphabet[random() % sizeof alphabet];
    std::size_t control_at = text.size();
    if (round % 2 == 1) {
      control_at = random() % text.size();
      text[control_at] = '\x03';
    }
    Expected want{0, 0, 0, control_at < text.size(), control_at};
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
        ++want.crlf;
        ++i;
      } else if (text[i] == '\r') {
        ++want.cr;
      } else if (text[i] == '\n') {
        ++want.lf;
      }
    }
    for (std::size_t read_limit : {0, 1, 13, 256, 4099}) {
      ExpectCounts(Count(text, read_limit), want, text.size(),
                   "round " + std::to_string(round) + ", reads of " + std::to_string(read_limit));
    }
  }
}

TEST(CountLineEndingsInFile, ReportsFailuresAndStops) {
  FakeFileSystem fs;
  fs.AddDirectory("/folder");
  fs.AddFile("/file", std::string(100, '\n'));
  fs.SetReadLimit(10);
  EXPECT_EQ(CountLineEndingsInFile(fs, "/missing").status, Status::SourceCannotOpen);
  EXPECT_EQ(CountLineEndingsInFile(fs, "/folder").status, Status::SourceCannotOpen);

  fs.FailOn(testing::Op::Read, 3);
  EXPECT_EQ(CountLineEndingsInFile(fs, "/file").status, Status::SourceReadFailed);

  int asked = 0;
  FileLineEndings stopped = CountLineEndingsInFile(fs, "/file", [&asked] { return ++asked == 2; });
  EXPECT_EQ(stopped.status, Status::Cancelled);
  EXPECT_EQ(fs.BytesRead(), 20u + 20u);  // the failed count read two chunks, the stopped one two
}

}  // namespace
}  // namespace tarnwhistle
