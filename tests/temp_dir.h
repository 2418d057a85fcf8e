#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace tarnwhistle::testkit {

// A fresh folder under the system's temporary folder, removed with all it holds when
// the test ends.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // The path of `name` inside the folder.
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  // Writes `bytes` to the file `name` in the folder and returns its path.
  std::string Write(const std::string& name, const std::string& bytes) const;
  // The names in the folder, sorted.
  std::vector<std::string> Names() const;

 private:
  std::string path_;
};

// The whole content of a file; "<missing>" when it cannot be read.
std::string ReadAll(const std::string& path);

}  // namespace tarnwhistle::testkit
