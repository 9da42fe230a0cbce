/* A host program that uses a serial device the way driver code does: raw 9600 8N1, its own
 * DTR and RTS, the instrument's CTS, DSR and DCD, the change counters, a break, and then one
 * command and its answer. It prints what it saw as JSON lines and exits 0 only when every
 * call worked: the test reads both.
 * With WAIT set in the environment it then waits (TIOCMIWAIT) for the instrument's CTS to
 * change and prints it again.
 * Usage: modemhost DEVICE COMMAND [EXPECTED_BYTES] (COMMAND without its CR) */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

static int failures;

static void check(int ok, const char *call)
{
    if (!ok) {
        printf("{\"failed\": \"%s\", \"errno\": \"%s\"}\n", call, strerror(errno));
        ++failures;
    }
}

int main(int argc, char **argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: modemhost DEVICE COMMAND [EXPECTED_BYTES]\n");
        return 2;
    }
    const size_t expected = argc > 3 ? (size_t)atoi(argv[3]) : 1;
    const int fd = open(argv[1], O_RDWR | O_NOCTTY);
    check(fd >= 0, "open");
    if (fd < 0)
        return 1;

    struct termios t;
    check(tcgetattr(fd, &t) == 0, "tcgetattr");
    cfmakeraw(&t);
    t.c_cflag = (t.c_cflag & ~(CSIZE | PARENB | CSTOPB | CRTSCTS)) | CS8 | CREAD | CLOCAL;
    cfsetspeed(&t, B9600);
    check(tcsetattr(fd, TCSANOW, &t) == 0, "tcsetattr");
    struct termios back;
    check(tcgetattr(fd, &back) == 0, "tcgetattr back");
    printf("{\"speed\": %d, \"cs8\": %s}\n", cfgetospeed(&back) == B9600 ? 9600 : -1,
           (back.c_cflag & CSIZE) == CS8 ? "true" : "false");

    int bits = TIOCM_DTR | TIOCM_RTS;
    check(ioctl(fd, TIOCMBIS, &bits) == 0, "TIOCMBIS");
    int lines = 0;
    check(ioctl(fd, TIOCMGET, &lines) == 0, "TIOCMGET");
    printf("{\"dtr\": %s, \"rts\": %s, \"cts\": %s, \"dsr\": %s, \"dcd\": %s, \"ri\": %s}\n",
           lines & TIOCM_DTR ? "true" : "false", lines & TIOCM_RTS ? "true" : "false",
           lines & TIOCM_CTS ? "true" : "false", lines & TIOCM_DSR ? "true" : "false",
           lines & TIOCM_CD ? "true" : "false", lines & TIOCM_RI ? "true" : "false");
    if (getenv("WAIT")) {
        fflush(stdout);
        check(ioctl(fd, TIOCMIWAIT, TIOCM_CTS) == 0, "TIOCMIWAIT");
        check(ioctl(fd, TIOCMGET, &lines) == 0, "TIOCMGET after");
        printf("{\"cts after\": %s}\n", lines & TIOCM_CTS ? "true" : "false");
    }
    struct serial_icounter_struct counts;
    check(ioctl(fd, TIOCGICOUNT, &counts) == 0, "TIOCGICOUNT");
    printf("{\"changes\": %d}\n", counts.cts + counts.dsr + counts.dcd + counts.rng);
    check(tcsendbreak(fd, 0) == 0, "tcsendbreak");

    char command[256];
    const int n = snprintf(command, sizeof command, "%s\r", argv[2]);
    check(write(fd, command, (size_t)n) == n, "write");
    char answer[512];
    size_t got = 0;
    struct pollfd p = { fd, POLLIN, 0 };
    while (got < expected && got < sizeof answer - 1 && poll(&p, 1, 3000) == 1) {
        const ssize_t r = read(fd, answer + got, sizeof answer - 1 - got);
        if (r <= 0)
            break;
        got += (size_t)r;
    }
    check(got >= expected, "read");
    printf("{\"answer\": \"");
    for (size_t i = 0; i < got; ++i)
        printf(answer[i] >= 32 && answer[i] < 127 && answer[i] != '"' && answer[i] != '\\'
                       ? "%c" : "\\u%04x", (unsigned char)answer[i]);
    printf("\"}\n");
    check(ioctl(fd, TIOCMGET, &lines) == 0, "TIOCMGET after the answer");
    printf("{\"after\": {\"cts\": %s, \"dsr\": %s, \"dcd\": %s, \"ri\": %s}}\n",
           lines & TIOCM_CTS ? "true" : "false", lines & TIOCM_DSR ? "true" : "false",
           lines & TIOCM_CD ? "true" : "false", lines & TIOCM_RI ? "true" : "false");
    check(close(fd) == 0, "close");
    return failures ? 1 : 0;
}
