// Windows: a writer thread, as anonymous pipes and consoles cannot be made non-blocking.

#include "platform/streamwriter.h"

#include <QDeadlineTimer>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// Written bytes leave the front of the queue in steps of this size, not after every write.
constexpr qsizetype kCompactBytes = qsizetype(1) << 16;

QByteArray defaultNotice(qint64 skipped)
{
    return QByteArrayLiteral("SKIPPED=") + QByteArray::number(skipped);
}
} // namespace

StreamWriter::StreamWriter(int fd, qsizetype capacityBytes, QObject *parent)
    : QObject(parent), m_fd(fd), m_capacity(capacityBytes), m_notice(defaultNotice)
{
    m_savedFlags = ::fcntl(fd, F_GETFL);
    // A closed descriptor (a harness that closed our standard output) takes nothing at all.
    if (m_savedFlags < 0) {
        m_readerGone = true;
        return;
    }
    if ((m_savedFlags & O_NONBLOCK) == 0)
        ::fcntl(fd, F_SETFL, m_savedFlags | O_NONBLOCK);
}

StreamWriter::~StreamWriter()
{
    restoreFlags();
}

void StreamWriter::setSkipNotice(std::function<QByteArray(qint64)> notice)
{
    m_notice = std::move(notice);
}

void StreamWriter::writeLine(const QByteArray &line)
{
    if (m_readerGone || m_closed)
        return;
    if (queuedBytes() + line.size() + 1 > m_capacity) {
        ++m_skippedUnannounced;
        ++m_skippedTotal;
        return;
    }
    noteSkipsIfAny();
    enqueue(line);
}

void StreamWriter::writeEssentialLine(const QByteArray &line)
{
    if (m_readerGone || m_closed)
        return;
    noteSkipsIfAny();
    enqueue(line);
    // A reader waits for these before it goes on; they do not wait for the event loop.
    if (!m_notifier || !m_notifier->isEnabled())
        writeQueued();
}

bool StreamWriter::flush(int timeoutMs)
{
    if (m_closed)
        return false;
    noteSkipsIfAny();
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        writeQueued();
        if (m_readerGone || queuedBytes() == 0)
            return !m_readerGone;
        const qint64 left = deadline.remainingTime();
        if (left <= 0)
            return false;
        pollfd ready { m_fd, POLLOUT, 0 };
        if (::poll(&ready, 1, int(left)) < 0 && errno != EINTR)
            return false;
    }
}

bool StreamWriter::close(int timeoutMs)
{
    const bool written = flush(timeoutMs);
    m_closed = true;
    delete m_notifier;
    m_notifier = nullptr;
    m_queue.clear();
    m_written = 0;
    restoreFlags();
    return written;
}

void StreamWriter::enqueue(const QByteArray &line)
{
    m_queue.append(line).append('\n');
    // The lines of one pass of the event loop go out in one write when it returns: a system
    // call per line costs a busy line more than the line itself, and the answer being sent
    // would wait for it. While the notifier waits, the reader is known to be full anyway.
    if (m_writePosted || (m_notifier && m_notifier->isEnabled()))
        return;
    m_writePosted = true;
    QMetaObject::invokeMethod(this, &StreamWriter::writePosted, Qt::QueuedConnection);
}

void StreamWriter::writePosted()
{
    m_writePosted = false;
    if (!m_closed)
        writeQueued();
}

void StreamWriter::noteSkipsIfAny()
{
    if (m_skippedUnannounced == 0)
        return;
    m_queue.append(m_notice(m_skippedUnannounced)).append('\n');
    m_skippedUnannounced = 0;
}

void StreamWriter::writeQueued()
{
    while (!m_readerGone) {
        while (m_written < m_queue.size()) {
            const ssize_t n = ::write(m_fd, m_queue.constData() + m_written,
                                      size_t(m_queue.size() - m_written));
            if (n > 0) {
                noteLineTail(m_queue.constData() + m_written, n);
                m_written += n;
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else if (n == 0 || errno == EAGAIN || errno == EWOULDBLOCK) {
                waitForWritable();
                return;
            } else if (errno == EPIPE || errno == ECONNRESET) {
                dropAll();
                return;
            } else {
                fail(errno);
                return;
            }
        }
        // Keeps its capacity: a line a cycle would otherwise cost an allocation each.
        m_queue.resize(0);
        m_written = 0;
        if (m_notifier)
            m_notifier->setEnabled(false);
        // Drained after skipping: the notice goes out now, not only with the next line.
        if (m_skippedUnannounced == 0)
            return;
        noteSkipsIfAny();
    }
}

void StreamWriter::noteLineTail(const char *written, qsizetype count)
{
    const void *newline = ::memrchr(written, '\n', size_t(count));
    m_lineTail = newline ? written + count - static_cast<const char *>(newline) - 1
                         : m_lineTail + count;
}

void StreamWriter::fail(int errorNumber)
{
    // A file that cannot take the rest (a full disk) keeps only whole lines, so that a reader
    // of it never takes half a line for a line.
    struct stat status {};
    if (m_lineTail > 0 && ::fstat(m_fd, &status) == 0 && S_ISREG(status.st_mode)) {
        const off_t end = ::lseek(m_fd, 0, SEEK_CUR);
        if (end >= m_lineTail && ::ftruncate(m_fd, end - m_lineTail) == 0)
            ::lseek(m_fd, end - m_lineTail, SEEK_SET);
    }
    m_lineTail = 0;
    dropAll();
    m_failure = QString::fromLocal8Bit(std::strerror(errorNumber));
    emit writeFailed(m_failure);
}

void StreamWriter::waitForWritable()
{
    if (m_written >= kCompactBytes) {
        m_queue.remove(0, m_written);
        m_written = 0;
    }
    if (!m_notifier) {
        m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Write, this);
        connect(m_notifier, &QSocketNotifier::activated, this, &StreamWriter::writeQueued);
    }
    m_notifier->setEnabled(true);
}

void StreamWriter::dropAll()
{
    m_readerGone = true;
    m_queue.clear();
    m_written = 0;
    if (m_notifier)
        m_notifier->setEnabled(false);
}

void StreamWriter::restoreFlags()
{
    if (m_savedFlags < 0 || (m_savedFlags & O_NONBLOCK) != 0)
        return;
    // Only our bit goes back: the flags may be shared with a shell that changed others since.
    const int now = ::fcntl(m_fd, F_GETFL);
    if (now >= 0)
        ::fcntl(m_fd, F_SETFL, now & ~O_NONBLOCK);
    m_savedFlags = -1;
}
