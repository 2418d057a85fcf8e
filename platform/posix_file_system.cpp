#include "posix_file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <random>

#include "replacement_file.h"

namespace tarnwhistle::platform {
namespace {

class PosixReadHandle : public ReadHandle {
 public:
  PosixReadHandle(int fd, std::uint64_t size) : fd_(fd), size_(size) {}
  ~PosixReadHandle() override { ::close(fd_); }
  PosixReadHandle(const PosixReadHandle&) = delete;
  PosixReadHandle& operator=(const PosixReadHandle&) = delete;

  std::ptrdiff_t Read(std::uint8_t* data, std::size_t size) override {
    for (;;) {
      ssize_t got = ::read(fd_, data, size);
      if (got >= 0 || errno != EINTR) return got;
    }
  }
  std::uint64_t Size() const override { return size_; }

 private:
  int fd_;
  std::uint64_t size_;
};

class PosixWriteHandle : public WriteHandle {
 public:
  explicit PosixWriteHandle(int fd) : fd_(fd) {}
  ~PosixWriteHandle() override {
    if (fd_ >= 0) ::close(fd_);
  }
  PosixWriteHandle(const PosixWriteHandle&) = delete;
  PosixWriteHandle& operator=(const PosixWriteHandle&) = delete;

  bool Write(const std::uint8_t* data, std::size_t size) override {
    while (size > 0) {
      ssize_t put = ::write(fd_, data, size);
      if (put < 0) {
        if (errno == EINTR) continue;
        return false;
      }
      data += put;
      size -= static_cast<std::size_t>(put);
    }
    return true;
  }
  bool Flush() override { return ::fdatasync(fd_) == 0; }
  bool SetPermissions(std::uint32_t mode) override { return ::fchmod(fd_, static_cast<mode_t>(mode)) == 0; }
  bool Close() override {
    int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

std::string JoinPath(const std::string& directory, const std::string& name) {
  if (directory.empty()) return name;
  if (directory.back() == '/') return directory + name;
  return directory + "/" + name;
}

}  // namespace

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
  int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  // Worth its call only where read-ahead has far to go: on 10,000 small files the call
  // alone cost more than it saved.
  if (st.st_size >= 1024 * 1024) ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  return std::make_unique<PosixReadHandle>(fd, static_cast<std::uint64_t>(st.st_size));
}

std::unique_ptr<WriteHandle> PosixFileSystem::CreateUnique(const std::string& directory,
                                                           const std::string& name_prefix,
                                                           std::string& created_path) {
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  // One generator per thread, seeded once: seeding from the system's random source on
  // every call took a sixth of the time of a batch of small files.
  thread_local std::mt19937 random{std::random_device{}()};
  std::uniform_int_distribution<std::size_t> pick(0, sizeof kLetters - 2);
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = name_prefix;
    for (std::size_t i = 0; i < kUniqueSuffixLength; ++i) name += kLetters[pick(random)];
    std::string path = JoinPath(directory, name);
    // 0666 less the umask: the permissions any new file of the user's would get.
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd >= 0) {
      created_path = path;
      return std::make_unique<PosixWriteHandle>(fd);
    }
    if (errno != EEXIST) return nullptr;
  }
  return nullptr;
}

bool PosixFileSystem::Rename(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str()) == 0;
}

bool PosixFileSystem::Remove(const std::string& path) { return ::unlink(path.c_str()) == 0; }

FileInfo PosixFileSystem::Stat(const std::string& path) {
  FileInfo info;
  struct stat st;
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return info;
  info.exists = true;
  info.regular = S_ISREG(st.st_mode);
  info.device = static_cast<std::uint64_t>(st.st_dev);
  info.inode = static_cast<std::uint64_t>(st.st_ino);
  info.permissions = static_cast<std::uint32_t>(st.st_mode & 07777);
  return info;
}

std::string PosixFileSystem::ResolveLinks(const std::string& path) {
  std::string current = path;
  for (int hop = 0; hop < 40; ++hop) {
    struct stat st;
    if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
    std::string target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 4096) + 1, '\0');
    ssize_t length = ::readlink(current.c_str(), target.data(), target.size());
    if (length < 0 || static_cast<std::size_t>(length) >= target.size()) return current;
    target.resize(static_cast<std::size_t>(length));
    current = target.front() == '/' ? target : JoinPath(DirectoryOf(current), target);
  }
  return {};  // a loop of links names no file
}

}  // namespace tarnwhistle::platform
