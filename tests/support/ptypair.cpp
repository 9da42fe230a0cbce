#include "ptypair.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QThread>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

PtyPair::PtyPair()
{
    char name[256] = {};
    termios raw {};
    cfmakeraw(&raw);
    if (openpty(&m_master, &m_slave, name, &raw, nullptr) != 0) {
        m_master = m_slave = -1;
        return;
    }
    m_slavePath = QString::fromLocal8Bit(name);
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
}

PtyPair::~PtyPair()
{
    closeMaster();
    if (m_slave >= 0)
        ::close(m_slave);
}

void PtyPair::startCollecting()
{
    m_clock.start();
    m_arrivals.clear();
    delete m_notifier;
    m_notifier = new QSocketNotifier(m_master, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        char buf[4096];
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n > 0)
            m_arrivals.append({ m_clock.elapsed(), QByteArray(buf, int(n)) });
        else if (n == 0 || (errno != EAGAIN && errno != EINTR))
            m_notifier->setEnabled(false);
    });
}

QByteArray PtyPair::collected() const
{
    QByteArray all;
    for (const Arrival &a : m_arrivals)
        all += a.bytes;
    return all;
}

QByteArray PtyPair::waitCollected(int want, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (collected().size() < want && clock.elapsed() < timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return collected();
}

void PtyPair::closeMaster()
{
    delete m_notifier;
    m_notifier = nullptr;
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
    if (m_slave >= 0)
        ::close(m_slave);
    m_slave = -1;
}

bool PtyPair::write(const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd p { m_master, POLLOUT, 0 };
            ::poll(&p, 1, 100);
            continue;
        }
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

QByteArray PtyPair::read(int timeoutMs, int want)
{
    QByteArray result;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs && (want < 0 || result.size() < want)) {
        pollfd p { m_master, POLLIN, 0 };
        const int left = int(timeoutMs - clock.elapsed());
        if (::poll(&p, 1, qMax(left, 0)) <= 0)
            break;
        char buf[4096];
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n > 0)
            result.append(buf, n);
        else if (n < 0 && errno != EAGAIN && errno != EINTR)
            break;
    }
    return result;
}

QByteArray PtyPair::readAvailable()
{
    QByteArray result;
    char buf[4096];
    for (ssize_t n; (n = ::read(m_master, buf, sizeof buf)) > 0;)
        result.append(buf, n);
    return result;
}
