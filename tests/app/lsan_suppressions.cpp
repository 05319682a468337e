// The leak checker of the sanitizer build reads these when the program starts. Fontconfig
// keeps caches for the life of the process that it only frees on an explicit shutdown,
// which Qt does not make; every test that lays out text reports them otherwise.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
