// The command-line tool as scripts see it: the built binary run in a temporary folder,
// its exit status, what it prints and what it leaves on the disk.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/messages.h"
#include "process.h"
#include "temp_dir.h"

namespace tarnwhistle {
namespace {

using testing::ReadAll;
using testing::TempDir;

using testing::Outcome;

testing::Invocation Tool(const TempDir& dir, std::vector<std::string> args) {
  return {TARNWHISTLE_CLI_PATH, std::move(args), dir.path()};
}
Outcome RunTool(const TempDir& dir, const std::vector<std::string>& args) { return testing::Run(Tool(dir, args)); }

std::string Line(std::string_view text) { return std::string(text) + "\n"; }

TEST(Cli, VersionAndHelp) {
  TempDir dir;
  Outcome version = RunTool(dir, {"--version"});
  EXPECT_EQ(version.exit_code, 0);
  EXPECT_EQ(version.out, "Tarnwhistle Ver 1.2\n");

  for (const char* command : {"detect", "convert", "info"}) {
    Outcome help = RunTool(dir, {command, "--help"});
    EXPECT_EQ(help.exit_code, 0) << command;
    EXPECT_NE(help.out.find(std::string("tarnwhistle-cli ") + command), std::string::npos) << help.out;
  }
  Outcome help = RunTool(dir, {"--help"});
  EXPECT_EQ(help.exit_code, 0);
  for (const char* command : {"detect", "convert", "info"}) EXPECT_NE(help.out.find(command), std::string::npos);
}

TEST(Cli, UsageErrorsExitWith2AndTouchNothing) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"frobnicate"},
      {"detect"},
      {"info"},
      {"convert", "dos.txt", "out.txt"},                          // no --to
      {"convert", "--to", "unix", "dos.txt"},                     // no OUT
      {"convert", "--to", "unix", "dos.txt", "out.txt", "more"},  // one file too many
      {"convert", "--to", "binary", "dos.txt", "out.txt"},
      {"convert", "--to", "2", "dos.txt", "out.txt"},  // a kind's code is no kind's name
      {"convert", "--to", "unix", "--from", "none", "dos.txt", "out.txt"},
      {"convert", "--bogus", "--to", "unix", "dos.txt", "out.txt"},
  };
  for (const auto& args : cases) {
    TempDir dir;
    dir.Write("dos.txt", "a\r\n");
    Outcome outcome = RunTool(dir, args);
    std::string shown = ::testing::PrintToString(args);
    EXPECT_EQ(outcome.exit_code, 2) << shown;
    EXPECT_FALSE(outcome.err.empty()) << shown;
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"dos.txt"}) << shown;
  }
}

TEST(Cli, DetectPrintsOneKindPerFile) {
  TempDir dir;
  dir.Write("dos.txt", "a\r\nb");
  dir.Write("unix.txt", "a\nb");
  dir.Write("mac.txt", "a\rb");
  dir.Write("binary.dat", std::string("a\0b\n", 4));
  dir.Write("long.txt", std::string(300, 'x') + "\n");

  Outcome one = RunTool(dir, {"detect", "dos.txt"});
  EXPECT_EQ(one.exit_code, 0);
  EXPECT_EQ(one.out, "MS-DOS\n");

  Outcome several = RunTool(dir, {"detect", "unix.txt", "mac.txt", "binary.dat", "long.txt"});
  EXPECT_EQ(several.exit_code, 0);
  EXPECT_EQ(several.out, "unix.txt: UNIX\nmac.txt: MAC\nbinary.dat: BINARY\nlong.txt: NONE\n");
  EXPECT_EQ(several.err, "");

  // A file that cannot be opened is reported and the others are still looked at.
  Outcome missing = RunTool(dir, {"detect", "missing.txt", ".", "dos.txt"});
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_EQ(missing.out, "dos.txt: MS-DOS\n");
  EXPECT_EQ(missing.err, "missing.txt: " + Line(messages::kSourceMissing) + ".: " + Line(messages::kSourceMissing));
}

TEST(Cli, InfoCountsOverTheWholeFile) {
  TempDir dir;
  // Detection sees only the first CR LF; the rest of the file is mixed.
  dir.Write("mixed.txt", "a\r\nb\nc\n" + std::string(1000, 'x') + "\rd\x1b\r\n");
  dir.Write("unix.txt", "a\nb\n");
  dir.Write("utf16.txt", std::string("\xff\xfe" "a\0\r\0\n\0", 8));

  Outcome outcome = RunTool(dir, {"info", "mixed.txt", "unix.txt", "utf16.txt"});
  EXPECT_EQ(outcome.exit_code, 0);
  EXPECT_EQ(outcome.out,
            "file: mixed.txt\ndetected: MS-DOS\ncrlf: 2\nlf: 2\ncr: 1\nmixed: yes\n"
            "control: yes, first at offset 1009\nnul: no\nbytes: 1012\n"
            "\n"
            "file: unix.txt\ndetected: UNIX\ncrlf: 0\nlf: 2\ncr: 0\nmixed: no\ncontrol: no\nnul: no\nbytes: 4\n"
            "\n"
            "file: utf16.txt\ndetected: BINARY\ncrlf: 0\nlf: 1\ncr: 1\nmixed: yes\n"
            "control: yes, first at offset 3\nnul: yes, first at offset 3\nbytes: 8\n");

  Outcome missing = RunTool(dir, {"info", "unix.txt", "missing.txt"});
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_EQ(missing.err, "missing.txt: " + Line(messages::kSourceMissing));
}

// A name never forges a line: escaped by default, raw in NUL-ended fields with --null.
TEST(Cli, NamesStayOneLineOrGoRawWithNull) {
  TempDir dir;
  const std::string evil = "evil: MS-DOS\nother\x1b[2J.txt";
  dir.Write(evil, "a\nb\n");
  dir.Write("mac.txt", "a\rb");
  using namespace std::string_literals;
  const struct {
    std::vector<std::string> args;
    std::string out;
  } cases[] = {
      {{"detect", evil, "mac.txt"}, "evil: MS-DOS\\nother\\x1b[2J.txt: UNIX\nmac.txt: MAC\n"},
      {{"detect", "--null", evil, "mac.txt"}, evil + "\0UNIX\0mac.txt\0MAC\0"s},
      {{"info", "-z", evil},
       "file: "s + evil + "\0detected: UNIX\0crlf: 0\0lf: 2\0cr: 0\0mixed: no\0control: no\0nul: no\0bytes: 4\0"s},
  };
  for (const auto& c : cases) {
    Outcome outcome = RunTool(dir, c.args);
    EXPECT_EQ(outcome.exit_code, 0) << outcome.err;
    EXPECT_EQ(outcome.out, c.out) << ::testing::PrintToString(c.args);
  }
}

TEST(Cli, ConvertWritesTheOutputAndSaysSo) {
  struct Case {
    std::vector<std::string> args;
    std::string source;
    std::string output;
  };
  const Case cases[] = {
      {{"convert", "--to", "unix", "in.txt", "out.txt"}, "a\r\nb\r\n", "a\nb\n"},
      {{"convert", "--to", "MAC", "in.txt", "out.txt"}, "a\nb\n", "a\rb\r"},
      {{"convert", "in.txt", "out.txt", "--to", "dos"}, "a\rb", "a\r\nb"},
      // --from is trusted as it is: no detection, even of a file detection calls BINARY.
      {{"convert", "--from", "mac", "--to", "unix", "in.txt", "out.txt"}, "\x01\r\n", "\x01\n\n"},
      {{"convert", "--from", "unix", "--to", "dos", "in.txt", "out.txt"}, "a\r\nb", "a\r\r\nb"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    dir.Write("in.txt", c.source);
    dir.Write("out.txt", "an older and longer output");
    Outcome outcome = RunTool(dir, c.args);
    std::string shown = ::testing::PrintToString(c.args);
    EXPECT_EQ(outcome.exit_code, 0) << shown << outcome.err;
    EXPECT_EQ(outcome.out, Line(messages::kConverted)) << shown;
    EXPECT_EQ(ReadAll(dir / "out.txt"), c.output) << shown;
    EXPECT_EQ(ReadAll(dir / "in.txt"), c.source) << shown;
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"in.txt", "out.txt"})) << shown;
  }
}

// Every refusal and failure exits 1 with the window's message, leaves an existing
// output as it was and no other file behind.
TEST(Cli, ConvertRefusalsAndFailuresLeaveEverythingAsItWas) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::string message;
  };
  const Case cases[] = {
      {"no source name", {"convert", "--to", "unix", "", "out.txt"}, Line(messages::kNoSourceName)},
      {"binary", {"convert", "--to", "unix", "binary.dat", "out.txt"}, Line(messages::kBinarySource)},
      {"binary comes before the other checks", {"convert", "--to", "dos", "binary.dat", "dos.txt"},
       Line(messages::kBinarySource)},
      {"no verdict", {"convert", "--to", "unix", "long.txt", "out.txt"}, Line(messages::kNotDetected)},
      {"same kind", {"convert", "--to", "dos", "dos.txt", "out.txt"}, Line(messages::kSameKind)},
      {"same kind given", {"convert", "--from", "mac", "--to", "mac", "dos.txt", "out.txt"},
       Line(messages::kSameKind)},
      {"same name", {"convert", "--to", "unix", "dos.txt", "dos.txt"}, Line(messages::kSameFile)},
      {"same file, other name", {"convert", "--to", "unix", "dos.txt", "./sub/../dos.txt"},
       Line(messages::kSameFile)},
      {"same file by a link", {"convert", "--to", "unix", "dos.txt", "link.txt"}, Line(messages::kSameFile)},
      {"no output name", {"convert", "--to", "unix", "dos.txt", ""}, Line(messages::kNoOutputName)},
      {"missing source", {"convert", "--to", "unix", "missing.txt", "out.txt"},
       "missing.txt: " + Line(messages::kSourceMissing)},
      {"missing source, kind given", {"convert", "--from", "dos", "--to", "unix", "missing.txt", "out.txt"},
       "missing.txt: " + Line(messages::kSourceMissing)},
      {"source is a folder", {"convert", "--from", "dos", "--to", "unix", "sub", "out.txt"},
       "sub: " + Line(messages::kSourceMissing)},
      {"output folder missing", {"convert", "--to", "unix", "dos.txt", "nowhere/out.txt"},
       "nowhere/out.txt: " + Line(messages::kOutputUnwritable)},
      {"output is a folder", {"convert", "--to", "unix", "dos.txt", "sub"}, "sub: " + Line(messages::kOutputUnwritable)},
      {"a PNG, detected as MS-DOS", {"convert", "--to", "unix", "png.dat", "out.txt"},
       "png.dat: " + Line(messages::kBinarySource)},
      {"a NUL, the kind given", {"convert", "--from", "dos", "--to", "unix", "binary.dat", "out.txt"},
       "binary.dat: " + Line(messages::kBinarySource)},
  };
  for (const Case& c : cases) {
    TempDir dir;
    dir.Write("dos.txt", "a\r\nb\r\n");
    dir.Write("binary.dat", std::string("a\0\r\n", 4));
    dir.Write("long.txt", std::string(300, 'x') + "\r\n");
    dir.Write("png.dat", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16));
    dir.Write("out.txt", "old output");
    std::filesystem::create_directory(dir / "sub");
    std::filesystem::create_symlink("dos.txt", dir / "link.txt");
    const std::vector<std::string> names = dir.Names();

    Outcome outcome = RunTool(dir, c.args);
    EXPECT_EQ(outcome.exit_code, 1) << c.name;
    EXPECT_EQ(outcome.err, c.message) << c.name;
    EXPECT_EQ(outcome.out, "") << c.name;
    EXPECT_EQ(ReadAll(dir / "out.txt"), "old output") << c.name;
    EXPECT_EQ(ReadAll(dir / "dos.txt"), "a\r\nb\r\n") << c.name;
    EXPECT_EQ(dir.Names(), names) << c.name;
    EXPECT_TRUE(std::filesystem::is_empty(dir / "sub")) << c.name;
  }
}

// True while `pid` holds open a file with no name (the working file) under `folder`.
bool HoldsNamelessFile(pid_t pid, const std::string& folder) {
  std::error_code ignored;
  for (const auto& fd : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ignored)) {
    const std::string target = std::filesystem::read_symlink(fd.path(), ignored).string();
    if (target.rfind(folder, 0) == 0 && target.find("(deleted)") != std::string::npos) return true;
  }
  return false;
}

// A conversion stopped by a signal removes its unfinished output, leaves the old one,
// and ends by that signal so that a calling shell knows it was interrupted.
TEST(Cli, ConvertStoppedBySignalLeavesNoTrace) {
  TempDir dir;
  {
    std::string block;
    while (block.size() < (1 << 20)) block += "a line of text that goes on\r\n";
    std::ofstream huge(dir / "huge.txt", std::ios::binary);
    for (int i = 0; i < 64; ++i) huge << block;  // long enough to be caught in the middle
  }
  for (int signal : {SIGINT, SIGTERM}) {
    dir.Write("out.txt", "old output");
    testing::Process tool(Tool(dir, {"convert", "--from", "dos", "--to", "unix", "huge.txt", "out.txt"}));
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!HoldsNamelessFile(tool.pid(), dir.path()) && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    ::kill(tool.pid(), signal);
    Outcome outcome = tool.Finish();

    EXPECT_EQ(outcome.signal, signal) << outcome.exit_code;
    EXPECT_EQ(ReadAll(dir / "out.txt"), "old output");
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"huge.txt", "out.txt"}));
  }
}

// Exit 0 means OUT holds the converted file, whatever became of the message saying so;
// a detect whose result cannot be printed has failed.
TEST(Cli, PrintingThatFailsIsReportedAndTheExitCodeTellsWhatBecameOfOut) {
  struct {
    const char* name;
    std::vector<std::string> args;
    bool closed;
    int exit_code;
  } const cases[] = {
      {"detect to a full disk", {"detect", "dos.txt"}, false, 1},
      {"convert to a full disk", {"convert", "--to", "unix", "dos.txt", "out.txt"}, false, 0},
      {"convert with stdout closed", {"convert", "--to", "unix", "dos.txt", "out.txt"}, true, 0},
  };
  for (const auto& c : cases) {
    TempDir dir;
    dir.Write("dos.txt", "a\r\n");
    testing::Invocation run = Tool(dir, c.args);
    run.stdout_file = "/dev/full";
    run.stdout_closed = c.closed;
    Outcome outcome = testing::Run(run);
    EXPECT_EQ(outcome.exit_code, c.exit_code) << c.name;
    EXPECT_FALSE(outcome.err.empty()) << c.name;
    if (c.exit_code == 0) {
      EXPECT_EQ(ReadAll(dir / "out.txt"), "a\n") << c.name;
    }
  }
}

}  // namespace
}  // namespace tarnwhistle
