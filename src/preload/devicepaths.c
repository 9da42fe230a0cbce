/* The device's name and its /sys/class/tty entry, for every C library call that takes a
 * path and that a serial library is known to use; any other path passes untouched. */
#define _GNU_SOURCE
#include "preload/device.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/xattr.h>
#include <unistd.h>

/* Functions of the C library that newer headers no longer declare. */
int __xstat(int, const char *, struct stat *);
int __xstat64(int, const char *, struct stat64 *);
int __lxstat(int, const char *, struct stat *);
int __lxstat64(int, const char *, struct stat64 *);
int __fxstatat(int, int, const char *, struct stat *, int);
int __fxstatat64(int, int, const char *, struct stat64 *, int);
int __open_2(const char *, int);
int __open64_2(const char *, int);
int __openat_2(int, const char *, int);
int __openat64_2(int, const char *, int);

#define NEXT(name) static __typeof__(name) *next_##name; \
    if (!next_##name) next_##name = (__typeof__(name) *)kalo_next(#name)
#define MAPPED(path) char mapped_buf[PATH_MAX]; const char *mapped = kalo_map_path(path, mapped_buf, sizeof mapped_buf)
/* The mode is read only when the flags say there is one, as the C library does. */
#define MODE_ARG(flags) mode_t mode = 0; \
    if ((flags) & (O_CREAT | __O_TMPFILE)) { va_list ap; va_start(ap, flags); mode = va_arg(ap, mode_t); va_end(ap); }

#define WRAP_OPEN(name) \
    KALO_EXPORT int name(const char *path, int flags, ...) \
    { \
        NEXT(name); \
        MODE_ARG(flags); MAPPED(path); \
        return next_##name ? kalo_opened(path, next_##name(mapped, flags, mode)) : (errno = ENOSYS, -1); \
    }
WRAP_OPEN(open)
WRAP_OPEN(open64)

#define WRAP_OPENAT(name) \
    KALO_EXPORT int name(int dirfd, const char *path, int flags, ...) \
    { \
        NEXT(name); \
        MODE_ARG(flags); MAPPED(path); \
        return next_##name ? kalo_opened(path, next_##name(dirfd, mapped, flags, mode)) : (errno = ENOSYS, -1); \
    }
WRAP_OPENAT(openat)
WRAP_OPENAT(openat64)

#define WRAP_PATH(ret, fail, name, params, args) \
    KALO_EXPORT ret name params \
    { \
        NEXT(name); \
        MAPPED(path); \
        return next_##name ? next_##name args : (errno = ENOSYS, fail); \
    }
#define WRAP_OPENED(ret, fail, name, params, args, fd) \
    KALO_EXPORT ret name params \
    { \
        NEXT(name); \
        MAPPED(path); \
        if (!next_##name) { errno = ENOSYS; return fail; } \
        ret opened = next_##name args; \
        kalo_opened(path, fd); \
        return opened; \
    }
WRAP_OPENED(int, -1, __open_2, (const char *path, int flags), (mapped, flags), opened)
WRAP_OPENED(int, -1, __open64_2, (const char *path, int flags), (mapped, flags), opened)
WRAP_OPENED(int, -1, __openat_2, (int dirfd, const char *path, int flags), (dirfd, mapped, flags), opened)
WRAP_OPENED(int, -1, __openat64_2, (int dirfd, const char *path, int flags), (dirfd, mapped, flags), opened)
WRAP_OPENED(FILE *, NULL, fopen, (const char *path, const char *mode), (mapped, mode), opened ? fileno(opened) : -1)
WRAP_OPENED(FILE *, NULL, fopen64, (const char *path, const char *mode), (mapped, mode), opened ? fileno(opened) : -1)
WRAP_OPENED(FILE *, NULL, freopen, (const char *path, const char *mode, FILE *f), (mapped, mode, f), opened ? fileno(opened) : -1)
WRAP_PATH(int, -1, stat, (const char *path, struct stat *st), (mapped, st))
WRAP_PATH(int, -1, stat64, (const char *path, struct stat64 *st), (mapped, st))
WRAP_PATH(int, -1, lstat, (const char *path, struct stat *st), (mapped, st))
WRAP_PATH(int, -1, lstat64, (const char *path, struct stat64 *st), (mapped, st))
WRAP_PATH(int, -1, fstatat, (int dirfd, const char *path, struct stat *st, int flags), (dirfd, mapped, st, flags))
WRAP_PATH(int, -1, fstatat64, (int dirfd, const char *path, struct stat64 *st, int flags), (dirfd, mapped, st, flags))
WRAP_PATH(int, -1, __xstat, (int ver, const char *path, struct stat *st), (ver, mapped, st))
WRAP_PATH(int, -1, __xstat64, (int ver, const char *path, struct stat64 *st), (ver, mapped, st))
WRAP_PATH(int, -1, __lxstat, (int ver, const char *path, struct stat *st), (ver, mapped, st))
WRAP_PATH(int, -1, __lxstat64, (int ver, const char *path, struct stat64 *st), (ver, mapped, st))
WRAP_PATH(int, -1, __fxstatat, (int ver, int dirfd, const char *path, struct stat *st, int flags), (ver, dirfd, mapped, st, flags))
WRAP_PATH(int, -1, __fxstatat64, (int ver, int dirfd, const char *path, struct stat64 *st, int flags), (ver, dirfd, mapped, st, flags))
WRAP_PATH(int, -1, statx, (int dirfd, const char *path, int flags, unsigned int mask, struct statx *st), (dirfd, mapped, flags, mask, st))
WRAP_PATH(int, -1, access, (const char *path, int how), (mapped, how))
WRAP_PATH(int, -1, faccessat, (int dirfd, const char *path, int how, int flags), (dirfd, mapped, how, flags))
WRAP_PATH(ssize_t, -1, readlink, (const char *path, char *buf, size_t size), (mapped, buf, size))
WRAP_PATH(ssize_t, -1, readlinkat, (int dirfd, const char *path, char *buf, size_t size), (dirfd, mapped, buf, size))
WRAP_PATH(DIR *, NULL, opendir, (const char *path), (mapped))
/* Asked by ls -l and file managers for the ACLs of what they list. */
WRAP_PATH(ssize_t, -1, getxattr, (const char *path, const char *name, void *value, size_t size), (mapped, name, value, size))
WRAP_PATH(ssize_t, -1, lgetxattr, (const char *path, const char *name, void *value, size_t size), (mapped, name, value, size))
WRAP_PATH(ssize_t, -1, listxattr, (const char *path, char *list, size_t size), (mapped, list, size))
WRAP_PATH(ssize_t, -1, llistxattr, (const char *path, char *list, size_t size), (mapped, list, size))

/* The device resolves to its own name, as a device node does, not to the pseudo-terminal. */
KALO_EXPORT char *realpath(const char *path, char *resolved)
{
    NEXT(realpath);
    if (!kalo_is_device_name(path)) {
        MAPPED(path);
        return next_realpath ? next_realpath(mapped, resolved) : (errno = ENOSYS, NULL);
    }
    const size_t size = strlen(path) + 1;
    char *out = resolved ? resolved : malloc(size);
    if (out)
        memcpy(out, path, size);
    return out;
}
