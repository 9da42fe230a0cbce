/* The messages between the preload library in the host program and the program that serves
 * the device. Both sides are built from this one header, so the layout is plain C: fixed-size
 * records on a Unix stream socket, one connection per request. A connection per request is
 * what makes the library safe in a host that forks or has threads: nothing is shared, and a
 * request that waits (a wait for a line change) holds only its own connection. */
#ifndef KALO_DEVICEPROTOCOL_H
#define KALO_DEVICEPROTOCOL_H

#include <stdint.h>

#define KALO_DEVICE_MAGIC 0x4b444556u /* "KDEV"; a record of another build is refused */

/* The environment the program gives the host program. */
#define KALO_DEVICE_ENV_NAME "KALO_RS232C_DEVICE"          /* /dev/ttyUSB0 */
#define KALO_DEVICE_ENV_TARGET "KALO_RS232C_DEVICE_TARGET" /* the pty slave it stands for */
#define KALO_DEVICE_ENV_SOCKET "KALO_RS232C_DEVICE_SOCKET" /* the program's socket */
#define KALO_DEVICE_ENV_SYSFS "KALO_RS232C_DEVICE_SYSFS"   /* stands for /sys */
/* Where in it the device's folder is, as /sys/class/tty/NAME's link says. */
#define KALO_DEVICE_SYSFS_FOLDER "devices/platform/kalo_rs232c"

enum kalo_device_op {
    KALO_OP_GET_TERMIOS = 1, /* reply: termios, or has_termios 0 for the pty's own */
    KALO_OP_SET_TERMIOS = 2, /* request: termios and settings as the host set them */
    KALO_OP_GET_LINES = 3,   /* reply: lines */
    KALO_OP_SET_LINES = 4,   /* request: arg, the TIOCM_DTR/TIOCM_RTS bits to hold */
    KALO_OP_LINES_ON = 10,   /* request: arg, TIOCM bits to raise (TIOCMBIS) */
    KALO_OP_LINES_OFF = 11,  /* request: arg, TIOCM bits to drop (TIOCMBIC) */
    KALO_OP_WAIT_LINES = 5,  /* request: arg, a TIOCM mask; replied when one of them changes */
    KALO_OP_GET_COUNTS = 6,  /* reply: counts */
    KALO_OP_BREAK_ON = 7,    /* the host holds the line in break... */
    KALO_OP_BREAK_OFF = 8,   /* ...and lets it go */
    KALO_OP_BREAK = 9,       /* request: arg, a break of this many milliseconds */
    KALO_OP_OPENED = 12      /* the host opened the device, which raises DTR and RTS */
};

/* The kernel's struct termios2, spelt out: <termios.h> has a struct of the same name and
 * another layout, and the two cannot be included together. */
struct kalo_termios {
    uint32_t c_iflag;
    uint32_t c_oflag;
    uint32_t c_cflag;
    uint32_t c_lflag;
    uint8_t c_line;
    uint8_t c_cc[19];
    uint32_t c_ispeed;
    uint32_t c_ospeed;
};

/* What the host asked of the line, decoded by the library, so that the program needs no
 * termios of its own. */
enum kalo_line_flag {
    KALO_IGNPAR = 1 << 0,
    KALO_PARMRK = 1 << 1,
    KALO_INPCK = 1 << 2,
    KALO_ISTRIP = 1 << 3,
    KALO_IGNBRK = 1 << 4,
    KALO_IXON = 1 << 5,
    KALO_IXOFF = 1 << 6,
    KALO_CRTSCTS = 1 << 7
};

struct kalo_line_settings {
    int32_t baud;
    int32_t data_bits;
    int32_t parity; /* 'N', 'E', 'O', 'M' or 'S' */
    int32_t stop_half_bits; /* 2 = 1, 3 = 1.5, 4 = 2 */
    uint32_t flags; /* kalo_line_flag */
};

/* The lines, as TIOCM_* bits of <sys/ioctl.h>, and the counters of TIOCGICOUNT. */
enum { KALO_COUNT_CTS, KALO_COUNT_DSR, KALO_COUNT_RNG, KALO_COUNT_DCD, KALO_COUNTS };

struct kalo_device_request {
    uint32_t magic;
    uint32_t op;
    uint32_t arg;
    int32_t pid;
    struct kalo_termios termios;
    struct kalo_line_settings settings;
};

struct kalo_device_reply {
    uint32_t magic;
    int32_t error; /* 0, or the errno the call fails with */
    uint32_t lines;
    uint32_t has_termios;
    uint32_t counts[KALO_COUNTS];
    struct kalo_termios termios;
};

#endif
