// Windows: ClearCommError for the driver's queue and a lost device; no groups own a COM port.

#include "platform/serialdevice.h"

#include <QFile>

#include <grp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace SerialDevice {

qint64 driverQueue(qintptr handle)
{
    int queued = 0;
    if (::ioctl(int(handle), TIOCOUTQ, &queued) == 0 && queued > 0)
        return queued;
    return 0;
}

qint64 driverInput(qintptr handle)
{
    int waiting = 0;
    if (::ioctl(int(handle), FIONREAD, &waiting) == 0 && waiting > 0)
        return waiting;
    return 0;
}

void sendFlowCharacter(qintptr handle, bool stop)
{
    ::tcflow(int(handle), stop ? TCIOFF : TCION);
}

bool isPseudoTerminal(qintptr handle)
{
    struct stat st {};
    // Unix98 pty slaves have majors 136 to 143.
    return ::fstat(int(handle), &st) == 0 && S_ISCHR(st.st_mode) && major(st.st_rdev) >= 136
            && major(st.st_rdev) <= 143;
}

State state(qintptr handle)
{
    pollfd device { int(handle), POLLIN | POLLOUT, 0 };
    if (::poll(&device, 1, 0) < 0)
        return State::Failed;
    if (device.revents & POLLHUP)
        return State::HungUp;
    return device.revents & (POLLERR | POLLNVAL) ? State::Failed : State::Working;
}

QString groupNeededFor(const QString &device)
{
    const QByteArray path = QFile::encodeName(device);
    struct stat info {};
    if (::stat(path.constData(), &info) != 0)
        return QString();
    const group *owner = ::getgrgid(info.st_gid);
    if (!owner || ::access(path.constData(), R_OK | W_OK) == 0)
        return QString();
    return QString::fromLocal8Bit(owner->gr_name);
}

} // namespace SerialDevice
