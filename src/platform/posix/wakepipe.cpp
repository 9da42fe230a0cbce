// Windows: an event object (CreateEventW, SetEvent), which a waiter resets.

#include "platform/wakepipe.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

bool WakePipe::open(QString *error)
{
    if (::pipe2(m_fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        *error = QStringLiteral("pipe: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        m_fds[0] = m_fds[1] = -1;
        return false;
    }
    return true;
}

void WakePipe::close()
{
    for (int &fd : m_fds) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

void WakePipe::wake()
{
    const char wake = 'w';
    while (::write(m_fds[1], &wake, 1) < 0 && errno == EINTR) { }
}

void WakePipe::drain()
{
    char drained[64];
    while (::read(m_fds[0], drained, sizeof drained) > 0) { }
}
