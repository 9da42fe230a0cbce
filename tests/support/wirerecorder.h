#pragma once

#include <QByteArray>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

// Records everything that arrives on the host end of a pty, on a thread of its own: what
// went over the wire, whatever the program believes it sent. It may play a slow host, whose
// reads lag behind so that the program's output queue fills.
class WireRecorder
{
public:
    explicit WireRecorder(int masterFd)
        : m_fd(masterFd)
    {
        if (::pipe(m_wake) != 0)
            m_wake[0] = m_wake[1] = -1;
        m_thread = std::thread([this] { run(); });
    }
    ~WireRecorder() { finish(); }
    WireRecorder(const WireRecorder &) = delete;
    WireRecorder &operator=(const WireRecorder &) = delete;

    // At most chunkBytes a read and a pause of pauseMs after each; 0 reads at full speed.
    void setPace(int chunkBytes, int pauseMs)
    {
        m_pauseMs = pauseMs;
        m_chunk = chunkBytes;
    }
    qsizetype received()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_bytes.size();
    }

    // Stops reading after taking what is still in the pty; returns everything recorded, once.
    // With the device's end given, every byte written there so far is taken: the kernel may
    // hold kilobytes for a worker to pass on later, so a quiet spell proves nothing, but a
    // mark written behind them arrives after the last of them.
    QByteArray finish(int deviceFd = -1)
    {
        if (!m_thread.joinable())
            return QByteArray();
        m_stop = true;
        const char c = 0;
        [[maybe_unused]] const ssize_t n = ::write(m_wake[1], &c, 1);
        m_thread.join();
        if (deviceFd < 0 || !drainToMark(deviceFd))
            drain(20);
        ::close(m_wake[0]);
        ::close(m_wake[1]);
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_bytes;
    }

private:
    void run()
    {
        while (!m_stop) {
            pollfd fds[2] = { { m_fd, POLLIN, 0 }, { m_wake[0], POLLIN, 0 } };
            if (::poll(fds, 2, -1) < 0 && errno != EINTR)
                return;
            if (fds[0].revents & POLLIN) {
                readSome(m_chunk > 0 ? m_chunk.load() : kBufferBytes);
                if (m_chunk > 0) {
                    pollfd wake { m_wake[0], POLLIN, 0 };
                    ::poll(&wake, 1, m_pauseMs);
                }
            } else if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL))
                return;
        }
    }
    bool drainToMark(int deviceFd)
    {
        static const QByteArray mark = QByteArrayLiteral("\xFF\x00wire-recorder-mark\x00\xFF");
        const int flags = ::fcntl(deviceFd, F_GETFL);
        ::fcntl(deviceFd, F_SETFL, flags | O_NONBLOCK);
        qsizetype written = 0;
        for (int quiet = 0; quiet < 50;) {
            if (written < mark.size()) {
                const ssize_t n = ::write(deviceFd, mark.constData() + written, size_t(mark.size() - written));
                written += n > 0 ? n : 0;
            }
            pollfd p { m_fd, POLLIN, 0 };
            const bool readable = ::poll(&p, 1, 100) > 0 && (p.revents & POLLIN);
            quiet = readable && readSome(kBufferBytes) ? 0 : quiet + 1;
            std::lock_guard<std::mutex> lock(m_mutex);
            if (written == mark.size() && m_bytes.endsWith(mark)) {
                m_bytes.chop(mark.size());
                ::fcntl(deviceFd, F_SETFL, flags);
                return true;
            }
        }
        ::fcntl(deviceFd, F_SETFL, flags);
        return false;
    }
    // Reads until the pty has been quiet for quietMs.
    void drain(int quietMs)
    {
        pollfd p { m_fd, POLLIN, 0 };
        while (::poll(&p, 1, quietMs) > 0 && (p.revents & POLLIN) && readSome(kBufferBytes)) { }
    }
    bool readSome(int most)
    {
        char buf[kBufferBytes];
        const ssize_t n = ::read(m_fd, buf, size_t(std::min(most, kBufferBytes)));
        if (n <= 0)
            return false;
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bytes.append(buf, n);
        return true;
    }

    static constexpr int kBufferBytes = 4096;
    int m_fd;
    std::atomic<int> m_chunk { 0 };
    std::atomic<int> m_pauseMs { 0 };
    int m_wake[2] = { -1, -1 };
    std::atomic<bool> m_stop { false };
    std::mutex m_mutex;
    QByteArray m_bytes;
    std::thread m_thread;
};
