// Placeholder so the library exists before its first real source; delete when adding one.
