#include "posix_file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <random>

#include "race_points.h"

namespace tarnwhistle::platform {
namespace {

// The attribute the kernel keeps a POSIX access list in; read and written whole, so
// that no libacl is needed.
constexpr char kAccessListAttribute[] = "system.posix_acl_access";
// How many links one path may lead through, as the kernel allows.
constexpr int kMostLinks = 40;

// A descriptor closed with its owner.
class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  ~Descriptor() { Reset(); }
  Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Descriptor& operator=(Descriptor&& other) noexcept {
    if (this != &other) {
      Reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }
  void Reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

// An O_PATH descriptor of a folder: enough for every *at call, and it needs no read
// permission on the folder itself.
class PosixFolder : public FolderHandle {
 public:
  PosixFolder(Descriptor fd, std::string path) : FolderHandle(std::move(path)), fd_(std::move(fd)) {}
  int fd() const { return fd_.get(); }

 private:
  Descriptor fd_;
};

int FdOf(const Folder& folder) { return static_cast<const PosixFolder&>(*folder).fd(); }

// Whether /proc is there to reach a descriptor's file by a name (a chroot or a container
// may have none). Asked each time: one call, beside the several a file costs anyway.
bool ProcMounted() { return ::access("/proc/self/fd", X_OK) == 0; }

OrReason<Folder> OpenFolderAt(int at, const std::string& name, std::string path) {
  int fd = ::openat(at, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    const Reason reason = LastError();
    struct stat st;
    if (errno == ENOTDIR && ::fstatat(at, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) {
      return Reason::kSymbolicLink;
    }
    return reason;
  }
  return Folder(std::make_shared<PosixFolder>(Descriptor(fd), std::move(path)));
}

// Whether the kernel's protected_symlinks rule lets the effective user follow `link`,
// found in the folder `at`: in a sticky folder anyone may write to, only a link of the
// follower's own or of the folder's owner.
bool MayFollow(int at, const struct stat& link) {
  struct stat parent;
  return ::fstat(at, &parent) == 0 && TrustedInFolder(InfoOf(parent), link.st_uid, ::geteuid());
}

class PosixReadHandle : public ReadHandle {
 public:
  PosixReadHandle(Descriptor fd, const struct stat& opened) : fd_(std::move(fd)), opened_(InfoOf(opened)) {}

  OrReason<std::size_t> Read(std::span<std::uint8_t> data) override { return ReadSome(fd_.get(), data); }
  const FileInfo& Opened() const override { return opened_; }
  Reason ChangedSinceOpened() override {
    struct stat now;
    if (::fstat(fd_.get(), &now) != 0) return LastError();
    return InfoOf(now).identity == opened_.identity ? Reason::kNone : Reason::kChangedWhileRead;
  }
  Reason Rewind() override { return ::lseek(fd_.get(), 0, SEEK_SET) == 0 ? Reason::kNone : LastError(); }

 private:
  Descriptor fd_;
  FileInfo opened_;
};

// A fresh name: `prefix` and kUniqueSuffixLength letters.
std::string UniqueName(const std::string& prefix) {
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  static thread_local std::mt19937 random(std::random_device{}());
  std::uniform_int_distribution<std::size_t> pick(0, sizeof kLetters - 2);
  std::string name = prefix;
  for (std::size_t i = 0; i < FileSystem::kUniqueSuffixLength; ++i) name += kLetters[pick(random)];
  return name;
}

// Gives a nameless file the name `name` in the folder `at`.
Reason LinkNameless(int fd, int at, const std::string& name) {
  // Through /proc, which any user may do; AT_EMPTY_PATH would need CAP_DAC_READ_SEARCH.
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  return ::linkat(AT_FDCWD, self.c_str(), at, name.c_str(), AT_SYMLINK_FOLLOW) == 0 ? Reason::kNone : LastError();
}

class PosixWorkingFile : public WorkingFile {
 public:
  // `name` is the file's name in `folder`, or "" for a nameless file that is linked in
  // on Publish.
  PosixWorkingFile(Descriptor fd, Folder folder, std::string name, std::string prefix)
      : fd_(std::move(fd)), folder_(std::move(folder)), name_(std::move(name)), prefix_(std::move(prefix)) {}
  ~PosixWorkingFile() override {
    fd_.Reset();
    if (!published_ && !name_.empty()) ::unlinkat(FdOf(folder_), name_.c_str(), 0);
  }
  PosixWorkingFile(const PosixWorkingFile&) = delete;
  PosixWorkingFile& operator=(const PosixWorkingFile&) = delete;

  Reason Write(std::span<const std::uint8_t> data) override { return WriteAll(fd_.get(), data); }
  // The offset moved past the hole, and the size made to reach it, as a file ending in a
  // hole would otherwise stop short of it.
  Reason Skip(std::uint64_t bytes) override {
    const off_t end = ::lseek(fd_.get(), static_cast<off_t>(bytes), SEEK_CUR);
    return end >= 0 && ::ftruncate(fd_.get(), end) == 0 ? Reason::kNone : LastError();
  }
  Reason Flush() override { return ::fdatasync(fd_.get()) == 0 ? Reason::kNone : LastError(); }
  Reason SetPermissions(std::uint32_t mode) override {
    return ::fchmod(fd_.get(), static_cast<mode_t>(mode)) == 0 ? Reason::kNone : LastError();
  }
  Ownership SetOwner(std::uint32_t owner, std::uint32_t group) override {
    if (::fchown(fd_.get(), owner, group) == 0) return Ownership::Kept;
    if (::fchown(fd_.get(), owner, static_cast<gid_t>(-1)) == 0) return Ownership::OwnerOnly;
    return Ownership::NotKept;
  }
  Reason CopyAccessList(const Place& from) override {
    // The name in the folder held open, through /proc: no descriptor of its own, and a link
    // put there meanwhile is not followed (lgetxattr). Without /proc, the file opened
    // without following a link.
    const std::string self = "/proc/self/fd/" + std::to_string(FdOf(from.folder)) + "/" + from.name;
    Descriptor own;
    if (!ProcMounted()) {
      own = Descriptor(::openat(FdOf(from.folder), from.name.c_str(),
                                O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
      if (own.get() < 0) return LastError();
    }
    std::vector<char> list(256);
    ssize_t size;
    while ((size = own.get() >= 0 ? ::fgetxattr(own.get(), kAccessListAttribute, list.data(), list.size())
                                  : ::lgetxattr(self.c_str(), kAccessListAttribute, list.data(), list.size())) < 0 &&
           errno == ERANGE) {
      list.resize(list.size() * 4);
    }
    if (size < 0) {
      if (errno != ENODATA && errno != ENOTSUP) return LastError();
      // None to copy: the working file drops any list it inherited from a folder's default.
      return ::fremovexattr(fd_.get(), kAccessListAttribute) == 0 || errno == ENODATA || errno == ENOTSUP
                 ? Reason::kNone
                 : LastError();
    }
    return ::fsetxattr(fd_.get(), kAccessListAttribute, list.data(), static_cast<std::size_t>(size), 0) == 0
               ? Reason::kNone
               : LastError();
  }

  Reason Publish(const Place& target, bool replacing) override {
    const int at = FdOf(target.folder);
    Reached(RacePoint::kBeforePublish);
    if (name_.empty()) {
      // A new target takes the name at once; one that exists is replaced by a rename.
      const Reason linked = replacing ? FromErrno(EEXIST) : LinkNameless(fd_.get(), at, target.name);
      if (linked == Reason::kNone) return Close(target.name, target.name);
      if (linked != FromErrno(EEXIST)) return linked;
      for (int attempt = 0; attempt < 100 && name_.empty(); ++attempt) {
        std::string candidate = UniqueName(prefix_);
        const Reason named = LinkNameless(fd_.get(), at, candidate);
        if (named == Reason::kNone) {
          name_ = std::move(candidate);  // removed by the destructor should anything below fail
        } else if (named != FromErrno(EEXIST)) {
          return named;
        }
      }
      if (name_.empty()) return FromErrno(EEXIST);
    }
    if (Reason closed = Close(name_, target.name); closed != Reason::kNone) return closed;
    Reached(RacePoint::kLinkedUnrenamed);
    if (::renameat(at, name_.c_str(), at, target.name.c_str()) != 0) return LastError();
    published_ = true;
    return Reason::kNone;
  }

 private:
  // Closes the file, now named `named`; a failed close (a late write error on some file
  // systems) removes the name again.
  Reason Close(const std::string& named, const std::string& target) {
    if (::close(fd_.release()) == 0) {
      published_ = named == target;
      return Reason::kNone;
    }
    const Reason reason = LastError();
    ::unlinkat(FdOf(folder_), named.c_str(), 0);
    if (named == target) name_.clear();  // gone already
    return reason;
  }

  Descriptor fd_;
  Folder folder_;
  std::string name_;
  std::string prefix_;
  bool published_ = false;
};

}  // namespace

FileInfo InfoOf(const struct stat& st) {
  FileInfo info;
  info.kind = S_ISREG(st.st_mode)   ? FileInfo::Kind::File
              : S_ISDIR(st.st_mode) ? FileInfo::Kind::Folder
              : S_ISLNK(st.st_mode) ? FileInfo::Kind::Link
                                    : FileInfo::Kind::Other;
  info.identity = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
                   static_cast<std::uint64_t>(st.st_size), st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
  info.permissions = static_cast<std::uint32_t>(st.st_mode & 07777);
  info.owner = st.st_uid;
  info.group = st.st_gid;
  info.links = st.st_nlink;
  info.sparse = S_ISREG(st.st_mode) && st.st_blocks * 512 < st.st_size;
  return info;
}

OrReason<std::size_t> ReadSome(int fd, std::span<std::uint8_t> data) {
  for (;;) {
    const ssize_t got = ::read(fd, data.data(), data.size());
    if (got >= 0) return static_cast<std::size_t>(got);
    if (errno != EINTR) return LastError();
  }
}

Reason WriteAll(int fd, std::span<const std::uint8_t> data) {
  while (!data.empty()) {
    const ssize_t put = ::write(fd, data.data(), data.size());
    if (put < 0) {
      if (errno == EINTR) continue;
      return LastError();
    }
    data = data.subspan(static_cast<std::size_t>(put));
  }
  return Reason::kNone;
}

PosixFileSystem::PosixFileSystem() { std::signal(SIGXFSZ, SIG_IGN); }

namespace {

// A path being resolved: the folder reached, held open, its text for messages, and the
// names still to walk, last first.
struct Walk {
  Descriptor at;
  std::string walked;
  std::vector<std::string> pending;
  int links = 0;
};

// Replaces the link `part`, found in the folder reached, by its target's names; only
// where the kernel's protected_symlinks rule would follow it.
Reason FollowLink(Walk& walk, const std::string& part, const struct stat& link) {
  if (++walk.links > kMostLinks) return FromErrno(ELOOP);
  if (!MayFollow(walk.at.get(), link)) return Reason::kLinkNotFollowed;
  std::string target(static_cast<std::size_t>(link.st_size) + 1, '\0');
  const ssize_t size = ::readlinkat(walk.at.get(), part.c_str(), target.data(), target.size());
  if (size < 0) return LastError();
  if (static_cast<std::size_t>(size) >= target.size()) {  // changed since it was looked at: look again
    walk.pending.push_back(part);
    return Reason::kNone;
  }
  target.resize(static_cast<std::size_t>(size));
  if (!target.empty() && target.front() == '/') {
    walk.at = Descriptor(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
    walk.walked.assign(1, '/');  // not = "/": GCC 12 warns of a memcpy it imagines (-Wrestrict)
  }
  std::vector<std::string> more = NamesLastFirst(target);
  if (more.empty()) more.push_back(".");
  walk.pending.insert(walk.pending.end(), more.begin(), more.end());
  return Reason::kNone;
}

}  // namespace

OrReason<Place> PosixFileSystem::Locate(const std::string& path) {
  if (path.empty()) return FromErrno(ENOENT);
  const bool absolute = path.front() == '/';
  Walk walk{Descriptor(::open(absolute ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC)), absolute ? "/" : "",
            NamesLastFirst(path)};
  if (walk.at.get() < 0) return LastError();
  if (walk.pending.empty()) walk.pending.push_back(".");  // "/" names the root itself
  for (;;) {
    std::string part = std::move(walk.pending.back());
    walk.pending.pop_back();
    const bool last = walk.pending.empty();
    if (part == "." && !last) continue;
    struct stat st;
    if (::fstatat(walk.at.get(), part.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno != ENOENT || !last) return LastError();
      walk.pending.push_back(std::move(part));  // a file yet to be made
      break;
    }
    if (S_ISLNK(st.st_mode)) {
      if (Reason followed = FollowLink(walk, part, st); followed != Reason::kNone) return followed;
      continue;
    }
    if (last) {
      walk.pending.push_back(std::move(part));  // the name the place ends in
      break;
    }
    if (!S_ISDIR(st.st_mode)) return FromErrno(ENOTDIR);
    Descriptor next(::openat(walk.at.get(), part.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (next.get() < 0) {
      if (errno != ENOTDIR && errno != ELOOP) return LastError();
      if (++walk.links > kMostLinks) return FromErrno(ELOOP);
      walk.pending.push_back(std::move(part));  // swapped for a link since it was looked at: the rule decides again
      continue;
    }
    walk.at = std::move(next);
    walk.walked = JoinPath(walk.walked, part);
  }
  Place place{std::make_shared<PosixFolder>(std::move(walk.at), walk.walked.empty() ? "." : walk.walked),
              std::move(walk.pending.back())};
  Reached(RacePoint::kLocated);
  return place;
}

FileInfo PosixFileSystem::Stat(const Place& place) {
  struct stat st;
  if (::fstatat(FdOf(place.folder), place.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return {};
  return InfoOf(st);
}

FileInfo PosixFileSystem::StatFolder(const Folder& folder) {
  struct stat st;
  if (::fstat(FdOf(folder), &st) != 0) return {};
  return InfoOf(st);
}

OrReason<std::unique_ptr<ReadHandle>> PosixFileSystem::OpenForRead(const Place& place) {
  // O_NONBLOCK so that opening a FIFO with no writer returns at once; it is refused below
  // with everything else that is not a regular file. Linux ignores it for regular files.
  Descriptor fd(::openat(FdOf(place.folder), place.name.c_str(),
                         O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY));
  if (fd.get() < 0) {
    if (errno == ELOOP) return Reason::kSymbolicLink;
    return errno == ENXIO ? Reason::kNotAFile : LastError();  // a socket
  }
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) return LastError();
  if (S_ISDIR(st.st_mode)) return FromErrno(EISDIR);
  if (!S_ISREG(st.st_mode)) return Reason::kNotAFile;
  // Worth its call only where read-ahead has far to go: on 10,000 small files the call
  // alone cost more than it saved.
  if (st.st_size >= 1024 * 1024) ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
  Reached(RacePoint::kSourceOpened);
  return std::unique_ptr<ReadHandle>(std::make_unique<PosixReadHandle>(std::move(fd), st));
}

OrReason<std::unique_ptr<WorkingFile>> PosixFileSystem::CreateWorkingFile(const Folder& folder,
                                                                         const std::string& name_prefix) {
  const int at = FdOf(folder);
  // A nameless file is only of use where /proc can give it a name later.
  if (ProcMounted()) {
    Descriptor fd(::openat(at, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
    if (fd.get() >= 0) {
      return std::unique_ptr<WorkingFile>(std::make_unique<PosixWorkingFile>(std::move(fd), folder, "", name_prefix));
    }
    // Refusals that only say this file system (or kernel) has no nameless files.
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return LastError();
  }
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = UniqueName(name_prefix);
    Descriptor fd(::openat(at, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0600));
    if (fd.get() >= 0) {
      return std::unique_ptr<WorkingFile>(
          std::make_unique<PosixWorkingFile>(std::move(fd), folder, std::move(name), name_prefix));
    }
    if (errno != EEXIST) return LastError();
  }
  return FromErrno(EEXIST);
}

OrReason<Folder> PosixFileSystem::OpenFolder(const Place& place) {
  return OpenFolderAt(FdOf(place.folder), place.name, place.Path());
}

OrReason<Folder> PosixFileSystem::MakeFolder(const Place& place, std::uint32_t permissions) {
  if (::mkdirat(FdOf(place.folder), place.name.c_str(), static_cast<mode_t>(permissions)) != 0 && errno != EEXIST) {
    return LastError();
  }
  return OpenFolder(place);
}

Reason PosixFileSystem::List(const Folder& folder, std::vector<FolderEntry>& entries) {
  const int fd = ::openat(FdOf(folder), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return LastError();
  std::unique_ptr<DIR, int (*)(DIR*)> listing(::fdopendir(fd), ::closedir);
  if (!listing) {
    const Reason reason = LastError();
    ::close(fd);
    return reason;
  }
  entries.clear();
  errno = 0;
  while (const dirent* entry = ::readdir(listing.get())) {
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    FileInfo::Kind kind = entry->d_type == DT_REG   ? FileInfo::Kind::File
                          : entry->d_type == DT_DIR ? FileInfo::Kind::Folder
                          : entry->d_type == DT_LNK ? FileInfo::Kind::Link
                                                    : FileInfo::Kind::Other;
    if (entry->d_type == DT_UNKNOWN) {  // some file systems leave the type to a stat
      struct stat st;
      if (::fstatat(fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0) kind = InfoOf(st).kind;
    }
    entries.push_back({std::move(name), kind});
    errno = 0;
  }
  if (errno != 0) return LastError();
  std::sort(entries.begin(), entries.end(), [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
  return Reason::kNone;
}

Reason PosixFileSystem::Remove(const Place& place) {
  return ::unlinkat(FdOf(place.folder), place.name.c_str(), 0) == 0 ? Reason::kNone : LastError();
}

Reason PosixFileSystem::SyncFileSystem(const Folder& folder) {
  // syncfs takes no O_PATH descriptor: the folder itself, opened for reading.
  Descriptor opened(::openat(FdOf(folder), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (opened.get() < 0) return LastError();
  return ::syncfs(opened.get()) == 0 ? Reason::kNone : LastError();
}

// Read once: the program never changes its umask, and reading it cost an open, a read
// and a close for every new output of a batch.
std::uint32_t PosixFileSystem::Umask() {
  static const std::uint32_t umask = [] {
    // /proc tells it without changing it; umask() itself can only be read by setting it,
    // which another thread creating a file at that moment would feel.
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
      if (line.rfind("Umask:", 0) == 0) return static_cast<std::uint32_t>(std::stoul(line.substr(6), nullptr, 8));
    }
    mode_t mask = ::umask(022);
    ::umask(mask);
    return static_cast<std::uint32_t>(mask);
  }();
  return umask;
}

// Read once: the program never changes the user it acts as.
std::uint32_t PosixFileSystem::UserId() {
  static const std::uint32_t user = ::geteuid();
  return user;
}

}  // namespace tarnwhistle::platform
