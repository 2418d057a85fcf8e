#pragma once

#include <cstdint>
#include <memory>
#include <stop_token>
#include <string>
#include <string_view>

#include "file_system.h"

namespace tarnwhistle::platform {

// What a name met in a folder is to this program. Its working files are named
// ".NAME.tarnwhistle-BOOT-PID-START-XXXXXXXX": the boot, the process and the moment it
// started, so that a later run can tell one whose process is gone (killed between
// linking and renaming, or on a file system without nameless files) and remove it.
enum class WorkingFileState {
  NotOurs,    // a user's file, whatever it is called
  InUse,      // a working file of a process that is still running
  Abandoned,  // a working file of a process of this boot that is gone
  OtherBoot,  // a working file of another boot, or another machine sharing the folder
};
WorkingFileState WorkingFileStateOf(std::string_view name);

// ".NAME.tarnwhistle-BOOT-PID-START-": the name of a working file of this process for a
// target called `name`, without its last, random part (kUniqueSuffixLength letters).
std::string WorkingFilePrefix(const std::string& name);

// The new content of an output file while it is being written. It goes into a working
// file that no one else can open and takes the target's place in one step on Commit(),
// so the target is either replaced whole or left exactly as it was. A replacement
// dropped before Commit() leaves nothing behind.
//
// An existing target keeps its owner, group, permission bits and access list; a new one
// gets the source's permission bits less the umask, as cp gives them.
class ReplacementFile {
 public:
  // Starts the replacement of `target`, a place Locate() gave. Refuses a target that is
  // not a regular file (a folder, a device, a link put there since it was located),
  // another user's file in a sticky folder anyone may write to (the kernel's
  // protected_regular rule, whatever the system's setting), and one whose owner cannot
  // be kept.
  static OrReason<std::unique_ptr<ReplacementFile>> Create(FileSystem& fs, const Place& target,
                                                           std::uint32_t source_permissions);

  ReplacementFile(const ReplacementFile&) = delete;
  ReplacementFile& operator=(const ReplacementFile&) = delete;

  ByteSink& Sink() { return *file_; }
  WorkingFile& Working() { return *file_; }
  bool ReplacesExisting() const { return replaces_existing_; }
  const Place& Target() const { return target_; }

  // Gives the file its final permissions and, when it replaces an existing file, makes
  // its bytes durable on the disk, so that a crash right after the rename cannot leave
  // an empty file where the old one was. (A new target has no old content to lose, and
  // skips that wait: on a large file it costs several times the conversion.)
  Reason Prepare(bool flush);
  // Puts the file in the target's place. On failure the target is as it was and the new
  // file is gone.
  Reason Publish();
  // Prepare, then Publish unless `stop` was requested meanwhile (kStopped): a stop that
  // comes during the flush still leaves the target as it was.
  Reason Commit(const std::stop_token& stop = {});

 private:
  ReplacementFile(std::unique_ptr<WorkingFile> file, Place target, bool replaces_existing,
                  std::uint32_t permissions);

  std::unique_ptr<WorkingFile> file_;
  Place target_;
  bool replaces_existing_;
  std::uint32_t permissions_;  // given only at the end: a write by a user who is not root clears setuid
};

}  // namespace tarnwhistle::platform
