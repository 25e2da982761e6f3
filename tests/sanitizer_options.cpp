// Sanitizer settings built into every test program, so that it behaves the
// same under CTest and when run by hand: stop at the first error, report
// leaks, and leave alone what leaks inside system libraries. The sanitizer
// runtimes look these functions up at start; without sanitizers nothing calls
// them.

extern "C" {

__attribute__((used, visibility("default"))) const char* __asan_default_options() {
  return "halt_on_error=1:detect_leaks=1:abort_on_error=1";
}

__attribute__((used, visibility("default"))) const char* __ubsan_default_options() {
  return "halt_on_error=1:print_stacktrace=1";
}

__attribute__((used, visibility("default"))) const char* __tsan_default_options() {
  return "halt_on_error=1:second_deadlock_stack=1";
}

// Leaks inside system libraries, never in our own code: the desktop libraries
// that Qt's X11 platform loads (D-Bus keeps a buffer for the life of the
// process), and glibc's copy of LOCPATH, made when a locale is loaded from
// there (the locale tests compile one into a temporary directory).
__attribute__((used, visibility("default"))) const char* __lsan_default_suppressions() {
  return "leak:libdbus-1.so\n"
         "leak:__argz_add_sep\n";
}

}  // extern "C"
