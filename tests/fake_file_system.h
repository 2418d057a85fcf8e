#pragma once

#include <cstdint>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/file_system.h"

namespace tarnwhistle::testing {

// The file operations a test can make fail.
// Close and Rename are the two halves of publishing a working file, Remove is dropping
// one; SetOwner failing means not even the owner could be kept.
enum class Op { OpenRead, Create, Read, Write, Flush, Close, Rename, Remove, SetPermissions, SetOwner, CopyAccessList };
inline constexpr Op kAllOps[] = {Op::OpenRead,       Op::Create,   Op::Read,          Op::Write,
                                 Op::Flush,          Op::Close,    Op::Rename,        Op::Remove,
                                 Op::SetPermissions, Op::SetOwner, Op::CopyAccessList};
const char* OpName(Op op);

// A file system in memory, like the real one in what the program relies on, that can
// make any operation fail on demand and counts what is done to it. Paths are compared
// as texts; a folder must be added before files can be created in it ("" and "/"
// always exist). Working files are named ones (the fallback where a file system has no
// nameless files), so that a test can see one left behind.
class FakeFileSystem : public platform::FileSystem {
 public:
  void AddFile(const std::string& path, const std::string& bytes, std::uint32_t permissions = 0644,
               std::uint32_t owner = 0, std::uint32_t group = 0);
  void AddDirectory(const std::string& path);
  void AddFifo(const std::string& path);
  void AddHardLink(const std::string& existing, const std::string& path);
  void AddSymlink(const std::string& path, const std::string& target);

  // The bytes of the file at `path`, or nothing when there is no regular file there.
  std::optional<std::string> Contents(const std::string& path) const;
  std::uint32_t Permissions(const std::string& path) const;
  // Replaces the bytes of the file at `path` in place, as another program writing to it
  // would: a handle open on it sees the change.
  void Rewrite(const std::string& path, const std::string& bytes);
  // Every path that names something, sorted.
  std::vector<std::string> Paths() const;

  // The `nth` call of `op` from now on fails (1 is the next one).
  void FailOn(Op op, int nth = 1);
  int Calls(Op op) const { return calls_[static_cast<int>(op)]; }
  // Bytes handed out by reads, over all files.
  std::uint64_t BytesRead() const { return bytes_read_; }
  // Caps how many bytes one read returns, to split files across many reads.
  void SetReadLimit(std::size_t bytes) { read_limit_ = bytes; }
  void SetUmask(std::uint32_t mask) { umask_ = mask; }

  std::unique_ptr<platform::ReadHandle> OpenForRead(const std::string& path) override;
  std::unique_ptr<platform::WriteHandle> CreateWorkingFile(const std::string& directory,
                                                           const std::string& name_prefix) override;
  platform::FileInfo Stat(const std::string& path) override;
  std::string ResolveLinks(const std::string& path) override;
  std::uint32_t Umask() override { return umask_; }

  // What a working file's handle does to the files: renames it, removes it.
  bool Rename(const std::string& from, const std::string& to);
  bool Remove(const std::string& path);

  struct Node {
    enum class Kind { File, Directory, Fifo, Symlink } kind = Kind::File;
    std::string bytes;  // the content, or a symbolic link's target
    std::uint32_t permissions = 0644;
    std::uint32_t owner = 0;
    std::uint32_t group = 0;
    std::uint64_t inode = 0;
    std::uint64_t version = 0;  // changed by every Rewrite, as a modification time is
  };

  // Counts a call of `op`; true when this one is to fail.
  bool Fails(Op op);
  void CountRead(std::size_t bytes) { bytes_read_ += bytes; }
  std::size_t ReadLimit() const { return read_limit_; }

 private:
  std::shared_ptr<Node> Find(const std::string& path) const;  // follows symbolic links
  std::shared_ptr<Node> NewNode(Node::Kind kind, std::string bytes, std::uint32_t permissions);

  std::map<std::string, std::shared_ptr<Node>> nodes_;
  std::uint64_t next_inode_ = 1;
  int calls_[std::size(kAllOps)] = {};
  std::map<Op, std::vector<int>> failures_;  // call numbers that fail, per operation
  std::uint64_t bytes_read_ = 0;
  std::size_t read_limit_ = 0;
  std::uint32_t umask_ = 022;
  int created_ = 0;
};

}  // namespace tarnwhistle::testing
