#include "interrupts.h"

namespace tarnwhistle::platform {
namespace {

constexpr int kSignals[3] = {SIGINT, SIGTERM, SIGHUP};
volatile std::sig_atomic_t caught_signal = 0;

extern "C" void Remember(int signal) { caught_signal = signal; }

}  // namespace

InterruptCatcher::InterruptCatcher() {
  caught_signal = 0;
  struct sigaction action = {};
  action.sa_handler = Remember;
  action.sa_flags = SA_RESTART;  // reads and writes carry on; the work asks Caught() itself
  sigemptyset(&action.sa_mask);
  for (int i = 0; i < 3; ++i) sigaction(kSignals[i], &action, &previous_[i]);
}

InterruptCatcher::~InterruptCatcher() {
  for (int i = 0; i < 3; ++i) sigaction(kSignals[i], &previous_[i], nullptr);
}

bool InterruptCatcher::Caught() const { return caught_signal != 0; }

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
