#include <gtest/gtest.h>

#include <random>
#include <string>

#include "engine/conversion.h"
#include "fake_file_system.h"
#include "platform/posix_file_system.h"
#include "temp_dir.h"

namespace tarnwhistle {
namespace {

using K = LineEndingKind;
using testing::FakeFileSystem;
using testing::Op;

struct Routine {
  const char* name;
  ConversionRoutine routine;
  K from;
  K to;
};

const Routine kRoutines[] = {
    {"DosToUnix", ConvertDosToUnix, K::MsDos, K::Unix}, {"DosToMac", ConvertDosToMac, K::MsDos, K::Mac},
    {"UnixToDos", ConvertUnixToDos, K::Unix, K::MsDos}, {"UnixToMac", ConvertUnixToMac, K::Unix, K::Mac},
    {"MacToDos", ConvertMacToDos, K::Mac, K::MsDos},    {"MacToUnix", ConvertMacToUnix, K::Mac, K::Unix},
};

// The rules written out once more, a byte at a time, to check the routines against.
std::string Reference(ConversionRoutine routine, const std::string& in) {
  std::string out;
  for (char c : in) {
    if (routine == ConvertDosToUnix && c == '\r') continue;
    if (routine == ConvertDosToMac && c == '\n') continue;
    if (routine == ConvertUnixToDos && c == '\n') out += '\r';
    if (routine == ConvertUnixToMac && c == '\n') c = '\r';
    if (routine == ConvertMacToDos && c == '\r') {
      out += "\r\n";
      continue;
    }
    if (routine == ConvertMacToUnix && c == '\r') c = '\n';
    out += c;
  }
  return out;
}

struct RuleCase {
  ConversionRoutine routine;
  std::string in;
  std::string out;
};

const RuleCase kRuleCases[] = {
    {ConvertDosToUnix, "a\r\nb\r\n", "a\nb\n"},
    {ConvertDosToUnix, "a\rb\r\n", "ab\n"},  // a lone CR goes too
    {ConvertDosToMac, "a\r\nb", "a\rb"},
    {ConvertDosToMac, "a\nb\n", "ab"},
    {ConvertUnixToDos, "a\nb\n", "a\r\nb\r\n"},
    {ConvertUnixToDos, "a\r\nb", "a\r\r\nb"},  // an existing CR LF becomes CR CR LF
    {ConvertUnixToMac, "a\nb\n", "a\rb\r"},
    {ConvertMacToDos, "a\rb\r", "a\r\nb\r\n"},
    {ConvertMacToDos, "a\r\nb", "a\r\n\nb"},  // an existing CR LF becomes CR LF LF
    {ConvertMacToUnix, "a\rb\r", "a\nb\n"},
    {ConvertMacToUnix, "\r\r\r", "\n\n\n"},
};

// Runs a routine over `in` with files split into reads of at most `read_limit` bytes.
std::string Convert(ConversionRoutine routine, const std::string& in, std::size_t read_limit = 0) {
  FakeFileSystem fs;
  fs.AddFile("/in", in);
  fs.SetReadLimit(read_limit);
  EXPECT_EQ(ConvertFile(fs, routine, "/in", "/out"), Status::Ok);
  return fs.Contents("/out").value_or("<none>");
}

TEST(Routines, ApplyTheirRuleToEveryByte) {
  for (const RuleCase& c : kRuleCases) EXPECT_EQ(Convert(c.routine, c.in), c.out) << ::testing::PrintToString(c.in);
}

TEST(Routines, CopyEverythingElseUnchanged) {
  const std::string plain("no line breaks: \t\x01\xff 日本語", 29);
  for (const Routine& r : kRoutines) {
    EXPECT_EQ(Convert(r.routine, ""), "") << r.name;
    EXPECT_EQ(Convert(r.routine, plain), plain) << r.name;
  }
}

// Random text heavy in CR and LF, split across reads of every small size (a CR at the
// end of one buffer and its LF at the start of the next), against the reference.
TEST(Routines, MatchTheByteRulesAcrossBufferBoundaries) {
  std::mt19937 random(20261208);
  const char alphabet[] = {'\r', '\n', 'a', '\t', '\x01', '\xe3'};
  std::string text;
  for (int i = 0; i < 3000; ++i) text += alphabet[random() % sizeof alphabet];
  for (const Routine& r : kRoutines) {
    for (std::size_t read_limit : {1, 2, 3, 5, 64, 4095}) {
      EXPECT_EQ(Convert(r.routine, text, read_limit), Reference(r.routine, text)) << r.name << " " << read_limit;
    }
  }
}

// Output runs longer than the writer's buffer, and a multiple of it.
TEST(Routines, HandleRunsLongerThanTheBuffers) {
  std::string long_line(platform::ByteWriter::kDefaultBufferSize * 2 + 17, 'y');
  std::string text = long_line + "\r\n" + long_line + "\n" + long_line + "\r";
  for (const Routine& r : kRoutines) EXPECT_EQ(Convert(r.routine, text), Reference(r.routine, text)) << r.name;
}

// A NUL byte anywhere, in the vector loop or in the byte-at-a-time tail, at a buffer's
// end or start: every routine stops, and the conversion leaves the output as it was.
TEST(Routines, StopAtANulByteWhereverItIs) {
  const std::string text(1000, 'a');
  for (const Routine& r : kRoutines) {
    for (std::size_t at : {0, 63, 64, 500, 999}) {
      for (std::size_t read_limit : {0, 64, 500}) {
        std::string source = text;
        source[at] = '\0';
        FakeFileSystem fs;
        fs.AddFile("/in", source);
        fs.AddFile("/out", "old");
        fs.SetReadLimit(read_limit);
        EXPECT_EQ(ConvertFile(fs, r.routine, "/in", "/out"), Status::SourceNotText) << r.name << " " << at;
        EXPECT_EQ(fs.Contents("/out"), "old") << r.name << " " << at;
        EXPECT_EQ(fs.Paths(), (std::vector<std::string>{"/in", "/out"})) << r.name << " " << at;
      }
    }
  }
}

TEST(RoutineFor, PicksTheRoutineOfEachPairAndNoneForTheRest) {
  for (const Routine& r : kRoutines) EXPECT_EQ(RoutineFor(r.from, r.to), r.routine) << r.name;
  for (K from : {K::None, K::MsDos, K::Unix, K::Mac, K::Binary}) {
    EXPECT_EQ(RoutineFor(from, from), nullptr);
    EXPECT_EQ(RoutineFor(from, K::None), nullptr);
    EXPECT_EQ(RoutineFor(from, K::Binary), nullptr);
    EXPECT_EQ(RoutineFor(K::Binary, from), nullptr);
    EXPECT_EQ(RoutineFor(K::None, from), nullptr);
  }
}

// ConvertFile on the real disk: every row of the rule table, over an existing output
// longer than the result.
TEST(ConvertFile, ReplacesAnExistingOutputWithExactlyTheResult) {
  for (const RuleCase& c : kRuleCases) {
    testing::TempDir dir;
    std::string source = dir.Write("source.txt", c.in);
    std::string output = dir.Write("output.txt", std::string(10000, 'o'));
    platform::PosixFileSystem fs;
    ASSERT_EQ(ConvertFile(fs, c.routine, source, output), Status::Ok);
    EXPECT_EQ(testing::ReadAll(output), c.out);
    EXPECT_EQ(testing::ReadAll(source), c.in);
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"output.txt", "source.txt"}));
  }
}

struct FailureCase {
  const char* name;
  std::string source;
  std::string output;
  Op fail;  // Op::OpenRead with fail_nth 0 means: no injected failure
  int fail_nth;
  Status status;
};

// Every way a conversion can fail leaves the source and any existing output exactly as
// they were, and no new file behind.
TEST(ConvertFile, FailuresLeaveEveryFileAsItWas) {
  const FailureCase cases[] = {
      {"missing source", "/d/missing", "/d/out", Op::OpenRead, 0, Status::SourceCannotOpen},
      {"source is a folder", "/d", "/d/out", Op::OpenRead, 0, Status::SourceCannotOpen},
      {"source is a fifo", "/d/fifo", "/d/out", Op::OpenRead, 0, Status::SourceCannotOpen},
      {"source open fails", "/d/in", "/d/out", Op::OpenRead, 1, Status::SourceCannotOpen},
      {"output folder missing", "/d/in", "/nowhere/out", Op::OpenRead, 0, Status::OutputCannotWrite},
      {"output is a folder", "/d/in", "/d/sub", Op::OpenRead, 0, Status::OutputCannotWrite},
      {"output names a folder", "/d/in", "/d/", Op::OpenRead, 0, Status::OutputCannotWrite},
      {"output empty", "/d/in", "", Op::OpenRead, 0, Status::OutputCannotWrite},
      {"output cannot be created", "/d/in", "/d/out", Op::Create, 1, Status::OutputCannotWrite},
      {"first read fails", "/d/in", "/d/out", Op::Read, 1, Status::SourceReadFailed},
      {"later read fails", "/d/in", "/d/out", Op::Read, 2, Status::SourceReadFailed},
      {"write fails (disk full)", "/d/in", "/d/out", Op::Write, 1, Status::OutputCannotWrite},
      {"flush fails", "/d/in", "/d/out", Op::Flush, 1, Status::OutputCannotWrite},
      {"close fails", "/d/in", "/d/out", Op::Close, 1, Status::OutputCannotWrite},
      {"rename fails", "/d/in", "/d/out", Op::Rename, 1, Status::OutputCannotWrite},
  };
  for (const FailureCase& c : cases) {
    FakeFileSystem fs;
    fs.AddDirectory("/d");
    fs.AddDirectory("/d/sub");
    fs.AddFifo("/d/fifo");
    fs.AddFile("/d/in", "one\r\ntwo\r\n");
    fs.AddFile("/d/out", "old output");
    fs.SetReadLimit(4);
    if (c.fail_nth > 0) fs.FailOn(c.fail, c.fail_nth);
    std::vector<std::string> before = fs.Paths();

    EXPECT_EQ(ConvertFile(fs, ConvertDosToUnix, c.source, c.output), c.status) << c.name;
    EXPECT_EQ(fs.Contents("/d/in"), "one\r\ntwo\r\n") << c.name;
    EXPECT_EQ(fs.Contents("/d/out"), "old output") << c.name;
    EXPECT_EQ(fs.Paths(), before) << c.name;
    if (c.status == Status::SourceCannotOpen) {
      EXPECT_EQ(fs.Calls(Op::Create), 0) << c.name;
    }
  }
}

TEST(ConvertFile, CancellingLeavesTheOutputAsItWas) {
  FakeFileSystem fs;
  fs.AddFile("/in", std::string(100, '\n'));
  fs.AddFile("/out", "old");
  fs.SetReadLimit(10);
  std::vector<std::uint64_t> reports;
  auto progress = [&reports](std::uint64_t done, std::uint64_t total) {
    EXPECT_EQ(total, 100u);
    reports.push_back(done);
    return done < 30;
  };
  EXPECT_EQ(ConvertFile(fs, ConvertUnixToDos, "/in", "/out", progress), Status::Cancelled);
  EXPECT_EQ(reports, (std::vector<std::uint64_t>{10, 20, 30}));
  EXPECT_EQ(fs.Contents("/out"), "old");
  EXPECT_EQ(fs.Paths(), (std::vector<std::string>{"/in", "/out"}));
}

}  // namespace
}  // namespace tarnwhistle

namespace tarnwhistle {
namespace {

// Replacing an existing file waits for its new bytes to reach the disk; a new file has
// no old content to protect and does not.
TEST(ConvertFile, FlushesToDiskOnlyWhenReplacingAFile) {
  FakeFileSystem fs;
  fs.AddFile("/in", "a\n");
  ASSERT_EQ(ConvertFile(fs, ConvertUnixToDos, "/in", "/new"), Status::Ok);
  EXPECT_EQ(fs.Calls(Op::Flush), 0);
  ASSERT_EQ(ConvertFile(fs, ConvertUnixToDos, "/in", "/new"), Status::Ok);
  EXPECT_EQ(fs.Calls(Op::Flush), 1);
}

}  // namespace
}  // namespace tarnwhistle
