#include "standard_streams.h"

#include <unistd.h>

#include "posix_file_system.h"

namespace tarnwhistle::platform {
namespace {

class InputHandle : public ReadHandle {
 public:
  std::ptrdiff_t Read(std::uint8_t* data, std::size_t size) override { return ReadSome(STDIN_FILENO, data, size); }
  std::uint64_t Size() const override { return 0; }  // a pipe's length is known only at its end
  std::uint32_t Permissions() const override { return 0; }
  bool ChangedSinceOpened() override { return false; }  // a stream has no size to compare
};

class OutputHandle : public WriteHandle {
 public:
  bool Write(const std::uint8_t* data, std::size_t size) override { return WriteAll(STDOUT_FILENO, data, size); }
  // A pipe or a terminal has nothing to make durable; a file behind a redirection is the
  // shell's, and its durability is the caller's choice.
  bool Flush() override { return true; }
  // The stream is the shell's: it has no name, owner or mode of the tool's to set.
  bool SetPermissions(std::uint32_t) override { return false; }
  Ownership SetOwner(std::uint32_t, std::uint32_t) override { return Ownership::NotKept; }
  bool CopyAccessList(const std::string&) override { return false; }
  bool Publish(const std::string&) override { return true; }
};

}  // namespace

std::unique_ptr<ReadHandle> StandardInput() { return std::make_unique<InputHandle>(); }
std::unique_ptr<WriteHandle> StandardOutput() { return std::make_unique<OutputHandle>(); }

}  // namespace tarnwhistle::platform
