/* The device's ioctls and the termios calls of the C library, which make their system calls
 * directly and so pass by any wrapper of ioctl(). Settings go to the pseudo-terminal too,
 * whose line discipline keeps the host's raw or canonical reading; the program keeps the
 * host's own copy, which the pty would not (it forces 8 data bits and no parity). Modem
 * lines and breaks exist only in the program. */
#define _GNU_SOURCE
#include "preload/device.h"

#include <errno.h>
#include <linux/serial.h>
#include <stdarg.h>
#include <string.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>

#ifndef BOTHER
#define BOTHER CBAUDEX /* the kernel's "speed in c_ospeed", as on the common architectures */
#endif

/* <asm/ioctls.h> spells these with a struct that cannot be declared beside <termios.h>. */
#define KALO_TCGETS2 _IOR('T', 0x2A, struct kalo_termios)
#define KALO_TCSETS2 _IOW('T', 0x2B, struct kalo_termios)
#define KALO_TCSETSW2 _IOW('T', 0x2C, struct kalo_termios)
#define KALO_TCSETSF2 _IOW('T', 0x2D, struct kalo_termios)
/* struct termios of the kernel: struct termios2 without the two speeds. */
#define KALO_TERMIOS1_SIZE offsetof(struct kalo_termios, c_ispeed)

/* A break of TCSBRK 0 and of tcsendbreak(fd, 0), as the kernel times it. */
enum { KALO_BREAK_MS = 250 };

typedef int (*ioctl_fn)(int, unsigned long, ...);

static ioctl_fn next_ioctl(void)
{
    static ioctl_fn next;
    if (!next)
        next = (ioctl_fn)kalo_next("ioctl");
    return next;
}

static int fail(int error)
{
    errno = error;
    return -1;
}

static const struct { speed_t code; int32_t baud; } kSpeeds[] = {
    { B0, 0 }, { B50, 50 }, { B75, 75 }, { B110, 110 }, { B134, 134 }, { B150, 150 },
    { B200, 200 }, { B300, 300 }, { B600, 600 }, { B1200, 1200 }, { B1800, 1800 },
    { B2400, 2400 }, { B4800, 4800 }, { B9600, 9600 }, { B19200, 19200 }, { B38400, 38400 },
    { B57600, 57600 }, { B115200, 115200 }, { B230400, 230400 }, { B460800, 460800 },
    { B500000, 500000 }, { B576000, 576000 }, { B921600, 921600 }, { B1000000, 1000000 },
    { B1152000, 1152000 }, { B1500000, 1500000 }, { B2000000, 2000000 },
    { B2500000, 2500000 }, { B3000000, 3000000 }, { B3500000, 3500000 },
    { B4000000, 4000000 },
};

void kalo_decode_settings(const struct kalo_termios *t, struct kalo_line_settings *s)
{
    const uint32_t code = t->c_cflag & CBAUD;
    s->baud = (int32_t)t->c_ospeed;
    if (code != BOTHER) {
        for (size_t i = 0; i < sizeof kSpeeds / sizeof kSpeeds[0]; ++i)
            if (kSpeeds[i].code == code)
                s->baud = kSpeeds[i].baud;
    }
    switch (t->c_cflag & CSIZE) {
    case CS5: s->data_bits = 5; break;
    case CS6: s->data_bits = 6; break;
    case CS7: s->data_bits = 7; break;
    default: s->data_bits = 8; break;
    }
    if (!(t->c_cflag & PARENB))
        s->parity = 'N';
    else if (t->c_cflag & CMSPAR)
        s->parity = (t->c_cflag & PARODD) ? 'M' : 'S';
    else
        s->parity = (t->c_cflag & PARODD) ? 'O' : 'E';
    /* CSTOPB with five data bits is one and a half stop bits on a UART. */
    s->stop_half_bits = !(t->c_cflag & CSTOPB) ? 2 : s->data_bits == 5 ? 3 : 4;
    const struct { uint32_t bit; uint32_t flag; int cflag; } flags[] = {
        { IGNPAR, KALO_IGNPAR, 0 }, { PARMRK, KALO_PARMRK, 0 }, { INPCK, KALO_INPCK, 0 },
        { ISTRIP, KALO_ISTRIP, 0 }, { IGNBRK, KALO_IGNBRK, 0 }, { IXON, KALO_IXON, 0 },
        { IXOFF, KALO_IXOFF, 0 }, { CRTSCTS, KALO_CRTSCTS, 1 },
    };
    s->flags = 0;
    for (size_t i = 0; i < sizeof flags / sizeof flags[0]; ++i)
        if ((flags[i].cflag ? t->c_cflag : t->c_iflag) & flags[i].bit)
            s->flags |= flags[i].flag;
}

/* The speed of a struct termios without speeds, as the kernel derives it. */
static void fill_speeds(struct kalo_termios *t)
{
    struct kalo_line_settings s;
    kalo_decode_settings(t, &s);
    t->c_ispeed = t->c_ospeed = (uint32_t)s.baud;
}

static int get_termios(int fd, struct kalo_termios *out)
{
    struct kalo_device_reply reply;
    const int error = kalo_device_call(KALO_OP_GET_TERMIOS, 0, NULL, &reply);
    if (error)
        return fail(error);
    if (reply.has_termios) {
        *out = reply.termios;
        return 0;
    }
    return next_ioctl()(fd, KALO_TCGETS2, out);
}

/* request is one of TCSETS2, TCSETSW2, TCSETSF2: the pty drains or flushes as asked. The
 * cable's model of the host's UART marks parity errors and strips the eighth bit as the host
 * asked; the pty, which would mark nothing and strip the marks, is given neither flag. What
 * the host reads back is what it set, kept by the device. */
static int set_termios(int fd, unsigned long request, const struct kalo_termios *t)
{
    struct kalo_termios on_pty = *t;
    on_pty.c_iflag &= ~(uint32_t)(PARMRK | ISTRIP);
    if (next_ioctl()(fd, request, &on_pty) != 0)
        return -1;
    struct kalo_device_reply reply;
    const int error = kalo_device_call(KALO_OP_SET_TERMIOS, 0, t, &reply);
    return error ? fail(error) : 0;
}

static void sleep_ms(int ms)
{
    struct timespec left = { ms / 1000, (long)(ms % 1000) * 1000000L };
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

/* Output already written goes first, then the break, which lasts as long on the host's side
 * as on a real line. */
static int send_break(int fd, int ms)
{
    const int saved = errno;
    if (next_ioctl()(fd, TCSBRK, 1) != 0)
        return -1;
    struct kalo_device_reply reply;
    const int error = kalo_device_call(KALO_OP_BREAK, (uint32_t)ms, NULL, &reply);
    if (error)
        return fail(error);
    sleep_ms(ms);
    errno = saved;
    return 0;
}

static int lines_call(uint32_t op, uint32_t arg, int *lines)
{
    struct kalo_device_reply reply;
    const int error = kalo_device_call(op, arg, NULL, &reply);
    if (error)
        return fail(error);
    if (lines)
        *lines = (int)reply.lines;
    return 0;
}

static int icount(struct serial_icounter_struct *out)
{
    struct kalo_device_reply reply;
    const int error = kalo_device_call(KALO_OP_GET_COUNTS, 0, NULL, &reply);
    if (error)
        return fail(error);
    memset(out, 0, sizeof *out);
    out->cts = (int)reply.counts[KALO_COUNT_CTS];
    out->dsr = (int)reply.counts[KALO_COUNT_DSR];
    out->rng = (int)reply.counts[KALO_COUNT_RNG];
    out->dcd = (int)reply.counts[KALO_COUNT_DCD];
    return 0;
}

static int is_device_request(unsigned long request)
{
    switch (request) {
    case TCGETS: case TCSETS: case TCSETSW: case TCSETSF:
    case KALO_TCGETS2: case KALO_TCSETS2: case KALO_TCSETSW2: case KALO_TCSETSF2:
    case TCSBRK: case TCSBRKP: case TIOCSBRK: case TIOCCBRK:
    case TIOCMGET: case TIOCMSET: case TIOCMBIS: case TIOCMBIC: case TIOCMIWAIT:
    case TIOCGICOUNT:
        return 1;
    default:
        return 0;
    }
}

static int device_ioctl(int fd, unsigned long request, void *arg)
{
    struct kalo_termios t;
    switch (request) {
    case TCGETS:
    case KALO_TCGETS2:
        if (get_termios(fd, &t) != 0)
            return -1;
        memcpy(arg, &t, request == TCGETS ? KALO_TERMIOS1_SIZE : sizeof t);
        return 0;
    case TCSETS:
    case TCSETSW:
    case TCSETSF:
        memset(&t, 0, sizeof t);
        memcpy(&t, arg, KALO_TERMIOS1_SIZE);
        fill_speeds(&t);
        return set_termios(fd, request == TCSETS ? KALO_TCSETS2
                                   : request == TCSETSW ? KALO_TCSETSW2 : KALO_TCSETSF2, &t);
    case KALO_TCSETS2:
    case KALO_TCSETSW2:
    case KALO_TCSETSF2:
        return set_termios(fd, request, (const struct kalo_termios *)arg);
    case TCSBRK: /* an argument other than 0 is tcdrain() */
        return (uintptr_t)arg ? next_ioctl()(fd, request, arg) : send_break(fd, KALO_BREAK_MS);
    case TCSBRKP: /* in tenths of a second */
        return send_break(fd, (uintptr_t)arg ? (int)(uintptr_t)arg * 100 : KALO_BREAK_MS);
    case TIOCSBRK:
        return lines_call(KALO_OP_BREAK_ON, 0, NULL);
    case TIOCCBRK:
        return lines_call(KALO_OP_BREAK_OFF, 0, NULL);
    case TIOCMGET:
        return lines_call(KALO_OP_GET_LINES, 0, (int *)arg);
    case TIOCMSET:
        return lines_call(KALO_OP_SET_LINES, (uint32_t) * (const int *)arg, NULL);
    case TIOCMBIS:
        return lines_call(KALO_OP_LINES_ON, (uint32_t) * (const int *)arg, NULL);
    case TIOCMBIC:
        return lines_call(KALO_OP_LINES_OFF, (uint32_t) * (const int *)arg, NULL);
    case TIOCMIWAIT:
        return lines_call(KALO_OP_WAIT_LINES, (uint32_t)(uintptr_t)arg, NULL);
    case TIOCGICOUNT:
        return icount((struct serial_icounter_struct *)arg);
    default:
        return next_ioctl()(fd, request, arg);
    }
}

KALO_EXPORT int ioctl(int fd, unsigned long request, ...)
{
    /* Every request of the kernel's has at most one argument, a pointer or an int. */
    va_list ap;
    va_start(ap, request);
    void *arg = va_arg(ap, void *);
    va_end(ap);
    if (is_device_request(request) && kalo_is_device_fd(fd))
        return device_ioctl(fd, request, arg);
    const ioctl_fn next = next_ioctl();
    return next ? next(fd, request, arg) : fail(ENOSYS);
}

KALO_EXPORT int tcgetattr(int fd, struct termios *out)
{
    static int (*next)(int, struct termios *);
    if (!next)
        next = (int (*)(int, struct termios *))kalo_next("tcgetattr");
    if (!kalo_is_device_fd(fd))
        return next ? next(fd, out) : fail(ENOSYS);
    struct kalo_termios t;
    if (get_termios(fd, &t) != 0)
        return -1;
    /* As the C library fills its own struct from the kernel's. */
    memset(out, 0, sizeof *out);
    out->c_iflag = t.c_iflag;
    out->c_oflag = t.c_oflag;
    out->c_cflag = t.c_cflag;
    out->c_lflag = t.c_lflag;
    out->c_line = t.c_line;
    memcpy(out->c_cc, t.c_cc, sizeof t.c_cc < sizeof out->c_cc ? sizeof t.c_cc : sizeof out->c_cc);
    out->c_ispeed = out->c_ospeed = t.c_cflag & (CBAUD | CBAUDEX);
    return 0;
}

KALO_EXPORT int tcsetattr(int fd, int when, const struct termios *in)
{
    static int (*next)(int, int, const struct termios *);
    if (!next)
        next = (int (*)(int, int, const struct termios *))kalo_next("tcsetattr");
    if (!kalo_is_device_fd(fd))
        return next ? next(fd, when, in) : fail(ENOSYS);
    const unsigned long request = when == TCSANOW ? KALO_TCSETS2
            : when == TCSADRAIN ? KALO_TCSETSW2 : when == TCSAFLUSH ? KALO_TCSETSF2 : 0;
    if (!request)
        return fail(EINVAL);
    struct kalo_termios t;
    memset(&t, 0, sizeof t);
    t.c_iflag = in->c_iflag;
    t.c_oflag = in->c_oflag;
    t.c_cflag = in->c_cflag;
    t.c_lflag = in->c_lflag;
    t.c_line = in->c_line;
    memcpy(t.c_cc, in->c_cc, sizeof t.c_cc);
    fill_speeds(&t);
    return set_termios(fd, request, &t);
}

KALO_EXPORT int tcsendbreak(int fd, int duration)
{
    static int (*next)(int, int);
    if (!next)
        next = (int (*)(int, int))kalo_next("tcsendbreak");
    if (!kalo_is_device_fd(fd))
        return next ? next(fd, duration) : fail(ENOSYS);
    /* The C library asks the kernel for whole tenths of a second, rounded up. */
    return send_break(fd, duration <= 0 ? KALO_BREAK_MS : (duration + 99) / 100 * 100);
}
