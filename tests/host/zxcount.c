/*
 * Preloaded into the test host: between zxcount_start() and zxcount_stop()
 * counts the heap allocations made by libzxdisplay itself (not by a simulated
 * vendor library below it) and every file open of the process.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <execinfo.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stddef.h>
#include <string.h>
#include <sys/syscall.h>
#include <unistd.h>

extern void *__libc_malloc(size_t size);
extern void *__libc_calloc(size_t count, size_t size);
extern void *__libc_realloc(void *p, size_t size);

static volatile int counting;
static unsigned long allocations;
static unsigned long opens;

static __thread int inside;

/* True when the library, not a simulator, asked for the allocation. */
static int by_library(void) {
    void *frames[64];
    int n, i, library = 0;
    if (inside) {
        return 0; /* the unwinder's own allocations */
    }
    inside = 1;
    n = backtrace(frames, 64);
    for (i = 0; i < n; ++i) {
        Dl_info info;
        if (dladdr(frames[i], &info) == 0 || info.dli_fname == NULL) continue;
        if (strstr(info.dli_fname, "libnvidia-api") != NULL || strstr(info.dli_fname, "libatipdl") != NULL) {
            library = 0;
            break;
        }
        if (strstr(info.dli_fname, "libzxdisplay") != NULL) library = 1;
    }
    inside = 0;
    return library;
}

void zxcount_start(void) {
    void *frame[1];
    backtrace(frame, 1); /* loads the unwinder before counting */
    allocations = 0;
    opens = 0;
    __atomic_store_n(&counting, 1, __ATOMIC_SEQ_CST);
}

void zxcount_stop(unsigned long *allocationCount, unsigned long *openCount) {
    __atomic_store_n(&counting, 0, __ATOMIC_SEQ_CST);
    *allocationCount = allocations;
    *openCount = opens;
}

static void counted(unsigned long *counter) {
    if (__atomic_load_n(&counting, __ATOMIC_SEQ_CST)) {
        __atomic_add_fetch(counter, 1, __ATOMIC_SEQ_CST);
    }
}

static void allocated(void) {
    if (__atomic_load_n(&counting, __ATOMIC_SEQ_CST) && by_library()) {
        __atomic_add_fetch(&allocations, 1, __ATOMIC_SEQ_CST);
    }
}

void *malloc(size_t size) {
    allocated();
    return __libc_malloc(size);
}

void *calloc(size_t count, size_t size) {
    allocated();
    return __libc_calloc(count, size);
}

void *realloc(void *p, size_t size) {
    allocated();
    return __libc_realloc(p, size);
}

static int open_at(int dir, const char *path, int flags, va_list args) {
    const mode_t mode = (flags & (O_CREAT | O_TMPFILE)) ? va_arg(args, mode_t) : 0;
    counted(&opens);
    return (int)syscall(SYS_openat, dir, path, flags, mode);
}

int openat(int dir, const char *path, int flags, ...) {
    int fd;
    va_list args;
    va_start(args, flags);
    fd = open_at(dir, path, flags, args);
    va_end(args);
    return fd;
}

int open(const char *path, int flags, ...) {
    int fd;
    va_list args;
    va_start(args, flags);
    fd = open_at(AT_FDCWD, path, flags, args);
    va_end(args);
    return fd;
}

int open64(const char *path, int flags, ...) __attribute__((alias("open")));
int openat64(int dir, const char *path, int flags, ...) __attribute__((alias("openat")));

/* The fortified forms, without a mode. */
int __openat_2(int dir, const char *path, int flags) {
    counted(&opens);
    return (int)syscall(SYS_openat, dir, path, flags, 0);
}

int __open_2(const char *path, int flags) { return __openat_2(AT_FDCWD, path, flags); }
