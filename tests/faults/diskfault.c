/* Preloaded into a program under test: writes to files under one folder fail as on a full disk,
 * or the process is killed in the middle of them.
 *
 *   TW_FAULT_DIR    the folder (an absolute path); files elsewhere are written normally
 *   TW_FAULT_AFTER  how many bytes, counted over every file in the folder, are written first
 *   TW_FAULT_MODE   "enospc" (default): the write that crosses the limit writes what fits and
 *                   every later one fails with ENOSPC; "kill": the process writes what fits and
 *                   is then killed with SIGKILL
 *   TW_FAULT_TALLY  a file the bytes written to the folder are written to when the process ends
 *
 * write, pwrite, writev and fwrite are covered: stdio flushes through the C library's own entry
 * points, which a preloaded write() does not see, so fwrite is cut where it is called. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <limits.h>
#include <signal.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>

static atomic_llong passed; /* bytes let through to files in the folder */

static int watched(int fd) {
    const char* dir = getenv("TW_FAULT_DIR");
    if (!dir || !*dir || fd < 0)
        return 0;
    char link[64], target[PATH_MAX];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = readlink(link, target, sizeof target - 1);
    if (n <= 0)
        return 0;
    target[n] = '\0';
    const size_t len = strlen(dir);
    return strncmp(target, dir, len) == 0 && (target[len] == '/' || target[len] == '\0');
}

/* How many of size bytes may go to fd; *cut is set when that is fewer than size. */
static size_t allowance(int fd, size_t size, int* cut) {
    *cut = 0;
    if (size == 0 || !watched(fd))
        return size;
    const char* after = getenv("TW_FAULT_AFTER");
    const long long limit = after ? atoll(after) : 0;
    long long before = atomic_load(&passed);
    for (;;) {
        const long long room = limit > before ? limit - before : 0;
        const long long grant = (long long)size < room ? (long long)size : room;
        if (atomic_compare_exchange_weak(&passed, &before, before + grant)) {
            *cut = grant < (long long)size;
            return (size_t)grant;
        }
    }
}

/* After the allowed part of a cut write went out. Returns only in ENOSPC mode. */
static void cutOff(void) {
    const char* mode = getenv("TW_FAULT_MODE");
    if (mode && strcmp(mode, "kill") == 0)
        raise(SIGKILL);
    errno = ENOSPC;
}

typedef ssize_t (*WriteFn)(int, const void*, size_t);
typedef ssize_t (*PwriteFn)(int, const void*, size_t, off_t);
typedef ssize_t (*WritevFn)(int, const struct iovec*, int);
typedef size_t (*FwriteFn)(const void*, size_t, size_t, FILE*);

/* The next definition of name: the C library's, or a sanitizer's in front of it. */
#define REAL(name, type)                                                                                     \
    static type real_##name;                                                                                 \
    if (!real_##name)                                                                                        \
    real_##name = (type)dlsym(RTLD_NEXT, #name)

ssize_t write(int fd, const void* buf, size_t count) {
    REAL(write, WriteFn);
    int cut;
    const size_t n = allowance(fd, count, &cut);
    if (!cut)
        return real_write(fd, buf, count);
    const ssize_t done = n ? real_write(fd, buf, n) : 0;
    cutOff();
    return done > 0 ? done : -1;
}

ssize_t pwrite(int fd, const void* buf, size_t count, off_t offset) {
    REAL(pwrite, PwriteFn);
    int cut;
    const size_t n = allowance(fd, count, &cut);
    if (!cut)
        return real_pwrite(fd, buf, count, offset);
    const ssize_t done = n ? real_pwrite(fd, buf, n, offset) : 0;
    cutOff();
    return done > 0 ? done : -1;
}

ssize_t pwrite64(int fd, const void* buf, size_t count, off_t offset) {
    return pwrite(fd, buf, count, offset);
}

ssize_t writev(int fd, const struct iovec* iov, int iovcnt) {
    REAL(writev, WritevFn);
    REAL(write, WriteFn);
    size_t total = 0;
    for (int i = 0; i < iovcnt; ++i)
        total += iov[i].iov_len;
    int cut;
    size_t left = allowance(fd, total, &cut);
    if (!cut)
        return real_writev(fd, iov, iovcnt);
    ssize_t done = 0;
    for (int i = 0; i < iovcnt && left > 0; ++i) {
        const size_t part = iov[i].iov_len < left ? iov[i].iov_len : left;
        const ssize_t got = real_write(fd, iov[i].iov_base, part);
        if (got <= 0)
            break;
        done += got;
        left -= (size_t)got;
    }
    cutOff();
    return done > 0 ? done : -1;
}

size_t fwrite(const void* ptr, size_t size, size_t nmemb, FILE* stream) {
    REAL(fwrite, FwriteFn);
    if (size == 0 || nmemb == 0)
        return real_fwrite(ptr, size, nmemb, stream);
    int cut;
    const size_t n = allowance(fileno(stream), size * nmemb, &cut);
    if (!cut)
        return real_fwrite(ptr, size, nmemb, stream);
    size_t done = n / size ? real_fwrite(ptr, size, n / size, stream) : 0;
    if (getenv("TW_FAULT_MODE") && strcmp(getenv("TW_FAULT_MODE"), "kill") == 0)
        fflush(stream); /* what was let through reaches the file before the end */
    cutOff();
    return done;
}

__attribute__((destructor)) static void writeTally(void) {
    const char* path = getenv("TW_FAULT_TALLY");
    if (!path || !*path)
        return;
    FILE* file = fopen(path, "w");
    if (!file)
        return;
    fprintf(file, "%lld\n", (long long)atomic_load(&passed));
    fclose(file);
}
