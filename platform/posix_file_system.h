#pragma once

#include "file_system.h"

namespace tarnwhistle::platform {

// The real disk, through POSIX calls. Paths are byte strings in the local encoding.
class PosixFileSystem : public FileSystem {
 public:
  std::unique_ptr<ReadHandle> OpenForRead(const std::string& path) override;
  std::unique_ptr<WriteHandle> CreateUnique(const std::string& directory, const std::string& name_prefix,
                                            std::string& created_path) override;
  bool Rename(const std::string& from, const std::string& to) override;
  bool Remove(const std::string& path) override;
  FileInfo Stat(const std::string& path) override;
  std::string ResolveLinks(const std::string& path) override;
};

}  // namespace tarnwhistle::platform
