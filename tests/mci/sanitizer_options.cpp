// Sanitizer settings of the media tests, read by the sanitizer runtime
// when the tests are built with STROVIA_SANITIZE (unused otherwise).
//
// GLib allocates a 16 KiB block in a library constructor (run by the
// dynamic loader before main) and drops its pointer once GStreamer has
// started; none of our code is on that stack. Only allocations made during
// library initialisation are suppressed, and the slow unwinder is needed to
// see that far through GLib, which is built without frame pointers.

// The sanitizer runtime finds these by dynamic look-up: they must stay
// visible when the build hides symbols by default.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() {
    return "leak:_dl_init\n";
}
extern "C" __attribute__((visibility("default"))) const char* __asan_default_options() {
    return "fast_unwind_on_malloc=0";
}
