#pragma once

#include "file_system.h"

namespace tarnwhistle::platform {

// The real disk, through POSIX calls. Paths are byte strings in the local encoding.
class PosixFileSystem : public FileSystem {
 public:
  // Also sets SIGXFSZ to be ignored, for the whole process: a write past the process's
  // file-size limit (ulimit -f) then fails like any other failed write, and the output
  // is cleaned up and the failure reported, instead of the process being killed with a
  // half-written working file left beside the output.
  PosixFileSystem();

  std::unique_ptr<ReadHandle> OpenForRead(const std::string& path) override;
  std::unique_ptr<WriteHandle> CreateUnique(const std::string& directory, const std::string& name_prefix,
                                            std::string& created_path) override;
  bool Rename(const std::string& from, const std::string& to) override;
  bool Remove(const std::string& path) override;
  FileInfo Stat(const std::string& path) override;
  std::string ResolveLinks(const std::string& path) override;
};

}  // namespace tarnwhistle::platform
