#include "interrupts.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace tarnwhistle::platform {
namespace {

constexpr int kSignals[3] = {SIGINT, SIGTERM, SIGHUP};
volatile std::sig_atomic_t caught_signal = 0;
int wake_pipe[2] = {-1, -1};

extern "C" void Remember(int signal) {
  caught_signal = signal;
  const int saved_errno = errno;
  const char byte = 1;
  if (wake_pipe[1] >= 0 && ::write(wake_pipe[1], &byte, 1) < 0) {
    // A full pipe already wakes its reader.
  }
  errno = saved_errno;
}

}  // namespace

bool InterruptRequested() { return caught_signal != 0; }

InterruptCatcher::InterruptCatcher() {
  caught_signal = 0;
  if (::pipe2(wake_pipe, O_CLOEXEC | O_NONBLOCK) != 0) wake_pipe[0] = wake_pipe[1] = -1;
  struct sigaction action = {};
  action.sa_handler = Remember;
  action.sa_flags = SA_RESTART;  // reads and writes carry on; the work asks Caught() itself
  sigemptyset(&action.sa_mask);
  for (int i = 0; i < 3; ++i) sigaction(kSignals[i], &action, &previous_[i]);
}

InterruptCatcher::~InterruptCatcher() {
  for (int i = 0; i < 3; ++i) sigaction(kSignals[i], &previous_[i], nullptr);
  for (int& fd : wake_pipe) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
}

bool InterruptCatcher::Caught() const { return InterruptRequested(); }

int InterruptCatcher::WakeDescriptor() const { return wake_pipe[0]; }

void InterruptCatcher::ResendIfCaught() {
  int signal = caught_signal;
  if (signal == 0) return;
  struct sigaction action = {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
  std::raise(signal);
}

}  // namespace tarnwhistle::platform
