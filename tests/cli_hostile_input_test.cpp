// Hostile inputs for the command-line tool, run as a script would run it: things that
// are not files, odd and extreme paths, a source changed between `detect` and
// `convert`, a full disk and an unwritable folder. Each run must end in its message and
// exit status 1 (or succeed, where the input is merely unusual), never hang, and leave
// every file as it was.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "engine/messages.h"
#include "hostile_files.h"
#include "process.h"
#include "temp_dir.h"

namespace tarnwhistle {
namespace {

using testing::FolderForPathOf;
using testing::ReadAll;
using testing::ReadAt;
using testing::Snapshot;
using testing::TempDir;
using testing::WriteAt;

using testing::Outcome;

testing::Invocation Tool(std::vector<std::string> args, const std::string& folder) {
  return {TARNWHISTLE_CLI_PATH, std::move(args), folder};
}
Outcome RunTool(const testing::Invocation& run) { return testing::Run(run); }

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
      Outcome outcome = RunTool(Tool(run.args, dir.path()));
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
  Outcome devices = RunTool(Tool({"detect", "/dev/zero", "/dev/urandom"}, dir.path()));
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
    Outcome detected = RunTool(Tool({"detect", source}, dir.path()));
    EXPECT_EQ(detected.out, "MS-DOS\n") << source;
    Outcome converted = RunTool(Tool({"convert", "--to", "mac", source, output}, dir.path()));
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

  Outcome detected = RunTool(Tool({"detect", at_limit}, dir.path()));
  EXPECT_EQ(detected.out, "MS-DOS\n") << detected.err;
  Outcome converted = RunTool(Tool({"convert", "--to", "unix", at_limit, "short.txt"}, dir.path()));
  EXPECT_EQ(converted.exit_code, 0) << converted.err;
  EXPECT_EQ(ReadAll(dir / "short.txt"), "x\ny\n");
  Outcome replaced = RunTool(Tool({"convert", "--to", "dos", "unix.txt", at_limit}, dir.path()));
  EXPECT_EQ(replaced.exit_code, 0) << replaced.err;
  EXPECT_EQ(ReadAt(folder, std::string(100, 'f')), "a\r\nb\r\n");

  const auto before = Snapshot(dir.path());
  Outcome too_long = RunTool(Tool({"detect", over_limit}, dir.path()));
  EXPECT_EQ(too_long.exit_code, 1);
  EXPECT_EQ(too_long.err, Says(over_limit, messages::kSourceMissing));
  Outcome too_long_output = RunTool(Tool({"convert", "--to", "dos", "unix.txt", over_limit}, dir.path()));
  EXPECT_EQ(too_long_output.exit_code, 1);
  EXPECT_EQ(too_long_output.err, Says(over_limit, messages::kOutputUnwritable));
  EXPECT_EQ(Snapshot(dir.path()), before);
  EXPECT_EQ(ReadAt(folder, std::string(100, 'f') + "g"), "x\r\ny\r\n");

  testing::RemoveAt(folder, std::string(100, 'f') + "g");  // too long a path for the usual clean-up
}

// A script detects, then converts with the kind it was told: in between, the source may
// vanish, shrink or grow.
TEST(CliHostileInput, ASourceChangedBetweenDetectAndConvert) {
  for (const testing::ChangedSource& c : testing::kChangedSources) {
    TempDir dir;
    const std::string source = dir.Write("source.txt", "one\r\ntwo\r\n");
    dir.Write("output.txt", "old");
    ASSERT_EQ(RunTool(Tool({"detect", "source.txt"}, dir.path())).out, "MS-DOS\n");
    ASSERT_NO_FATAL_FAILURE(c.change(source)) << c.name;
    Outcome outcome =
        RunTool(Tool({"convert", "--from", "dos", "--to", "unix", "source.txt", "output.txt"}, dir.path()));
    EXPECT_EQ(outcome.exit_code, c.converts ? 0 : 1) << c.name;
    EXPECT_EQ(outcome.err, c.converts ? "" : Says("source.txt", messages::kSourceMissing)) << c.name;
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
    testing::Invocation run = Tool({"convert", "--to", "dos", "source.txt", output}, dir.path());
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
// output folder without write permission, and a source without read permission. The
// tool is copied where nobody can reach it: the build may sit in a folder closed to
// others (a clone under /root, or in a `mktemp -d` folder).
TEST(CliHostileInput, AFolderWithoutWritePermissionAndASourceWithoutReadPermission) {
  if (::geteuid() != 0) GTEST_SKIP() << "acting as another user needs root";
  std::string bin = "/tmp/tarnwhistle-bin-XXXXXX";
  ASSERT_NE(::mkdtemp(bin.data()), nullptr);
  const std::string tool = bin + "/tarnwhistle-cli";
  std::filesystem::copy_file(TARNWHISTLE_CLI_PATH, tool);
  ASSERT_EQ(::chmod(bin.c_str(), 0755), 0);

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
    testing::Invocation run{tool, r.args, dir.path()};
    run.user = 65534;  // nobody
    Outcome outcome = RunTool(run);
    EXPECT_EQ(outcome.exit_code, 1) << ::testing::PrintToString(r.args) << " (126: could not act as nobody)";
    EXPECT_EQ(outcome.err, r.err);
  }
  EXPECT_EQ(Snapshot(dir.path()), before);
  std::filesystem::remove_all(bin);
}

}  // namespace
}  // namespace tarnwhistle
