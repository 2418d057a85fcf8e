// How the command-line tool reports a file it cannot use: things that are not files and,
// as the user "nobody", a source without read permission and a folder without write
// permission. The file layer's own suite tries every hostile case on the disk once; here
// each command must answer with its stderr line and exit status 1, never hang, print
// nothing on stdout and leave every file as it was.

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

using testing::Outcome;
using testing::Snapshot;
using testing::TempDir;

std::string Says(const std::string& file, std::string_view message) { return file + ": " + std::string(message) + "\n"; }

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

TEST(CliHostileInput, EachCommandReportsAFileItCannotUseAndExits1) {
  const bool as_root = ::geteuid() == 0;  // only root can act as nobody, to whom folders can be closed
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
  const auto& fifo = testing::kNotFiles[1];
  ASSERT_STREQ(fifo.name, "fifo with a writer");  // read forever by a tool that would not refuse it
  ASSERT_NO_FATAL_FAILURE(fifo.make(dir / "s"));
  const auto before = Snapshot(dir.path());

  struct {
    std::vector<std::string> args;
    std::string err;
    bool as_nobody = false;
  } const runs[] = {
      {{"detect", "s"}, Says("s", messages::kSourceMissing)},
      {{"info", "s"}, Says("s", messages::kSourceMissing)},
      {{"convert", "--to", "unix", "s", "out.txt"}, Says("s", messages::kSourceMissing)},
      {{"convert", "--from", "dos", "--to", "unix", "s", "out.txt"}, Says("s", messages::kSourceMissing)},
      {{"convert", "--to", "unix", "dos.txt", "s"}, Says("s", messages::kOutputUnwritable)},
      {{"detect", "/dev/zero", "/dev/urandom"},
       Says("/dev/zero", messages::kSourceMissing) + Says("/dev/urandom", messages::kSourceMissing)},
      {{"detect", "secret.txt"}, Says("secret.txt", messages::kSourceMissing), true},
      {{"convert", "--to", "unix", "dos.txt", "locked/out.txt"}, Says("locked/out.txt", messages::kOutputUnwritable),
       true},
      {{"convert", "--to", "unix", "dos.txt", "locked/new.txt"}, Says("locked/new.txt", messages::kOutputUnwritable),
       true},
  };
  for (const auto& r : runs) {
    const std::string shown = ::testing::PrintToString(r.args) + (r.as_nobody ? " as nobody" : "");
    if (r.as_nobody && !as_root) {
      std::cout << "[ SKIPPED  ] " << shown << ": acting as another user needs root\n";
      continue;
    }
    testing::Invocation run{r.as_nobody ? for_nobody.path() : TARNWHISTLE_CLI_PATH, r.args, dir.path()};
    if (r.as_nobody) run.user = 65534;
    Outcome outcome = testing::Run(run);
    EXPECT_FALSE(outcome.hung) << shown;
    EXPECT_EQ(outcome.exit_code, 1) << shown << " (126: could not act as nobody)";
    EXPECT_EQ(outcome.err, r.err) << shown;
    EXPECT_EQ(outcome.out, "") << shown;
    EXPECT_EQ(Snapshot(dir.path()), before) << shown;
  }
  testing::CloseFifoWriter();
}

}  // namespace
}  // namespace tarnwhistle
