#include "folder_listing.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <memory>

namespace tarnwhistle::platform {

bool PosixFolders::List(const std::string& path, std::vector<FolderEntry>& entries) {
  std::unique_ptr<DIR, int (*)(DIR*)> folder(::opendir(path.empty() ? "." : path.c_str()), ::closedir);
  if (!folder) return false;
  entries.clear();
  errno = 0;
  while (const dirent* entry = ::readdir(folder.get())) {
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    FolderEntry::Kind kind = FolderEntry::Kind::Other;
    unsigned char type = entry->d_type;
    if (type == DT_UNKNOWN) {  // some file systems leave the type to a stat
      struct stat st;
      if (::fstatat(::dirfd(folder.get()), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
        type = S_ISREG(st.st_mode) ? DT_REG : S_ISDIR(st.st_mode) ? DT_DIR : S_ISLNK(st.st_mode) ? DT_LNK : DT_UNKNOWN;
      }
    }
    if (type == DT_REG) kind = FolderEntry::Kind::File;
    if (type == DT_DIR) kind = FolderEntry::Kind::Folder;
    if (type == DT_LNK) kind = FolderEntry::Kind::Link;
    entries.push_back({std::move(name), kind});
    errno = 0;
  }
  if (errno != 0) return false;
  std::sort(entries.begin(), entries.end(), [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
  return true;
}

bool PosixFolders::Create(const std::string& path) {
  if (path.empty()) return true;
  std::error_code error;
  std::filesystem::create_directories(path, error);
  return std::filesystem::is_directory(path, error);
}

bool NameMatches(std::string_view name, const std::vector<std::string>& patterns) {
  if (patterns.empty()) return true;
  const std::string text(name);
  return std::any_of(patterns.begin(), patterns.end(),
                     [&text](const std::string& pattern) { return ::fnmatch(pattern.c_str(), text.c_str(), 0) == 0; });
}

}  // namespace tarnwhistle::platform
