#pragma once

#include "file_system.h"

namespace tarnwhistle::platform {

// read() and write() on a descriptor, carried on past interruptions by a signal: Read
// returns what one read() gave (-1 on failure), WriteAll false unless all was written.
std::ptrdiff_t ReadSome(int fd, std::uint8_t* data, std::size_t size);
bool WriteAll(int fd, const std::uint8_t* data, std::size_t size);

// The real disk, through POSIX and Linux calls. Paths are byte strings in the local
// encoding.
class PosixFileSystem : public FileSystem {
 public:
  // Also sets SIGXFSZ to be ignored, for the whole process: a write past the process's
  // file-size limit (ulimit -f) then fails like any other failed write, and the output
  // is cleaned up and the failure reported, instead of the process being killed.
  PosixFileSystem();

  std::unique_ptr<ReadHandle> OpenForRead(const std::string& path) override;
  // A nameless file (O_TMPFILE) where the file system has them, which no signal, not even
  // SIGKILL, can leave behind; else a hidden file with a fresh name, mode 0600.
  std::unique_ptr<WriteHandle> CreateWorkingFile(const std::string& directory, const std::string& name_prefix) override;
  FileInfo Stat(const std::string& path) override;
  // Walks `path` a component at a time, as the kernel does, so that a link anywhere on
  // it (in a folder as well as at the end) meets the protected_symlinks rule, whether or
  // not the system has that rule switched on.
  std::string ResolveLinks(const std::string& path) override;
  std::uint32_t Umask() override;
};

}  // namespace tarnwhistle::platform
