// Built into the sanitized tool only. Its options are compiled in rather than taken from the
// environment: the sanitizers read the environment through /proc/self/environ, and some
// end-to-end tests mount a /proc of their own. Reports go to files in TARNVEL_SANITIZER_LOG,
// never onto the tool's stderr, which the tests read. The leak checker stays off: it cannot
// work without the real /proc nor under strace (leaks are the unit tests' and fuzzers' job).
extern "C" const char* __asan_default_options()
{
    return "detect_leaks=0:log_path=" TARNVEL_SANITIZER_LOG "/asan";
}

extern "C" const char* __ubsan_default_options()
{
    return "print_stacktrace=1:log_path=" TARNVEL_SANITIZER_LOG "/ubsan";
}
