#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "file_system.h"

namespace tarnwhistle::platform {

// The new content of an output file while it is being written. It goes into a working
// file that no one else can open and takes the target's place in one step on Commit(),
// so the target is either replaced whole or left exactly as it was. A replacement
// dropped before Commit() leaves nothing behind.
//
// When the target is a symbolic link, the file at the end of the link is replaced and
// the link stays, but only where the kernel would follow the link itself. An existing
// target keeps its owner, group, permission bits and access list; a new one gets the
// source's permission bits less the umask, as cp gives them.
// True for a name this program gives its working files: never a source of its own.
bool IsWorkingFileName(std::string_view name);

class ReplacementFile {
 public:
  // Returns nullptr when the replacement cannot be started: the target's folder does not
  // exist or cannot be written, the target exists and is not a regular file, a link on
  // the way may not be followed, or the target's owner cannot be kept.
  static std::unique_ptr<ReplacementFile> Create(FileSystem& fs, const std::string& target,
                                                 std::uint32_t source_permissions);

  ReplacementFile(const ReplacementFile&) = delete;
  ReplacementFile& operator=(const ReplacementFile&) = delete;

  WriteHandle& Handle() { return *handle_; }

  // Gives the file its final permissions and puts it in the target's place. When it
  // replaces an existing file, the new bytes are first made durable on the disk, so that
  // a crash right after cannot leave an empty file where the old one was. (A new target
  // has no old content to lose, and skips that wait: on a large file it costs several
  // times the conversion.) On failure the target is as it was and the new file is gone.
  bool Commit();

 private:
  ReplacementFile(std::unique_ptr<WriteHandle> handle, std::string target, bool replaces_existing,
                  std::uint32_t permissions);

  std::unique_ptr<WriteHandle> handle_;
  std::string target_;
  bool replaces_existing_;
  std::uint32_t permissions_;  // given only at the end: a write by a user who is not root clears setuid
};

}  // namespace tarnwhistle::platform
