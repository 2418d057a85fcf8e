#pragma once

#include <sys/stat.h>

#include "file_system.h"

namespace tarnwhistle::platform {

// What stat() told, as this program keeps it.
FileInfo InfoOf(const struct stat& st);

// read() and write() on a descriptor, carried on past interruptions by a signal.
OrReason<std::size_t> ReadSome(int fd, std::span<std::uint8_t> data);
Reason WriteAll(int fd, std::span<const std::uint8_t> data);

// The real disk, through POSIX and Linux calls on folder descriptors. Paths are byte
// strings in the local encoding.
class PosixFileSystem : public FileSystem {
 public:
  // Also sets SIGXFSZ to be ignored, for the whole process: a write past the process's
  // file-size limit (ulimit -f) then fails like any other failed write, and the output
  // is cleaned up and the failure reported, instead of the process being killed.
  PosixFileSystem();

  OrReason<Place> Locate(const std::string& path) override;
  FileInfo Stat(const Place& place) override;
  FileInfo StatFolder(const Folder& folder) override;
  OrReason<std::unique_ptr<ReadHandle>> OpenForRead(const Place& place) override;
  // A nameless file (O_TMPFILE) where the file system has them, which no signal, not even
  // SIGKILL, can leave behind; else a hidden file with a fresh name, mode 0600.
  OrReason<std::unique_ptr<WorkingFile>> CreateWorkingFile(const Folder& folder,
                                                           const std::string& name_prefix) override;
  OrReason<Folder> OpenFolder(const Place& place) override;
  OrReason<Folder> MakeFolder(const Place& place, std::uint32_t permissions) override;
  Reason List(const Folder& folder, std::vector<FolderEntry>& entries) override;
  Reason Remove(const Place& place) override;
  Reason SyncFileSystem(const Folder& folder) override;
  std::uint32_t Umask() override;
  std::uint32_t UserId() override;
};

}  // namespace tarnwhistle::platform
