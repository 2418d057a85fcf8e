// Built into the tests only with TARNWHISTLE_SANITIZE: LeakSanitizer reads the committed
// suppressions (lsan.supp) however the tests are started, and UndefinedBehaviorSanitizer
// shows where undefined behaviour came from. LSAN_OPTIONS and UBSAN_OPTIONS still add to
// or override these.

extern "C" const char* __lsan_default_options() { return "suppressions=" TARNWHISTLE_LSAN_SUPPRESSIONS; }
extern "C" const char* __ubsan_default_options() { return "print_stacktrace=1"; }
