/* Preloaded into `strovia play` by the end-to-end tests: opening any file
 * named AVPelmo.mdb never returns, as on a file system that has stopped
 * answering, so the program's user-interface thread is stuck. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdarg.h>
#include <string.h>
#include <unistd.h>

typedef int (*open_fn)(const char*, int, ...);

static int call(const char* name, const char* path, int flags, va_list args) {
    const int mode = va_arg(args, int);
    if (path != NULL && strstr(path, "AVPelmo.mdb") != NULL) {
        for (;;) pause();
    }
    open_fn real = (open_fn)dlsym(RTLD_NEXT, name);
    return real(path, flags, mode);
}

__attribute__((visibility("default"))) int open(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const int fd = call("open", path, flags, args);
    va_end(args);
    return fd;
}

__attribute__((visibility("default"))) int open64(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const int fd = call("open64", path, flags, args);
    va_end(args);
    return fd;
}
