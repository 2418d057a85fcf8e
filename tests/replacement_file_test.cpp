// The file layer on the real disk: how an output is put in place, and the hostile cases
// (things that are not files, odd and extreme paths, binaries, changing sources, links,
// owners, a full disk) run once through the calls every front end makes. The front ends'
// suites test only how they report each Status.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>

#include "engine/conversion.h"
#include "engine/detection.h"
#include "engine/statistics.h"
#include "hostile_files.h"
#include "platform/posix_file_system.h"
#include "temp_dir.h"

namespace tarnwhistle {
namespace {

using namespace std::string_literals;
using testing::ReadAll;
using testing::Snapshot;
using testing::TempDir;

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

// Runs the conversion in a child process acting as `user`, in `folder` (entered first:
// the folders above it may be closed to that user, as /root is); returns its status.
Status ConvertAs(const Owner& user, const std::string& folder, const std::string& source, const std::string& output) {
  pid_t child = ::fork();
  if (child == 0) {
    if (::chdir(folder.c_str()) != 0 || ::setgroups(0, nullptr) != 0 || ::setresgid(user.gid, user.gid, user.gid) != 0 ||
        ::setresuid(user.uid, user.uid, user.uid) != 0) {
      ::_exit(100);
    }
    try {
      platform::PosixFileSystem fs;
      ::_exit(static_cast<int>(ConvertFile(fs, ConvertDosToUnix, source, output)));
    } catch (...) {
      ::_exit(101);  // never back into the test program
    }
  }
  int wait_status = 0;
  ::waitpid(child, &wait_status, 0);
  EXPECT_TRUE(WIFEXITED(wait_status) && WEXITSTATUS(wait_status) != 100);
  return static_cast<Status>(WEXITSTATUS(wait_status));
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
  Status status;
  void (*verify)(const TempDir& dir) = nullptr;          // after a success
  void (*during)(const TempDir& dir) = nullptr;          // at the first progress report
  // kNotRoot: the other user when the tests run as root, to whom no folder is closed.
  enum { kMe, kOtherUser, kMeAsRoot, kNotRoot } who = kMe;
};

const std::string kText = "one\r\ntwo\r\n";
const std::string kConverted = "one\ntwo\n";
// Big enough to be read in several pieces, so a change after the first one is seen.
const std::string kLongText = [] {
  std::string text;
  while (text.size() < 3 * platform::ByteReader::kDefaultBufferSize) text += "a line of text\r\n";
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
    {"PNG", "\x89PNG\r\n\x1a\n\0\0\0\rIHDR"s, OldOutput, "out", Status::SourceNotText},
    {"PDF stream", "%PDF-1.7\r\n1 0 obj\r\nstream\r\nx\x9c\0\x01"s, nullptr, "out", Status::SourceNotText},
    {"UTF-16", "\xff\xfe" "a\0\r\0\n\0"s, OldOutput, "out", Status::SourceNotText},
    {"NUL past the first megabyte", kLongText + std::string(1, '\0'), OldOutput, "out", Status::SourceNotText},
    // A source that changes while it is read.
    {"truncated while read", kLongText, OldOutput, "out", Status::SourceReadFailed, nullptr, Truncate},
    {"grown while read", kLongText, OldOutput, "out", Status::SourceReadFailed, nullptr,
     [](const TempDir& dir) { std::ofstream(dir / "in", std::ios::app) << "more\r\n"; }},
    {"rewritten in place while read", kLongText, OldOutput, "out", Status::SourceReadFailed, nullptr,
     [](const TempDir& dir) {
       int fd = ::open((dir / "in").c_str(), O_WRONLY);
       ASSERT_EQ(::pwrite(fd, "X", 1, 0), 1);
       ::close(fd);
     }},
    // Links: the file a link names is replaced and the link kept; a loop is refused.
    {"a link to the output", kText,
     [](const TempDir& dir) {
       ASSERT_EQ(::mkdir((dir / "real").c_str(), 0755), 0);
       dir.Write("real/target", "old");
       ASSERT_EQ(::symlink("real/target", (dir / "link").c_str()), 0);
     },
     "link", Status::Ok,
     [](const TempDir& dir) {
       EXPECT_TRUE(S_ISLNK(LinkStat(dir / "link").st_mode));
       EXPECT_EQ(ReadAll(dir / "real/target"), kConverted);
     }},
    {"a loop of links", kText,
     [](const TempDir& dir) {
       ASSERT_EQ(::symlink("b", (dir / "a").c_str()), 0);
       ASSERT_EQ(::symlink("a", (dir / "b").c_str()), 0);
     },
     "a", Status::OutputCannotWrite},
    // Links in a shared sticky folder, followed only as the kernel's protected_symlinks would.
    {"another user's link in a sticky folder", kText,
     [](const TempDir& dir) { SharedFolderWithLink(dir, "shared/out", "../victim", kNobody); }, "shared/out",
     Status::OutputCannotWrite, nullptr, nullptr, HostileCase::kMeAsRoot},
    {"a chain through another user's link", kText,
     [](const TempDir& dir) {
       SharedFolderWithLink(dir, "shared/hop", "../victim", kNobody);
       ASSERT_EQ(::symlink("shared/hop", (dir / "out").c_str()), 0);
     },
     "out", Status::OutputCannotWrite, nullptr, nullptr, HostileCase::kMeAsRoot},
    {"another user's folder on the way", kText,
     [](const TempDir& dir) { SharedFolderWithLink(dir, "shared/etc", "..", kNobody); }, "shared/etc/victim", Status::OutputCannotWrite, nullptr, nullptr, HostileCase::kMeAsRoot},
    {"one's own link in a sticky folder", kText,
     [](const TempDir& dir) { SharedFolderWithLink(dir, "shared/out", "../victim", {::geteuid(), ::getegid()}); },
     "shared/out", Status::Ok, [](const TempDir& dir) { EXPECT_EQ(ReadAll(dir / "victim"), kConverted); }},
    // Working file, permissions, owner, group and access list.
    {"the working file is private and nameless", kLongText, OldOutput, "out", Status::Ok, nullptr,
     [](const TempDir& dir) {
       EXPECT_EQ(dir.Names(), (std::vector<std::string>{"in", "out"}));
       EXPECT_EQ(CountPrivateNamelessFiles(), 1);
     }},
    {"an existing output keeps its mode", kText,
     [](const TempDir& dir) {
       OldOutput(dir);
       ASSERT_EQ(::chmod((dir / "out").c_str(), 0640), 0);
     },
     "out", Status::Ok, [](const TempDir& dir) { EXPECT_EQ(ModeOf(dir / "out"), 0640u); }},
    {"a new output of a private source stays private", kText,
     [](const TempDir& dir) { ASSERT_EQ(::chmod((dir / "in").c_str(), 0600), 0); }, "new", Status::Ok,
     [](const TempDir& dir) { EXPECT_EQ(ModeOf(dir / "new"), 0600u); }},
    {"a new output takes the source's bits less the umask, never setuid", kText,
     [](const TempDir& dir) { ASSERT_EQ(::chmod((dir / "in").c_str(), 04777), 0); }, "new", Status::Ok,
     [](const TempDir& dir) { EXPECT_EQ(ModeOf(dir / "new"), 0777u & ~022u); }},
    {"owner, group, mode and access list survive", kText,
     [](const TempDir& dir) {
       OldOutput(dir);
       const std::string acl = AccessListFor(1);
       ASSERT_EQ(::chown((dir / "out").c_str(), kNobody.uid, kNobody.gid), 0);
       ASSERT_EQ(::chmod((dir / "out").c_str(), 04700), 0);
       ASSERT_EQ(::setxattr((dir / "out").c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0), 0);
     },
     "out", Status::Ok,
     [](const TempDir& dir) {
       EXPECT_EQ(ReadAll(dir / "out"), kConverted);
       EXPECT_EQ(LinkStat(dir / "out").st_uid, kNobody.uid);
       EXPECT_EQ(LinkStat(dir / "out").st_gid, kNobody.gid);
       EXPECT_EQ(ModeOf(dir / "out"), 04640u);  // the group bits are the list's mask
       EXPECT_EQ(AccessListOf(dir / "out"), AccessListFor(1));
     },
     nullptr, HostileCase::kMeAsRoot},
    {"another user's file is not taken over", kText,
     [](const TempDir& dir) {
       UsableByAll(dir);
       OldOutput(dir);
       ASSERT_EQ(::chown((dir / "out").c_str(), kNobody.uid, kNobody.gid), 0);
       ASSERT_EQ(::chmod((dir / "out").c_str(), 0666), 0);
     },
     "out", Status::OutputCannotWrite, nullptr, nullptr, HostileCase::kOtherUser},
    {"a group that cannot be kept loses setgid", kText,
     [](const TempDir& dir) {
       UsableByAll(dir);
       OldOutput(dir);
       ASSERT_EQ(::chown((dir / "out").c_str(), OtherUser()->uid, 0), 0);
       ASSERT_EQ(::chmod((dir / "out").c_str(), 02755), 0);
     },
     "out", Status::Ok,
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
     "locked/out", Status::OutputCannotWrite, nullptr, nullptr, HostileCase::kNotRoot},
    {"a new file in a folder without write permission", kText,
     [](const TempDir& dir) {
       ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
       ASSERT_EQ(::mkdir((dir / "locked").c_str(), 0555), 0);
     },
     "locked/new", Status::OutputCannotWrite, nullptr, nullptr, HostileCase::kNotRoot},
    {"a source without read permission", kText,
     [](const TempDir& dir) {
       UsableByAll(dir);
       ASSERT_EQ(::chmod((dir / "in").c_str(), 0), 0);
     },
     "out", Status::SourceCannotOpen, nullptr, nullptr, HostileCase::kNotRoot},
};

TEST(HostileFiles, EachIsRefusedOrHandledAndAFailureTouchesNothing) {
  const mode_t umask_was = ::umask(022);
  for (const HostileCase& c : kHostileCases) {
    const bool as_other = c.who == HostileCase::kOtherUser || (c.who == HostileCase::kNotRoot && ::geteuid() == 0);
    if ((as_other || c.who == HostileCase::kMeAsRoot) && !OtherUser()) {
      std::cout << "[ SKIPPED  ] " << c.name << ": needs root and the user daemon\n";
      continue;
    }
    TempDir dir;
    dir.Write("in", c.source);
    if (c.arrange != nullptr) {
      ASSERT_NO_FATAL_FAILURE(c.arrange(dir)) << c.name;
    }
    const auto before = Snapshot(dir.path());

    Status status;
    if (as_other) {
      status = ConvertAs(*OtherUser(), dir.path(), "in", c.output);
    } else {
      platform::PosixFileSystem fs;
      bool first = true;
      status = ConvertFile(fs, ConvertDosToUnix, dir / "in", dir / c.output, [&](std::uint64_t, std::uint64_t) {
        if (first && c.during != nullptr) c.during(dir);
        first = false;
        return true;
      });
    }
    EXPECT_EQ(status, c.status) << c.name;
    if (c.status != Status::Ok) {
      if (c.during == nullptr) {
        EXPECT_EQ(Snapshot(dir.path()), before) << c.name;
      } else {
        EXPECT_EQ(ReadAll(dir / "out"), "old") << c.name;  // the source itself has changed
      }
    } else if (c.verify != nullptr) {
      c.verify(dir);
    }
    EXPECT_EQ(CountPrivateNamelessFiles(), 0) << c.name;
  }
  ::umask(umask_was);
}

// SIGKILL in the middle of a conversion (held there by its progress callback): the
// working file, having no name, goes with the process.
TEST(HostileFiles, NothingIsLeftAfterSigkill) {
  TempDir dir;
  dir.Write("in", kLongText);
  dir.Write("out", "old");
  int started[2];
  ASSERT_EQ(::pipe(started), 0);
  pid_t child = ::fork();
  if (child == 0) {
    try {
      platform::PosixFileSystem fs;
      ConvertFile(fs, ConvertDosToUnix, dir / "in", dir / "out", [&](std::uint64_t, std::uint64_t) {
        (void)!::write(started[1], "x", 1);
        ::pause();  // until the SIGKILL
        return true;
      });
    } catch (...) {
    }
    ::_exit(0);  // never back into the test program
  }
  char byte;
  ASSERT_EQ(::read(started[0], &byte, 1), 1);
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  ::close(started[0]);
  ::close(started[1]);
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"in", "out"}));
  EXPECT_EQ(ReadAll(dir / "out"), "old");
}

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
      ::_exit(ConvertFile(fs, ConvertUnixToDos, source, dir / output) == Status::OutputCannotWrite ? 0 : 1);
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
TEST(HostileFiles, ThingsThatAreNotFilesAreRefusedWithoutWaiting) {
  platform::PosixFileSystem fs;
  for (const testing::NotAFile& thing : testing::kNotFiles) {
    TempDir dir;
    const std::string source = dir.Write("source.txt", kText);
    const std::string odd = dir / "s";
    ASSERT_NO_FATAL_FAILURE(thing.make(odd)) << thing.name;
    const auto before = Snapshot(dir.path());
    EXPECT_EQ(DetectLineEndings(fs, odd).status, Status::SourceCannotOpen) << thing.name;
    EXPECT_EQ(CountLineEndingsInFile(fs, odd).status, Status::SourceCannotOpen) << thing.name;
    EXPECT_EQ(ConvertFile(fs, ConvertDosToUnix, odd, dir / "out"), Status::SourceCannotOpen) << thing.name;
    EXPECT_EQ(ConvertFile(fs, ConvertDosToUnix, source, odd), Status::OutputCannotWrite) << thing.name;
    EXPECT_EQ(Snapshot(dir.path()), before) << thing.name;
    testing::CloseFifoWriter();
  }
  struct stat st {};
  ASSERT_EQ(::stat("/dev/null", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode)) << "/dev/null was replaced";
}

// Japanese names, spaces inside and at both ends, names as long as a folder entry may be,
// and paths of 4,095 bytes (the most the system takes, whatever the length of the name
// at the end) work as source and output; one byte more is refused and nothing is written.
TEST(HostileFiles, OddPathsWorkUpToTheSystemsLimit) {
  platform::PosixFileSystem fs;
  for (const testing::UnusualNames& c : testing::UnusualNameCases()) {
    TempDir dir;
    ASSERT_EQ(::mkdir((dir / c.folder).c_str(), 0755), 0) << c.folder;
    const std::string source = dir.Write(c.folder + "/" + c.source, kText);
    const std::string output = dir / c.folder + "/" + c.output;
    EXPECT_EQ(DetectLineEndings(fs, source).verdict, LineEndingKind::MsDos) << source;
    EXPECT_EQ(ConvertFile(fs, ConvertDosToUnix, source, output), Status::Ok) << output;
    EXPECT_EQ(ReadAll(output), kConverted) << output;
    EXPECT_EQ(Snapshot(dir / c.folder).size(), 2u) << "nothing else is left in " << c.folder;
  }
  for (std::size_t name_bytes : {1, 30, 200}) {
    TempDir dir;
    const std::string folder = testing::FolderForPathOf(dir.path(), 4095, name_bytes);
    const std::string at_name(name_bytes, 'f'), over_name = at_name + "g";
    const std::string at_limit = folder + "/" + at_name, over_limit = folder + "/" + over_name;
    ASSERT_EQ(over_limit.size(), 4096u);
    testing::WriteAt(folder, at_name, kText);
    testing::WriteAt(folder, over_name, kText);
    const std::string plain = dir.Write("plain.txt", "a\r\nb\r\n");

    EXPECT_EQ(DetectLineEndings(fs, at_limit).verdict, LineEndingKind::MsDos) << name_bytes;
    EXPECT_EQ(ConvertFile(fs, ConvertDosToUnix, at_limit, dir / "from-deep"), Status::Ok) << name_bytes;
    EXPECT_EQ(ReadAll(dir / "from-deep"), kConverted);
    // A name this short leaves no room for the working file's name beside it.
    const bool fits = name_bytes >= 30;
    EXPECT_EQ(ConvertFile(fs, ConvertDosToUnix, plain, at_limit), fits ? Status::Ok : Status::OutputCannotWrite)
        << name_bytes;
    EXPECT_EQ(testing::ReadAt(folder, at_name), fits ? "a\nb\n" : kText) << name_bytes;

    const auto before = Snapshot(dir.path());
    EXPECT_EQ(DetectLineEndings(fs, over_limit).status, Status::SourceCannotOpen) << name_bytes;
    EXPECT_EQ(ConvertFile(fs, ConvertDosToUnix, over_limit, dir / "x"), Status::SourceCannotOpen) << name_bytes;
    EXPECT_EQ(ConvertFile(fs, ConvertDosToUnix, plain, over_limit), Status::OutputCannotWrite) << name_bytes;
    EXPECT_EQ(Snapshot(dir.path()), before) << name_bytes;
    EXPECT_EQ(testing::ReadAt(folder, over_name), kText);
    testing::RemoveAt(folder, over_name);  // too long a path for the usual clean-up
  }
}

TEST(SameExistingFile, SeesThroughEveryOtherNameOfAFile) {
  TempDir dir;
  std::string file = dir.Write("a.txt", "x");
  ASSERT_EQ(::mkdir((dir / "sub").c_str(), 0755), 0);
  ASSERT_EQ(::symlink(file.c_str(), (dir / "soft.txt").c_str()), 0);
  ASSERT_EQ(::link(file.c_str(), (dir / "hard.txt").c_str()), 0);
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
