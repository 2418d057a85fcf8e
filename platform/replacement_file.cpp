#include "replacement_file.h"

#include <algorithm>
#include <filesystem>
#include <string_view>

namespace tarnwhistle::platform {
namespace {

// The longest name of a folder entry, and the longest path, that the system takes.
constexpr std::size_t kLongestName = 255;
constexpr std::size_t kLongestPath = 4095;

constexpr std::uint32_t kSetGroupId = 02000;
constexpr std::uint32_t kAccessBits = 0777;

constexpr std::string_view kWorkingMarker = ".tarnwhistle-";
// What a working file's name adds to the part of the target's name it keeps: a leading
// dot, the marker, and the characters a unique name appends.
constexpr std::size_t kWorkingNameExtra = 1 + kWorkingMarker.size() + FileSystem::kUniqueSuffixLength;

// The start of the target's `name` that the working file's name repeats: all of it
// when the working file's name and path then stay within the system's limits, else as
// much as fits, cut between two UTF-8 characters. A target with a long name (85
// Japanese characters fill an entry) is still written, its working file only shorter.
std::string KeptPartOfName(const std::string& directory, const std::string& name) {
  const std::size_t directory_part = directory.empty() ? 0 : directory.size() + 1;
  const std::size_t taken = directory_part + kWorkingNameExtra;
  const std::size_t room = std::min(kLongestName - kWorkingNameExtra, taken < kLongestPath ? kLongestPath - taken : 0);
  if (name.size() <= room) return name;
  std::size_t cut = room;
  while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
  return name.substr(0, cut);
}

}  // namespace

bool IsWorkingFileName(std::string_view name) {
  return name.starts_with('.') && name.find(kWorkingMarker) != std::string_view::npos;
}

std::unique_ptr<ReplacementFile> ReplacementFile::Create(FileSystem& fs, const std::string& target,
                                                         std::uint32_t source_permissions) {
  if (!std::filesystem::path(target).has_filename()) return nullptr;  // "folder/" names no file
  const std::filesystem::path final_target = fs.ResolveLinks(target);
  if (!final_target.has_filename()) return nullptr;  // a loop, or a link that may not be followed

  const FileInfo existing = fs.Stat(final_target);
  if (existing.exists && !existing.regular) return nullptr;  // never replace a folder or a device

  const std::string directory = final_target.parent_path().string();
  std::string prefix = ".";
  prefix += KeptPartOfName(directory, final_target.filename().string());
  prefix += kWorkingMarker;
  std::unique_ptr<WriteHandle> handle = fs.CreateWorkingFile(directory, prefix);
  if (!handle) return nullptr;

  std::uint32_t permissions = (source_permissions & kAccessBits) & ~fs.Umask();
  if (existing.exists) {
    // Set at once, so that a target whose owner cannot be kept costs no conversion.
    const Ownership ownership = handle->SetOwner(existing.owner, existing.group);
    if (ownership == Ownership::NotKept) return nullptr;
    permissions = existing.permissions;
    // setgid means "runs as this group": never for a group the file no longer has.
    if (ownership == Ownership::OwnerOnly) permissions &= ~kSetGroupId;
    if (!handle->CopyAccessList(final_target)) return nullptr;
  }
  return std::unique_ptr<ReplacementFile>(
      new ReplacementFile(std::move(handle), final_target.string(), existing.exists, permissions));
}

ReplacementFile::ReplacementFile(std::unique_ptr<WriteHandle> handle, std::string target, bool replaces_existing,
                                 std::uint32_t permissions)
    : handle_(std::move(handle)),
      target_(std::move(target)),
      replaces_existing_(replaces_existing),
      permissions_(permissions) {}

bool ReplacementFile::Commit() {
  if (!handle_->SetPermissions(permissions_)) return false;
  if (replaces_existing_ && !handle_->Flush()) return false;
  return handle_->Publish(target_);
}

}  // namespace tarnwhistle::platform
