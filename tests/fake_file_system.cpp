#include "fake_file_system.h"

#include <cerrno>
#include <cstdio>

namespace tarnwhistle::testkit {

using platform::FromErrno;
using platform::OrReason;
using platform::Reason;
using Lock = std::lock_guard<std::recursive_mutex>;

class FakeFileSystem::Working : public platform::WorkingFile {
 public:
  Working(FakeFileSystem& fs, std::shared_ptr<Node> node, std::string key)
      : fs_(fs), node_(std::move(node)), key_(std::move(key)) {}
  ~Working() override {
    if (!published_) fs_.RemovePath(key_);
  }

  Reason Write(std::span<const std::uint8_t> data) override {
    Lock lock(fs_.mutex_);
    if (closed_) return FromErrno(EBADF);
    if (Reason failed = fs_.Fails(Op::Write); failed != Reason::kNone) return failed;
    node_->bytes.append(reinterpret_cast<const char*>(data.data()), data.size());
    return Reason::kNone;
  }
  Reason Flush() override { return closed_ ? FromErrno(EBADF) : fs_.Fails(Op::Flush); }
  Reason SetPermissions(std::uint32_t mode) override {
    Lock lock(fs_.mutex_);
    if (Reason failed = fs_.Fails(Op::SetPermissions); failed != Reason::kNone) return failed;
    node_->permissions = mode & 07777;
    return Reason::kNone;
  }
  Reason SetModified(std::int64_t seconds, std::int64_t) override {
    Lock lock(fs_.mutex_);
    node_->version = static_cast<std::uint64_t>(seconds);
    return Reason::kNone;
  }
  platform::Ownership SetOwner(std::uint32_t owner, std::uint32_t group) override {
    Lock lock(fs_.mutex_);
    if (fs_.Fails(Op::SetOwner) != Reason::kNone) return platform::Ownership::NotKept;
    node_->owner = owner;
    node_->group = group;
    return platform::Ownership::Kept;
  }
  Reason CopyAccessList(const platform::Place&) override { return fs_.Fails(Op::CopyAccessList); }
  Reason Name(const platform::Place&, bool) override {
    Lock lock(fs_.mutex_);
    if (closed_) return FromErrno(EBADF);
    closed_ = true;
    return fs_.Fails(Op::Close);
  }
  Reason Rename(const platform::Place& target) override {
    Lock lock(fs_.mutex_);
    if (!closed_ || published_) return FromErrno(EBADF);
    if (Reason renamed = fs_.Rename(key_, fs_.KeyOf(target)); renamed != Reason::kNone) return renamed;
    published_ = true;
    return Reason::kNone;
  }

 private:
  FakeFileSystem& fs_;
  std::shared_ptr<Node> node_;
  std::string key_;
  bool closed_ = false;
  bool published_ = false;
};

OrReason<std::unique_ptr<platform::WorkingFile>> FakeFileSystem::CreateWorkingFile(const platform::Folder& folder,
                                                                                   const std::string& name_prefix) {
  Lock lock(mutex_);
  if (Reason failed = Fails(Op::Create); failed != Reason::kNone) return failed;
  if (Stat({folder, "."}).kind != platform::FileInfo::Kind::Folder) return FromErrno(ENOENT);
  char suffix[16];
  std::snprintf(suffix, sizeof suffix, "%08d", ++created_);
  const std::string key = KeyOf({folder, name_prefix + suffix});
  std::shared_ptr<Node> node = NewNode(Node::Kind::File, "", 0600);
  nodes_[key] = node;
  return std::unique_ptr<platform::WorkingFile>(std::make_unique<Working>(*this, node, key));
}

OrReason<platform::Folder> FakeFileSystem::MakeFolder(const platform::Place& place, std::uint32_t permissions) {
  Lock lock(mutex_);
  if (!Stat(place).exists()) AddDirectory(KeyOf(place), permissions & ~Umask());
  return OpenFolder(place);
}

Reason FakeFileSystem::Rename(const std::string& from, const std::string& to) {
  Lock lock(mutex_);
  if (Reason failed = Fails(Op::Rename); failed != Reason::kNone) return failed;
  const auto source = nodes_.find(from);
  if (source == nodes_.end()) return FromErrno(ENOENT);
  const auto target = nodes_.find(to);
  if (target != nodes_.end() && target->second->kind == Node::Kind::Directory) return FromErrno(EISDIR);
  std::shared_ptr<Node> node = source->second;
  nodes_.erase(source);
  nodes_[to] = node;
  return Reason::kNone;
}

Reason FakeFileSystem::RemovePath(const std::string& path) {
  Lock lock(mutex_);
  if (Reason failed = Fails(Op::Remove); failed != Reason::kNone) return failed;
  return nodes_.erase(path) > 0 ? Reason::kNone : FromErrno(ENOENT);
}

}  // namespace tarnwhistle::testkit
