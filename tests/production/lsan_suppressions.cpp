// The leak checker of the sanitizer build reads these when the program starts. The workers of
// these tests run on threads of their own; Qt keeps the per-thread data of such a thread (its
// event dispatcher's wait condition and thread data) until thread-local clean-up, which at
// process exit can come after the leak check. Those blocks are reported as indirect leaks in
// libQt6Core with no frame of ours, now and then.
extern "C" const char* __lsan_default_suppressions() { return "leak:libQt6Core.so\n"; }
