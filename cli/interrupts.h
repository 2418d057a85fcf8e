#pragma once

#include <csignal>

namespace tarnwhistle::cli {

// Holds off SIGINT, SIGTERM and SIGHUP while the tool runs, so that a conversion that is
// asked to stop removes its unfinished output instead of leaving it behind. Only one may
// exist at a time.
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

}  // namespace tarnwhistle::cli
