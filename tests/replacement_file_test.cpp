#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "engine/conversion.h"
#include "platform/posix_file_system.h"
#include "platform/replacement_file.h"
#include "temp_dir.h"

namespace tarnwhistle {
namespace {

using testing::ReadAll;
using testing::TempDir;

std::uint32_t PermissionsOf(const std::string& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return st.st_mode & 07777;
}

TEST(PathParts, SplitAtTheLastSlash) {
  EXPECT_EQ(platform::DirectoryOf("a/b.txt"), "a");
  EXPECT_EQ(platform::DirectoryOf("/b.txt"), "/");
  EXPECT_EQ(platform::DirectoryOf("b.txt"), "");
  EXPECT_EQ(platform::NameOf("/x/y/b.txt"), "b.txt");
  EXPECT_EQ(platform::NameOf("/x/"), "");
}

TEST(ReplacementFile, KeepsAnExistingOutputsPermissions) {
  TempDir dir;
  std::string source = dir.Write("in.txt", "a\r\n");
  std::string output = dir.Write("out.txt", "old");
  ASSERT_EQ(::chmod(output.c_str(), 0640), 0);
  platform::PosixFileSystem fs;
  ASSERT_EQ(ConvertFile(fs, ConvertDosToUnix, source, output), Status::Ok);
  EXPECT_EQ(PermissionsOf(output), 0640u);
}

TEST(ReplacementFile, GivesANewOutputTheUsualPermissions) {
  TempDir dir;
  std::string source = dir.Write("in.txt", "a\r\n");
  mode_t umask_was = ::umask(022);
  platform::PosixFileSystem fs;
  Status status = ConvertFile(fs, ConvertDosToUnix, source, dir / "new.txt");
  ::umask(umask_was);
  ASSERT_EQ(status, Status::Ok);
  EXPECT_EQ(PermissionsOf(dir / "new.txt"), 0644u);
}

TEST(ReplacementFile, ReplacesTheFileALinkPointsToAndKeepsTheLink) {
  TempDir dir;
  std::string source = dir.Write("in.txt", "a\r\n");
  ::mkdir((dir / "real").c_str(), 0755);
  std::string target = dir.Write("real/target.txt", "old");
  ASSERT_EQ(::symlink("real/target.txt", (dir / "link.txt").c_str()), 0);
  platform::PosixFileSystem fs;
  ASSERT_EQ(ConvertFile(fs, ConvertDosToUnix, source, dir / "link.txt"), Status::Ok);
  struct stat st {};
  ASSERT_EQ(::lstat((dir / "link.txt").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(ReadAll(target), "a\n");
}

TEST(ReplacementFile, RefusesALoopOfLinks) {
  TempDir dir;
  std::string source = dir.Write("in.txt", "a\r\n");
  ::symlink("b", (dir / "a").c_str());
  ::symlink("a", (dir / "b").c_str());
  platform::PosixFileSystem fs;
  EXPECT_EQ(ConvertFile(fs, ConvertDosToUnix, source, dir / "a"), Status::OutputCannotWrite);
}

TEST(ReplacementFile, NeverReplacesADevice) {
  TempDir dir;
  std::string source = dir.Write("in.txt", "a\r\n");
  platform::PosixFileSystem fs;
  EXPECT_EQ(ConvertFile(fs, ConvertDosToUnix, source, "/dev/null"), Status::OutputCannotWrite);
  struct stat st {};
  ASSERT_EQ(::stat("/dev/null", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
}

// A disk that fills up part-way, made with a file-size limit in a child process: the
// conversion fails, the old output stays and the half-written file is removed.
TEST(ReplacementFile, AFullDiskLeavesTheOldOutputAndNoPartialFile) {
  TempDir dir;
  std::string source = dir.Write("in.txt", std::string(1 << 20, '\n'));
  std::string output = dir.Write("out.txt", "old");
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{100000, 100000};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    platform::PosixFileSystem fs;
    ::_exit(ConvertFile(fs, ConvertUnixToDos, source, output) == Status::OutputCannotWrite ? 0 : 1);
  }
  int wait_status = 0;
  ::waitpid(child, &wait_status, 0);
  EXPECT_TRUE(WIFEXITED(wait_status) && WEXITSTATUS(wait_status) == 0);
  EXPECT_EQ(ReadAll(output), "old");
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"in.txt", "out.txt"}));
}

TEST(ReplacementFile, AFolderWithoutWritePermissionIsRefused) {
  if (::geteuid() == 0) GTEST_SKIP() << "root may write anywhere";
  TempDir dir;
  std::string source = dir.Write("in.txt", "a\r\n");
  ::mkdir((dir / "locked").c_str(), 0555);
  platform::PosixFileSystem fs;
  EXPECT_EQ(ConvertFile(fs, ConvertDosToUnix, source, dir / "locked/out.txt"), Status::OutputCannotWrite);
}

TEST(SameExistingFile, SeesThroughEveryOtherNameOfAFile) {
  TempDir dir;
  std::string file = dir.Write("a.txt", "x");
  ::mkdir((dir / "sub").c_str(), 0755);
  ::symlink(file.c_str(), (dir / "soft.txt").c_str());
  ::link(file.c_str(), (dir / "hard.txt").c_str());
  platform::PosixFileSystem fs;
  for (const std::string& alias : {file, dir / "./a.txt", dir / "sub/../a.txt", dir / "soft.txt", dir / "hard.txt"}) {
    EXPECT_TRUE(platform::SameExistingFile(fs, file, alias)) << alias;
  }
  EXPECT_FALSE(platform::SameExistingFile(fs, file, dir.Write("b.txt", "x")));
  EXPECT_FALSE(platform::SameExistingFile(fs, file, dir / "missing.txt"));
  EXPECT_FALSE(platform::SameExistingFile(fs, dir / "missing.txt", dir / "missing.txt"));
}

}  // namespace
}  // namespace tarnwhistle
