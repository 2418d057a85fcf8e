#include "standard_streams.h"

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include "interrupts.h"
#include "posix_file_system.h"

namespace tarnwhistle::platform {
namespace {

class Input : public ByteSource {
 public:
  OrReason<std::size_t> Read(std::span<std::uint8_t> data) override {
    // A signal is caught and the read restarted (SA_RESTART), so a terminal or a pipe that
    // sends nothing would keep the tool waiting: wait for the signal's wake-up as well.
    pollfd waits[2] = {{STDIN_FILENO, POLLIN, 0}, {WakeDescriptor(), POLLIN, 0}};
    while (waits[1].fd >= 0 && !InterruptRequested()) {
      if (::poll(waits, 2, -1) < 0 && errno != EINTR) return LastError();
      if (waits[0].revents != 0) break;
    }
    if (InterruptRequested()) return Reason::kStopped;
    return ReadSome(STDIN_FILENO, data);
  }
};

class Output : public ByteSink {
 public:
  Reason Write(std::span<const std::uint8_t> data) override { return WriteAll(STDOUT_FILENO, data); }
};

}  // namespace

std::unique_ptr<ByteSource> StandardInput() { return std::make_unique<Input>(); }
std::unique_ptr<ByteSink> StandardOutput() { return std::make_unique<Output>(); }

namespace {

// Only a regular file: a terminal is standard input and output at once, and rightly so.
std::optional<FileIdentity> RegularFileOf(int fd) {
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  return InfoOf(st).identity;
}

}  // namespace

std::optional<FileIdentity> StandardOutputFile() { return RegularFileOf(STDOUT_FILENO); }
std::optional<FileIdentity> StandardInputFile() { return RegularFileOf(STDIN_FILENO); }

}  // namespace tarnwhistle::platform
