#include "replacement_file.h"

#include <algorithm>
#include <string_view>

namespace tarnwhistle::platform {
namespace {

// The longest name of a folder entry, and the longest path, that the system takes.
constexpr std::size_t kLongestName = 255;
constexpr std::size_t kLongestPath = 4095;

constexpr std::string_view kWorkingMarker = ".tarnwhistle-";
// What a working file's name adds to the part of the target's name it keeps: a leading
// dot, the marker, and the characters CreateUnique appends.
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

std::string DirectoryOf(const std::string& path) {
  std::string::size_type slash = path.rfind('/');
  if (slash == std::string::npos) return "";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
  std::string::size_type slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::unique_ptr<ReplacementFile> ReplacementFile::Create(FileSystem& fs, const std::string& target) {
  std::string final_target = fs.ResolveLinks(target);
  std::string name = NameOf(final_target);
  if (name.empty()) return nullptr;  // "folder/" names no file

  FileInfo existing = fs.Stat(final_target);
  if (existing.exists && !existing.regular) return nullptr;  // never replace a folder or a device

  const std::string directory = DirectoryOf(final_target);
  std::string prefix = ".";
  prefix += KeptPartOfName(directory, name);
  prefix += kWorkingMarker;
  std::string working_path;
  std::unique_ptr<WriteHandle> handle = fs.CreateUnique(directory, prefix, working_path);
  if (!handle) return nullptr;

  std::unique_ptr<ReplacementFile> replacement(
      new ReplacementFile(fs, std::move(handle), std::move(working_path), std::move(final_target), existing.exists));
  if (existing.exists && !replacement->handle_->SetPermissions(existing.permissions)) return nullptr;
  return replacement;
}

ReplacementFile::ReplacementFile(FileSystem& fs, std::unique_ptr<WriteHandle> handle,
                                 std::string working_path, std::string target, bool replaces_existing)
    : fs_(fs),
      handle_(std::move(handle)),
      working_path_(std::move(working_path)),
      target_(std::move(target)),
      replaces_existing_(replaces_existing) {}

ReplacementFile::~ReplacementFile() {
  if (committed_) return;
  handle_.reset();  // closes the file if Commit() did not get that far
  fs_.Remove(working_path_);
}

bool ReplacementFile::Commit() {
  if (replaces_existing_ && !handle_->Flush()) return false;
  if (!handle_->Close()) return false;
  if (!fs_.Rename(working_path_, target_)) return false;
  committed_ = true;
  return true;
}

}  // namespace tarnwhistle::platform
