#pragma once

#include <memory>
#include <string>

#include "file_system.h"

namespace tarnwhistle::platform {

// The new content of an output file while it is being written. It goes into a fresh
// file beside the target and takes the target's place in one rename on Commit(), so
// the target is either replaced whole or left exactly as it was. A replacement that is
// dropped before Commit() removes its file.
//
// When the target is a symbolic link, the file at the end of the link is replaced and
// the link stays. An existing target keeps its permission bits.
class ReplacementFile {
 public:
  // Returns nullptr when the replacement cannot be started: the target's folder does not
  // exist or cannot be written, or the target exists and is not a regular file.
  static std::unique_ptr<ReplacementFile> Create(FileSystem& fs, const std::string& target);

  ~ReplacementFile();
  ReplacementFile(const ReplacementFile&) = delete;
  ReplacementFile& operator=(const ReplacementFile&) = delete;

  WriteHandle& Handle() { return *handle_; }

  // Closes the file and puts it in the target's place. When it replaces an existing
  // file, the new bytes are first made durable on the disk, so that a crash right after
  // cannot leave an empty file where the old one was. (A new target has no old content
  // to lose, and skips that wait: on a large file it costs several times the conversion.)
  // On failure the target is as it was and the new file is gone.
  bool Commit();

 private:
  ReplacementFile(FileSystem& fs, std::unique_ptr<WriteHandle> handle, std::string working_path,
                  std::string target, bool replaces_existing);

  FileSystem& fs_;
  std::unique_ptr<WriteHandle> handle_;
  std::string working_path_;
  std::string target_;
  bool replaces_existing_;
  bool committed_ = false;
};

// Splits a path at its last "/": DirectoryOf("a/b.txt") is "a", of "/b.txt" is "/",
// of "b.txt" is "" (the current folder).
std::string DirectoryOf(const std::string& path);
std::string NameOf(const std::string& path);

}  // namespace tarnwhistle::platform
