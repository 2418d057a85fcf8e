// PosixFileSystem's working files: written unnamed or hidden, then named in one step.
#include "posix_file_system.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <ctime>
#include <random>
#include <vector>

#include "posix_file_system_internal.h"

namespace tarnwhistle::platform {
namespace {

// The attribute the kernel keeps a POSIX access list in; read and written whole, so
// that no libacl is needed.
constexpr char kAccessListAttribute[] = "system.posix_acl_access";

// Whether /proc is there to reach a descriptor's file by a name (a chroot or a container
// may have none). Asked each time: one call, beside the several a file costs anyway.
bool ProcMounted() { return ::access("/proc/self/fd", X_OK) == 0; }

// A fresh name: `prefix` and kUniqueSuffixLength letters.
std::string UniqueName(const std::string& prefix) {
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  // Seeded by getrandom(), which never fails once the system has booted; std::random_device
  // throws where it finds no source (a chroot without /dev/urandom on an old library).
  static thread_local std::mt19937 random([] {
    std::uint32_t seed = 0;
    if (::getrandom(&seed, sizeof seed, GRND_NONBLOCK) != sizeof seed) {
      seed = static_cast<std::uint32_t>(::getpid()) ^ static_cast<std::uint32_t>(::time(nullptr));
    }
    return seed;
  }());
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
  Reason SetModified(std::int64_t seconds, std::int64_t nanoseconds) override {
    const struct timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(seconds), static_cast<long>(nanoseconds)}};
    return ::futimens(fd_.get(), times) == 0 ? Reason::kNone : LastError();
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

  Reason Name(const Place& target, bool replacing) override {
    const int at = FdOf(target.folder);
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
    return Close(name_, target.name);
  }

  Reason Rename(const Place& target) override {
    if (published_) return Reason::kNone;  // named as the target already
    if (name_.empty()) return FromErrno(EBADF);
    const int at = FdOf(target.folder);
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

}  // namespace tarnwhistle::platform
