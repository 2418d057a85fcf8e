#include "temp_dir.h"

#include <algorithm>
#include <fstream>
#include <random>
#include <sstream>
#include <vector>

namespace tarnwhistle::testkit {

// As mkdtemp makes it (for Windows too, which has no mkdtemp): a new folder of a fresh
// name, for its owner alone.
TempDir::TempDir() {
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device random;
  for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
    std::string name = "tarnwhistle-test-";
    for (int i = 0; i < 6; ++i) name += kLetters[random() % (sizeof kLetters - 1)];
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / name;
    std::error_code error;
    if (std::filesystem::create_directory(folder, error)) {
      std::filesystem::permissions(folder, std::filesystem::perms::owner_all, error);
      path_ = folder.string();
    }
  }
}

TempDir::~TempDir() {
  std::error_code ignored;
  // Folders a test made unwritable must become writable again to be emptied.
  for (auto& entry : std::filesystem::recursive_directory_iterator(path_, ignored)) {
    if (entry.is_directory(ignored)) {
      std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ignored);
    }
  }
  std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::Write(const std::string& name, const std::string& bytes) const {
  std::string path = *this / name;
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

std::vector<std::string> TempDir::Names() const {
  std::vector<std::string> names;
  for (auto& entry : std::filesystem::directory_iterator(path_)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "<missing>";
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

}  // namespace tarnwhistle::testkit
