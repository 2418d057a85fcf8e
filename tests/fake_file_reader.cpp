#include "fake_file_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tarnwhistle::testkit {
namespace {

using platform::FromErrno;
using platform::OrReason;
using platform::Reason;
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

}  // namespace

class FakeFileReader::Handle : public platform::ReadHandle {
 public:
  Handle(FakeFileReader& fs, std::shared_ptr<Node> node, platform::FileInfo opened)
      : fs_(fs), node_(std::move(node)), opened_(opened), version_(node_->version) {}

  OrReason<std::size_t> Read(std::span<std::uint8_t> data) override {
    Lock lock(fs_.mutex_);
    if (Reason failed = fs_.Fails(Op::Read); failed != Reason::kNone) return failed;
    const std::size_t left = node_->bytes.size() - std::min(position_, node_->bytes.size());
    std::size_t count = std::min(data.size(), left);
    if (fs_.read_limit_ > 0) count = std::min(count, fs_.read_limit_);
    std::memcpy(data.data(), node_->bytes.data() + position_, count);
    position_ += count;
    fs_.bytes_read_ += count;
    return count;
  }
  const platform::FileInfo& Opened() const override { return opened_; }
  Reason ChangedSinceOpened() override {
    Lock lock(fs_.mutex_);
    return node_->bytes.size() != opened_.identity.size || node_->version != version_ ? Reason::kChangedWhileRead
                                                                                     : Reason::kNone;
  }
  Reason Rewind() override {
    position_ = 0;
    return Reason::kNone;
  }

 private:
  FakeFileReader& fs_;
  std::shared_ptr<Node> node_;
  platform::FileInfo opened_;
  std::uint64_t version_;
  std::size_t position_ = 0;
};

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

std::string FakeFileReader::Join(const std::string& folder, const std::string& name) {
  if (name == ".") return folder;
  if (name == "..") return Parent(folder);
  if (folder.empty()) return name;
  return folder == "/" ? "/" + name : folder + "/" + name;
}

auto FakeFileReader::NewNode(Node::Kind kind, std::string bytes, std::uint32_t permissions) -> std::shared_ptr<Node> {
  auto node = std::make_shared<Node>();
  node->kind = kind;
  node->bytes = std::move(bytes);
  node->permissions = permissions;
  node->inode = next_inode_++;
  return node;
}

void FakeFileReader::AddFile(const std::string& path, const std::string& bytes, std::uint32_t permissions,
                             std::uint32_t owner, std::uint32_t group) {
  Lock lock(mutex_);
  std::shared_ptr<Node> node = NewNode(Node::Kind::File, bytes, permissions);
  node->owner = owner;
  node->group = group;
  nodes_[path] = node;
}
void FakeFileReader::AddDirectory(const std::string& path, std::uint32_t permissions, std::uint32_t owner) {
  Lock lock(mutex_);
  nodes_[path] = NewNode(Node::Kind::Directory, "", permissions);
  nodes_[path]->owner = owner;
}
void FakeFileReader::AddDirectories(const std::string& path) {
  Lock lock(mutex_);
  if (IsRoot(path) || nodes_.count(path)) return;
  AddDirectories(Parent(path));
  AddDirectory(path);
}
void FakeFileReader::AddHardLink(const std::string& existing, const std::string& path) {
  Lock lock(mutex_);
  nodes_[path] = nodes_.at(existing);
  ++nodes_[path]->links;
}
void FakeFileReader::AddSymlink(const std::string& path, const std::string& target) {
  Lock lock(mutex_);
  nodes_[path] = NewNode(Node::Kind::Symlink, target, 0777);
}

std::optional<std::string> FakeFileReader::Contents(const std::string& path) const {
  Lock lock(mutex_);
  std::shared_ptr<Node> node = Find(path);
  if (!node || node->kind != Node::Kind::File) return std::nullopt;
  return node->bytes;
}

std::uint32_t FakeFileReader::Permissions(const std::string& path) const {
  Lock lock(mutex_);
  std::shared_ptr<Node> node = Find(path);
  return node ? node->permissions : 0;
}

void FakeFileReader::Rewrite(const std::string& path, const std::string& bytes) {
  Lock lock(mutex_);
  std::shared_ptr<Node> node = Find(path);
  node->bytes = bytes;
  ++node->version;
}

std::vector<std::string> FakeFileReader::Paths() const {
  Lock lock(mutex_);
  std::vector<std::string> paths;
  for (const auto& [path, node] : nodes_) paths.push_back(path);
  return paths;
}

void FakeFileReader::FailOn(Op op, int nth, Reason reason) {
  Lock lock(mutex_);
  failures_[op][calls_[static_cast<int>(op)] + nth] = reason == Reason::kNone ? DefaultReason(op) : reason;
}

int FakeFileReader::Calls(Op op) const {
  Lock lock(mutex_);
  return calls_[static_cast<int>(op)];
}

std::vector<Op> FakeFileReader::Log() const {
  Lock lock(mutex_);
  return log_;
}

std::uint64_t FakeFileReader::BytesRead() const {
  Lock lock(mutex_);
  return bytes_read_;
}

Reason FakeFileReader::Fails(Op op) {
  Lock lock(mutex_);
  const int call = ++calls_[static_cast<int>(op)];
  log_.push_back(op);
  const auto planned = failures_.find(op);
  if (planned == failures_.end()) return Reason::kNone;
  const auto failure = planned->second.find(call);
  return failure == planned->second.end() ? Reason::kNone : failure->second;
}

auto FakeFileReader::Find(const std::string& path) const -> std::shared_ptr<Node> {
  auto* self = const_cast<FakeFileReader*>(this);  // Locate changes nothing
  const OrReason<platform::Place> place = self->Locate(path);
  if (!place) return nullptr;
  const auto found = nodes_.find(KeyOf(place.value));
  return found == nodes_.end() ? nullptr : found->second;
}

std::string FakeFileReader::KeyOf(const platform::Place& place) const {
  return Join(KeyOfFolder(place.folder), place.name);
}

platform::FileInfo FakeFileReader::InfoOf(const Node& node) const {
  platform::FileInfo info;
  info.kind = node.kind == Node::Kind::File        ? platform::FileInfo::Kind::File
              : node.kind == Node::Kind::Directory ? platform::FileInfo::Kind::Folder
                                                   : platform::FileInfo::Kind::Link;
  info.identity = {1, node.inode, node.bytes.size(), static_cast<std::int64_t>(node.version), 0};
  info.permissions = node.permissions;
  info.owner = node.owner;
  info.group = node.group;
  info.links = node.links;
  return info;
}

OrReason<platform::Place> FakeFileReader::Locate(const std::string& path) {
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

platform::FileInfo FakeFileReader::Stat(const platform::Place& place) {
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

OrReason<std::unique_ptr<platform::ReadHandle>> FakeFileReader::OpenForRead(const platform::Place& place) {
  Lock lock(mutex_);
  if (Reason failed = Fails(Op::OpenRead); failed != Reason::kNone) return failed;
  const auto found = nodes_.find(KeyOf(place));
  if (found == nodes_.end()) return IsRoot(KeyOf(place)) ? FromErrno(EISDIR) : FromErrno(ENOENT);
  switch (found->second->kind) {
    case Node::Kind::File: break;
    case Node::Kind::Directory: return FromErrno(EISDIR);
    case Node::Kind::Symlink: return Reason::kSymbolicLink;
  }
  return std::unique_ptr<platform::ReadHandle>(std::make_unique<Handle>(*this, found->second, InfoOf(*found->second)));
}

OrReason<platform::Folder> FakeFileReader::OpenFolder(const platform::Place& place) {
  Lock lock(mutex_);
  const platform::FileInfo info = Stat(place);
  switch (info.kind) {
    case platform::FileInfo::Kind::Folder: return platform::Folder(std::make_shared<FakeFolder>(KeyOf(place)));
    case platform::FileInfo::Kind::Link: return Reason::kSymbolicLink;
    case platform::FileInfo::Kind::Missing: return FromErrno(ENOENT);
    default: return FromErrno(ENOTDIR);
  }
}

Reason FakeFileReader::List(const platform::Folder& folder, std::vector<platform::FolderEntry>& entries) {
  Lock lock(mutex_);
  if (Stat({folder, "."}).kind != platform::FileInfo::Kind::Folder) return FromErrno(ENOENT);
  entries.clear();
  for (const auto& [path, node] : nodes_) {
    if (path != KeyOfFolder(folder) && Parent(path) == KeyOfFolder(folder) && !IsRoot(path)) {
      entries.push_back({path.substr(path.rfind('/') + 1), InfoOf(*node).kind});
    }
  }
  return Reason::kNone;  // the map is sorted by path, so the names are too
}

}  // namespace tarnwhistle::testkit
