#pragma once

#include <csignal>

namespace tarnwhistle::platform {

// Holds off SIGINT, SIGTERM and SIGHUP (Ctrl+C, kill, a logout) while a conversion
// runs, so that it is stopped through its progress callback and cleans up instead of
// being cut off in the middle. Only one may exist at a time; the window and the
// command-line tool each hold one.
class InterruptCatcher {
 public:
  InterruptCatcher();
  ~InterruptCatcher();
  InterruptCatcher(const InterruptCatcher&) = delete;
  InterruptCatcher& operator=(const InterruptCatcher&) = delete;

  bool Caught() const;
  // Once the work has been cleaned up: ends the process by the signal that came, with
  // its default action, so that a calling shell sees it was interrupted. Returns when
  // no signal came.
  void ResendIfCaught();

 private:
  struct sigaction previous_[3];
};

}  // namespace tarnwhistle::platform
