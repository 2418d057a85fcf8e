#include "file_system.h"

namespace tarnwhistle::platform {

bool SameExistingFile(FileSystem& fs, const std::string& a, const std::string& b) {
  FileInfo first = fs.Stat(a);
  if (!first.exists) return false;
  FileInfo second = fs.Stat(b);
  return second.exists && first.device == second.device && first.inode == second.inode;
}

}  // namespace tarnwhistle::platform
