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
    QByteArray finish()
    {
        if (!m_thread.joinable())
            return QByteArray();
        {
            m_stop = true;
            const char c = 0;
            [[maybe_unused]] const ssize_t n = ::write(m_wake[1], &c, 1);
            m_thread.join();
            drain(20);
            ::close(m_wake[0]);
            ::close(m_wake[1]);
        }
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
