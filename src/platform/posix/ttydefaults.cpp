// Windows: a com0com port keeps what the host last set; nothing to do.

#include "platform/posix/ttydefaults.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace TtyDefaults {

bool apply(const QString &ttyPath, QString *error)
{
    // The pty stays open elsewhere for the cable's life, so closing this one hangs nothing up.
    const int fd = ::open(ttyPath.toLocal8Bit().constData(),
                          O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios t {};
    bool done = fd >= 0 && ::tcgetattr(fd, &t) == 0;
    if (done) {
        ::cfmakeraw(&t);
        t.c_cflag = (t.c_cflag & ~(CSIZE | PARENB | CSTOPB | CRTSCTS)) | CS8 | CREAD | CLOCAL;
        done = ::cfsetspeed(&t, B9600) == 0 && ::tcsetattr(fd, TCSANOW, &t) == 0;
    }
    if (!done)
        *error = QStringLiteral("%1: %2").arg(ttyPath, QString::fromLocal8Bit(std::strerror(errno)));
    if (fd >= 0)
        ::close(fd);
    return done;
}

} // namespace TtyDefaults
