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
#include <string>
#include <thread>
#include <vector>

#include "engine/messages.h"
#include "temp_dir.h"

namespace tarnwhistle {
namespace {

using testing::ReadAll;
using testing::TempDir;

struct Outcome {
  int exit_code = -1;  // -1 when ended by a signal
  int signal = 0;
  std::string out;
  std::string err;
};

// Starts the tool in `dir` with `args`; its output goes to two files outside `dir`.
pid_t Start(const TempDir& dir, const std::vector<std::string>& args, const TempDir& logs) {
  std::vector<char*> argv{const_cast<char*>(TARNWHISTLE_CLI_PATH)};
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  const std::string out_path = logs / "stdout", err_path = logs / "stderr";
  pid_t pid = ::fork();
  if (pid == 0) {
    int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out < 0 || err < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0 || ::chdir(dir.path().c_str()) != 0) _exit(127);
    ::execv(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

Outcome Finish(pid_t pid, const TempDir& logs) {
  Outcome outcome;
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid) return outcome;
  if (WIFEXITED(status)) outcome.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) outcome.signal = WTERMSIG(status);
  outcome.out = ReadAll(logs / "stdout");
  outcome.err = ReadAll(logs / "stderr");
  return outcome;
}

Outcome RunTool(const TempDir& dir, const std::vector<std::string>& args) {
  TempDir logs;
  return Finish(Start(dir, args, logs), logs);
}

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

  Outcome outcome = RunTool(dir, {"info", "mixed.txt", "unix.txt"});
  EXPECT_EQ(outcome.exit_code, 0);
  EXPECT_EQ(outcome.out,
            "file: mixed.txt\ndetected: MS-DOS\ncrlf: 2\nlf: 2\ncr: 1\nmixed: yes\n"
            "control: yes, first at offset 1009\nbytes: 1012\n"
            "\n"
            "file: unix.txt\ndetected: UNIX\ncrlf: 0\nlf: 2\ncr: 0\nmixed: no\ncontrol: no\nbytes: 4\n");

  Outcome missing = RunTool(dir, {"info", "unix.txt", "missing.txt"});
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_EQ(missing.err, "missing.txt: " + Line(messages::kSourceMissing));
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
      // --from is trusted as it is: no detection, even of a binary file.
      {{"convert", "--from", "mac", "--to", "unix", "in.txt", "out.txt"}, std::string("\0\r\n", 3),
       std::string("\0\n\n", 3)},
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
  };
  for (const Case& c : cases) {
    TempDir dir;
    dir.Write("dos.txt", "a\r\nb\r\n");
    dir.Write("binary.dat", std::string("a\0\r\n", 4));
    dir.Write("long.txt", std::string(300, 'x') + "\r\n");
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

// A conversion stopped by a signal removes its unfinished output, leaves the old one,
// and ends by that signal so that a calling shell knows it was interrupted.
TEST(Cli, ConvertStoppedBySignalLeavesNoTrace) {
  for (int signal : {SIGINT, SIGTERM}) {
    TempDir dir;
    // 1 GiB with no blocks on the disk: reading it is quick, but it takes long enough
    // to convert that the signal comes in the middle.
    {
      int fd = ::open((dir / "huge.txt").c_str(), O_WRONLY | O_CREAT, 0644);
      ASSERT_GE(fd, 0);
      ASSERT_EQ(::ftruncate(fd, off_t{1} << 30), 0);
      ::close(fd);
    }
    dir.Write("out.txt", "old output");
    TempDir logs;
    pid_t pid = Start(dir, {"convert", "--from", "dos", "--to", "unix", "huge.txt", "out.txt"}, logs);
    // Wait for the unfinished output to appear beside the old one.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (dir.Names().size() < 3 && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    ASSERT_EQ(dir.Names().size(), 3u) << "the conversion never started writing";
    ::kill(pid, signal);
    Outcome outcome = Finish(pid, logs);

    EXPECT_EQ(outcome.signal, signal) << outcome.exit_code;
    EXPECT_EQ(ReadAll(dir / "out.txt"), "old output");
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"huge.txt", "out.txt"}));
  }
}

TEST(Cli, PrintingThatFailsIsAFailure) {
  TempDir dir;
  dir.Write("dos.txt", "a\r\n");
  TempDir logs;
  pid_t pid = ::fork();
  if (pid == 0) {
    int full = ::open("/dev/full", O_WRONLY);
    int err = ::open((logs / "stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (full < 0 || err < 0 || ::dup2(full, 1) < 0 || ::dup2(err, 2) < 0 || ::chdir(dir.path().c_str()) != 0) _exit(127);
    ::execl(TARNWHISTLE_CLI_PATH, TARNWHISTLE_CLI_PATH, "detect", "dos.txt", static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_FALSE(ReadAll(logs / "stderr").empty());
}

}  // namespace
}  // namespace tarnwhistle
