#pragma once

// Everything the program does to files goes through FileSystem, or through its reading
// half, FileReader, where nothing is written: the windows, the command-line tool and the
// engine never call the operating system for a file themselves. PosixFileSystem and
// WindowsFileSystem are the real ones; the tests have an in-memory fake that can make
// any operation fail on demand. The windows' file browser (Qt's QFileSystemModel and
// QStorageInfo) and Qt's file dialogs only show the disk: a path picked there is read
// and written through FileSystem like any other.
//
// A path is resolved once, a component at a time, into a folder held open and a name in
// it (a Place); everything done afterwards is done relative to that folder. Whatever
// happens to the path's text later (a folder renamed, or swapped for a link by another
// user), the folder that was checked is the folder that is read and written.
//
// Every FileSystem, handle and folder may be used from several threads at once.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "reason.h"

namespace tarnwhistle::platform {

// What a file was when it was opened or looked at: enough to tell whether a later look
// finds the same file with the same content. The change time is there because anyone
// who may write a file may also put its modification time back (touch -d), but no one
// can put back its change time.
// A file as a key for sets and maps: its device and inode.
using FileKey = std::pair<std::uint64_t, std::uint64_t>;

struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::uint64_t size = 0;
  std::int64_t modified_seconds = 0;
  std::int64_t modified_nanoseconds = 0;
  std::int64_t changed_seconds = 0;
  std::int64_t changed_nanoseconds = 0;

  bool operator==(const FileIdentity&) const = default;
  bool SameFile(const FileIdentity& other) const { return device == other.device && inode == other.inode; }
  FileKey Key() const { return {device, inode}; }
};

struct FileInfo {
  enum class Kind { Missing, File, Folder, Link, Other };
  Kind kind = Kind::Missing;
  FileIdentity identity;
  std::uint32_t permissions = 0;  // the low 12 bits of the mode
  std::uint32_t owner = 0;
  std::uint32_t group = 0;
  std::uint64_t links = 1;        // the names it has
  bool sparse = false;            // fewer bytes on the disk than its size: it has holes

  bool exists() const { return kind != Kind::Missing; }
};

// A folder held open. Given back only to the file system that made it.
class FolderHandle {
 public:
  virtual ~FolderHandle() = default;
  // The path it was reached by: for messages, never to be resolved again.
  const std::string& path() const { return path_; }

 protected:
  explicit FolderHandle(std::string path) : path_(std::move(path)) {}

 private:
  std::string path_;
};
using Folder = std::shared_ptr<const FolderHandle>;

// A name in a folder held open.
struct Place {
  Folder folder;
  std::string name;

  // The place as a path, for messages.
  std::string Path() const;
};

struct FolderEntry {
  std::string name;
  FileInfo::Kind kind = FileInfo::Kind::Other;  // as the entry itself is: a link is not followed
};

// Bytes to read, once, from the start: a file, or a pipe.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Reads up to data.size() bytes and says how many; 0 at the end.
  virtual OrReason<std::size_t> Read(std::span<std::uint8_t> data) = 0;
};

// Where bytes go: a new file, or a pipe.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // Writes all of `data`, or says why it could not.
  virtual Reason Write(std::span<const std::uint8_t> data) = 0;
};

// A regular file open for reading. Closing is the destructor's work.
class ReadHandle : public ByteSource {
 public:
  // The file as it was when it was opened.
  virtual const FileInfo& Opened() const = 0;
  // kChangedWhileRead when the file's size, modification time or change time is no longer
  // what it was at opening: someone wrote to it while it was read.
  virtual Reason ChangedSinceOpened() = 0;
  // Back to the first byte, for a second pass over the same opening.
  virtual Reason Rewind() = 0;
};

// How much of an old file's ownership a new file could take on.
enum class Ownership {
  Kept,       // owner and group
  OwnerOnly,  // the group could not be given (the user is not a member of it)
  NotKept,    // not even the owner (another user's file)
};

// A new file while it is written: no one else can open it, and where the system allows
// it has no name at all until Publish(). Dropped before Publish(), it is gone.
class WorkingFile : public ByteSink {
 public:
  // Leaves the next `bytes` bytes a hole, which reads as zeros and, where the file
  // system keeps holes, takes no room on the disk. By default, writes the zeros.
  virtual Reason Skip(std::uint64_t bytes);
  // Makes what was written durable on the disk.
  virtual Reason Flush() = 0;
  virtual Reason SetPermissions(std::uint32_t mode) = 0;
  // Gives the file this modification time (its access time is left alone).
  virtual Reason SetModified(std::int64_t seconds, std::int64_t nanoseconds) = 0;
  // Gives the file this owner and group, or as much of them as the system allows.
  virtual Ownership SetOwner(std::uint32_t owner, std::uint32_t group) = 0;
  // Gives the file the POSIX access list of the file at `from`, or none when it has none.
  virtual Reason CopyAccessList(const Place& from) = 0;
  // Closes the file and puts it at `target` in one step, replacing what is there
  // (`replacing` says whether something was there when the replacement began). On
  // failure `target` is as it was and the file is gone.
  Reason Publish(const Place& target, bool replacing) {
    const Reason named = Name(target, replacing);
    return named != Reason::kNone ? named : Rename(target);
  }

  // The two steps of Publish, apart so that a test can act between them:
  // Closes the file and gives it a name in `target`'s folder: `target`'s own where it can
  // take it at once (nothing is there), else a temporary one.
  virtual Reason Name(const Place& target, bool replacing) = 0;
  // Renames the file from its temporary name over `target`; nothing when it has `target`'s.
  virtual Reason Rename(const Place& target) = 0;
};

// What reading needs: resolving paths, looking at what is there, listing folders and
// opening files and folders for reading. Detection, the check, the walk of folders and
// the windows' looks at the disk take only this, so that a test of them needs no writes.
class FileReader {
 public:
  virtual ~FileReader() = default;

  // Resolves `path` as the kernel walks it, a component at a time, into the folder that
  // holds its last name, held open, and that name. A symbolic link anywhere on the way,
  // the last name included, is followed, but only where the kernel's protected_symlinks
  // rule would follow it, whatever the system's setting: in a sticky folder anyone may
  // write to, only a link of the user's own or of the folder's owner (otherwise
  // kLinkNotFollowed). The last name need not exist; the folders before it must.
  virtual OrReason<Place> Locate(const std::string& path) = 0;

  // What is at `place`, the entry itself: a link there is not followed.
  virtual FileInfo Stat(const Place& place) = 0;
  // What `folder` is. By default, what Stat says of "." in it.
  virtual FileInfo StatFolder(const Folder& folder) { return Stat({folder, "."}); }

  // Opens the regular file at `place` for reading, at its first byte. A link there is
  // not followed (kSymbolicLink); a folder is EISDIR; a FIFO, a device or a socket is
  // kNotAFile, and never makes the call wait.
  virtual OrReason<std::unique_ptr<ReadHandle>> OpenForRead(const Place& place) = 0;

  // Opens the folder at `place`; a link there is not followed (kSymbolicLink).
  virtual OrReason<Folder> OpenFolder(const Place& place) = 0;
  // The entries of `folder` other than "." and "..", sorted by name.
  virtual Reason List(const Folder& folder, std::vector<FolderEntry>& entries) = 0;
};

// Reading, and what writing needs besides. A virtual base, so that an implementation of
// the whole may take its reading half from an implementation of FileReader.
class FileSystem : public virtual FileReader {
 public:
  // Names a working file may be given are `name_prefix` and at most this many more bytes.
  static constexpr std::size_t kUniqueSuffixLength = 8;

  // Creates a new, empty working file in `folder`, readable and writable by its owner only.
  virtual OrReason<std::unique_ptr<WorkingFile>> CreateWorkingFile(const Folder& folder,
                                                                   const std::string& name_prefix) = 0;

  // Makes the folder at `place` with these permission bits (less the umask) unless it
  // exists, and opens it; a link there is not followed.
  virtual OrReason<Folder> MakeFolder(const Place& place, std::uint32_t permissions) = 0;
  // Removes the file at `place` (a working file left behind by a process that is gone).
  virtual Reason Remove(const Place& place) = 0;
  // Makes everything written to the file system that holds `folder` durable on its disk
  // (syncfs): one wait for many new files, instead of one each.
  virtual Reason SyncFileSystem(const Folder& folder) = 0;

  // The permission bits the user withholds from new files (the umask).
  virtual std::uint32_t Umask() = 0;
  // The user the program acts as (the effective user id).
  virtual std::uint32_t UserId() = 0;
};

// `name` in `folder`, one slash between them ("a" and "b" give "a/b", "/" and "b" give
// "/b"); an empty folder gives the name alone, an empty name or "." the folder.
std::string JoinPath(const std::string& folder, const std::string& name);

// kChangedWhileRead, or what ChangedSinceOpened says, unless `file` held exactly `read`
// bytes from its opening to its end and is still as it was opened.
Reason ChangedWhileRead(ReadHandle& file, std::uint64_t read);

// The names of `path` between its slashes, last first, as Locate walks them.
std::vector<std::string> NamesLastFirst(const std::string& path);

// Opens the file at `path` for reading: Locate, then OpenForRead.
OrReason<std::unique_ptr<ReadHandle>> OpenPathForRead(FileReader& fs, const std::string& path);

// The kernel's rule for a folder anyone may write to that is sticky (/tmp), as its
// protected_symlinks and protected_regular settings apply it: a link or a file there is
// trusted only when it belongs to `user` or to the folder's owner.
bool TrustedInFolder(const FileInfo& folder, std::uint32_t owner, std::uint32_t user);

// True when both places name one existing file (same device and inode), whatever the
// names: a relative form, a symbolic link or a hard link.
bool SameExistingFile(FileReader& fs, const Place& a, const Place& b);

}  // namespace tarnwhistle::platform
