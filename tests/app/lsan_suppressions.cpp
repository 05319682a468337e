// Read by the sanitizer build's leak checker. Fontconfig frees its caches only on an explicit
// shutdown, which Qt does not make: every test that lays out text would report them.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
