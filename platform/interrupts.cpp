#include "interrupts.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <system_error>
#include <thread>

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
    // A full pipe already wakes its readers.
  }
  errno = saved_errno;
}

}  // namespace

struct InterruptCatcher::Watch {
  struct sigaction previous[3];
  int quit[2] = {-1, -1};  // ends the watching thread
  std::thread watcher;
};

void RaiseOpenFileLimit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
  }
}

bool InterruptRequested() { return caught_signal != 0; }
int WakeDescriptor() { return wake_pipe[0]; }

InterruptCatcher::InterruptCatcher() : watch_(std::make_unique<Watch>()) {
  caught_signal = 0;
  int* quit = watch_->quit;
  if (::pipe2(wake_pipe, O_CLOEXEC | O_NONBLOCK) != 0) wake_pipe[0] = wake_pipe[1] = -1;
  if (wake_pipe[0] >= 0 && ::pipe2(quit, O_CLOEXEC) == 0) {
    // Waits without taking the wake-up byte, so that other waits see it too.
    try {
      watch_->watcher = std::thread([this, quit] {
        pollfd waits[2] = {{wake_pipe[0], POLLIN, 0}, {quit[0], POLLIN, 0}};
        while (::poll(waits, 2, -1) < 0 && errno == EINTR) {
        }
        if (waits[0].revents != 0) stop_.request_stop();
      });
    } catch (const std::system_error&) {
      // No thread to be had: no one would tell the work of a signal, which is then left to
      // end the program at once, as by default (a nameless working file goes with it).
      for (int i = 0; i < 3; ++i) sigaction(kSignals[i], nullptr, &watch_->previous[i]);
      return;
    }
  }
  struct sigaction action = {};
  action.sa_handler = Remember;
  action.sa_flags = SA_RESTART;  // reads and writes carry on; the work watches its stop token
  sigemptyset(&action.sa_mask);
  for (int i = 0; i < 3; ++i) sigaction(kSignals[i], &action, &watch_->previous[i]);
}

InterruptCatcher::~InterruptCatcher() {
  for (int i = 0; i < 3; ++i) sigaction(kSignals[i], &watch_->previous[i], nullptr);
  if (watch_->watcher.joinable()) {
    const char byte = 1;
    while (::write(watch_->quit[1], &byte, 1) < 0 && errno == EINTR) {
    }
    watch_->watcher.join();
  }
  for (int* pipe : {wake_pipe, watch_->quit}) {
    for (int i = 0; i < 2; ++i) {
      if (pipe[i] >= 0) ::close(pipe[i]);
      pipe[i] = -1;
    }
  }
}

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
