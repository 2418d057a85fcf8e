// tarnwhistle-cli on many files and as a filter in a pipe: the built binary, as a shell
// runs it.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "engine/messages.h"
#include "process.h"
#include "temp_dir.h"

namespace tarnwhistle {
namespace {

using testing::ReadAll;
using testing::TempDir;

using testing::Outcome;

// Runs the tool in `dir` with `input` on its standard input.
Outcome RunTool(const TempDir& dir, const std::vector<std::string>& args, const std::string& input = "") {
  return testing::Run({TARNWHISTLE_CLI_PATH, args, dir.path(), input});
}

std::string Line(const std::string& file, std::string_view message) { return file + ": " + std::string(message) + "\n"; }

// A tree with every kind of file a batch meets.
void MakeTree(const TempDir& dir) {
  std::filesystem::create_directories(dir / "src/sub");
  dir.Write("src/dos.txt", "a\r\nb\r\n");
  dir.Write("src/unix.txt", "a\nb\n");
  dir.Write("src/image.bin", std::string("\x01\x02\0\r\n", 5));
  dir.Write("src/notes.md", "a\r\n");
  dir.Write("src/sub/deeper.txt", "a\rb\r");
}

TEST(CliBatch, FoldersIntoAFolderOrInPlace) {
  struct Case {
    std::vector<std::string> args;
    int exit_code;
    std::string out;
    std::vector<std::pair<std::string, std::string>> files;  // contents afterwards; "<missing>" for none
  };
  const std::string converted(messages::kConverted), refused(messages::kBinarySource);
  const Case cases[] = {
      {{"convert", "--to", "unix", "-r", "-o", "out", "src"},
       0,
       Line("src/dos.txt", converted) + Line("src/image.bin", refused) + Line("src/notes.md", converted) +
           Line("src/sub/deeper.txt", converted) + Line("src/unix.txt", messages::kAlreadyTarget),
       {{"out/dos.txt", "a\nb\n"}, {"out/sub/deeper.txt", "a\nb\n"}, {"out/image.bin", "<missing>"},
        {"src/dos.txt", "a\r\nb\r\n"}}},
      {{"convert", "-t", "dos", "--in-place", "--include", "*.txt", "--include", "*.none", "src"},
       0,
       Line("src/dos.txt", messages::kAlreadyTarget) + Line("src/unix.txt", converted),
       {{"src/unix.txt", "a\r\nb\r\n"}, {"src/notes.md", "a\r\n"}, {"src/sub/deeper.txt", "a\rb\r"}}},
      {{"convert", "--to", "unix", "--dry-run", "-r", "--in-place", "src/sub", "src/dos.txt"},
       0,
       "src/sub/deeper.txt: MAC -> UNIX\nsrc/dos.txt: MS-DOS -> UNIX\n",
       {{"src/dos.txt", "a\r\nb\r\n"}}},
      // A file named, then its folder by another spelling: the file is taken once, where named.
      {{"convert", "--to", "unix", "-r", "-o", "out", "src/sub/deeper.txt", "./src", "src/sub"},
       0,
       Line("src/sub/deeper.txt", converted) + Line("./src/dos.txt", converted) + Line("./src/image.bin", refused) +
           Line("./src/notes.md", converted) + Line("./src/unix.txt", messages::kAlreadyTarget),
       {{"out/deeper.txt", "a\nb\n"}, {"out/sub/deeper.txt", "<missing>"}}},
      // A read failure is a failure; the other files are still converted.
      {{"convert", "--to", "unix", "-o", "out", "missing.txt", "src/dos.txt"},
       1,
       Line("missing.txt", messages::kSourceMissing) + Line("src/dos.txt", converted),
       {{"out/dos.txt", "a\nb\n"}}},
      {{"convert", "--to", "unix", "-o", "src/dos.txt/out", "src/notes.md"},
       1,
       Line("src/notes.md", messages::kOutputUnwritable),
       {{"src/dos.txt", "a\r\nb\r\n"}}},
  };
  for (const Case& c : cases) {
    TempDir dir;
    MakeTree(dir);
    Outcome outcome = RunTool(dir, c.args);
    const std::string shown = ::testing::PrintToString(c.args);
    EXPECT_EQ(outcome.exit_code, c.exit_code) << shown << outcome.err;
    EXPECT_EQ(outcome.out, c.out) << shown;
    EXPECT_NE(outcome.err.find("変換 "), std::string::npos) << shown << outcome.err;
    for (const auto& [path, bytes] : c.files) EXPECT_EQ(ReadAll(dir / path), bytes) << shown << ": " << path;
  }
}

TEST(CliBatch, FilterInAPipe) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::string input;
    int exit_code;
    std::string out;
    std::string err;
  };
  const std::string big = [] {
    std::string text;
    while (text.size() < 3 << 20) text += "a line of text, long enough\r\n";
    return text;
  }();
  std::string big_unix = big;
  std::erase(big_unix, '\r');
  const Case cases[] = {
      {"to MS-DOS", {"convert", "--to", "dos", "-", "-"}, "a\nb\n", 0, "a\r\nb\r\n", ""},
      {"a stream of several MiB flows through", {"convert", "-t", "unix", "-", "-"}, big, 0, big_unix, ""},
      {"kind given", {"convert", "-f", "mac", "-t", "unix", "-", "-"}, "a\r\nb", 0, "a\n\nb", ""},
      {"already of the kind: passed on unchanged", {"convert", "--to", "unix", "-", "-"}, "a\nb\r\n", 0, "a\nb\r\n", ""},
      {"BINARY: nothing written", {"convert", "--to", "unix", "-", "-"}, std::string("\x01\r\n", 3), 1, "",
       std::string(messages::kBinarySource) + "\n"},
      {"a NUL byte in the first bytes: nothing written", {"convert", "--to", "unix", "-", "-"},
       std::string("a\r\nb\0c\r\n", 8), 1, "", std::string(messages::kBinarySource) + "\n"},
      {"a NUL byte further on ends it as a failure", {"convert", "--to", "unix", "-", "-"},
       big + std::string("\0", 1), 1, big_unix.substr(0, 2 << 20), Line("-", messages::kBinarySource)},
      {"already of the kind, a NUL byte further on too", {"convert", "--to", "unix", "-", "-"},
       big_unix + std::string("\0", 1), 1, big_unix.substr(0, 2 << 20), Line("-", messages::kBinarySource)},
      {"no verdict", {"convert", "--to", "unix", "-", "-"}, std::string(300, 'x'), 1, "",
       std::string(messages::kBinarySource) + "\n"},
      {"into a file", {"convert", "--to", "mac", "-", "out.txt"}, "a\nb\n", 0, std::string(messages::kConverted) + "\n", ""},
  };
  for (const Case& c : cases) {
    TempDir dir;
    Outcome outcome = RunTool(dir, c.args, c.input);
    EXPECT_EQ(outcome.exit_code, c.exit_code) << c.name;
    if (outcome.out.size() < 100) {
      EXPECT_EQ(outcome.out, c.out) << c.name;
    } else {
      // Past the first MiB, how much of a failed stream came out depends on the buffers.
      EXPECT_EQ(outcome.out.substr(0, c.out.size()), c.out) << c.name;
    }
    EXPECT_EQ(outcome.err, c.err) << c.name;
  }
  TempDir dir;
  RunTool(dir, {"convert", "--to", "mac", "-", "out.txt"}, "a\nb\n");
  EXPECT_EQ(ReadAll(dir / "out.txt"), "a\rb\r");
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"out.txt"});
}

TEST(CliBatch, WrongCommandLinesSayWhatWasWrong) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"frobnicate"}, "unknown command: frobnicate"},
      {{"convert", "--bogus", "a", "b"}, "unknown option: --bogus"},
      {{"convert", "--to", "unix", "-r", "a", "b"}, "need -o DIR or --in-place"},
      {{"convert", "--to", "unix", "--in-place", "-o", "out", "a"}, "exclude each other"},
      {{"convert", "--to", "unix", "--in-place"}, "no file or folder"},
      {{"convert", "--to", "unix", "--in-place", "-"}, "'-' is for one file only"},
  };
  for (const auto& [args, said] : cases) {
    TempDir dir;
    Outcome outcome = RunTool(dir, args);
    EXPECT_EQ(outcome.exit_code, 2) << said;
    EXPECT_NE(outcome.err.find(said), std::string::npos) << outcome.err;
    EXPECT_TRUE(dir.Names().empty()) << said;
  }
  TempDir dir;
  EXPECT_EQ(RunTool(dir, {"-V"}).out, std::string(messages::kVersionText) + "\n");
}

}  // namespace
}  // namespace tarnwhistle
