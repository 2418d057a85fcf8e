#include "file_system.h"

#include <algorithm>

namespace tarnwhistle::platform {

std::string Place::Path() const { return !folder || folder->path() == "." ? name : JoinPath(folder->path(), name); }

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (name.empty() || name == ".") return folder;
  return folder.back() == '/' ? folder + name : folder + "/" + name;
}

std::vector<std::string> NamesLastFirst(const std::string& path) {
  std::vector<std::string> names;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    if (end > start) names.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  std::reverse(names.begin(), names.end());
  return names;
}

OrReason<std::unique_ptr<ReadHandle>> OpenPathForRead(FileReader& fs, const std::string& path) {
  OrReason<Place> place = fs.Locate(path);
  if (!place) return place.reason;
  return fs.OpenForRead(place.value);
}

Reason WorkingFile::Skip(std::uint64_t bytes) {
  static constexpr std::uint8_t kZeros[4096] = {};
  for (; bytes > 0;) {
    const std::size_t some = static_cast<std::size_t>(std::min<std::uint64_t>(bytes, sizeof kZeros));
    if (const Reason written = Write({kZeros, some}); written != Reason::kNone) return written;
    bytes -= some;
  }
  return Reason::kNone;
}

Reason ChangedWhileRead(ReadHandle& file, std::uint64_t read) {
  return read != file.Opened().identity.size ? Reason::kChangedWhileRead : file.ChangedSinceOpened();
}

bool TrustedInFolder(const FileInfo& folder, std::uint32_t owner, std::uint32_t user) {
  constexpr std::uint32_t kSticky = 01000, kOthersWrite = 0002;
  const bool shared_sticky = (folder.permissions & kSticky) != 0 && (folder.permissions & kOthersWrite) != 0;
  return owner == user || !shared_sticky || owner == folder.owner;
}

bool SameExistingFile(FileReader& fs, const Place& a, const Place& b) {
  const FileInfo first = fs.Stat(a);
  if (!first.exists()) return false;
  const FileInfo second = fs.Stat(b);
  return second.exists() && first.identity.SameFile(second.identity);
}

}  // namespace tarnwhistle::platform
