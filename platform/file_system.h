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
  // The file's size when it was opened, for progress reports.
  virtual std::uint64_t Size() const = 0;
};

// A file open for writing. The destructor closes it if Close() was not called.
class WriteHandle {
 public:
  virtual ~WriteHandle() = default;
  // Writes all `size` bytes, or returns false.
  virtual bool Write(const std::uint8_t* data, std::size_t size) = 0;
  // Makes what was written durable on the disk.
  virtual bool Flush() = 0;
  // Gives the file these permission bits (the low 12 bits of a POSIX mode).
  virtual bool SetPermissions(std::uint32_t mode) = 0;
  virtual bool Close() = 0;
};

struct FileInfo {
  bool exists = false;
  bool regular = false;  // a plain file: not a directory, FIFO, socket or device
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::uint32_t permissions = 0;  // the low 12 bits of the mode
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Opens an existing regular file for reading, positioned at its first byte. Returns
  // nullptr when the path names no such file, cannot be read, or names a directory, a
  // FIFO or a device. Never waits for a writer to appear on a FIFO.
  virtual std::unique_ptr<ReadHandle> OpenForRead(const std::string& path) = 0;

  // CreateUnique's names are `name_prefix` and at most this many more bytes.
  static constexpr std::size_t kUniqueSuffixLength = 8;

  // Creates a new, empty file with a fresh name in `directory` ("" for the current
  // one) and stores its path in `created_path`. Returns nullptr when it cannot.
  virtual std::unique_ptr<WriteHandle> CreateUnique(const std::string& directory,
                                                    const std::string& name_prefix,
                                                    std::string& created_path) = 0;

  // Replaces `to` with `from` in one step.
  virtual bool Rename(const std::string& from, const std::string& to) = 0;
  virtual bool Remove(const std::string& path) = 0;

  // What `path` names, following symbolic links.
  virtual FileInfo Stat(const std::string& path) = 0;

  // The path a write through `path` would land on: `path` itself unless it is a
  // symbolic link, in which case the end of its chain of links (which may not exist);
  // "" for a loop of links.
  virtual std::string ResolveLinks(const std::string& path) = 0;
};

// True when both paths name one existing file (same device and inode), whatever the
// texts: a relative form, a symbolic link or a hard link.
bool SameExistingFile(FileSystem& fs, const std::string& a, const std::string& b);

}  // namespace tarnwhistle::platform
