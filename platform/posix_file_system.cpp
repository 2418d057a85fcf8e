// PosixFileSystem: stat, reads and writes on descriptors, folders opened, made, listed.
#include "posix_file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <csignal>
#include <fstream>

#include "posix_file_system_internal.h"

namespace tarnwhistle::platform {
namespace {

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

}  // namespace

FileInfo InfoOf(const struct stat& st) {
  FileInfo info;
  info.kind = S_ISREG(st.st_mode)   ? FileInfo::Kind::File
              : S_ISDIR(st.st_mode) ? FileInfo::Kind::Folder
              : S_ISLNK(st.st_mode) ? FileInfo::Kind::Link
                                    : FileInfo::Kind::Other;
  info.identity = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
                   static_cast<std::uint64_t>(st.st_size), st.st_mtim.tv_sec, st.st_mtim.tv_nsec,
                   st.st_ctim.tv_sec, st.st_ctim.tv_nsec};
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
      if (line.rfind("Umask:", 0) != 0) continue;
      const std::size_t digits = line.find_first_not_of(" \t", 6);
      std::uint32_t mask = 0;
      if (digits != std::string::npos &&
          std::from_chars(line.data() + digits, line.data() + line.size(), mask, 8).ec == std::errc()) {
        return mask & 0777;
      }
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
