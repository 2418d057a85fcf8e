#include <windows.h>

#include <atomic>

#include "interrupts.h"
#include "windows_text.h"

namespace tarnwhistle::platform {
namespace {

// What Windows reports for a process ended by Ctrl+C (STATUS_CONTROL_C_EXIT), as a
// shell sees a process ended by SIGINT on Linux.
constexpr UINT kInterruptedExit = 0xC000013A;
// Windows ends the process this long after the console closed, handler or not.
constexpr DWORD kCloseGrace = 4500;

std::atomic<DWORD> caught_event{~DWORD{0}};
HANDLE wake_event = nullptr;     // set once an event came
HANDLE cleaned_event = nullptr;  // set once the work is cleaned up
std::stop_source* the_stop = nullptr;

// Runs on a thread of its own, which the system starts for the event.
BOOL WINAPI Remember(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT: break;
    default: return FALSE;
  }
  DWORD none = ~DWORD{0};
  caught_event.compare_exchange_strong(none, event);
  ::SetEvent(wake_event);
  if (the_stop != nullptr) the_stop->request_stop();
  // Once this returns after a close, logoff or shutdown, Windows ends the process: wait
  // for the work to clean up first.
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) ::WaitForSingleObject(cleaned_event, kCloseGrace);
  return TRUE;
}

}  // namespace

struct InterruptCatcher::Watch {};

HANDLE InterruptEvent() { return wake_event; }

// Windows has no limit to raise: a process holds as many handles as it has memory for.
void RaiseOpenFileLimit() {}

bool InterruptRequested() { return caught_event.load() != ~DWORD{0}; }
// The wait is on InterruptEvent() instead.
int WakeDescriptor() { return -1; }

InterruptCatcher::InterruptCatcher() : watch_(std::make_unique<Watch>()) {
  caught_event = ~DWORD{0};
  wake_event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  cleaned_event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  the_stop = &stop_;
  ::SetConsoleCtrlHandler(Remember, TRUE);
}

InterruptCatcher::~InterruptCatcher() {
  ::SetConsoleCtrlHandler(Remember, FALSE);
  ::SetEvent(cleaned_event);
  the_stop = nullptr;
  // The events stay: a handler thread may still be waiting on one.
}

void InterruptCatcher::ResendIfCaught() {
  if (!InterruptRequested()) return;
  ::SetEvent(cleaned_event);
  ::ExitProcess(kInterruptedExit);
}

}  // namespace tarnwhistle::platform
