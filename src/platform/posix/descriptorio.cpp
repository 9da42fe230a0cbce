// Windows: CloseHandle, and ReadFile, WriteFile and WaitForMultipleObjects on overlapped handles.

#include "platform/descriptorio.h"

#include <QVarLengthArray>

#include <cerrno>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/prctl.h>
#include <time.h>
#include <unistd.h>

namespace DescriptorIo {

void close(int fd)
{
    ::close(fd);
}

qint64 readSome(int fd, char *into, qint64 most)
{
    const ssize_t n = ::read(fd, into, size_t(most));
    if (n > 0)
        return n;
    // The end (0) stays an end; only a descriptor with nothing yet, or a signal, is tried again.
    return n < 0 && (errno == EAGAIN || errno == EINTR) ? 0 : -1;
}

qint64 writeSome(int fd, const char *from, qint64 size)
{
    const ssize_t n = ::write(fd, from, size_t(size));
    return n > 0 ? n : 0;
}

bool wait(Watch *watches, int count, int timeoutMs)
{
    return waitNs(watches, count, timeoutMs < 0 ? -1 : qint64(timeoutMs) * 1'000'000);
}

void preciseWakeups()
{
    ::prctl(PR_SET_TIMERSLACK, 1UL);
    // Where the system allows it (a privileged user, an rtprio limit), the lowest real-time
    // priority keeps the line's timing when every core is busy, as a UART's is; else the
    // thread stays as it was. The thread waits between bytes and never runs without end.
    sched_param lowest {};
    lowest.sched_priority = sched_get_priority_min(SCHED_RR);
    pthread_setschedparam(pthread_self(), SCHED_RR, &lowest);
}

bool waitNs(Watch *watches, int count, qint64 timeoutNs)
{
    QVarLengthArray<pollfd, 4> fds;
    for (int i = 0; i < count; ++i) {
        const Watch &watch = watches[i];
        const int events = (watch.read ? POLLIN : 0) | (watch.write ? POLLOUT : 0);
        fds.append(pollfd { watch.fd, short(events), 0 });
    }
    timespec bound { time_t(timeoutNs / 1'000'000'000), long(timeoutNs % 1'000'000'000) };
    const bool failed = ::ppoll(fds.data(), nfds_t(count), timeoutNs < 0 ? nullptr : &bound, nullptr) < 0
            && errno != EINTR;
    for (int i = 0; i < count; ++i)
        watches[i].readable = (fds[i].revents & POLLIN) != 0;
    return !failed;
}

} // namespace DescriptorIo
