#include "replacement_file.h"

namespace tarnwhistle::platform {

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

  std::string working_path;
  std::unique_ptr<WriteHandle> handle =
      fs.CreateUnique(DirectoryOf(final_target), "." + name + ".tarnwhistle-", working_path);
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
