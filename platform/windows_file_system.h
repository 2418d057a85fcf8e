#pragma once

#include <windows.h>

#include <memory>

#include "file_system.h"

namespace tarnwhistle::platform {

// What a handle's file is, as this program keeps it: the volume's serial number and the
// file's index stand for device and inode; permissions are 0444 for a read-only file,
// 0666 for another, 0777 for a folder; owner and group are 0 (Windows has SIDs and access
// lists instead, which a replacement copies whole).
FileInfo InfoOfHandle(HANDLE handle);

// The real disk of Windows. Paths are UTF-8 here and UTF-16 at the system, with "\\?\"
// put before them so that long paths and names Windows would otherwise rewrite reach the
// disk as they are; "\" and "/" both separate names. A path is walked a name at a time
// from a folder held open with the native NtCreateFile, each name relative to the folder
// before it (its RootDirectory), the way the POSIX layer uses openat. Names are compared
// as the file system compares them (case-insensitively on NTFS and FAT).
//
// Symbolic links and junctions are links: a walk never follows one, and a path's are
// followed by reading their target from the link itself, held open. Windows has no
// sticky folders anyone may write to, so no link on a path is refused.
class WindowsFileSystem : public FileSystem {
 public:
  WindowsFileSystem();
  ~WindowsFileSystem() override;

  OrReason<Place> Locate(const std::string& path) override;
  FileInfo Stat(const Place& place) override;
  FileInfo StatFolder(const Folder& folder) override;
  OrReason<std::unique_ptr<ReadHandle>> OpenForRead(const Place& place) override;
  // A hidden file with a fresh name, shared with no one, in the target's folder.
  OrReason<std::unique_ptr<WorkingFile>> CreateWorkingFile(const Folder& folder,
                                                           const std::string& name_prefix) override;
  OrReason<Folder> OpenFolder(const Place& place) override;
  OrReason<Folder> MakeFolder(const Place& place, std::uint32_t permissions) override;
  Reason List(const Folder& folder, std::vector<FolderEntry>& entries) override;
  Reason Remove(const Place& place) override;
  // Windows makes a volume durable only for an administrator: FlushFileBuffers on every
  // working file this file system has open, the same promise for a group of files.
  Reason SyncFileSystem(const Folder& folder) override;
  std::uint32_t Umask() override { return 0; }
  std::uint32_t UserId() override { return 0; }

  struct OpenFiles;

 private:
  std::shared_ptr<OpenFiles> open_;
};

}  // namespace tarnwhistle::platform
