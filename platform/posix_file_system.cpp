#include "posix_file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <random>
#include <vector>

namespace tarnwhistle::platform {
namespace {

namespace fs = std::filesystem;

// The attribute the kernel keeps a POSIX access list in; read and written whole, so
// that no libacl is needed.
constexpr char kAccessListAttribute[] = "system.posix_acl_access";

class PosixReadHandle : public ReadHandle {
 public:
  PosixReadHandle(int fd, const struct stat& opened) : fd_(fd), opened_(opened) {}
  ~PosixReadHandle() override { ::close(fd_); }
  PosixReadHandle(const PosixReadHandle&) = delete;
  PosixReadHandle& operator=(const PosixReadHandle&) = delete;

  std::ptrdiff_t Read(std::uint8_t* data, std::size_t size) override { return ReadSome(fd_, data, size); }
  std::uint64_t Size() const override { return static_cast<std::uint64_t>(opened_.st_size); }
  std::uint32_t Permissions() const override { return static_cast<std::uint32_t>(opened_.st_mode & 07777); }
  bool ChangedSinceOpened() override {
    struct stat now;
    return ::fstat(fd_, &now) != 0 || now.st_size != opened_.st_size ||
           now.st_mtim.tv_sec != opened_.st_mtim.tv_sec || now.st_mtim.tv_nsec != opened_.st_mtim.tv_nsec;
  }

 private:
  int fd_;
  struct stat opened_;
};

// A fresh name for a file in `directory`: `prefix` and kUniqueSuffixLength letters.
std::string UniqueName(const std::string& directory, const std::string& prefix) {
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  static thread_local std::mt19937 random(std::random_device{}());
  std::uniform_int_distribution<std::size_t> pick(0, sizeof kLetters - 2);
  std::string name = prefix;
  for (std::size_t i = 0; i < FileSystem::kUniqueSuffixLength; ++i) name += kLetters[pick(random)];
  return (fs::path(directory) / name).string();
}

// Gives a nameless file the name `path`; false with errno set when it cannot.
bool LinkNameless(int fd, const std::string& path) {
  // Through /proc, which any user may do; AT_EMPTY_PATH would need CAP_DAC_READ_SEARCH.
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  return ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0;
}

class PosixWriteHandle : public WriteHandle {
 public:
  // `path` is the file's name, or "" for a nameless file that will be linked into
  // `directory` on Publish.
  PosixWriteHandle(int fd, std::string path, std::string directory, std::string prefix)
      : fd_(fd), path_(std::move(path)), directory_(std::move(directory)), prefix_(std::move(prefix)) {}
  ~PosixWriteHandle() override {
    if (fd_ >= 0) ::close(fd_);
    if (!published_ && !path_.empty()) ::unlink(path_.c_str());
  }
  PosixWriteHandle(const PosixWriteHandle&) = delete;
  PosixWriteHandle& operator=(const PosixWriteHandle&) = delete;

  bool Write(const std::uint8_t* data, std::size_t size) override { return WriteAll(fd_, data, size); }
  bool Flush() override { return ::fdatasync(fd_) == 0; }
  bool SetPermissions(std::uint32_t mode) override { return ::fchmod(fd_, static_cast<mode_t>(mode)) == 0; }
  Ownership SetOwner(std::uint32_t owner, std::uint32_t group) override {
    if (::fchown(fd_, owner, group) == 0) return Ownership::Kept;
    if (::fchown(fd_, owner, static_cast<gid_t>(-1)) == 0) return Ownership::OwnerOnly;
    return Ownership::NotKept;
  }
  bool CopyAccessList(const std::string& path) override {
    std::vector<char> list(256);
    ssize_t size;
    while ((size = ::getxattr(path.c_str(), kAccessListAttribute, list.data(), list.size())) < 0 && errno == ERANGE) {
      list.resize(list.size() * 4);
    }
    if (size < 0) {
      if (errno != ENODATA && errno != ENOTSUP) return false;
      // None to copy: the working file drops any list it inherited from a folder's default.
      return ::fremovexattr(fd_, kAccessListAttribute) == 0 || errno == ENODATA || errno == ENOTSUP;
    }
    return ::fsetxattr(fd_, kAccessListAttribute, list.data(), static_cast<std::size_t>(size), 0) == 0;
  }

  bool Publish(const std::string& target) override {
    std::string named = path_;
    if (named.empty()) {
      // A new target takes the name at once; one that exists is replaced by a rename.
      if (LinkNameless(fd_, target)) return Close(target, target);
      if (errno != EEXIST) return false;
      for (int attempt = 0; attempt < 100 && named.empty(); ++attempt) {
        std::string candidate = UniqueName(directory_, prefix_);
        if (LinkNameless(fd_, candidate)) {
          named = candidate;
        } else if (errno != EEXIST) {
          return false;
        }
      }
      if (named.empty()) return false;
      path_ = named;  // removed by the destructor should anything below fail
    }
    if (!Close(named, target)) return false;
    if (::rename(named.c_str(), target.c_str()) != 0) return false;
    published_ = true;
    return true;
  }

 private:
  // Closes the file, now named `named`; a failed close (a late write error on some
  // file systems) removes the name again.
  bool Close(const std::string& named, const std::string& target) {
    int fd = fd_;
    fd_ = -1;
    if (::close(fd) == 0) {
      published_ = named == target;
      return true;
    }
    ::unlink(named.c_str());
    return false;
  }

  int fd_;
  std::string path_;
  std::string directory_;
  std::string prefix_;
  bool published_ = false;
};

// Whether the kernel's protected_symlinks rule lets the euid follow `link`, found in
// `folder`: in a sticky folder anyone may write to, only a link of the follower's own or
// of the folder's owner.
bool MayFollow(const fs::path& folder, const struct stat& link) {
  if (link.st_uid == ::geteuid()) return true;
  struct stat parent;
  if (::stat(folder.empty() ? "." : folder.c_str(), &parent) != 0) return false;
  const bool shared_sticky = (parent.st_mode & S_ISVTX) != 0 && (parent.st_mode & S_IWOTH) != 0;
  return !shared_sticky || parent.st_uid == link.st_uid;
}

}  // namespace

std::ptrdiff_t ReadSome(int fd, std::uint8_t* data, std::size_t size) {
  for (;;) {
    ssize_t got = ::read(fd, data, size);
    if (got >= 0 || errno != EINTR) return got;
  }
}

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    ssize_t put = ::write(fd, data, size);
    if (put < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += put;
    size -= static_cast<std::size_t>(put);
  }
  return true;
}

PosixFileSystem::PosixFileSystem() { std::signal(SIGXFSZ, SIG_IGN); }

std::unique_ptr<ReadHandle> PosixFileSystem::OpenForRead(const std::string& path) {
  // O_NONBLOCK so that opening a FIFO with no writer returns at once; it is refused
  // below with everything else that is not a regular file.
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return nullptr;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  // O_NONBLOCK stays: Linux ignores it for regular files, and clearing it cost two
  // calls a file on a batch of small ones.
  // Worth its call only where read-ahead has far to go: on 10,000 small files the call
  // alone cost more than it saved.
  if (st.st_size >= 1024 * 1024) ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  return std::make_unique<PosixReadHandle>(fd, st);
}

std::unique_ptr<WriteHandle> PosixFileSystem::CreateWorkingFile(const std::string& directory,
                                                                const std::string& name_prefix) {
  const std::string folder = directory.empty() ? "." : directory;
  // A nameless file is only of use where /proc can give it a name later.
  static const bool proc_mounted = ::access("/proc/self/fd", X_OK) == 0;
  if (proc_mounted) {
    int fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd >= 0) return std::make_unique<PosixWriteHandle>(fd, "", directory, name_prefix);
    // Refusals that only say this file system (or kernel) has no nameless files.
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return nullptr;
  }
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string path = UniqueName(directory, name_prefix);
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0600);
    if (fd >= 0) return std::make_unique<PosixWriteHandle>(fd, path, directory, name_prefix);
    if (errno != EEXIST) return nullptr;
  }
  return nullptr;
}

FileInfo PosixFileSystem::Stat(const std::string& path) {
  FileInfo info;
  struct stat st;
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return info;
  info.exists = true;
  info.regular = S_ISREG(st.st_mode);
  info.device = static_cast<std::uint64_t>(st.st_dev);
  info.inode = static_cast<std::uint64_t>(st.st_ino);
  info.permissions = static_cast<std::uint32_t>(st.st_mode & 07777);
  info.owner = st.st_uid;
  info.group = st.st_gid;
  return info;
}

std::string PosixFileSystem::ResolveLinks(const std::string& path) {
  if (path.empty()) return {};
  fs::path done = path.front() == '/' ? "/" : "";  // a prefix with no link in it
  std::vector<fs::path> pending;                   // the components still to walk, last first
  const auto push = [&pending](const fs::path& more) {
    const fs::path relative = more.relative_path();
    std::vector<fs::path> parts(relative.begin(), relative.end());
    pending.insert(pending.end(), parts.rbegin(), parts.rend());
  };
  push(path);
  for (int links = 0; !pending.empty();) {
    const fs::path part = pending.back();
    pending.pop_back();
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      // `done` has no link in it, so its parent is its text's parent.
      if (done.empty() || done.filename() == "..") {
        done /= part;
      } else if (done != "/") {
        done = done.parent_path();
      }
      continue;
    }
    const fs::path next = done / part;
    struct stat st;
    if (::lstat(next.c_str(), &st) != 0) {  // missing or unreachable: the rest as it stands
      done = next;
      for (auto rest = pending.rbegin(); rest != pending.rend(); ++rest) done /= *rest;
      return done.string();
    }
    if (!S_ISLNK(st.st_mode)) {
      done = next;
      continue;
    }
    if (++links > 40 || !MayFollow(done, st)) return {};
    std::error_code error;
    const fs::path target = fs::read_symlink(next, error);
    if (error) return {};
    if (target.is_absolute()) done = "/";
    push(target);
  }
  return done.string();
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

}  // namespace tarnwhistle::platform
