// Windows: none; a host program there opens a com0com port, whose driver has the lines.

#include "platform/posix/deviceserver.h"

#include "platform/socketpath.h"

#include <QFile>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
constexpr uint32_t kHostLineBits = TIOCM_DTR | TIOCM_RTS;
constexpr uint32_t kSeenLineBits = TIOCM_CTS | TIOCM_DSR | TIOCM_CD | TIOCM_RI;

int64_t steadyNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
}

// The counters a TIOCMIWAIT mask watches.
bool watches(uint32_t mask, int count)
{
    static const uint32_t kBits[KALO_COUNTS] = { TIOCM_CTS, TIOCM_DSR, TIOCM_RI, TIOCM_CD };
    return mask & kBits[count];
}

bool sameSettings(const kalo_line_settings &a, const kalo_line_settings &b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}
} // namespace

bool DeviceServer::start(const QString &socketPath, const kalo_line_settings &initial,
                         uint32_t seenLines, Callbacks callbacks, QString *error)
{
    m_settings = initial;
    m_seenLines = seenLines & kSeenLineBits;
    m_callbacks = std::move(callbacks);
    if (!m_wake.open(error))
        return false;
    m_listener = SocketPath::listenOwnerOnly(socketPath, error);
    if (m_listener < 0)
        return false;
    m_path = socketPath;
    m_thread = std::thread([this] { serve(); });
    return true;
}

void DeviceServer::stop()
{
    if (m_thread.joinable()) {
        {
            std::lock_guard<std::mutex> lock(m_state);
            m_stopping = true;
        }
        m_wake.wake();
        m_thread.join();
    }
    for (Client &client : m_clients)
        ::close(client.fd);
    m_clients.clear();
    if (m_listener >= 0) {
        ::close(m_listener);
        QFile::remove(m_path);
        m_listener = -1;
    }
}

void DeviceServer::setSeenLines(uint32_t lines)
{
    {
        std::lock_guard<std::mutex> lock(m_state);
        lines &= kSeenLineBits;
        const uint32_t changed = lines ^ m_seenLines;
        for (int i = 0; i < KALO_COUNTS; ++i)
            if (watches(changed, i))
                ++m_counts[i];
        m_seenLines = lines;
    }
    m_wake.wake();
}

kalo_line_settings DeviceServer::settings() const
{
    std::lock_guard<std::mutex> lock(m_state);
    return m_settings;
}

void DeviceServer::serve()
{
    std::vector<pollfd> fds;
    for (;;) {
        fds.clear();
        fds.push_back({ m_wake.readEnd(), POLLIN, 0 });
        fds.push_back({ m_listener, POLLIN, 0 });
        for (const Client &client : m_clients)
            fds.push_back({ client.fd, POLLIN, 0 });
        if (::poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR)
            return;
        if (fds[0].revents) {
            m_wake.drain();
            std::lock_guard<std::mutex> lock(m_state);
            if (m_stopping)
                return;
        }
        // Each client is looked at once a round: one whose wait the lines ended, one with
        // more of its request, one that hung up.
        std::vector<Client> kept;
        for (size_t i = 0; i < m_clients.size(); ++i) {
            Client &client = m_clients[i];
            bool keep = true;
            if (client.waiting && waitIsOver(client)) {
                kalo_device_reply answer {};
                reply(client, answer);
                keep = false;
            } else if (fds[i + 2].revents) {
                keep = readFrom(client);
            }
            if (keep)
                kept.push_back(client);
            else
                ::close(client.fd);
        }
        m_clients.swap(kept);
        if (fds[1].revents)
            acceptClients();
    }
}

void DeviceServer::acceptClients()
{
    for (;;) {
        const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return;
        Client client;
        client.fd = fd;
        m_clients.push_back(client);
    }
}

bool DeviceServer::readFrom(Client &client)
{
    // A waiting client sends nothing more: what arrives is its hang-up, a signal having
    // ended the wait on its side.
    if (client.waiting)
        return false;
    char *into = reinterpret_cast<char *>(&client.request) + client.got;
    const ssize_t n = ::recv(client.fd, into, sizeof client.request - client.got, 0);
    if (n < 0)
        return errno == EAGAIN || errno == EINTR;
    if (n == 0)
        return false;
    client.got += size_t(n);
    if (client.got < sizeof client.request)
        return true;
    if (client.request.magic != KALO_DEVICE_MAGIC)
        return false;
    kalo_device_reply answer {};
    if (!handle(client, answer))
        return true;
    reply(client, answer);
    return false;
}

bool DeviceServer::handle(Client &client, kalo_device_reply &reply)
{
    const kalo_device_request &request = client.request;
    std::unique_lock<std::mutex> lock(m_state);
    switch (request.op) {
    case KALO_OP_GET_TERMIOS:
        reply.has_termios = m_hasTermios;
        reply.termios = m_termios;
        return true;
    case KALO_OP_SET_TERMIOS: {
        m_hasTermios = true;
        m_termios = request.termios;
        const bool changed = !sameSettings(m_settings, request.settings);
        m_settings = request.settings;
        lock.unlock();
        if (changed && m_callbacks.settingsChanged)
            m_callbacks.settingsChanged(request.settings);
        return true;
    }
    case KALO_OP_GET_LINES:
        reply.lines = m_hostLines | m_seenLines;
        return true;
    case KALO_OP_SET_LINES:
    case KALO_OP_LINES_ON:
    case KALO_OP_LINES_OFF: {
        const uint32_t asked = request.arg & kHostLineBits;
        const uint32_t lines = request.op == KALO_OP_SET_LINES ? asked
                : request.op == KALO_OP_LINES_ON               ? m_hostLines | asked
                                                               : m_hostLines & ~asked;
        lock.unlock();
        setHostLines(lines);
        return true;
    }
    case KALO_OP_WAIT_LINES:
        // A mask without any line the host sees would never end, as on a real port.
        client.waiting = true;
        client.waitMask = request.arg;
        std::memcpy(client.countsAtWait, m_counts, sizeof m_counts);
        return false;
    case KALO_OP_OPENED:
        lock.unlock();
        setHostLines(kHostLineBits);
        return true;
    case KALO_OP_GET_COUNTS:
        std::memcpy(reply.counts, m_counts, sizeof m_counts);
        return true;
    case KALO_OP_BREAK_ON:
        if (m_breakSinceNs < 0)
            m_breakSinceNs = steadyNs();
        return true;
    case KALO_OP_BREAK_OFF: {
        if (m_breakSinceNs < 0)
            return true;
        const int ms = int((steadyNs() - m_breakSinceNs) / 1000000);
        m_breakSinceNs = -1;
        lock.unlock();
        if (m_callbacks.breakSent)
            m_callbacks.breakSent(ms);
        return true;
    }
    case KALO_OP_BREAK:
        lock.unlock();
        if (m_callbacks.breakSent)
            m_callbacks.breakSent(int(request.arg));
        return true;
    default:
        reply.error = ENOTTY;
        return true;
    }
}

bool DeviceServer::waitIsOver(const Client &client) const
{
    std::lock_guard<std::mutex> lock(m_state);
    for (int i = 0; i < KALO_COUNTS; ++i)
        if (watches(client.waitMask, i) && m_counts[i] != client.countsAtWait[i])
            return true;
    return false;
}

void DeviceServer::reply(Client &client, kalo_device_reply &reply)
{
    reply.magic = KALO_DEVICE_MAGIC;
    // The host waits for exactly this record, so its socket has room for it.
    (void)::send(client.fd, &reply, sizeof reply, MSG_NOSIGNAL);
}

void DeviceServer::setHostLines(uint32_t lines)
{
    bool changed;
    {
        std::lock_guard<std::mutex> lock(m_state);
        changed = lines != m_hostLines;
        m_hostLines = lines;
    }
    if (changed && m_callbacks.linesChanged)
        m_callbacks.linesChanged(lines & TIOCM_DTR, lines & TIOCM_RTS);
}
