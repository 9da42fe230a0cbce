// Windows: QLocalServer on a named pipe, which has no descriptor table to run out of.

#include "platform/listeningsocket.h"

#include <QFile>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int openSpare()
{
    return ::open("/dev/null", O_RDONLY | O_CLOEXEC);
}

bool lacksDescriptors(int error)
{
    return error == EMFILE || error == ENFILE;
}
} // namespace

ListeningSocket::ListeningSocket(QObject *parent) : QObject(parent)
{
    m_pause.setSingleShot(true);
    m_pause.setInterval(kPauseMs);
    connect(&m_pause, &QTimer::timeout, this, &ListeningSocket::resume);
}

ListeningSocket::~ListeningSocket()
{
    close();
}

void ListeningSocket::take(int fd, const QString &path)
{
    close();
    m_fd = fd;
    m_path = path;
    ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) | O_NONBLOCK);
    m_spare = openSpare();
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &ListeningSocket::acceptPending);
}

void ListeningSocket::close()
{
    m_pause.stop();
    delete m_notifier;
    m_notifier = nullptr;
    for (int *fd : { &m_fd, &m_spare }) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
    if (!m_path.isEmpty())
        ::unlink(QFile::encodeName(m_path).constData());
    m_path.clear();
}

void ListeningSocket::refuse(int fd, const QByteArray &line)
{
    // A fresh socket's buffer takes a line; a client that already left loses nothing.
    [[maybe_unused]] const ssize_t n = ::send(fd, line.constData(), size_t(line.size()), MSG_NOSIGNAL);
    ::close(fd);
}

void ListeningSocket::acceptPending()
{
    while (m_fd >= 0) {
        const int fd = ::accept4(m_fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0) {
            emit accepted(fd);
            continue;
        }
        const int error = errno;
        if (error == EAGAIN || error == EWOULDBLOCK)
            return; // nobody waits any more
        if (error == EINTR || error == ECONNABORTED || error == EPROTO)
            continue;
        if (lacksDescriptors(error)) {
            // Accept fails so even with nobody waiting; the spare tells which it is.
            const int spareError = refuseWithSpare();
            if (spareError == EAGAIN || spareError == EWOULDBLOCK)
                return;
            emit outOfDescriptors(QString::fromLocal8Bit(std::strerror(error)));
            if (spareError == 0)
                continue;
        }
        // Out of memory, or not even the spare: the clients wait in the backlog a moment, and
        // the listener is not polled in vain meanwhile.
        m_notifier->setEnabled(false);
        m_pause.start();
        return;
    }
}

// The spare descriptor makes room for one client, which hears why it is let go. 0 when one
// was, else the reason it was not.
int ListeningSocket::refuseWithSpare()
{
    if (m_spare < 0)
        m_spare = openSpare();
    if (m_spare < 0)
        return errno;
    ::close(m_spare);
    const int fd = ::accept4(m_fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    const int error = fd < 0 ? errno : 0;
    if (fd >= 0)
        refuse(fd, m_refusal);
    m_spare = openSpare();
    return error;
}

void ListeningSocket::resume()
{
    if (!m_notifier)
        return;
    m_notifier->setEnabled(true);
    acceptPending();
}
