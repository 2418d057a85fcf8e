#pragma once

// Folders, for the work on many files at once: what a folder holds, and making the
// folders an output tree needs. Beside FileSystem rather than in it, so that the
// single-file path keeps its small interface.

#include <string>
#include <string_view>
#include <vector>

namespace tarnwhistle::platform {

struct FolderEntry {
  enum class Kind { File, Folder, Link, Other };
  std::string name;
  Kind kind = Kind::Other;  // as the entry itself is, a symbolic link not followed
};

class Folders {
 public:
  virtual ~Folders() = default;
  // The entries of the folder `path` other than "." and "..", sorted by name. False
  // when the folder cannot be read.
  virtual bool List(const std::string& path, std::vector<FolderEntry>& entries) = 0;
  // Makes the folder `path` and any missing folders above it. True when it is a folder
  // afterwards.
  virtual bool Create(const std::string& path) = 0;
};

class PosixFolders : public Folders {
 public:
  bool List(const std::string& path, std::vector<FolderEntry>& entries) override;
  bool Create(const std::string& path) override;
};

// True when `name` matches one of the shell patterns (*, ?, [...]); an empty list
// matches every name. Case counts, as it does for the file system.
bool NameMatches(std::string_view name, const std::vector<std::string>& patterns);

}  // namespace tarnwhistle::platform
