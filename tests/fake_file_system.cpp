#include "fake_file_system.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace tarnwhistle::testkit {
namespace {

using platform::FromErrno;
using platform::OrReason;
using platform::Reason;
using Node = FakeFileSystem::Node;
using Lock = std::lock_guard<std::recursive_mutex>;


// A folder's parent, by its text: the fake has no links among folders' own names.
std::string Parent(const std::string& key) {
  const std::size_t slash = key.rfind('/');
  if (slash == std::string::npos) return "";
  return slash == 0 ? "/" : key.substr(0, slash);
}

bool IsRoot(const std::string& key) { return key.empty() || key == "/"; }

class FakeFolder : public platform::FolderHandle {
 public:
  explicit FakeFolder(std::string key) : FolderHandle(key.empty() ? "." : key), key_(std::move(key)) {}
  const std::string& key() const { return key_; }

 private:
  std::string key_;
};

const std::string& KeyOfFolder(const platform::Folder& folder) { return static_cast<const FakeFolder&>(*folder).key(); }

class FakeReadHandle : public platform::ReadHandle {
 public:
  FakeReadHandle(FakeFileSystem& fs, std::shared_ptr<Node> node, platform::FileInfo opened)
      : fs_(fs), node_(std::move(node)), opened_(opened), version_(node_->version) {}

  OrReason<std::size_t> Read(std::span<std::uint8_t> data) override {
    Lock lock(fs_.mutex());
    if (Reason failed = fs_.Fails(Op::Read); failed != Reason::kNone) return failed;
    const std::size_t left = node_->bytes.size() - std::min(position_, node_->bytes.size());
    std::size_t count = std::min(data.size(), left);
    if (fs_.ReadLimit() > 0) count = std::min(count, fs_.ReadLimit());
    std::memcpy(data.data(), node_->bytes.data() + position_, count);
    position_ += count;
    fs_.CountRead(count);
    return count;
  }
  const platform::FileInfo& Opened() const override { return opened_; }
  Reason ChangedSinceOpened() override {
    Lock lock(fs_.mutex());
    return node_->bytes.size() != opened_.identity.size || node_->version != version_ ? Reason::kChangedWhileRead
                                                                                     : Reason::kNone;
  }
  Reason Rewind() override {
    position_ = 0;
    return Reason::kNone;
  }

 private:
  FakeFileSystem& fs_;
  std::shared_ptr<Node> node_;
  platform::FileInfo opened_;
  std::uint64_t version_;
  std::size_t position_ = 0;
};

class FakeWorkingFile : public platform::WorkingFile {
 public:
  FakeWorkingFile(FakeFileSystem& fs, std::shared_ptr<Node> node, std::string key)
      : fs_(fs), node_(std::move(node)), key_(std::move(key)) {}
  ~FakeWorkingFile() override {
    if (!published_) fs_.RemovePath(key_);
  }

  Reason Write(std::span<const std::uint8_t> data) override {
    Lock lock(fs_.mutex());
    if (closed_) return FromErrno(EBADF);
    if (Reason failed = fs_.Fails(Op::Write); failed != Reason::kNone) return failed;
    node_->bytes.append(reinterpret_cast<const char*>(data.data()), data.size());
    return Reason::kNone;
  }
  Reason Flush() override { return closed_ ? FromErrno(EBADF) : fs_.Fails(Op::Flush); }
  Reason SetPermissions(std::uint32_t mode) override {
    Lock lock(fs_.mutex());
    if (Reason failed = fs_.Fails(Op::SetPermissions); failed != Reason::kNone) return failed;
    node_->permissions = mode & 07777;
    return Reason::kNone;
  }
  platform::Ownership SetOwner(std::uint32_t owner, std::uint32_t group) override {
    Lock lock(fs_.mutex());
    if (fs_.Fails(Op::SetOwner) != Reason::kNone) return platform::Ownership::NotKept;
    node_->owner = owner;
    node_->group = group;
    return platform::Ownership::Kept;
  }
  Reason CopyAccessList(const platform::Place&) override { return fs_.Fails(Op::CopyAccessList); }
  Reason Publish(const platform::Place& target, bool) override {
    Lock lock(fs_.mutex());
    if (closed_) return FromErrno(EBADF);
    closed_ = true;
    if (Reason failed = fs_.Fails(Op::Close); failed != Reason::kNone) return failed;
    if (Reason renamed = fs_.Rename(key_, fs_.PathOf(target)); renamed != Reason::kNone) return renamed;
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

}  // namespace

const char* OpName(Op op) {
  static const char* const kNames[] = {"open",   "create", "read",  "write", "flush", "close",
                                       "rename", "remove", "chmod", "chown", "copy acl"};
  return kNames[static_cast<int>(op)];
}

Reason DefaultReason(Op op) {
  switch (op) {
    case Op::OpenRead:
    case Op::Create:
    case Op::Rename:
    case Op::Remove: return FromErrno(EACCES);
    case Op::Write: return FromErrno(ENOSPC);
    case Op::SetPermissions:
    case Op::SetOwner: return FromErrno(EPERM);
    case Op::CopyAccessList: return FromErrno(EOPNOTSUPP);
    case Op::Read:
    case Op::Flush:
    case Op::Close: break;
  }
  return FromErrno(EIO);
}

std::string FakeFileSystem::Join(const std::string& folder, const std::string& name) {
  if (name == ".") return folder;
  if (name == "..") return Parent(folder);
  if (folder.empty()) return name;
  return folder == "/" ? "/" + name : folder + "/" + name;
}

std::shared_ptr<Node> FakeFileSystem::NewNode(Node::Kind kind, std::string bytes, std::uint32_t permissions) {
  auto node = std::make_shared<Node>();
  node->kind = kind;
  node->bytes = std::move(bytes);
  node->permissions = permissions;
  node->inode = next_inode_++;
  return node;
}

void FakeFileSystem::AddFile(const std::string& path, const std::string& bytes, std::uint32_t permissions,
                             std::uint32_t owner, std::uint32_t group) {
  Lock lock(mutex_);
  std::shared_ptr<Node> node = NewNode(Node::Kind::File, bytes, permissions);
  node->owner = owner;
  node->group = group;
  nodes_[path] = node;
}
void FakeFileSystem::AddDirectory(const std::string& path, std::uint32_t permissions, std::uint32_t owner) {
  Lock lock(mutex_);
  nodes_[path] = NewNode(Node::Kind::Directory, "", permissions);
  nodes_[path]->owner = owner;
}
void FakeFileSystem::AddDirectories(const std::string& path) {
  Lock lock(mutex_);
  if (IsRoot(path) || nodes_.count(path)) return;
  AddDirectories(Parent(path));
  AddDirectory(path);
}
void FakeFileSystem::AddFifo(const std::string& path) {
  Lock lock(mutex_);
  nodes_[path] = NewNode(Node::Kind::Fifo, "", 0644);
}
void FakeFileSystem::AddHardLink(const std::string& existing, const std::string& path) {
  Lock lock(mutex_);
  nodes_[path] = nodes_.at(existing);
  ++nodes_[path]->links;
}
void FakeFileSystem::AddSymlink(const std::string& path, const std::string& target) {
  Lock lock(mutex_);
  nodes_[path] = NewNode(Node::Kind::Symlink, target, 0777);
}

std::optional<std::string> FakeFileSystem::Contents(const std::string& path) const {
  Lock lock(mutex_);
  std::shared_ptr<Node> node = Find(path);
  if (!node || node->kind != Node::Kind::File) return std::nullopt;
  return node->bytes;
}

std::uint32_t FakeFileSystem::Permissions(const std::string& path) const {
  Lock lock(mutex_);
  std::shared_ptr<Node> node = Find(path);
  return node ? node->permissions : 0;
}

void FakeFileSystem::Rewrite(const std::string& path, const std::string& bytes) {
  Lock lock(mutex_);
  std::shared_ptr<Node> node = Find(path);
  node->bytes = bytes;
  ++node->version;
}

std::vector<std::string> FakeFileSystem::Paths() const {
  Lock lock(mutex_);
  std::vector<std::string> paths;
  for (const auto& [path, node] : nodes_) paths.push_back(path);
  return paths;
}

void FakeFileSystem::FailOn(Op op, int nth, Reason reason) {
  Lock lock(mutex_);
  failures_[op][calls_[static_cast<int>(op)] + nth] = reason == Reason::kNone ? DefaultReason(op) : reason;
}

int FakeFileSystem::Calls(Op op) const {
  Lock lock(mutex_);
  return calls_[static_cast<int>(op)];
}

std::vector<Op> FakeFileSystem::Log() const {
  Lock lock(mutex_);
  return log_;
}

std::uint64_t FakeFileSystem::BytesRead() const {
  Lock lock(mutex_);
  return bytes_read_;
}

Reason FakeFileSystem::Fails(Op op) {
  Lock lock(mutex_);
  const int call = ++calls_[static_cast<int>(op)];
  log_.push_back(op);
  const auto planned = failures_.find(op);
  if (planned == failures_.end()) return Reason::kNone;
  const auto failure = planned->second.find(call);
  return failure == planned->second.end() ? Reason::kNone : failure->second;
}

void FakeFileSystem::CountRead(std::size_t bytes) {
  Lock lock(mutex_);
  bytes_read_ += bytes;
}

std::shared_ptr<Node> FakeFileSystem::Find(const std::string& path) const {
  auto* self = const_cast<FakeFileSystem*>(this);  // Locate changes nothing
  const OrReason<platform::Place> place = self->Locate(path);
  if (!place) return nullptr;
  const auto found = nodes_.find(KeyOf(place.value));
  return found == nodes_.end() ? nullptr : found->second;
}

std::string FakeFileSystem::PathOf(const platform::Place& place) const { return KeyOf(place); }

std::string FakeFileSystem::KeyOf(const platform::Place& place) const {
  return Join(KeyOfFolder(place.folder), place.name);
}

platform::FileInfo FakeFileSystem::InfoOf(const Node& node) const {
  platform::FileInfo info;
  info.kind = node.kind == Node::Kind::File        ? platform::FileInfo::Kind::File
              : node.kind == Node::Kind::Directory ? platform::FileInfo::Kind::Folder
              : node.kind == Node::Kind::Symlink   ? platform::FileInfo::Kind::Link
                                                   : platform::FileInfo::Kind::Other;
  info.identity = {1, node.inode, node.bytes.size(), static_cast<std::int64_t>(node.version), 0};
  info.permissions = node.permissions;
  info.owner = node.owner;
  info.group = node.group;
  info.links = node.links;
  return info;
}

OrReason<platform::Place> FakeFileSystem::Locate(const std::string& path) {
  Lock lock(mutex_);
  if (path.empty()) return FromErrno(ENOENT);
  std::string at = path.front() == '/' ? "/" : "";
  std::vector<std::string> pending = platform::NamesLastFirst(path);
  if (pending.empty()) pending.push_back(".");
  for (int links = 0;;) {
    std::string part = std::move(pending.back());
    pending.pop_back();
    const bool last = pending.empty();
    if (part == "." && !last) continue;
    if (part == ".." && !last) {
      at = Parent(at);
      continue;
    }
    const std::string key = Join(at, part);
    const auto found = nodes_.find(key);
    if (part == "." || part == ".." || found == nodes_.end()) {
      if (!last && !IsRoot(key)) return FromErrno(ENOENT);
      if (last) return platform::Place{std::make_shared<FakeFolder>(at), part};
      at = key;
      continue;
    }
    if (found->second->kind == Node::Kind::Symlink) {
      if (++links > 40) return FromErrno(ELOOP);
      const std::string& target = found->second->bytes;
      if (!target.empty() && target.front() == '/') at.assign(1, '/');  // not = "/": GCC 12's -Wrestrict
      std::vector<std::string> more = platform::NamesLastFirst(target);
      pending.insert(pending.end(), more.begin(), more.end());
      continue;
    }
    if (last) return platform::Place{std::make_shared<FakeFolder>(at), part};
    if (found->second->kind != Node::Kind::Directory) return FromErrno(ENOTDIR);
    at = key;
  }
}

platform::FileInfo FakeFileSystem::Stat(const platform::Place& place) {
  Lock lock(mutex_);
  const std::string key = KeyOf(place);
  const auto found = nodes_.find(key);
  if (found != nodes_.end()) return InfoOf(*found->second);
  if (!IsRoot(key)) return {};
  platform::FileInfo root;
  root.kind = platform::FileInfo::Kind::Folder;
  root.identity = {1, 1, 0, 0, 0};
  root.permissions = 0755;
  return root;
}

platform::FileInfo FakeFileSystem::StatFolder(const platform::Folder& folder) {
  return Stat({folder, "."});
}

OrReason<std::unique_ptr<platform::ReadHandle>> FakeFileSystem::OpenForRead(const platform::Place& place) {
  Lock lock(mutex_);
  if (Reason failed = Fails(Op::OpenRead); failed != Reason::kNone) return failed;
  const auto found = nodes_.find(KeyOf(place));
  if (found == nodes_.end()) return IsRoot(KeyOf(place)) ? FromErrno(EISDIR) : FromErrno(ENOENT);
  switch (found->second->kind) {
    case Node::Kind::File: break;
    case Node::Kind::Directory: return FromErrno(EISDIR);
    case Node::Kind::Symlink: return Reason::kSymbolicLink;
    case Node::Kind::Fifo: return Reason::kNotAFile;
  }
  return std::unique_ptr<platform::ReadHandle>(
      std::make_unique<FakeReadHandle>(*this, found->second, InfoOf(*found->second)));
}

OrReason<std::unique_ptr<platform::WorkingFile>> FakeFileSystem::CreateWorkingFile(const platform::Folder& folder,
                                                                                   const std::string& name_prefix) {
  Lock lock(mutex_);
  if (Reason failed = Fails(Op::Create); failed != Reason::kNone) return failed;
  if (Stat({folder, "."}).kind != platform::FileInfo::Kind::Folder) return FromErrno(ENOENT);
  char suffix[16];
  std::snprintf(suffix, sizeof suffix, "%08d", ++created_);
  const std::string key = Join(KeyOfFolder(folder), name_prefix + suffix);
  std::shared_ptr<Node> node = NewNode(Node::Kind::File, "", 0600);
  nodes_[key] = node;
  return std::unique_ptr<platform::WorkingFile>(std::make_unique<FakeWorkingFile>(*this, node, key));
}

OrReason<platform::Folder> FakeFileSystem::OpenFolder(const platform::Place& place) {
  Lock lock(mutex_);
  const platform::FileInfo info = Stat(place);
  switch (info.kind) {
    case platform::FileInfo::Kind::Folder: return platform::Folder(std::make_shared<FakeFolder>(KeyOf(place)));
    case platform::FileInfo::Kind::Link: return Reason::kSymbolicLink;
    case platform::FileInfo::Kind::Missing: return FromErrno(ENOENT);
    default: return FromErrno(ENOTDIR);
  }
}

OrReason<platform::Folder> FakeFileSystem::MakeFolder(const platform::Place& place, std::uint32_t permissions) {
  Lock lock(mutex_);
  if (!Stat(place).exists()) AddDirectory(KeyOf(place), permissions & ~umask_);
  return OpenFolder(place);
}

Reason FakeFileSystem::List(const platform::Folder& folder, std::vector<platform::FolderEntry>& entries) {
  Lock lock(mutex_);
  if (StatFolder(folder).kind != platform::FileInfo::Kind::Folder) return FromErrno(ENOENT);
  entries.clear();
  for (const auto& [path, node] : nodes_) {
    if (path != KeyOfFolder(folder) && Parent(path) == KeyOfFolder(folder) && !IsRoot(path)) {
      entries.push_back({path.substr(path.rfind('/') + 1), InfoOf(*node).kind});
    }
  }
  return Reason::kNone;  // the map is sorted by path, so the names are too
}

Reason FakeFileSystem::Remove(const platform::Place& place) { return RemovePath(KeyOf(place)); }

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
