// Windows: a COM port's DCB BaudRate; no pseudo-terminals there.

#include "platform/pseudoterminal.h"

// The kernel's termios2 carries any speed as a number, where termios.h knows only its B
// constants; the two headers cannot be used together, so this file has the one.
#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace {
// A standard speed is set by its constant, as a host would set it, so that a host reading
// the settings back with tcgetattr() finds the constant it knows.
struct Standard
{
    int baud;
    tcflag_t code;
};
constexpr Standard kStandard[] = {
    { 50, B50 },         { 75, B75 },         { 110, B110 },       { 134, B134 },
    { 150, B150 },       { 200, B200 },       { 300, B300 },       { 600, B600 },
    { 1200, B1200 },     { 1800, B1800 },     { 2400, B2400 },     { 4800, B4800 },
    { 9600, B9600 },     { 19200, B19200 },   { 38400, B38400 },   { 57600, B57600 },
    { 115200, B115200 }, { 230400, B230400 }, { 460800, B460800 }, { 500000, B500000 },
    { 576000, B576000 }, { 921600, B921600 }, { 1000000, B1000000 }, { 1152000, B1152000 },
    { 1500000, B1500000 }, { 2000000, B2000000 }, { 2500000, B2500000 },
    { 3000000, B3000000 }, { 3500000, B3500000 }, { 4000000, B4000000 },
};

tcflag_t speedCode(int baud)
{
    for (const Standard &standard : kStandard) {
        if (standard.baud == baud)
            return standard.code;
    }
    return BOTHER;
}
} // namespace

int PseudoTerminal::slaveSpeed() const
{
    termios2 settings {};
    if (m_slave < 0 || ::ioctl(m_slave, TCGETS2, &settings) != 0)
        return 0;
    return int(settings.c_ospeed);
}

bool PseudoTerminal::setSlaveSpeed(int baud)
{
    termios2 settings {};
    if (m_slave < 0 || baud <= 0 || ::ioctl(m_slave, TCGETS2, &settings) != 0)
        return false;
    settings.c_cflag &= ~tcflag_t(CBAUD | (CBAUD << IBSHIFT));
    const tcflag_t code = speedCode(baud);
    settings.c_cflag |= code | (code << IBSHIFT);
    settings.c_ospeed = speed_t(baud);
    settings.c_ispeed = speed_t(baud);
    return ::ioctl(m_slave, TCSETS2, &settings) == 0;
}
