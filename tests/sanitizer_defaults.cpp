// Built into the tests only under a sanitizer: LeakSanitizer and ThreadSanitizer read
// the committed suppressions (lsan.supp, tsan.supp) however the tests are started, and
// UndefinedBehaviorSanitizer shows where undefined behaviour came from. LSAN_OPTIONS,
// TSAN_OPTIONS and UBSAN_OPTIONS still add to or override these.

extern "C" const char* __lsan_default_options() { return "suppressions=" TARNWHISTLE_LSAN_SUPPRESSIONS; }
extern "C" const char* __ubsan_default_options() { return "print_stacktrace=1"; }
// QProcess starts a program by vfork() and exec, which ThreadSanitizer takes for a fork
// of a process with threads, after which it would refuse to let the tests start any.
extern "C" const char* __tsan_default_options() {
  return "suppressions=" TARNWHISTLE_TSAN_SUPPRESSIONS " halt_on_error=1 second_deadlock_stack=1 die_after_fork=0";
}
