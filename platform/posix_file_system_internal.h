// What PosixFileSystem's files (posix_*.cpp) share: descriptors and the folder handle.
#pragma once

#include <unistd.h>

#include <string>
#include <utility>

#include "file_system.h"

namespace tarnwhistle::platform {

// A descriptor closed with its owner.
class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  ~Descriptor() { Reset(); }
  Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Descriptor& operator=(Descriptor&& other) noexcept {
    if (this != &other) {
      Reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }
  void Reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

// An O_PATH descriptor of a folder: enough for every *at call, and it needs no read
// permission on the folder itself.
class PosixFolder : public FolderHandle {
 public:
  PosixFolder(Descriptor fd, std::string path) : FolderHandle(std::move(path)), fd_(std::move(fd)) {}
  int fd() const { return fd_.get(); }

 private:
  Descriptor fd_;
};

inline int FdOf(const Folder& folder) { return static_cast<const PosixFolder&>(*folder).fd(); }

}  // namespace tarnwhistle::platform
