#include "eventstream.h"

#include "commsession.h"
#include "lineeventjson.h"
#include "relay.h"
#include "sessionclock.h"
#include "streamwriter.h"

#include <QDateTime>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {
// As for standard output: a reader of the stream that reads only after the stop still
// gets what was queued, and one that never reads does not keep the process.
constexpr int kFinishTimeoutMs = 3000;

// An event may be stamped earlier than now (a read's arrival): its wall time is now less the
// time since, so the two clocks agree however the wall clock was set meanwhile.
QString timeAt(Stamp::IsoMillisCache &cache, qint64 clockNs)
{
    const qint64 agoMs = (SessionClock::steady().nowNs() - clockNs) / 1'000'000;
    return cache.at(QDateTime::currentMSecsSinceEpoch() - agoMs);
}
} // namespace

EventStream::EventStream(qint64 runStartNs, QObject *parent)
    : QObject(parent), m_runStartNs(runStartNs)
{
}

EventStream::~EventStream()
{
    finish();
}

bool EventStream::openFile(const QString &path, QString *error)
{
    m_fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC,
                  0644);
    if (m_fd < 0) {
        *error = QStringLiteral("--events: %1: %2")
                         .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    m_ownWriter = std::make_unique<StreamWriter>(m_fd);
    shareWriter(*m_ownWriter);
    return true;
}

void EventStream::shareWriter(StreamWriter &writer)
{
    m_writer = &writer;
    // A shared writer may outlive this stream and still owe its notice at the last flush.
    m_writer->setSkipNotice([start = m_runStartNs, cache = Stamp::IsoMillisCache()](
                                    qint64 skipped) mutable {
        const qint64 now = SessionClock::steady().nowNs();
        return LineEventJson::skippedLine(skipped, now - start, timeAt(cache, now));
    });
}

void EventStream::follow(const CommSession &session)
{
    connect(&session, &CommSession::lineEvent, this, &EventStream::write);
}

void EventStream::follow(const Relay &relay)
{
    connect(&relay, &Relay::lineEvent, this, &EventStream::write);
}

void EventStream::finish()
{
    if (m_ownWriter)
        m_ownWriter->close(kFinishTimeoutMs);
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_ownWriter.reset();
    m_writer = nullptr;
}

void EventStream::write(const LineEvent &event)
{
    if (m_writer)
        m_writer->writeLine(LineEventJson::line(event, m_runStartNs, timeAt(m_time, event.atNs)));
}
