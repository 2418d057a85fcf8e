// The built tarnwhistle-cli run as a shell runs it, for what only a real process shows:
// signals, standard streams that fail, another user's permissions on the real disk, and
// things that are not files. Each run must end (never hang), with its exit status and
// its line on stderr, and leave every file as it was.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/messages.h"
#include "hostile_files.h"
#include "process.h"
#include "row_name.h"
#include "temp_dir.h"

namespace tarnwhistle {
namespace {

using testkit::Ran;
using testkit::PrintTo;
using testkit::ReadAll;
using testkit::Snapshot;
using testkit::TempDir;

std::string Line(std::string_view text) { return std::string(text) + "\n"; }
std::string Says(const std::string& file, Outcome outcome, platform::Reason reason) {
  return file + ": " + messages::Describe({outcome, reason}) + "\n";
}

testkit::Invocation Tool(const TempDir& dir, std::vector<std::string> args) {
  return {TARNWHISTLE_CLI_PATH, std::move(args), dir.path()};
}

// The tool copied where "nobody" can run it: the build may sit in a folder closed to
// others (a clone under /root, or in a `mktemp -d` folder).
class ToolForNobody {
 public:
  ToolForNobody() {
    if (::mkdtemp(folder_.data()) == nullptr) return;
    std::filesystem::copy_file(TARNWHISTLE_CLI_PATH, path());
    ::chmod(folder_.c_str(), 0755);
  }
  ~ToolForNobody() { std::filesystem::remove_all(folder_); }
  std::string path() const { return folder_ + "/tarnwhistle-cli"; }

 private:
  std::string folder_ = "/tmp/tarnwhistle-bin-XXXXXX";
};

using platform::Reason;

struct Refused {
  std::vector<std::string> args;
  std::string err;
  bool as_nobody = false;
  int exit_code = 1;
  std::string folder = "";  // an empty folder below, removed once the tool runs in it
  std::string out = "";
  std::string redirect = "";  // the standard streams as a shell redirects them
};

std::vector<Refused> RefusedRuns() {
  const Reason denied = platform::FromErrno(EACCES);
  const Refused runs[] = {
      {{"convert", "--to", "unix", "s", "out.txt"}, Says("s", Outcome::SourceCannotOpen, Reason::kNotAFile)},
      {{"detect", "secret.txt"}, Says("secret.txt", Outcome::SourceCannotOpen, denied), true},
      // {dir}: the test's folder
      {{"check", "q/a.txt"}, "q/a.txt: " + Says("{dir}/q/.editorconfig", Outcome::SourceCannotOpen, Reason::kNotAFile)},
      {{"convert", "--to", "unix", "dos.txt", "locked/out.txt"}, Says("locked/out.txt", Outcome::OutputCannotWrite, denied),
       true},
      {{"convert", "--to", "unix", "dos.txt", "locked/new.txt"}, Says("locked/new.txt", Outcome::OutputCannotWrite, denied),
       true},
      {{"convert", "-t", "dos", "-", "-"}, Line(messages::Text(Outcome::SameFile)), false, 1, "", "", "< dos.txt >> dos.txt"},
      {{"convert", "-t", "dos", "-", "-"}, Line(messages::Text(Outcome::SameFile)), false, 1, "", "", "< dos.txt 1<> dos.txt"},
      {{"convert", "--to", "unix", "-r", "-o", "OUT", "."},
       "convert: the output folder OUT is, or lies inside, ., a folder being converted: use --in-place to convert in "
       "place\nRun with --help for more information.\n",
       false, 2, "gone"},
      {{"convert", "--to", "unix", "-r", "-o", "/nonexistent/OUT", "."},
       "変換 0・変換不要 0・変換できません 0・失敗 1\n", false, 1, "gone", ".: " + std::string(messages::Text(Outcome::SourceMissing)) + "\n"},
  };
  return {std::begin(runs), std::end(runs)};
}

class CliRefusal : public ::testing::TestWithParam<Refused> {};

TEST_P(CliRefusal, SaysWhyItCannotUseAFile) {
  const Refused& r = GetParam();
  if (r.as_nobody && ::geteuid() != 0) {  // only root can act as nobody, to whom folders can be closed
    GTEST_SKIP() << "acting as another user needs root";
  }
  ToolForNobody for_nobody;
  TempDir dir;
  ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
  dir.Write("dos.txt", "a\r\nb\r\n");
  dir.Write("out.txt", "old");
  dir.Write("secret.txt", "a\rb\r");
  ASSERT_EQ(::chmod((dir / "secret.txt").c_str(), 0), 0);
  ASSERT_EQ(::mkdir((dir / "locked").c_str(), 0755), 0);
  dir.Write("locked/out.txt", "old");
  ASSERT_EQ(::chmod((dir / "locked").c_str(), 0555), 0);
  const auto& fifo = testkit::kNotFiles[1];
  ASSERT_STREQ(fifo.name, "fifo with a writer");  // read forever by a tool that would not refuse it
  ASSERT_NO_FATAL_FAILURE(fifo.make(dir / "s"));
  // A .editorconfig that is a FIFO no one writes to: a library opening it by its path
  // would wait forever.
  ASSERT_EQ(::mkdir((dir / "q").c_str(), 0755), 0);
  dir.Write("q/a.txt", "a\n");
  ASSERT_NO_FATAL_FAILURE(testkit::kNotFiles[0].make(dir / "q/.editorconfig"));
  const auto before = Snapshot(dir.path());

  testkit::Invocation run{r.as_nobody ? for_nobody.path() : TARNWHISTLE_CLI_PATH, r.args, dir.path()};
  if (!r.redirect.empty()) {
    run.args.insert(run.args.begin(), {"-c", "exec \"$0\" \"$@\" " + r.redirect, run.program});
    run.program = "/bin/sh";
  }
  if (r.as_nobody) run.user = 65534;
  if (!r.folder.empty()) {
    ASSERT_EQ(::mkdir((dir / r.folder).c_str(), 0755), 0);
    run.folder = dir / r.folder;
    run.folder_removed = true;
  }
  const Ran outcome = testkit::Run(run);
  EXPECT_FALSE(outcome.hung);
  EXPECT_EQ(outcome.exit_code, r.exit_code) << "126: could not act as nobody";
  std::string err = r.err;
  if (const std::size_t at = err.find("{dir}"); at != std::string::npos) err.replace(at, 5, dir.path());
  EXPECT_EQ(outcome.err, err);
  EXPECT_EQ(outcome.out, r.out);
  EXPECT_EQ(Snapshot(dir.path()), before);
  testkit::CloseFifoWriter();
}

INSTANTIATE_TEST_SUITE_P(, CliRefusal, ::testing::ValuesIn(RefusedRuns()),
                         testkit::NameRows(RefusedRuns(), [](const Refused& r) {
                           std::string described;
                           for (const std::string& arg : r.args) described += arg + " ";
                           return described + r.redirect + (r.folder.empty() ? "" : " in a removed folder") +
                                  (r.as_nobody ? "as nobody" : "");
                         }));

// True while `pid` holds open a file with no name (the working file) under `folder`.
bool HoldsNamelessFile(pid_t pid, const std::string& folder) {
  std::error_code ignored;
  for (const auto& fd : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ignored)) {
    const std::string target = std::filesystem::read_symlink(fd.path(), ignored).string();
    if (target.rfind(folder, 0) == 0 && target.find("(deleted)") != std::string::npos) return true;
  }
  return false;
}

// Ctrl+C, SIGTERM or a logout, during a conversion or while a filter waits for input:
// the tool ends promptly by that signal, so that a calling shell knows it was
// interrupted, and leaves the old output and nothing else.
TEST(CliProcess, ASignalEndsTheToolAndLeavesNoTrace) {
  TempDir dir;
  {
    std::string block;
    while (block.size() < (1 << 20)) block += "a line of text that goes on\r\n";
    std::ofstream huge(dir / "huge.txt", std::ios::binary);
    for (int i = 0; i < 64; ++i) huge << block;  // long enough to be caught in the middle
  }
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    dir.Write("out.txt", "old output");
    testkit::Process tool(Tool(dir, {"convert", "--from", "dos", "--to", "unix", "huge.txt", "out.txt"}));
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!HoldsNamelessFile(tool.pid(), dir.path()) && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    ::kill(tool.pid(), signal);
    const Ran outcome = tool.Finish();
    EXPECT_EQ(outcome.signal, signal) << outcome.exit_code;
    EXPECT_EQ(ReadAll(dir / "out.txt"), "old output");
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"huge.txt", "out.txt"}));
  }
  // A filter whose standard input never sends anything.
  testkit::Invocation waiting = Tool(dir, {"convert", "--to", "unix", "-", "-"});
  waiting.keep_input_open = true;
  testkit::Process filter(waiting);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  ::kill(filter.pid(), SIGINT);
  const Ran ended = filter.Finish(5);
  EXPECT_FALSE(ended.hung);
  EXPECT_EQ(ended.signal, SIGINT);
}

// Exit 0 means OUT holds the converted file, whatever became of the message saying so;
// a detect whose result cannot be printed has failed.
struct Printing {
  const char* name;
  std::vector<std::string> args;
  bool closed;
  int exit_code;
};

std::vector<Printing> Printings() {
  const Printing cases[] = {
      {"detect to a full disk", {"detect", "dos.txt"}, false, 1},
      {"convert to a full disk", {"convert", "--to", "unix", "dos.txt", "out.txt"}, false, 0},
      {"convert with stdout closed", {"convert", "--to", "unix", "dos.txt", "out.txt"}, true, 0},
  };
  return {std::begin(cases), std::end(cases)};
}

class CliPrinting : public ::testing::TestWithParam<Printing> {};

TEST_P(CliPrinting, ThatFailsIsReportedAndTheExitCodeTellsWhatBecameOfOut) {
  const Printing& c = GetParam();
  TempDir dir;
  dir.Write("dos.txt", "a\r\n");
  testkit::Invocation run = Tool(dir, c.args);
  run.stdout_file = "/dev/full";
  run.stdout_closed = c.closed;
  const Ran outcome = testkit::Run(run);
  EXPECT_EQ(outcome.exit_code, c.exit_code);
  EXPECT_FALSE(outcome.err.empty());
  if (c.exit_code == 0) {
    EXPECT_EQ(ReadAll(dir / "out.txt"), "a\n");
  }
}

INSTANTIATE_TEST_SUITE_P(, CliPrinting, ::testing::ValuesIn(Printings()), testkit::NameRowsByName(Printings()));

// -k: each output, converted or copied, in place or not, keeps its source's time (the
// working file's, set before it takes its place).
struct KeptDate {
  std::vector<std::string> args;
  std::string output;
};

std::vector<KeptDate> KeptDates() {
  const KeptDate cases[] = {
      {{"convert", "-k", "--to", "unix", "dos.txt", "out.txt"}, "out.txt"},
      {{"convert", "-k", "--to", "dos", "dos.txt", "out.txt"}, "out.txt"},  // copied: no conversion needed
      {{"convert", "--keep-date", "--to", "mac", "--in-place", "dos.txt"}, "dos.txt"},
      {{"convert", "-k", "--to", "dos", "-o", "o", "dos.txt"}, "o/dos.txt"},
  };
  return {std::begin(cases), std::end(cases)};
}

class KeepDate : public ::testing::TestWithParam<KeptDate> {};

TEST_P(KeepDate, GivesEachOutputItsSourcesModificationTime) {
  const KeptDate& c = GetParam();
  constexpr struct timespec kThen = {1000000000, 123456789};
  TempDir dir;
  dir.Write("dos.txt", "a\r\n");
  const struct timespec times[2] = {kThen, kThen};
  ASSERT_EQ(::utimensat(AT_FDCWD, (dir / "dos.txt").c_str(), times, 0), 0);
  const Ran outcome = testkit::Run(Tool(dir, c.args));
  EXPECT_EQ(outcome.exit_code, 0) << outcome.err;
  struct stat written {};
  ASSERT_EQ(::stat((dir / c.output).c_str(), &written), 0) << c.output;
  EXPECT_EQ(written.st_mtim.tv_sec, kThen.tv_sec) << c.output;
  EXPECT_EQ(written.st_mtim.tv_nsec, kThen.tv_nsec) << c.output;
}

INSTANTIATE_TEST_SUITE_P(, KeepDate, ::testing::ValuesIn(KeptDates()), testkit::NameRows(KeptDates(), [](const KeptDate& c) {
                           std::string described;
                           for (const std::string& arg : c.args) described += arg + " ";
                           return described;
                         }));

}  // namespace
}  // namespace tarnwhistle
