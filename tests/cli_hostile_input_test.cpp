// Hostile inputs for the command-line tool, run as a script would run it: things that
// are not files, odd and extreme paths, a source changed between `detect` and
// `convert`, a full disk and an unwritable folder. Each run must end in its message and
// exit status 1 (or succeed, where the input is merely unusual), never hang, and leave
// every file as it was.

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/messages.h"
#include "hostile_files.h"
#include "temp_dir.h"

namespace tarnwhistle {
namespace {

using testing::FolderForPathOf;
using testing::ReadAll;
using testing::ReadAt;
using testing::Snapshot;
using testing::TempDir;
using testing::WriteAt;

struct Invocation {
  std::vector<std::string> args;
  std::string folder;                          // where the tool runs
  rlim_t file_size_limit = RLIM_INFINITY;      // in bytes
  bool as_nobody = false;                      // when running as root: drop to "nobody"
};

struct Outcome {
  int exit_code = -1;
  int signal = 0;
  bool hung = false;  // still running after the time allowed, and killed
  std::string out;
  std::string err;
};

// Runs the tool, killing it if it has not finished within `seconds`.
Outcome RunTool(const Invocation& run, int seconds = 20) {
  TempDir logs;
  const std::string out_path = logs / "stdout", err_path = logs / "stderr";
  std::vector<char*> argv{const_cast<char*>(TARNWHISTLE_CLI_PATH)};
  for (const std::string& arg : run.args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid = ::fork();
  if (pid == 0) {
    int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out < 0 || err < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0) _exit(126);
    if (::chdir(run.folder.c_str()) != 0) _exit(126);
    rlimit limit{run.file_size_limit, run.file_size_limit};
    if (run.file_size_limit != RLIM_INFINITY && ::setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
    if (run.as_nobody && ::geteuid() == 0) {
      if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) _exit(126);
    }
    ::execv(argv[0], argv.data());
    _exit(127);
  }
  Outcome outcome;
  int status = 0;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      outcome.hung = true;
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  if (WIFEXITED(status)) outcome.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) outcome.signal = WTERMSIG(status);
  outcome.out = ReadAll(out_path);
  outcome.err = ReadAll(err_path);
  return outcome;
}

std::string Says(const std::string& file, std::string_view message) { return file + ": " + std::string(message) + "\n"; }
const std::string kConverted = std::string(messages::kConverted) + "\n";

// Refused at once by every command, as a source and as an output.
TEST(CliHostileInput, ThingsThatAreNotFilesAreRefusedWithoutWaiting) {
  for (const testing::NotAFile& thing : testing::kNotFiles) {
    TempDir dir;
    dir.Write("dos.txt", "a\r\nb\r\n");
    dir.Write("out.txt", "old");
    thing.make(dir / "s");
    const auto before = Snapshot(dir.path());
    struct {
      std::vector<std::string> args;
      std::string err;
    } const runs[] = {
        {{"detect", "s"}, Says("s", messages::kSourceMissing)},
        {{"info", "s"}, Says("s", messages::kSourceMissing)},
        {{"convert", "--to", "unix", "s", "out.txt"}, Says("s", messages::kSourceMissing)},
        {{"convert", "--from", "dos", "--to", "unix", "s", "out.txt"}, Says("s", messages::kSourceMissing)},
        {{"convert", "--to", "unix", "dos.txt", "s"}, Says("s", messages::kOutputUnwritable)},
    };
    for (const auto& run : runs) {
      const std::string shown = std::string(thing.name) + " " + ::testing::PrintToString(run.args);
      Outcome outcome = RunTool({run.args, dir.path()});
      EXPECT_FALSE(outcome.hung) << shown;
      EXPECT_EQ(outcome.exit_code, 1) << shown;
      EXPECT_EQ(outcome.err, run.err) << shown;
      EXPECT_EQ(outcome.out, "") << shown;
      EXPECT_EQ(Snapshot(dir.path()), before) << shown;
    }
    testing::CloseFifoWriter();
  }
  // The devices by their own names.
  TempDir dir;
  Outcome devices = RunTool({{"detect", "/dev/zero", "/dev/urandom"}, dir.path()});
  EXPECT_EQ(devices.exit_code, 1);
  EXPECT_EQ(devices.err, Says("/dev/zero", messages::kSourceMissing) + Says("/dev/urandom", messages::kSourceMissing));
}

// Japanese characters, spaces inside and at both ends, names of 255 bytes.
TEST(CliHostileInput, PathsWithJapaneseSpacesAndLongNamesWork) {
  for (const testing::UnusualNames& c : testing::UnusualNameCases()) {
    TempDir dir;
    ASSERT_EQ(::mkdir((dir / c.folder).c_str(), 0755), 0);
    const std::string source = c.folder + "/" + c.source;
    const std::string output = c.folder + "/" + c.output;
    dir.Write(source, "one\r\ntwo\r\n");
    Outcome detected = RunTool({{"detect", source}, dir.path()});
    EXPECT_EQ(detected.out, "MS-DOS\n") << source;
    Outcome converted = RunTool({{"convert", "--to", "mac", source, output}, dir.path()});
    EXPECT_EQ(converted.exit_code, 0) << output << converted.err;
    EXPECT_EQ(converted.out, kConverted);
    EXPECT_EQ(ReadAll(dir / output), "one\rtwo\r") << output;
    EXPECT_EQ(ReadAll(dir / source), "one\r\ntwo\r\n");
    EXPECT_EQ(Snapshot(dir / c.folder).size(), 2u) << "nothing else is left beside " << output;
  }
}

// Paths of 4,095 bytes, the most the system takes, work as source and output; one of
// 4,096 bytes is refused with a message and nothing is written.
TEST(CliHostileInput, PathsAtTheSystemsLimitWorkAndOneByteMoreIsRefused) {
  TempDir dir;
  dir.Write("unix.txt", "a\nb\n");
  ASSERT_EQ(::mkdir((dir / "deep").c_str(), 0755), 0);
  const std::string folder = FolderForPathOf(dir / "deep", 4095, 100);
  const std::string at_limit = folder + "/" + std::string(100, 'f');
  const std::string over_limit = at_limit + "g";
  ASSERT_EQ(at_limit.size(), 4095u);
  WriteAt(folder, std::string(100, 'f'), "x\r\ny\r\n");
  WriteAt(folder, std::string(100, 'f') + "g", "x\r\ny\r\n");

  Outcome detected = RunTool({{"detect", at_limit}, dir.path()});
  EXPECT_EQ(detected.out, "MS-DOS\n") << detected.err;
  Outcome converted = RunTool({{"convert", "--to", "unix", at_limit, "short.txt"}, dir.path()});
  EXPECT_EQ(converted.exit_code, 0) << converted.err;
  EXPECT_EQ(ReadAll(dir / "short.txt"), "x\ny\n");
  Outcome replaced = RunTool({{"convert", "--to", "dos", "unix.txt", at_limit}, dir.path()});
  EXPECT_EQ(replaced.exit_code, 0) << replaced.err;
  EXPECT_EQ(ReadAt(folder, std::string(100, 'f')), "a\r\nb\r\n");

  const auto before = Snapshot(dir.path());
  Outcome too_long = RunTool({{"detect", over_limit}, dir.path()});
  EXPECT_EQ(too_long.exit_code, 1);
  EXPECT_EQ(too_long.err, Says(over_limit, messages::kSourceMissing));
  Outcome too_long_output = RunTool({{"convert", "--to", "dos", "unix.txt", over_limit}, dir.path()});
  EXPECT_EQ(too_long_output.exit_code, 1);
  EXPECT_EQ(too_long_output.err, Says(over_limit, messages::kOutputUnwritable));
  EXPECT_EQ(Snapshot(dir.path()), before);
  EXPECT_EQ(ReadAt(folder, std::string(100, 'f') + "g"), "x\r\ny\r\n");

  testing::RemoveAt(folder, std::string(100, 'f') + "g");  // too long a path for the usual clean-up
}

// A script detects, then converts with the kind it was told: in between, the source may
// vanish, shrink or grow. The conversion takes the file as it then is, or says it is gone.
TEST(CliHostileInput, ASourceChangedBetweenDetectAndConvert) {
  struct {
    const char* name;
    void (*change)(const std::string& source);
    int exit_code;
    std::string output;
  } const cases[] = {
      {"deleted", [](const std::string& s) { ::unlink(s.c_str()); }, 1, "old"},
      {"truncated to nothing", [](const std::string& s) { ASSERT_EQ(::truncate(s.c_str(), 0), 0); }, 0, ""},
      {"truncated inside a line end", [](const std::string& s) { ASSERT_EQ(::truncate(s.c_str(), 4), 0); }, 0,
       "one"},
      {"grown", [](const std::string& s) { std::ofstream(s, std::ios::app) << "three\r\n"; }, 0,
       "one\ntwo\nthree\n"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    const std::string source = dir.Write("source.txt", "one\r\ntwo\r\n");
    dir.Write("output.txt", "old");
    ASSERT_EQ(RunTool({{"detect", "source.txt"}, dir.path()}).out, "MS-DOS\n");
    c.change(source);
    Outcome outcome = RunTool({{"convert", "--from", "dos", "--to", "unix", "source.txt", "output.txt"}, dir.path()});
    EXPECT_EQ(outcome.exit_code, c.exit_code) << c.name;
    EXPECT_EQ(outcome.err, c.exit_code == 0 ? "" : Says("source.txt", messages::kSourceMissing)) << c.name;
    EXPECT_EQ(ReadAll(dir / "output.txt"), c.output) << c.name;
    EXPECT_LE(dir.Names().size(), 2u) << c.name;
  }
}

// A disk that fills up part-way, made with a file-size limit (as `ulimit -f` sets): the
// tool says it cannot write, keeps the old output and leaves no partial file, instead of
// being killed by SIGXFSZ half-way.
TEST(CliHostileInput, AFullDiskKeepsTheOldOutputAndLeavesNoPartialFile) {
  TempDir dir;
  dir.Write("source.txt", std::string(1 << 20, '\n'));
  dir.Write("output.txt", "old");
  for (const char* output : {"output.txt", "new.txt"}) {
    Invocation run{{"convert", "--to", "dos", "source.txt", output}, dir.path()};
    run.file_size_limit = 100000;
    Outcome outcome = RunTool(run);
    EXPECT_EQ(outcome.signal, 0) << output;
    EXPECT_EQ(outcome.exit_code, 1) << output;
    EXPECT_EQ(outcome.err, Says(output, messages::kOutputUnwritable)) << output;
    EXPECT_EQ(ReadAll(dir / "output.txt"), "old");
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"output.txt", "source.txt"})) << output;
  }
}

// As the user "nobody" when the tests run as root (to whom no folder is closed): an
// output folder without write permission, and a source without read permission.
TEST(CliHostileInput, AFolderWithoutWritePermissionAndASourceWithoutReadPermission) {
  TempDir dir;
  ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
  dir.Write("source.txt", "a\rb\r");
  dir.Write("secret.txt", "a\rb\r");
  ASSERT_EQ(::mkdir((dir / "locked").c_str(), 0755), 0);
  dir.Write("locked/output.txt", "old");
  ASSERT_EQ(::chmod((dir / "locked").c_str(), 0555), 0);
  ASSERT_EQ(::chmod((dir / "secret.txt").c_str(), 0), 0);
  const auto before = Snapshot(dir.path());

  struct {
    std::vector<std::string> args;
    std::string err;
  } const runs[] = {
      {{"detect", "secret.txt"}, Says("secret.txt", messages::kSourceMissing)},
      {{"convert", "--to", "unix", "source.txt", "locked/output.txt"},
       Says("locked/output.txt", messages::kOutputUnwritable)},
      {{"convert", "--to", "unix", "source.txt", "locked/new.txt"}, Says("locked/new.txt", messages::kOutputUnwritable)},
  };
  for (const auto& r : runs) {
    Invocation run{r.args, dir.path()};
    run.as_nobody = true;
    Outcome outcome = RunTool(run);
    if (outcome.exit_code == 126) GTEST_SKIP() << "running as root and cannot act as another user";
    EXPECT_EQ(outcome.exit_code, 1) << ::testing::PrintToString(r.args);
    EXPECT_EQ(outcome.err, r.err);
  }
  EXPECT_EQ(Snapshot(dir.path()), before);
}

}  // namespace
}  // namespace tarnwhistle
