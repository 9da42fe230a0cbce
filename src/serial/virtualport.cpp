#include "serial/virtualport.h"

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {
// A pty's line discipline holds this much unread input, and FIONREAD counts it; more waits
// in the flip buffers, which nothing counts. The relay hands the host's end no more than its
// line discipline can hold, and each time lets the kernel move the bytes there before it
// hands more, so what the host has not read is always known.
constexpr int kHostQueue = 4095;
constexpr int kSettleMs = 2;
// How often the relay looks whether a host that stopped reading has read again: a pty master
// reports no such thing.
constexpr int kHostRecheckMs = 5;

} // namespace

// Reads into an empty leg; false when the master reports an error or end that will not clear.
static bool fill(int fd, VirtualPort::Leg &leg)
{
    const ssize_t n = ::read(fd, leg.data, VirtualPort::Leg::kChunk);
    if (n > 0) {
        leg.begin = 0;
        leg.end = size_t(n);
        return true;
    }
    return n < 0 && (errno == EAGAIN || errno == EINTR);
}

static void spill(int fd, VirtualPort::Leg &leg, size_t most)
{
    const ssize_t n = ::write(fd, leg.data + leg.begin, std::min(leg.size(), most));
    if (n > 0)
        leg.begin += size_t(n);
}

static int unread(int fd)
{
    int n = 0;
    return ::ioctl(fd, FIONREAD, &n) == 0 ? n : 0;
}

VirtualPort::VirtualPort(QObject *parent) : QObject(parent) { }

void VirtualPort::wakeRelay()
{
    const char wake = 'w';
    while (::write(m_wake[1], &wake, 1) < 0 && errno == EINTR) { }
}

VirtualPort::~VirtualPort()
{
    if (m_relay.joinable()) {
        m_stopping.store(true);
        wakeRelay();
        m_relay.join();
    }
    for (int &fd : m_wake) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
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
    if (::pipe2(m_wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        *error = QStringLiteral("pipe: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        closeEnd(m_port);
        closeEnd(m_host);
        return false;
    }
    m_relay = std::thread([this] { relay(); });
    return true;
}

qint64 VirtualPort::bytesTowardHost(qint64 takenFromProgram) const
{
    if (m_host.slave < 0)
        return 0;
    const std::lock_guard<std::mutex> still(m_moving);
    const qint64 inProgramPty = std::max<qint64>(0, takenFromProgram - m_readFromProgram);
    return inProgramPty + qint64(m_toHost.size()) + unread(m_host.slave);
}

qint64 VirtualPort::discardTowardHost(qint64 takenFromProgram)
{
    if (m_host.slave < 0)
        return 0;
    const std::lock_guard<std::mutex> still(m_moving);
    // The last bytes handed to the host's end reach its line discipline, where they are seen.
    std::this_thread::sleep_for(std::chrono::milliseconds(kSettleMs + 1));
    const qint64 inProgramPty = std::max<qint64>(0, takenFromProgram - m_readFromProgram);
    const qint64 thrown = inProgramPty + qint64(m_toHost.size()) + unread(m_host.slave);
    ::tcflush(m_port.master, TCIFLUSH);
    ::tcflush(m_host.slave, TCIFLUSH);
    m_toHost.begin = m_toHost.end = 0;
    m_readFromProgram = std::max(m_readFromProgram, takenFromProgram);
    wakeRelay();
    return thrown;
}

void VirtualPort::relay()
{
    bool portReadable = true;
    bool hostReadable = true;
    bool settling = false;
    for (;;) {
        std::unique_lock<std::mutex> moving(m_moving);
        // An end is read only once what came from it has been passed on: the back-pressure
        // that keeps a full host side from losing bytes. The host's end takes no more than its
        // line discipline holds; while it is full, the relay looks again soon.
        const bool hostFull = !m_toHost.empty() && (settling || unread(m_host.slave) >= kHostQueue);
        pollfd fds[3] = {
            { m_port.master, short((m_toHost.empty() && portReadable ? POLLIN : 0)
                                   | (m_toPort.empty() ? 0 : POLLOUT)), 0 },
            { m_host.master, short((m_toPort.empty() && hostReadable ? POLLIN : 0)
                                   | (m_toHost.empty() || hostFull ? 0 : POLLOUT)), 0 },
            { m_wake[0], POLLIN, 0 },
        };
        // A master that only reports an error would wake the loop without end; while both
        // slaves are held this does not happen, but a stuck end must not spin a core.
        if (!portReadable && !hostReadable && m_toHost.empty() && m_toPort.empty())
            return;
        moving.unlock();
        if (::poll(fds, 3, settling ? kSettleMs : hostFull ? kHostRecheckMs : -1) < 0
            && errno != EINTR)
            return;
        settling = false;
        if (m_stopping.load())
            return;
        moving.lock();
        if (fds[2].revents & POLLIN) {
            char drained[64];
            while (::read(m_wake[0], drained, sizeof drained) > 0) { }
        }
        if ((fds[0].revents & POLLIN) && m_toHost.empty()) {
            portReadable = fill(m_port.master, m_toHost);
            m_readFromProgram += qint64(m_toHost.size());
        }
        if ((fds[1].revents & POLLIN) && m_toPort.empty())
            hostReadable = fill(m_host.master, m_toPort);
        const int room = kHostQueue - unread(m_host.slave);
        if (!m_toHost.empty() && room > 0) {
            const size_t before = m_toHost.size();
            spill(m_host.master, m_toHost, size_t(room));
            settling = m_toHost.size() != before;
        }
        if (!m_toPort.empty())
            spill(m_port.master, m_toPort, m_toPort.size());
    }
}
