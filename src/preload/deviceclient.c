/* Which device the library stands for, read once at load, and the one call to the program. */
#define _GNU_SOURCE
#include "preload/device.h"

#include <dlfcn.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/un.h>
#include <unistd.h>

#define KALO_PATH 4096

static struct {
    int ready;
    char name[KALO_PATH];      /* /dev/ttyUSB0 */
    char target[KALO_PATH];    /* /dev/pts/N */
    /* /sys/class/tty/ttyUSB0 and the folder its link leads to, in /sys and in DIR/sys: a
     * program that follows the link by its text lands in the second. */
    char sys_entry[2][KALO_PATH];
    char our_entry[2][KALO_PATH];
    struct sockaddr_un socket;
    dev_t rdev;
} device;

static int copy_text(char *to, size_t size, const char *a, const char *b)
{
    const size_t la = strlen(a), lb = strlen(b);
    if (la + lb >= size)
        return 0;
    memcpy(to, a, la);
    memcpy(to + la, b, lb + 1);
    return 1;
}

/* Read at load, before the host can change its environment; a child that is exec'd with the
 * same environment loads the library again and reads it again. */
__attribute__((constructor)) static void kalo_device_load(void)
{
    const int saved = errno;
    const char *name = getenv(KALO_DEVICE_ENV_NAME);
    const char *target = getenv(KALO_DEVICE_ENV_TARGET);
    const char *socket_path = getenv(KALO_DEVICE_ENV_SOCKET);
    const char *sysfs = getenv(KALO_DEVICE_ENV_SYSFS);
    struct stat st;
    if (!name || !target || !socket_path || !sysfs || strncmp(name, "/dev/", 5) != 0
        || strchr(name + 5, '/') || strlen(socket_path) >= sizeof device.socket.sun_path
        || stat(target, &st) != 0 || !S_ISCHR(st.st_mode))
        goto out;
    if (!copy_text(device.name, sizeof device.name, name, "")
        || !copy_text(device.target, sizeof device.target, target, "")
        || !copy_text(device.sys_entry[0], KALO_PATH, "/sys/class/tty/", name + 5)
        || !copy_text(device.sys_entry[1], KALO_PATH, "/sys/" KALO_DEVICE_SYSFS_FOLDER, "")
        || !copy_text(device.our_entry[0], KALO_PATH, sysfs, device.sys_entry[0] + 4)
        || !copy_text(device.our_entry[1], KALO_PATH, sysfs, device.sys_entry[1] + 4))
        goto out;
    device.socket.sun_family = AF_UNIX;
    strcpy(device.socket.sun_path, socket_path);
    device.rdev = st.st_rdev;
    device.ready = 1;
out:
    errno = saved;
}

kalo_fn kalo_next(const char *name)
{
    /* ISO C has no cast from an object pointer to a function pointer; POSIX makes them the
     * same size. */
    void *symbol = dlsym(RTLD_NEXT, name);
    kalo_fn fn;
    memcpy(&fn, &symbol, sizeof fn);
    return fn;
}

int kalo_is_device_name(const char *path)
{
    return device.ready && path && strcmp(path, device.name) == 0;
}

const char *kalo_map_path(const char *path, char *buf, size_t size)
{
    if (!device.ready || !path)
        return path;
    if (strcmp(path, device.name) == 0)
        return device.target;
    for (int i = 0; i < 2; ++i) {
        const size_t n = strlen(device.sys_entry[i]);
        if (strncmp(path, device.sys_entry[i], n) == 0 && (path[n] == '\0' || path[n] == '/'))
            return copy_text(buf, size, device.our_entry[i], path + n) ? buf : path;
    }
    return path;
}

int kalo_is_device_fd(int fd)
{
    if (!device.ready || fd < 0)
        return 0;
    const int saved = errno;
    struct stat st;
    const int yes = fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == device.rdev;
    errno = saved;
    return yes;
}

static int send_all(int fd, const void *data, size_t size)
{
    const char *p = data;
    while (size > 0) {
        const ssize_t n = send(fd, p, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return 0;
        p += n;
        size -= (size_t)n;
    }
    return 1;
}

/* A wait for the lines gives way to a signal as the kernel's does; any other request is
 * short and is finished first. */
static int receive_all(int fd, void *data, size_t size, int interruptible)
{
    char *p = data;
    while (size > 0) {
        const ssize_t n = recv(fd, p, size, 0);
        if (n < 0 && errno == EINTR && !interruptible)
            continue;
        if (n < 0)
            return -errno;
        if (n == 0)
            return -EIO;
        p += n;
        size -= (size_t)n;
    }
    return 0;
}

int kalo_device_call(uint32_t op, uint32_t arg, const struct kalo_termios *termios,
                     struct kalo_device_reply *reply)
{
    struct kalo_device_request request;
    memset(&request, 0, sizeof request);
    request.magic = KALO_DEVICE_MAGIC;
    request.op = op;
    request.arg = arg;
    request.pid = (int32_t)getpid();
    if (termios) {
        request.termios = *termios;
        kalo_decode_settings(termios, &request.settings);
    }
    memset(reply, 0, sizeof *reply);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return EIO;
    int result = EIO;
    int r;
    do
        r = connect(fd, (const struct sockaddr *)&device.socket, sizeof device.socket);
    while (r != 0 && errno == EINTR);
    if (r == 0 && send_all(fd, &request, sizeof request)) {
        const int got = receive_all(fd, reply, sizeof *reply, op == KALO_OP_WAIT_LINES);
        if (got == -EINTR)
            result = EINTR;
        else if (got == 0 && reply->magic == KALO_DEVICE_MAGIC)
            result = reply->error;
    }
    close(fd);
    return result;
}

int kalo_opened(const char *path, int fd)
{
    if (fd >= 0 && kalo_is_device_name(path)) {
        const int saved = errno;
        struct kalo_device_reply reply;
        kalo_device_call(KALO_OP_OPENED, 0, NULL, &reply);
        errno = saved;
    }
    return fd;
}
