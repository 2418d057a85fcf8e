#pragma once

#include <cstdint>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/file_system.h"

namespace tarnwhistle::testkit {

// The file operations a test can make fail. Close and Rename are the two halves of
// publishing a working file, Remove is dropping one; SetOwner failing means not even
// the owner could be kept. A FakeFileReader has only OpenRead and Read.
enum class Op { OpenRead, Create, Read, Write, Flush, Close, Rename, Remove, SetPermissions, SetOwner, CopyAccessList };
inline constexpr Op kAllOps[] = {Op::OpenRead,       Op::Create,   Op::Read,          Op::Write,
                                 Op::Flush,          Op::Close,    Op::Rename,        Op::Remove,
                                 Op::SetPermissions, Op::SetOwner, Op::CopyAccessList};
const char* OpName(Op op);
// The reason an injected failure gives, unless the test names another.
platform::Reason DefaultReason(Op op);

// Files in memory, read as the real file system reads them, that can make an operation
// fail on demand and count what is done to them. Paths are texts: "/d/in" and
// "src/a.txt" (relative to an unnamed current folder); a folder must be added before
// anything is made in it. Safe from several threads, as the real one is. A test of code
// that only reads uses it alone; FakeFileSystem adds the writing.
class FakeFileReader : public virtual platform::FileReader {
 public:
  void AddFile(const std::string& path, const std::string& bytes, std::uint32_t permissions = 0644,
               std::uint32_t owner = 0, std::uint32_t group = 0);
  void AddDirectory(const std::string& path, std::uint32_t permissions = 0755, std::uint32_t owner = 0);
  // The folder and every one above it that is missing.
  void AddDirectories(const std::string& path);
  void AddHardLink(const std::string& existing, const std::string& path);
  void AddSymlink(const std::string& path, const std::string& target);

  // The bytes of the file at `path`, or nothing when there is no regular file there
  // (a link is followed).
  std::optional<std::string> Contents(const std::string& path) const;
  std::uint32_t Permissions(const std::string& path) const;
  // Replaces the bytes of the file at `path` in place, as another program writing to it
  // would: a handle open on it sees the change.
  void Rewrite(const std::string& path, const std::string& bytes);
  // Every path that names something, sorted.
  std::vector<std::string> Paths() const;

  // The `nth` call of `op` from now on fails (1 is the next one), for `reason`.
  void FailOn(Op op, int nth = 1, platform::Reason reason = platform::Reason::kNone);
  int Calls(Op op) const;
  // Every operation counted so far, in the order called.
  std::vector<Op> Log() const;
  // Bytes handed out by reads, over all files.
  std::uint64_t BytesRead() const;
  // Caps how many bytes one read returns, to split files across many reads.
  void SetReadLimit(std::size_t bytes) { read_limit_ = bytes; }

  platform::OrReason<platform::Place> Locate(const std::string& path) override;
  platform::FileInfo Stat(const platform::Place& place) override;
  platform::OrReason<std::unique_ptr<platform::ReadHandle>> OpenForRead(const platform::Place& place) override;
  platform::OrReason<platform::Folder> OpenFolder(const platform::Place& place) override;
  platform::Reason List(const platform::Folder& folder, std::vector<platform::FolderEntry>& entries) override;

 protected:
  struct Node {
    enum class Kind { File, Directory, Symlink } kind = Kind::File;
    std::string bytes;  // the content, or a symbolic link's target
    std::uint32_t permissions = 0644;
    std::uint32_t owner = 0;
    std::uint32_t group = 0;
    std::uint64_t inode = 0;
    std::uint64_t version = 0;  // changed by every Rewrite, as a modification time is
    std::uint64_t links = 1;
  };

  // Counts a call of `op`, and says why it fails, if it is to fail (kNone otherwise).
  platform::Reason Fails(Op op);
  std::shared_ptr<Node> NewNode(Node::Kind kind, std::string bytes, std::uint32_t permissions);
  // The path of `place`, as the fake keys its files.
  std::string KeyOf(const platform::Place& place) const;

  mutable std::recursive_mutex mutex_;
  std::map<std::string, std::shared_ptr<Node>> nodes_;

 private:
  class Handle;

  static std::string Join(const std::string& folder, const std::string& name);
  std::shared_ptr<Node> Find(const std::string& path) const;  // follows symbolic links
  platform::FileInfo InfoOf(const Node& node) const;

  std::uint64_t next_inode_ = 2;  // 1 is the folders every path starts from
  int calls_[std::size(kAllOps)] = {};
  std::vector<Op> log_;
  std::map<Op, std::map<int, platform::Reason>> failures_;  // call numbers that fail, per operation
  std::uint64_t bytes_read_ = 0;
  std::size_t read_limit_ = 0;
};

}  // namespace tarnwhistle::testkit
