// For the sanitizer build: Fontconfig's caches are freed only by a shutdown Qt never makes.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
