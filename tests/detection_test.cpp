#include <gtest/gtest.h>

#include <string>

#include "engine/detection.h"
#include "fake_file_system.h"

namespace tarnwhistle {
namespace {

using K = LineEndingKind;
using testing::FakeFileSystem;

std::string Xs(int count) { return std::string(static_cast<std::size_t>(count), 'x'); }

struct ScanCase {
  const char* name;
  std::string bytes;
  LineEndingKind verdict;
};

const ScanCase kScanCases[] = {
    {"crlf", "abc\r\ndef", K::MsDos},
    {"lf", "abc\ndef", K::Unix},
    {"cr", "abc\rdef", K::Mac},
    {"tab before crlf", "a\tb\r\n", K::MsDos},
    {"nul before the break", std::string("ab\0cd\n", 6), K::Binary},
    {"nul after the break", std::string("ab\ncd\0", 6), K::Unix},
    {"cr cr lf: the second cr decides", "\r\r\n", K::Mac},
    {"cr then esc", "\r\x1b", K::Binary},
    {"cr then nul", std::string("\r\0", 2), K::Binary},
    {"cr then tab", "\r\t", K::Mac},
    {"cr then space", "ab\r x", K::Mac},
    {"lf first", "\n", K::Unix},
    {"unit separator is binary", "\x1f\n", K::Binary},
    {"delete is text", "\x7f\n", K::Unix},
    {"bytes 0x80-0xff are text", "\x80\xfe\xff\n", K::Unix},
    {"japanese utf-8", "日本語のテキスト\r\n", K::MsDos},
    {"256 undecided then lf", Xs(256) + "\n", K::Unix},
    {"257 undecided then lf", Xs(257) + "\n", K::None},
    {"300 undecided then lf", Xs(300) + "\n", K::None},
    {"255 undecided then crlf", Xs(255) + "\r\n", K::MsDos},
    {"256 undecided then crlf", Xs(256) + "\r\n", K::None},
    {"ends before any break", "abc", K::None},
    {"ends with a lone cr", "abc\r", K::Mac},
    {"a lone cr", "\r", K::Mac},
    {"255 undecided then a last cr", Xs(255) + "\r", K::Mac},
    {"256 undecided then a last cr", Xs(256) + "\r", K::None},
    {"ends with a tab", "abc\t", K::None},
    {"empty", "", K::None},
};

// Every case gives the same verdict however the file is split across reads, down to a
// byte at a time: a CR at the end of one read and its LF at the start of the next.
TEST(ScanLineEndings, VerdictsWhateverTheReadSize) {
  for (const ScanCase& c : kScanCases) {
    for (std::size_t read_limit : {0, 1, 2, 3, 7, 255, 256, 257}) {
      FakeFileSystem fs;
      fs.AddFile("/f", c.bytes);
      fs.SetReadLimit(read_limit);
      Detection detection = DetectLineEndings(fs, "/f");
      EXPECT_EQ(detection.status, Status::Ok) << c.name;
      EXPECT_EQ(detection.verdict, c.verdict) << c.name << ", reads of at most " << read_limit << " bytes";
    }
  }
}

// However the system splits its reads (a network file system or a slow device may hand
// out a few bytes at a time), detection reads no more than it needs.
TEST(DetectLineEndings, ReadsAtMost258BytesOfAnyFileWhateverTheReadSizes) {
  for (std::size_t size : {258u, 259u, 4096u, 1u << 20}) {
    for (char fill : {'x', '\n', '\0'}) {
      for (std::size_t read_limit : {0, 1, 2, 100, 257, 258, 4096}) {
        FakeFileSystem fs;
        fs.AddFile("/big", std::string(size, fill));
        fs.SetReadLimit(read_limit);
        DetectLineEndings(fs, "/big");
        EXPECT_LE(fs.BytesRead(), 258u) << size << " bytes of " << int(fill) << ", reads of " << read_limit;
      }
    }
  }
}

TEST(DetectLineEndings, ReportsWhatIsNotAReadableRegularFile) {
  FakeFileSystem fs;
  fs.AddDirectory("/folder");
  fs.AddFifo("/fifo");
  fs.AddFile("/file", "abc\n");
  EXPECT_EQ(DetectLineEndings(fs, "/missing").status, Status::SourceCannotOpen);
  EXPECT_EQ(DetectLineEndings(fs, "/folder").status, Status::SourceCannotOpen);
  EXPECT_EQ(DetectLineEndings(fs, "/fifo").status, Status::SourceCannotOpen);

  fs.FailOn(testing::Op::Read);
  Detection failed = DetectLineEndings(fs, "/file");
  EXPECT_EQ(failed.status, Status::SourceReadFailed);
  EXPECT_EQ(failed.verdict, K::None);
}

}  // namespace
}  // namespace tarnwhistle
