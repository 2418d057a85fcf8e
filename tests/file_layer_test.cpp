// The file layer on the real disk: how an output is put in place, and the hostile cases
// (things that are not files, odd and extreme paths, binaries, changing sources, links,
// owners, a full disk) run once through the calls every front end makes. The front ends'
// suites test only how they report each Status.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>

#include "engine/batch.h"
#include "engine/conversion_request.h"
#include "engine/detection.h"
#include "engine/statistics.h"
#include "engine/stream_conversion.h"
#include "hostile_files.h"
#include "platform/posix_file_system.h"
#include "racing_file_system.h"
#include "row_name.h"
#include "temp_dir.h"

namespace tarnwhistle {
namespace {

using namespace std::string_literals;
using platform::Reason;
using testkit::PrintTo;
using testkit::ReadAll;
using testkit::Snapshot;
using testkit::TempDir;

struct Owner {
  uid_t uid;
  gid_t gid;
};

// The user the tests act as when they need another one than root.
std::optional<Owner> OtherUser() {
  const passwd* user = ::getpwnam("daemon");
  if (::geteuid() != 0 || user == nullptr) return std::nullopt;
  return Owner{user->pw_uid, user->pw_gid};
}
constexpr Owner kNobody{65534, 65534};

struct stat LinkStat(const std::string& path) {
  struct stat st {};
  ::lstat(path.c_str(), &st);
  return st;
}
std::uint32_t ModeOf(const std::string& path) { return LinkStat(path).st_mode & 07777; }

// A POSIX access list granting `reader` read access, in the kernel's own xattr format
// (written here rather than through setfacl, so the tests need no acl tools).
std::string AccessListFor(uid_t reader) {
  std::string list("\x02\0\0\0", 4);  // version 2
  const auto entry = [&list](std::uint16_t tag, std::uint16_t permissions, std::uint32_t id) {
    list.append(reinterpret_cast<const char*>(&tag), 2).append(reinterpret_cast<const char*>(&permissions), 2);
    list.append(reinterpret_cast<const char*>(&id), 4);
  };
  entry(0x01, 6, ~0u);    // owner: rw
  entry(0x02, 4, reader);  // the named reader: r
  entry(0x04, 0, ~0u);    // group: none
  entry(0x10, 4, ~0u);    // mask: r
  entry(0x20, 0, ~0u);    // others: none
  return list;
}
std::string AccessListOf(const std::string& path) {
  char list[256];
  ssize_t size = ::getxattr(path.c_str(), "system.posix_acl_access", list, sizeof list);
  return size < 0 ? "" : std::string(list, static_cast<std::size_t>(size));
}

// The conversion of an MS-DOS source into a UNIX output, by the road every front end takes.
Result Convert(platform::FileSystem& fs, const std::string& source, const std::string& output,
               const ConversionProgress& progress = {}) {
  ConversionRequest request;
  request.source = source;
  request.output = output;
  request.detected = LineEndingKind::MsDos;
  request.target = LineEndingKind::Unix;
  return CheckAndConvert(fs, request, {}, progress);
}

// Runs the conversion in a child process acting as `user`, in `folder` (entered first:
// the folders above it may be closed to that user, as /root is); returns its status.
// With `without_proc`, the child sees no /proc, as in a chroot; nullopt where it cannot
// be hidden (no right to a mount namespace of its own).
// With `without_threads`, the child may start no thread (a limit of the user's processes).
std::optional<Result> ConvertAs(const Owner& user, const std::string& folder, const std::string& source,
                                const std::string& output, bool without_proc = false, bool without_threads = false) {
  constexpr int kNoNamespace = 102;
  int told[2];
  if (::pipe(told) != 0) return Result{Outcome::Cancelled, Reason::kNone};
  pid_t child = ::fork();
  if (child == 0) {
    if (without_proc && (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                         ::umount2("/proc", MNT_DETACH) != 0)) {
      ::_exit(kNoNamespace);
    }
    if (::chdir(folder.c_str()) != 0 || ::setgroups(0, nullptr) != 0 || ::setresgid(user.gid, user.gid, user.gid) != 0 ||
        ::setresuid(user.uid, user.uid, user.uid) != 0) {
      ::_exit(100);
    }
    const rlimit none{0, 0};
    if (without_threads && ::setrlimit(RLIMIT_NPROC, &none) != 0) ::_exit(100);
    try {
      platform::PosixFileSystem fs;
      const Result result = Convert(fs, source, output);
      (void)!::write(told[1], &result, sizeof result);
      ::_exit(0);
    } catch (...) {
      ::_exit(101);  // never back into the test program
    }
  }
  ::close(told[1]);
  Result result{Outcome::Cancelled, Reason::kNone};
  const bool read = ::read(told[0], &result, sizeof result) == sizeof result;
  ::close(told[0]);
  int wait_status = 0;
  ::waitpid(child, &wait_status, 0);
  if (WIFEXITED(wait_status) && WEXITSTATUS(wait_status) == kNoNamespace) return std::nullopt;
  EXPECT_TRUE(read && WIFEXITED(wait_status) && WEXITSTATUS(wait_status) == 0);
  return result;
}

// Every O_TMPFILE working file this process holds open: none may be open to others.
int CountPrivateNamelessFiles() {
  int found = 0;
  for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
    struct stat st {};
    if (::stat(fd.path().c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 0) continue;
    EXPECT_EQ(st.st_mode & 077, 0u) << "a working file others could open";
    ++found;
  }
  return found;
}

// One hostile case: `arrange` prepares the folder around the source "in" (an output,
// links, owners), then "in" is converted (MS-DOS to UNIX) into `output`, by the user
// running the tests or by another one. A failure must leave every file as it was.
struct HostileCase {
  const char* name;
  std::string source;
  void (*arrange)(const TempDir& dir);
  std::string output;
  Result expected;
  void (*verify)(const TempDir& dir) = nullptr;          // after a success
  void (*during)(const TempDir& dir) = nullptr;          // at the first progress report
  // kNotRoot: the other user when the tests run as root, to whom no folder is closed.
  // kRootWithoutProc: root in a child that sees no /proc. kOtherUserWithoutThreads: the
  // other user, who may start no thread.
  enum { kMe, kOtherUser, kMeAsRoot, kNotRoot, kRootWithoutProc, kOtherUserWithoutThreads } who = kMe;
};

const std::string kText = "one\r\ntwo\r\n";
const std::string kConverted = "one\ntwo\n";
// Big enough to be read in several pieces, so a change after the first one is seen.
const std::string kLongText = [] {
  std::string text;
  while (text.size() < 3 * 1024 * 1024) text += "a line of text\r\n";
  return text;
}();

void OldOutput(const TempDir& dir) { dir.Write("out", "old"); }
// A folder like /tmp (sticky, anyone may write) holding a link to a file of root's.
void SharedFolderWithLink(const TempDir& dir, const char* link, const char* target, Owner link_owner) {
  dir.Write("victim", "root's own");
  ASSERT_EQ(::mkdir((dir / "shared").c_str(), 0777), 0);
  ASSERT_EQ(::chmod((dir / "shared").c_str(), 01777), 0);
  ASSERT_EQ(::symlink(target, (dir / link).c_str()), 0);
  ASSERT_EQ(::lchown((dir / link).c_str(), link_owner.uid, link_owner.gid), 0);
}
void UsableByAll(const TempDir& dir) { ASSERT_EQ(::chmod(dir.path().c_str(), 0777), 0); }
void Truncate(const TempDir& dir) { ASSERT_EQ(::truncate((dir / "in").c_str(), 100), 0); }

const HostileCase kHostileCases[] = {
    // Binary files whose first bytes look like text: never a corrupted copy.
    {"PNG", "\x89PNG\r\n\x1a\n\0\0\0\rIHDR"s, OldOutput, "out", {Outcome::NotConvertible, Reason::kNulCharacter}},
    {"UTF-16 without a byte order mark", "a\0\r\0\n\0"s, OldOutput, "out", {Outcome::NotConvertible, Reason::kNulCharacter}},
    {"UTF-16 with one", "\xff\xfe" "a\0\r\0\n\0"s, OldOutput, "out", {},
     [](const TempDir& dir) { EXPECT_EQ(ReadAll(dir / "out"), "\xff\xfe" "a\0\n\0"s); }},
    {"NUL past the first megabyte", kLongText + std::string(1, '\0'), OldOutput, "out", {Outcome::NotConvertible, Reason::kNulCharacter}},
    // A source that changes while it is read.
    {"truncated while read", kLongText, OldOutput, "out", {Outcome::SourceReadFailed, Reason::kChangedWhileRead}, nullptr, Truncate},
    {"grown while read", kLongText, OldOutput, "out", {Outcome::SourceReadFailed, Reason::kChangedWhileRead}, nullptr,
     [](const TempDir& dir) { std::ofstream(dir / "in", std::ios::app) << "more\r\n"; }},
    {"rewritten in place while read, its modification time put back", kLongText, OldOutput, "out",
     {Outcome::SourceReadFailed, Reason::kChangedWhileRead}, nullptr,
     [](const TempDir& dir) {
       const struct stat was = LinkStat(dir / "in");
       int fd = ::open((dir / "in").c_str(), O_WRONLY);
       ASSERT_EQ(::pwrite(fd, "X", 1, 0), 1);
       const timespec times[2] = {was.st_atim, was.st_mtim};
       ASSERT_EQ(::futimens(fd, times), 0);
       ::close(fd);
     }},
    // Links: the file a link names is replaced and the link kept; a loop is refused.
    {"a link to the output", kText,
     [](const TempDir& dir) {
       ASSERT_EQ(::mkdir((dir / "real").c_str(), 0755), 0);
       dir.Write("real/target", "old");
       ASSERT_EQ(::symlink("real/target", (dir / "link").c_str()), 0);
     },
     "link", {},
     [](const TempDir& dir) {
       EXPECT_TRUE(S_ISLNK(LinkStat(dir / "link").st_mode));
       EXPECT_EQ(ReadAll(dir / "real/target"), kConverted);
     }},
    {"a loop of links", kText,
     [](const TempDir& dir) {
       ASSERT_EQ(::symlink("b", (dir / "a").c_str()), 0);
       ASSERT_EQ(::symlink("a", (dir / "b").c_str()), 0);
     },
     "a", {Outcome::OutputCannotWrite, platform::FromErrno(ELOOP)}},
    // Links in a shared sticky folder, followed only as the kernel's protected_symlinks would.
    {"another user's link in a sticky folder", kText,
     [](const TempDir& dir) { SharedFolderWithLink(dir, "shared/out", "../victim", kNobody); }, "shared/out",
     {Outcome::OutputCannotWrite, Reason::kLinkNotFollowed}, nullptr, nullptr, HostileCase::kMeAsRoot},
    {"a chain through another user's link", kText,
     [](const TempDir& dir) {
       SharedFolderWithLink(dir, "shared/hop", "../victim", kNobody);
       ASSERT_EQ(::symlink("shared/hop", (dir / "out").c_str()), 0);
     },
     "out", {Outcome::OutputCannotWrite, Reason::kLinkNotFollowed}, nullptr, nullptr, HostileCase::kMeAsRoot},
    {"another user's folder on the way", kText,
     [](const TempDir& dir) { SharedFolderWithLink(dir, "shared/etc", "..", kNobody); }, "shared/etc/victim", {Outcome::OutputCannotWrite, Reason::kLinkNotFollowed}, nullptr, nullptr, HostileCase::kMeAsRoot},
    {"a link through /proc, whose links say their size is 0", kText,
     [](const TempDir& dir) {
       dir.Write("real", "old");
       ASSERT_EQ(::symlink(("/proc/self/root" + dir.path() + "/real").c_str(), (dir / "out").c_str()), 0);
     },
     "out", {},
     [](const TempDir& dir) {
       EXPECT_TRUE(S_ISLNK(LinkStat(dir / "out").st_mode));
       EXPECT_EQ(ReadAll(dir / "real"), kConverted);
     }},
    {"one's own link in a sticky folder", kText,
     [](const TempDir& dir) { SharedFolderWithLink(dir, "shared/out", "../victim", {::geteuid(), ::getegid()}); },
     "shared/out", {}, [](const TempDir& dir) { EXPECT_EQ(ReadAll(dir / "victim"), kConverted); }},
    // Working file, permissions, owner, group and access list.
    {"the working file is private and nameless", kLongText, OldOutput, "out", {}, nullptr,
     [](const TempDir& dir) {
       EXPECT_EQ(dir.Names(), (std::vector<std::string>{"in", "out"}));
       EXPECT_EQ(CountPrivateNamelessFiles(), 1);
     }},
    {"an existing output keeps its mode", kText,
     [](const TempDir& dir) {
       OldOutput(dir);
       ASSERT_EQ(::chmod((dir / "out").c_str(), 0640), 0);
     },
     "out", {}, [](const TempDir& dir) { EXPECT_EQ(ModeOf(dir / "out"), 0640u); }},
    {"a new output of a private source stays private", kText,
     [](const TempDir& dir) { ASSERT_EQ(::chmod((dir / "in").c_str(), 0600), 0); }, "new", {},
     [](const TempDir& dir) { EXPECT_EQ(ModeOf(dir / "new"), 0600u); }},
    {"a new output takes the source's bits less the umask, never setuid", kText,
     [](const TempDir& dir) { ASSERT_EQ(::chmod((dir / "in").c_str(), 04777), 0); }, "new", {},
     [](const TempDir& dir) { EXPECT_EQ(ModeOf(dir / "new"), 0777u & ~022u); }},
    {"owner, group, mode and access list survive", kText,
     [](const TempDir& dir) {
       OldOutput(dir);
       const std::string acl = AccessListFor(1);
       ASSERT_EQ(::chown((dir / "out").c_str(), kNobody.uid, kNobody.gid), 0);
       ASSERT_EQ(::chmod((dir / "out").c_str(), 04700), 0);
       ASSERT_EQ(::setxattr((dir / "out").c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0), 0);
     },
     "out", {},
     [](const TempDir& dir) {
       EXPECT_EQ(ReadAll(dir / "out"), kConverted);
       EXPECT_EQ(LinkStat(dir / "out").st_uid, kNobody.uid);
       EXPECT_EQ(LinkStat(dir / "out").st_gid, kNobody.gid);
       EXPECT_EQ(ModeOf(dir / "out"), 04640u);  // the group bits are the list's mask
       EXPECT_EQ(AccessListOf(dir / "out"), AccessListFor(1));
     },
     nullptr, HostileCase::kMeAsRoot},
    {"where /proc is missing, an output is still replaced and keeps its access list", kText,
     [](const TempDir& dir) {
       OldOutput(dir);
       const std::string acl = AccessListFor(1);
       ASSERT_EQ(::setxattr((dir / "out").c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0), 0);
     },
     "out", {},
     [](const TempDir& dir) {
       EXPECT_EQ(ReadAll(dir / "out"), kConverted);
       EXPECT_EQ(AccessListOf(dir / "out"), AccessListFor(1));
     },
     nullptr, HostileCase::kRootWithoutProc},
    {"another user's file is not taken over", kText,
     [](const TempDir& dir) {
       UsableByAll(dir);
       OldOutput(dir);
       ASSERT_EQ(::chown((dir / "out").c_str(), kNobody.uid, kNobody.gid), 0);
       ASSERT_EQ(::chmod((dir / "out").c_str(), 0666), 0);
     },
     "out", {Outcome::OutputCannotWrite, Reason::kOwnerNotKept}, nullptr, nullptr, HostileCase::kOtherUser},
    {"another user's file in a sticky folder, for root too", kText,
     [](const TempDir& dir) {
       SharedFolderWithLink(dir, "shared/unused", "../victim", kNobody);
       dir.Write("shared/report.txt", "nobody's");
       ASSERT_EQ(::chown((dir / "shared/report.txt").c_str(), kNobody.uid, kNobody.gid), 0);
       ASSERT_EQ(::chmod((dir / "shared/report.txt").c_str(), 0600), 0);
     },
     "shared/report.txt", {Outcome::OutputCannotWrite, Reason::kOthersFileInSharedFolder}, nullptr, nullptr,
     HostileCase::kMeAsRoot},
    {"a large file where no thread can be started is still converted", kLongText + kLongText, UsableByAll, "new", {},
     [](const TempDir& dir) {
       std::string converted = kLongText + kLongText;
       std::erase(converted, '\r');
       EXPECT_EQ(ReadAll(dir / "new"), converted);
     },
     nullptr, HostileCase::kOtherUserWithoutThreads},
    {"a group that cannot be kept loses setgid", kText,
     [](const TempDir& dir) {
       UsableByAll(dir);
       OldOutput(dir);
       ASSERT_EQ(::chown((dir / "out").c_str(), OtherUser()->uid, 0), 0);
       ASSERT_EQ(::chmod((dir / "out").c_str(), 02755), 0);
     },
     "out", {},
     [](const TempDir& dir) {
       EXPECT_EQ(ReadAll(dir / "out"), kConverted);
       EXPECT_EQ(LinkStat(dir / "out").st_uid, OtherUser()->uid);
       EXPECT_EQ(LinkStat(dir / "out").st_gid, OtherUser()->gid);
       EXPECT_EQ(ModeOf(dir / "out"), 0755u);
     },
     nullptr, HostileCase::kOtherUser},
    // Permissions.
    {"a folder without write permission", kText,
     [](const TempDir& dir) {
       ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
       ASSERT_EQ(::mkdir((dir / "locked").c_str(), 0755), 0);
       dir.Write("locked/out", "old");
       ASSERT_EQ(::chmod((dir / "locked").c_str(), 0555), 0);
     },
     "locked/out", {Outcome::OutputCannotWrite, platform::FromErrno(EACCES)}, nullptr, nullptr, HostileCase::kNotRoot},
    {"a new file in a folder without write permission", kText,
     [](const TempDir& dir) {
       ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
       ASSERT_EQ(::mkdir((dir / "locked").c_str(), 0555), 0);
     },
     "locked/new", {Outcome::OutputCannotWrite, platform::FromErrno(EACCES)}, nullptr, nullptr, HostileCase::kNotRoot},
    {"a source without read permission", kText,
     [](const TempDir& dir) {
       UsableByAll(dir);
       ASSERT_EQ(::chmod((dir / "in").c_str(), 0), 0);
     },
     "out", {Outcome::SourceCannotOpen, platform::FromErrno(EACCES)}, nullptr, nullptr, HostileCase::kNotRoot},
};

class HostileFile : public ::testing::TestWithParam<const HostileCase*> {};

TEST_P(HostileFile, EachIsRefusedOrHandledAndAFailureTouchesNothing) {
  const HostileCase& c = *GetParam();
  const bool without_threads = c.who == HostileCase::kOtherUserWithoutThreads;
  const bool as_other = c.who == HostileCase::kOtherUser || without_threads ||
                        (c.who == HostileCase::kNotRoot && ::geteuid() == 0);
  const bool without_proc = c.who == HostileCase::kRootWithoutProc;
  if ((as_other || without_proc || c.who == HostileCase::kMeAsRoot) && !OtherUser()) {
    GTEST_SKIP() << "needs root and the user daemon";
  }
  const mode_t umask_was = ::umask(022);
  TempDir dir;
  dir.Write("in", c.source);
  if (c.arrange != nullptr) {
    ASSERT_NO_FATAL_FAILURE(c.arrange(dir)) << c.name;
  }
  const auto before = Snapshot(dir.path());

  Result result;
  if (as_other || without_proc) {
    const auto done =
        ConvertAs(as_other ? *OtherUser() : Owner{0, 0}, dir.path(), "in", c.output, without_proc, without_threads);
    if (!done) {
      ::umask(umask_was);
      GTEST_SKIP() << "no mount namespace of its own";
    }
    result = *done;
  } else {
    platform::PosixFileSystem fs;
    bool first = true;
    result = Convert(fs, dir / "in", dir / c.output, [&](std::uint64_t, std::uint64_t, Stage) {
      if (first && c.during != nullptr) c.during(dir);
      first = false;
    });
  }
  EXPECT_EQ(std::make_pair(result.outcome, result.reason), std::make_pair(c.expected.outcome, c.expected.reason))
      << c.name;
  if (!c.expected.ok()) {
    if (c.during == nullptr) {
      EXPECT_EQ(Snapshot(dir.path()), before) << c.name;
    } else {
      EXPECT_EQ(ReadAll(dir / "out"), "old") << c.name;  // the source itself has changed
    }
  } else if (c.verify != nullptr) {
    c.verify(dir);
  }
  EXPECT_EQ(CountPrivateNamelessFiles(), 0) << c.name;
  ::umask(umask_was);
}

INSTANTIATE_TEST_SUITE_P(, HostileFile, ::testing::ValuesIn(testkit::EachRow(kHostileCases)),
                         testkit::NameRowsByName(testkit::EachRow(kHostileCases)));

// A disk that fills up part-way, made with a file-size limit in a child process (as
// `ulimit -f` sets): the file layer itself keeps SIGXFSZ from killing the program, the
// conversion fails, the old output stays and the half-written file is gone.
TEST(ReplacementFile, AFullDiskLeavesTheOldOutputAndNoPartialFile) {
  TempDir dir;
  std::string source = dir.Write("in.txt", std::string(1 << 20, '\n'));
  dir.Write("out.txt", "old");
  for (const char* output : {"out.txt", "new.txt"}) {
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      rlimit limit{100000, 100000};
      ::setrlimit(RLIMIT_FSIZE, &limit);
      platform::PosixFileSystem fs;
      const Result result = Convert(fs, source, dir / output);
      ::_exit(result.outcome == Outcome::OutputCannotWrite && result.reason == platform::FromErrno(EFBIG) ? 0 : 1);
    }
    int wait_status = 0;
    ::waitpid(child, &wait_status, 0);
    EXPECT_TRUE(WIFEXITED(wait_status) && WEXITSTATUS(wait_status) == 0) << output << ": " << wait_status;
    EXPECT_EQ(ReadAll(dir / "out.txt"), "old");
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"in.txt", "out.txt"})) << output;
  }
}

// A FIFO (with or without a writer), a folder, a device or a socket is refused at once by
// detection, by the whole-file count and by a conversion, as a source and as an output,
// and nothing is written.
class NotAFileRow : public ::testing::TestWithParam<testkit::NotAFile> {};

TEST_P(NotAFileRow, IsRefusedWithoutWaiting) {
  const testkit::NotAFile& thing = GetParam();
  platform::PosixFileSystem fs;
  TempDir dir;
  const std::string source = dir.Write("source.txt", kText);
  const std::string odd = dir / "s";
  ASSERT_NO_FATAL_FAILURE(thing.make(odd)) << thing.name;
  const auto before = Snapshot(dir.path());
  const Reason why = thing.name == std::string("folder") ? platform::FromErrno(EISDIR) : Reason::kNotAFile;
  EXPECT_EQ(DetectLineEndings(fs, odd).reason, why) << thing.name;
  EXPECT_EQ(ExamineFile(fs, odd).reason, why) << thing.name;
  EXPECT_EQ(Convert(fs, odd, dir / "out").reason, why) << thing.name;
  EXPECT_EQ(Convert(fs, source, odd).reason, why) << thing.name;
  EXPECT_EQ(Snapshot(dir.path()), before) << thing.name;
  testkit::CloseFifoWriter();
  struct stat st {};
  ASSERT_EQ(::stat("/dev/null", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode)) << "/dev/null was replaced";
}

INSTANTIATE_TEST_SUITE_P(, NotAFileRow, ::testing::ValuesIn(testkit::kNotFiles),
                         testkit::NameRowsByName(testkit::kNotFiles));

// Japanese names, spaces inside and at both ends, and names as long as a folder entry may
// be work as source and output.
class UnusualName : public ::testing::TestWithParam<testkit::UnusualNames> {};

TEST_P(UnusualName, WorksAsSourceAndOutput) {
  const testkit::UnusualNames& c = GetParam();
  platform::PosixFileSystem fs;
  TempDir dir;
  ASSERT_EQ(::mkdir((dir / c.folder).c_str(), 0755), 0) << c.folder;
  const std::string source = dir.Write(c.folder + "/" + c.source, kText);
  const std::string output = dir / c.folder + "/" + c.output;
  EXPECT_EQ(DetectLineEndings(fs, source).verdict, LineEndingKind::MsDos) << source;
  EXPECT_TRUE(Convert(fs, source, output).ok()) << output;
  EXPECT_EQ(ReadAll(output), kConverted) << output;
  EXPECT_EQ(Snapshot(dir / c.folder).size(), 2u) << "nothing else is left in " << c.folder;
}

INSTANTIATE_TEST_SUITE_P(, UnusualName, ::testing::ValuesIn(testkit::UnusualNameCases()),
                         testkit::NameRowsByName(testkit::UnusualNameCases()));

// A path is resolved a name at a time, so that its length is never the system's concern:
// paths of 4,095 bytes, the most the system takes in one call, and of one byte more work
// as source and output.
TEST(HostileFiles, OddPathsWorkUpToTheSystemsLimit) {
  platform::PosixFileSystem fs;
  for (std::size_t name_bytes : {1, 200}) {
    TempDir dir;
    const std::string folder = testkit::FolderForPathOf(dir.path(), 4095, name_bytes);
    const std::string plain = dir.Write("plain.txt", "a\r\nb\r\n");
    for (const std::string& name : {std::string(name_bytes, 'f'), std::string(name_bytes, 'f') + "g"}) {
      const std::string deep = folder + "/" + name;
      testkit::WriteAt(folder, name, kText);
      EXPECT_EQ(DetectLineEndings(fs, deep).verdict, LineEndingKind::MsDos) << deep.size();
      EXPECT_TRUE(Convert(fs, deep, dir / "from-deep").ok()) << deep.size();
      EXPECT_EQ(ReadAll(dir / "from-deep"), kConverted);
      EXPECT_TRUE(Convert(fs, plain, deep).ok()) << deep.size();
      EXPECT_EQ(testkit::ReadAt(folder, name), "a\nb\n") << deep.size();
      testkit::RemoveAt(folder, name);  // too long a path for the usual clean-up
    }
  }
}

TEST(SameExistingFile, SeesThroughEveryOtherNameOfAFile) {
  TempDir dir;
  std::string file = dir.Write("a.txt", "x");
  ASSERT_EQ(::mkdir((dir / "sub").c_str(), 0755), 0);
  ASSERT_EQ(::symlink(file.c_str(), (dir / "soft.txt").c_str()), 0);
  ASSERT_EQ(::link(file.c_str(), (dir / "hard.txt").c_str()), 0);
  platform::PosixFileSystem fs;
  const auto same = [&fs](const std::string& a, const std::string& b) {
    return platform::SameExistingFile(fs, fs.Locate(a).value, fs.Locate(b).value);
  };
  for (const std::string& alias : {file, dir / "./a.txt", dir / "sub/../a.txt", dir / "soft.txt", dir / "hard.txt"}) {
    EXPECT_TRUE(same(file, alias)) << alias;
  }
  EXPECT_FALSE(same(file, dir.Write("b.txt", "x")));
  EXPECT_FALSE(same(file, dir / "missing.txt"));
  EXPECT_FALSE(same(dir / "missing.txt", dir / "missing.txt"));
}

// A folder and a name joined by one separator, as every path shown or walked is made.
using Joined = std::array<const char*, 3>;  // a folder, a name, and the path they make

const std::array<Joined, 7> kJoined = {{
    {"/", "readme.txt", "/readme.txt"},
    {"/home/user/docs", "a.txt", "/home/user/docs/a.txt"},
    {"/home/user/docs/", "a.txt", "/home/user/docs/a.txt"},
    {"/media/usb", "名前 with spaces.txt", "/media/usb/名前 with spaces.txt"},
    {"/tmp", ".hidden", "/tmp/.hidden"},
    {"", "a.txt", "a.txt"},  // a relative path stays relative
    {"src/sub", ".", "src/sub"},
}};

class JoinPathRow : public ::testing::TestWithParam<Joined> {};

TEST_P(JoinPathRow, JoinsWithOneSeparator) {
  const auto& [directory, name, path] = GetParam();
  EXPECT_EQ(platform::JoinPath(directory, name), path);
}

INSTANTIATE_TEST_SUITE_P(, JoinPathRow, ::testing::ValuesIn(kJoined),
                         testkit::NameRows(kJoined, [](const Joined& row) {
                           return std::string(row[0]) + " " + row[1];
                         }));

// Another user changing the files at the worst moment, played at the file layer's race
// points, and links that lead out of a tree: whatever happens to the paths' texts, the
// folder that was checked is the folder written, no link out of a walk is followed, and
// what is converted is the bytes of the file that was opened. "victim/" stands for a
// folder of root's outside the tree "tree/" that another user owns.
struct Race {
  const char* name;
  enum { kConvert, kDetectAndConvert, kBatchInPlace, kBatchMirror, kFilterFromFile } run;
  testkit::RacePoint at;
  void (*arrange)(const TempDir& dir);
  void (*attack)(const TempDir& dir);  // at the first time the run reaches `at`
  void (*verify)(const TempDir& dir);
  Outcome outcome = Outcome::Ok;
};

void Mkdir(const TempDir& dir, const char* folder) { ASSERT_EQ(::mkdir((dir / folder).c_str(), 0755), 0); }
void Link(const TempDir& dir, const char* link, const char* target) {
  ASSERT_EQ(::symlink(target, (dir / link).c_str()), 0);
}
void SwapForLink(const TempDir& dir, const char* folder, const char* moved, const char* target) {
  ASSERT_EQ(::rename((dir / folder).c_str(), (dir / moved).c_str()), 0);
  Link(dir, folder, target);
}
void ExpectVictimUntouched(const TempDir& dir) {
  EXPECT_EQ(ReadAll(dir / "victim/a.txt"), "root's own\r\n");
  EXPECT_EQ(testkit::Snapshot(dir / "victim").size(), 1u);
}

const Race kRaces[] = {
    {"a folder on the output's path swapped for a link before the output takes its place", Race::kConvert,
     testkit::RacePoint::kBeforePublish, [](const TempDir& dir) { Mkdir(dir, "tree/sub"); },
     [](const TempDir& dir) { SwapForLink(dir, "tree/sub", "tree/moved", "../victim"); },
     [](const TempDir& dir) {
       ExpectVictimUntouched(dir);
       EXPECT_EQ(ReadAll(dir / "tree/moved/out"), kConverted);
     }},
    {"a folder of a walk swapped for a link while its file is replaced in place", Race::kBatchInPlace,
     testkit::RacePoint::kBeforePublish,
     [](const TempDir& dir) {
       Mkdir(dir, "tree/sub");
       dir.Write("tree/sub/a.txt", kText);
     },
     [](const TempDir& dir) { SwapForLink(dir, "tree/sub", "tree/moved", "../victim"); },
     [](const TempDir& dir) {
       ExpectVictimUntouched(dir);
       EXPECT_EQ(ReadAll(dir / "tree/moved/a.txt"), kConverted);
     }},
    {"a file swapped for a link between the listing and the opening", Race::kBatchInPlace,
     testkit::RacePoint::kFolderListed, [](const TempDir& dir) { dir.Write("tree/a.txt", kText); },
     [](const TempDir& dir) {
       ASSERT_EQ(::unlink((dir / "tree/a.txt").c_str()), 0);
       Link(dir, "tree/a.txt", "../victim/a.txt");
     },
     ExpectVictimUntouched},
    {"a folder swapped for a link between the listing and the entering", Race::kBatchInPlace,
     testkit::RacePoint::kFolderListed, [](const TempDir& dir) { Mkdir(dir, "tree/sub"); },
     [](const TempDir& dir) { SwapForLink(dir, "tree/sub", "tree/moved", "../victim"); }, ExpectVictimUntouched},
    {"links out of the tree, to a file and to a folder", Race::kBatchInPlace, testkit::RacePoint::kLocated,
     [](const TempDir& dir) {
       Link(dir, "tree/notes.txt", "../victim/a.txt");
       Link(dir, "tree/up", "../victim");
     },
     nullptr, ExpectVictimUntouched},
    {"the source replaced by an editor's save once it is open: its opened bytes are converted", Race::kDetectAndConvert,
     testkit::RacePoint::kSourceOpened, nullptr,
     [](const TempDir& dir) {
       dir.Write("tree/saved", "\x01\x02\0binary"s);
       ASSERT_EQ(::rename((dir / "tree/saved").c_str(), (dir / "tree/in").c_str()), 0);
     },
     [](const TempDir& dir) { EXPECT_EQ(ReadAll(dir / "tree/sub-out"), kConverted); }},
    {"a folder of the mirror made beforehand, open to all, by another user in a shared folder: nothing of root's "
     "goes into it", Race::kBatchMirror, testkit::RacePoint::kLocated,
     [](const TempDir& dir) {
       Mkdir(dir, "out");
       ASSERT_EQ(::chmod((dir / "out").c_str(), 01777), 0);
       Mkdir(dir, "out/tree");
       ASSERT_EQ(::chmod((dir / "out/tree").c_str(), 0777), 0);
       if (::geteuid() == 0) ASSERT_EQ(::chown((dir / "out/tree").c_str(), kNobody.uid, kNobody.gid), 0);
     },
     nullptr, [](const TempDir& dir) { EXPECT_EQ(testkit::Snapshot(dir / "out/tree").size(), 0u); }},
    {"a file with a 40 MiB hole copied into a mirror keeps its hole", Race::kBatchMirror,
     testkit::RacePoint::kLocated,
     [](const TempDir& dir) {
       dir.Write("tree/disk.img", "\x7f" "ELF\0"s);
       ASSERT_EQ(::truncate((dir / "tree/disk.img").c_str(), 40 << 20), 0);
     },
     nullptr,
     [](const TempDir& dir) {
       const struct stat copy = LinkStat(dir / "out/tree/disk.img");
       EXPECT_EQ(copy.st_size, 40 << 20);
       EXPECT_LE(copy.st_blocks, LinkStat(dir / "tree/disk.img").st_blocks);
       EXPECT_EQ(ReadAll(dir / "out/tree/disk.img"), ReadAll(dir / "tree/disk.img"));
     }},
    {"a source cut short while a filter reads it (convert SRC -)", Race::kFilterFromFile,
     testkit::RacePoint::kSourceOpened, nullptr,
     [](const TempDir& dir) { ASSERT_EQ(::truncate((dir / "tree/in").c_str(), 3), 0); }, ExpectVictimUntouched,
     Outcome::SourceReadFailed},
};

class Discard : public platform::ByteSink {
 public:
  Reason Write(std::span<const std::uint8_t>) override { return Reason::kNone; }
};

class RaceCase : public ::testing::TestWithParam<Race> {};

TEST_P(RaceCase, FailsSafe) {
  const Race& race = GetParam();
  TempDir dir;
  Mkdir(dir, "tree");
  Mkdir(dir, "victim");
  dir.Write("victim/a.txt", "root's own\r\n");
  dir.Write("tree/in", kText);
  if (race.arrange != nullptr) {
    ASSERT_NO_FATAL_FAILURE(race.arrange(dir)) << race.name;
  }
  bool attacked = false;
  testkit::RacingFileSystem fs;
  fs.SetHook([&](testkit::RacePoint point) {
    if (point != race.at || attacked || race.attack == nullptr) return;
    attacked = true;
    race.attack(dir);
  });
  Outcome outcome = Outcome::Ok;
  if (race.run == Race::kBatchInPlace) {
    const BatchSettings settings{LineEndingKind::Unix, "", true, {"*.txt"}, false};
    BatchPlan plan(fs, {dir / "tree"}, settings);
    RunBatch(fs, plan, {}, {}, 1);
  } else if (race.run == Race::kBatchMirror) {
    const BatchSettings settings{LineEndingKind::Unix, dir / "out", true, {}, false};
    BatchPlan plan(fs, {dir / "tree"}, settings);
    RunBatch(fs, plan, {}, {}, 1);
  } else if (race.run == Race::kConvert) {
    outcome = Convert(fs, dir / "tree/in", dir / "tree/sub/out").outcome;
  } else if (race.run == Race::kFilterFromFile) {
    auto file = platform::OpenPathForRead(fs, dir / "tree/in");
    Discard out;
    outcome = ConvertStream(*file.value, out, LineEndingKind::None, LineEndingKind::Unix, {}, file.value.get()).outcome;
  } else {
    ConversionRequest request;
    request.source = dir / "tree/in";
    request.output = dir / "tree/sub-out";
    request.target = LineEndingKind::Unix;
    request.detect = true;
    outcome = CheckAndConvert(fs, request).outcome;
  }
  EXPECT_EQ(outcome, race.outcome) << race.name;
  fs.SetHook(nullptr);
  EXPECT_TRUE(attacked || race.attack == nullptr) << race.name;
  race.verify(dir);
}

INSTANTIATE_TEST_SUITE_P(, RaceCase, ::testing::ValuesIn(kRaces), testkit::NameRowsByName(kRaces));

// A run killed (SIGKILL) with its group of new files durable on the disk, before their
// renames: every file is whole, as it was, and nothing is left beside them (the
// nameless working files go with the process). And one killed
// between giving a finished file a temporary name and renaming it over the old one:
// that name is left behind, and the next run over the folder removes it and converts
// what it would have converted anyway.
TEST(Races, ARunKilledBeforeItsRenamesLeavesEveryFileWhole) {
  for (const testkit::RacePoint killed_at : {testkit::RacePoint::kGroupFlushed, testkit::RacePoint::kLinkedUnrenamed}) {
    TempDir dir;
    for (const char* name : {"a.txt", "b.txt", "c.txt"}) dir.Write(name, kText);
    const BatchSettings settings{LineEndingKind::Unix, "", false, {}, false};
    const pid_t child = ::fork();
    if (child == 0) {
      testkit::RacingFileSystem fs;
      fs.SetHook([killed_at](testkit::RacePoint point) {
        if (point == killed_at) ::raise(SIGKILL);
      });
      BatchPlan plan(fs, {dir.path()}, settings);
      RunBatch(fs, plan, {}, {}, 1);
      ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    const bool named = killed_at == testkit::RacePoint::kLinkedUnrenamed;
    EXPECT_EQ(dir.Names().size(), named ? 4u : 3u) << "the killed run's working file";
    for (const char* name : {"a.txt", "b.txt", "c.txt"}) EXPECT_EQ(ReadAll(dir / name), kText) << name;

    platform::PosixFileSystem fs;
    BatchPlan plan(fs, {dir.path()}, settings);
    EXPECT_EQ(RunBatch(fs, plan, {}, {}, 1).converted, 3u);
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"a.txt", "b.txt", "c.txt"}));
    for (const char* name : {"a.txt", "b.txt", "c.txt"}) EXPECT_EQ(ReadAll(dir / name), kConverted) << name;
  }
}

}  // namespace
}  // namespace tarnwhistle
