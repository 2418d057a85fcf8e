#include "fake_file_system.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

namespace tarnwhistle::testing {
namespace {

using Node = FakeFileSystem::Node;

class FakeReadHandle : public platform::ReadHandle {
 public:
  FakeReadHandle(FakeFileSystem& fs, std::shared_ptr<Node> node)
      : fs_(fs), node_(std::move(node)), size_(node_->bytes.size()), version_(node_->version) {}

  std::ptrdiff_t Read(std::uint8_t* data, std::size_t size) override {
    if (fs_.Fails(Op::Read)) return -1;
    std::size_t left = node_->bytes.size() - std::min(position_, node_->bytes.size());
    std::size_t count = std::min(size, left);
    if (fs_.ReadLimit() > 0) count = std::min(count, fs_.ReadLimit());
    std::memcpy(data, node_->bytes.data() + position_, count);
    position_ += count;
    fs_.CountRead(count);
    return static_cast<std::ptrdiff_t>(count);
  }
  std::uint64_t Size() const override { return size_; }
  std::uint32_t Permissions() const override { return node_->permissions; }
  bool ChangedSinceOpened() override { return node_->bytes.size() != size_ || node_->version != version_; }

 private:
  FakeFileSystem& fs_;
  std::shared_ptr<Node> node_;
  std::size_t size_;
  std::uint64_t version_;
  std::size_t position_ = 0;
};

class FakeWriteHandle : public platform::WriteHandle {
 public:
  FakeWriteHandle(FakeFileSystem& fs, std::shared_ptr<Node> node, std::string path)
      : fs_(fs), node_(std::move(node)), path_(std::move(path)) {}
  ~FakeWriteHandle() override {
    if (!published_) fs_.Remove(path_);
  }

  bool Write(const std::uint8_t* data, std::size_t size) override {
    if (closed_ || fs_.Fails(Op::Write)) return false;
    node_->bytes.append(reinterpret_cast<const char*>(data), size);
    return true;
  }
  bool Flush() override { return !closed_ && !fs_.Fails(Op::Flush); }
  bool SetPermissions(std::uint32_t mode) override {
    if (closed_ || fs_.Fails(Op::SetPermissions)) return false;
    node_->permissions = mode & 07777;
    return true;
  }
  platform::Ownership SetOwner(std::uint32_t owner, std::uint32_t group) override {
    if (closed_ || fs_.Fails(Op::SetOwner)) return platform::Ownership::NotKept;
    node_->owner = owner;
    node_->group = group;
    return platform::Ownership::Kept;
  }
  bool CopyAccessList(const std::string&) override { return !closed_ && !fs_.Fails(Op::CopyAccessList); }
  bool Publish(const std::string& target) override {
    if (closed_) return false;
    closed_ = true;
    if (fs_.Fails(Op::Close) || !fs_.Rename(path_, target)) return false;
    published_ = true;
    return true;
  }

 private:
  FakeFileSystem& fs_;
  std::shared_ptr<Node> node_;
  std::string path_;
  bool closed_ = false;
  bool published_ = false;
};

}  // namespace

const char* OpName(Op op) {
  static const char* const kNames[] = {"open",   "create", "read",  "write", "flush", "close",
                                       "rename", "remove", "chmod", "chown", "copy acl"};
  return kNames[static_cast<int>(op)];
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
  std::shared_ptr<Node> node = NewNode(Node::Kind::File, bytes, permissions);
  node->owner = owner;
  node->group = group;
  nodes_[path] = node;
}
void FakeFileSystem::AddDirectory(const std::string& path) { nodes_[path] = NewNode(Node::Kind::Directory, "", 0755); }
void FakeFileSystem::AddFifo(const std::string& path) { nodes_[path] = NewNode(Node::Kind::Fifo, "", 0644); }
void FakeFileSystem::AddHardLink(const std::string& existing, const std::string& path) {
  nodes_[path] = nodes_.at(existing);
}
void FakeFileSystem::AddSymlink(const std::string& path, const std::string& target) {
  nodes_[path] = NewNode(Node::Kind::Symlink, target, 0777);
}

std::optional<std::string> FakeFileSystem::Contents(const std::string& path) const {
  std::shared_ptr<Node> node = Find(path);
  if (!node || node->kind != Node::Kind::File) return std::nullopt;
  return node->bytes;
}

std::uint32_t FakeFileSystem::Permissions(const std::string& path) const {
  std::shared_ptr<Node> node = Find(path);
  return node ? node->permissions : 0;
}

void FakeFileSystem::Rewrite(const std::string& path, const std::string& bytes) {
  std::shared_ptr<Node> node = Find(path);
  node->bytes = bytes;
  ++node->version;
}

std::vector<std::string> FakeFileSystem::Paths() const {
  std::vector<std::string> paths;
  for (const auto& [path, node] : nodes_) paths.push_back(path);
  return paths;
}

void FakeFileSystem::FailOn(Op op, int nth) {
  failures_[op].push_back(calls_[static_cast<int>(op)] + nth);
}

bool FakeFileSystem::Fails(Op op) {
  int call = ++calls_[static_cast<int>(op)];
  auto planned = failures_.find(op);
  if (planned == failures_.end()) return false;
  return std::find(planned->second.begin(), planned->second.end(), call) != planned->second.end();
}

std::shared_ptr<Node> FakeFileSystem::Find(const std::string& path) const {
  std::string current = path;
  for (int hop = 0; hop < 40; ++hop) {
    auto found = nodes_.find(current);
    if (found == nodes_.end()) return nullptr;
    if (found->second->kind != Node::Kind::Symlink) return found->second;
    current = found->second->bytes;
  }
  return nullptr;
}

std::unique_ptr<platform::ReadHandle> FakeFileSystem::OpenForRead(const std::string& path) {
  if (Fails(Op::OpenRead)) return nullptr;
  std::shared_ptr<Node> node = Find(path);
  if (!node || node->kind != Node::Kind::File) return nullptr;
  return std::make_unique<FakeReadHandle>(*this, node);
}

std::unique_ptr<platform::WriteHandle> FakeFileSystem::CreateWorkingFile(const std::string& directory,
                                                                         const std::string& name_prefix) {
  if (Fails(Op::Create)) return nullptr;
  if (!directory.empty() && directory != "/") {
    std::shared_ptr<Node> folder = Find(directory);
    if (!folder || folder->kind != Node::Kind::Directory) return nullptr;
  }
  std::string path = (std::filesystem::path(directory) / (name_prefix + std::to_string(++created_))).string();
  std::shared_ptr<Node> node = NewNode(Node::Kind::File, "", 0600);
  nodes_[path] = node;
  return std::make_unique<FakeWriteHandle>(*this, node, path);
}

bool FakeFileSystem::Rename(const std::string& from, const std::string& to) {
  if (Fails(Op::Rename)) return false;
  auto source = nodes_.find(from);
  if (source == nodes_.end()) return false;
  auto target = nodes_.find(to);
  if (target != nodes_.end() && target->second->kind == Node::Kind::Directory) return false;
  std::shared_ptr<Node> node = source->second;
  nodes_.erase(source);
  nodes_[to] = node;
  return true;
}

bool FakeFileSystem::Remove(const std::string& path) { return !Fails(Op::Remove) && nodes_.erase(path) > 0; }

platform::FileInfo FakeFileSystem::Stat(const std::string& path) {
  platform::FileInfo info;
  std::shared_ptr<Node> node = Find(path);
  if (!node) return info;
  info.exists = true;
  info.regular = node->kind == Node::Kind::File;
  info.device = 1;
  info.inode = node->inode;
  info.permissions = node->permissions;
  info.owner = node->owner;
  info.group = node->group;
  return info;
}

std::string FakeFileSystem::ResolveLinks(const std::string& path) {
  std::string current = path;
  for (int hop = 0; hop < 40; ++hop) {
    auto found = nodes_.find(current);
    if (found == nodes_.end() || found->second->kind != Node::Kind::Symlink) return current;
    current = found->second->bytes;
  }
  return {};
}

}  // namespace tarnwhistle::testing
