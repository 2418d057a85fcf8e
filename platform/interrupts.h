#pragma once

#include <memory>
#include <stop_token>

namespace tarnwhistle::platform {

// Holds off SIGINT, SIGTERM and SIGHUP (Ctrl+C, kill, a logout; on Windows Ctrl+C,
// Ctrl+Break and the console closed) for as long as the program runs, so that work is stopped through its stop token and cleans up instead of
// being cut off in the middle. One per process, held by main().
class InterruptCatcher {
 public:
  InterruptCatcher();
  ~InterruptCatcher();
  InterruptCatcher(const InterruptCatcher&) = delete;
  InterruptCatcher& operator=(const InterruptCatcher&) = delete;

  // Stop is requested on it once a signal has come (by a thread of the catcher's own:
  // a signal handler may not do it).
  std::stop_token Token() const { return stop_.get_token(); }
  // Once the work has been cleaned up: ends the process by the signal that came, with
  // its default action, so that a calling shell sees it was interrupted. Returns when
  // no signal came.
  void ResendIfCaught();

 private:
  struct Watch;  // the system's own part
  std::stop_source stop_;
  std::unique_ptr<Watch> watch_;
};

// Lets the process hold as many descriptors open as the system allows it (the soft
// limit raised to the hard one): a batch holds a folder open for every folder of files
// it has in hand.
void RaiseOpenFileLimit();

// True once a signal has come while an InterruptCatcher holds them off.
bool InterruptRequested();
// Becomes readable, and stays so, once a signal has come; -1 when no catcher is held.
// For a wait on something else, such as standard input, that a signal must cut short.
// (On Windows a wait on an event, which standard_streams_windows.cpp reaches itself.)
int WakeDescriptor();

}  // namespace tarnwhistle::platform
