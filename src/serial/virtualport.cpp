#include "virtualport.h"

#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

VirtualPort::VirtualPort(QObject *parent) : QObject(parent) { }

VirtualPort::~VirtualPort()
{
    closeEnd(m_port);
    closeEnd(m_host);
}

bool VirtualPort::openEnd(End &end, QString *error)
{
    char name[256] = {};
    // Raw from the start: a slave in cooked mode would echo the other side's bytes back
    // into the cable before anyone has opened it.
    termios raw {};
    cfmakeraw(&raw);
    if (::openpty(&end.master, &end.slave, name, &raw, nullptr) != 0) {
        *error = QStringLiteral("openpty: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        end.master = end.slave = -1;
        return false;
    }
    for (const int fd : { end.master, end.slave })
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    ::fcntl(end.master, F_SETFL, ::fcntl(end.master, F_GETFL) | O_NONBLOCK);
    end.path = QString::fromLocal8Bit(name);
    return true;
}

void VirtualPort::closeEnd(End &end)
{
    delete end.notifier;
    end.notifier = nullptr;
    for (int *fd : { &end.master, &end.slave }) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
}

bool VirtualPort::open(QString *error)
{
    QString ignored;
    if (!error)
        error = &ignored;
    if (!openEnd(m_port, error) || !openEnd(m_host, error)) {
        closeEnd(m_port);
        closeEnd(m_host);
        return false;
    }
    m_port.notifier = new QSocketNotifier(m_port.master, QSocketNotifier::Read, this);
    m_host.notifier = new QSocketNotifier(m_host.master, QSocketNotifier::Read, this);
    connect(m_port.notifier, &QSocketNotifier::activated, this, [this] { carry(m_port, m_host); });
    connect(m_host.notifier, &QSocketNotifier::activated, this, [this] { carry(m_host, m_port); });
    return true;
}

void VirtualPort::carry(End &from, End &to)
{
    char buf[4096];
    const ssize_t n = ::read(from.master, buf, sizeof buf);
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    if (n <= 0) {
        // Cannot happen while the slave is held; if it does, a master that only reports an
        // error would wake the event loop without end.
        from.notifier->setEnabled(false);
        return;
    }
    // Like a wire with nobody listening, bytes that the far side's queue does not take are lost.
    ssize_t done = 0;
    while (done < n) {
        const ssize_t w = ::write(to.master, buf + done, size_t(n - done));
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            break;
        done += w;
    }
}
