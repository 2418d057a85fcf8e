#pragma once

// Everything the program does to the disk goes through FileSystem: the window, the
// command-line tool and the engine never call the operating system for a file
// themselves. PosixFileSystem is the real one; the tests have an in-memory fake that
// can make any operation fail on demand.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace tarnwhistle::platform {

// A file open for reading. Closing is the destructor's work.
class ReadHandle {
 public:
  virtual ~ReadHandle() = default;
  // Reads up to `size` bytes into `data`. Returns how many were read, 0 at the end of
  // the file, or -1 when the read failed.
  virtual std::ptrdiff_t Read(std::uint8_t* data, std::size_t size) = 0;
  // The file's size when it was opened.
  virtual std::uint64_t Size() const = 0;
  // The file's permission bits (the low 12 bits of its mode) when it was opened.
  virtual std::uint32_t Permissions() const = 0;
  // True when the file's size or modification time is no longer what it was at opening:
  // someone wrote to it while it was read.
  virtual bool ChangedSinceOpened() = 0;
};

// How much of an old file's ownership a new file could take on.
enum class Ownership {
  Kept,         // owner and group
  OwnerOnly,    // the group could not be given (the user is not a member of it)
  NotKept,      // not even the owner (another user's file)
};

// A new file while it is written: no one else can open it, and where the system allows
// it has no name at all until Publish(). Dropped before Publish(), it is gone.
class WriteHandle {
 public:
  virtual ~WriteHandle() = default;
  // Writes all `size` bytes, or returns false.
  virtual bool Write(const std::uint8_t* data, std::size_t size) = 0;
  // Makes what was written durable on the disk.
  virtual bool Flush() = 0;
  // Gives the file these permission bits (the low 12 bits of a POSIX mode).
  virtual bool SetPermissions(std::uint32_t mode) = 0;
  // Gives the file this owner and group, or as much of them as the system allows.
  virtual Ownership SetOwner(std::uint32_t owner, std::uint32_t group) = 0;
  // Gives the file the POSIX access list of the file at `path`, or none when it has none.
  virtual bool CopyAccessList(const std::string& path) = 0;
  // Closes the file and puts it at `target` in one step, replacing what is there. On
  // failure `target` is as it was and the file is gone.
  virtual bool Publish(const std::string& target) = 0;
};

struct FileInfo {
  bool exists = false;
  bool regular = false;  // a plain file: not a directory, FIFO, socket or device
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::uint32_t permissions = 0;  // the low 12 bits of the mode
  std::uint32_t owner = 0;
  std::uint32_t group = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Opens an existing regular file for reading, positioned at its first byte. Returns
  // nullptr when the path names no such file, cannot be read, or names a directory, a
  // FIFO or a device. Never waits for a writer to appear on a FIFO.
  virtual std::unique_ptr<ReadHandle> OpenForRead(const std::string& path) = 0;

  // Names a working file may be given are `name_prefix` and at most this many more bytes.
  static constexpr std::size_t kUniqueSuffixLength = 8;

  // Creates a new, empty working file in `directory` ("" for the current one), readable
  // and writable by its owner only. Returns nullptr when it cannot.
  virtual std::unique_ptr<WriteHandle> CreateWorkingFile(const std::string& directory,
                                                         const std::string& name_prefix) = 0;

  // What `path` names, following symbolic links.
  virtual FileInfo Stat(const std::string& path) = 0;

  // The path a write through `path` would land on: `path` itself unless it leads through
  // symbolic links, in which case the end of the chain (which may not exist). "" for a
  // loop of links, or for a link the kernel's protected_symlinks rule would not follow
  // (another user's link in a sticky folder anyone may write to).
  virtual std::string ResolveLinks(const std::string& path) = 0;

  // The permission bits the user withholds from new files (the umask).
  virtual std::uint32_t Umask() = 0;
};

// True when both paths name one existing file (same device and inode), whatever the
// texts: a relative form, a symbolic link or a hard link.
bool SameExistingFile(FileSystem& fs, const std::string& a, const std::string& b);

}  // namespace tarnwhistle::platform
