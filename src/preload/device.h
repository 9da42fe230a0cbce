/* What the parts of the preload library share: which device it stands for, the functions of
 * the C library it wraps, and the one call to the program. Everything here works on the stack
 * and on what was read at load time: a host may call these from a signal handler, or in a
 * child between fork and exec, where nothing may allocate or take a lock. */
#ifndef KALO_PRELOAD_DEVICE_H
#define KALO_PRELOAD_DEVICE_H

#include "preload/deviceprotocol.h"

#include <stddef.h>

#define KALO_EXPORT __attribute__((visibility("default")))

/* The next definition of a function, the C library's; null when there is none. The caller
 * casts it to the function's own type. */
typedef void (*kalo_fn)(void);
kalo_fn kalo_next(const char *name);

/* The path to use for path: the pseudo-terminal for the device's name, the library's own
 * tree for its entry under /sys/class/tty, or path itself. buf holds a rewritten path. */
const char *kalo_map_path(const char *path, char *buf, size_t size);
/* True for the device's exact name, which realpath() keeps as it is. */
int kalo_is_device_name(const char *path);
/* True when fd is open on the pseudo-terminal the device stands for; errno is kept. */
int kalo_is_device_fd(int fd);

/* After an open of path that gave fd: an open of the device raises its DTR and RTS, as the
 * kernel's serial drivers do. Returns fd; errno is kept. */
int kalo_opened(const char *path, int fd);

/* What a termios asks of the line, as the program is told it. */
void kalo_decode_settings(const struct kalo_termios *termios, struct kalo_line_settings *settings);

/* One request to the program; fills reply. 0, or the errno the host's call fails with. */
int kalo_device_call(uint32_t op, uint32_t arg, const struct kalo_termios *termios,
                     struct kalo_device_reply *reply);

#endif
