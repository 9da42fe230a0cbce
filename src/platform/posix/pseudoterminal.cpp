// Windows: none to make; a com0com pair of ports, installed beforehand, is the cable.

#include "platform/pseudoterminal.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

bool PseudoTerminal::open(QString *error)
{
    char name[256] = {};
    termios raw {};
    cfmakeraw(&raw);
    if (::openpty(&m_master, &m_slave, name, &raw, nullptr) != 0) {
        *error = QStringLiteral("openpty: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        m_master = m_slave = -1;
        return false;
    }
    for (const int fd : { m_master, m_slave })
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    m_path = QString::fromLocal8Bit(name);
    return true;
}

void PseudoTerminal::close()
{
    for (int *fd : { &m_master, &m_slave }) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
}

int PseudoTerminal::unreadAtSlave() const
{
    int n = 0;
    return ::ioctl(m_slave, FIONREAD, &n) == 0 ? n : 0;
}

int PseudoTerminal::unreadAtMaster() const
{
    int n = 0;
    return ::ioctl(m_master, FIONREAD, &n) == 0 ? n : 0;
}

void PseudoTerminal::discardMasterInput()
{
    ::tcflush(m_master, TCIFLUSH);
}

qint64 PseudoTerminal::discardSlaveInput()
{
    const int flags = ::fcntl(m_slave, F_GETFL);
    ::fcntl(m_slave, F_SETFL, flags | O_NONBLOCK);
    qint64 thrown = 0;
    char chunk[4096];
    for (;;) {
        const ssize_t got = ::read(m_slave, chunk, sizeof chunk);
        if (got > 0) {
            thrown += got;
        } else if (got < 0 && errno == EINTR) {
            continue;
        } else {
            break;
        }
    }
    ::fcntl(m_slave, F_SETFL, flags);
    // A half line that a host in canonical mode could not have read yet either.
    thrown += unreadAtSlave();
    ::tcflush(m_slave, TCIFLUSH);
    return thrown;
}
