#pragma once

#include <csignal>

namespace tarnwhistle::platform {

// Holds off SIGINT, SIGTERM and SIGHUP (Ctrl+C, kill, a logout) for as long as the
// program runs, so that a conversion is stopped through its progress callback and
// cleans up instead of being cut off in the middle. One per process, held by main():
// the command-line tool asks Caught() as it works, the window's event loop watches
// WakeDescriptor().
class InterruptCatcher {
 public:
  InterruptCatcher();
  ~InterruptCatcher();
  InterruptCatcher(const InterruptCatcher&) = delete;
  InterruptCatcher& operator=(const InterruptCatcher&) = delete;

  bool Caught() const;
  // Becomes readable when a signal has come (-1 if no pipe could be made).
  int WakeDescriptor() const;
  // Once the work has been cleaned up: ends the process by the signal that came, with
  // its default action, so that a calling shell sees it was interrupted. Returns when
  // no signal came.
  void ResendIfCaught();

 private:
  struct sigaction previous_[3];
};

// True once a signal has come while an InterruptCatcher holds them off; work anywhere in
// the program asks this to stop early.
bool InterruptRequested();

}  // namespace tarnwhistle::platform
