#include "headless/eventstream.h"

#include "headless/lineeventjson.h"
#include "log/commlog.h"
#include "log/linetexts.h"
#include "platform/descriptorio.h"
#include "platform/safefile.h"
#include "platform/sessionclock.h"
#include "platform/streamwriter.h"
#include "record/relay.h"
#include "session/commsession.h"

#include <QDateTime>

#include <cstdio>

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
    m_fd = SafeFile::openStream(path, error);
    if (m_fd < 0) {
        if (!error->isEmpty())
            error->prepend(QStringLiteral("--events: "));
        return false;
    }
    m_ownWriter = std::make_unique<StreamWriter>(m_fd);
    connect(m_ownWriter.get(), &StreamWriter::writeFailed, this,
            [this, path](const QString &reason) { tellFailure(path, reason); });
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
    // The log is saved by now, and may be gone.
    m_problemLog = nullptr;
    if (m_ownWriter)
        m_ownWriter->close(kFinishTimeoutMs);
    if (m_fd >= 0)
        DescriptorIo::close(m_fd);
    m_fd = -1;
    m_ownWriter.reset();
    m_writer = nullptr;
}

void EventStream::tellFailure(const QString &path, const QString &reason)
{
    m_failed = true;
    // Said where a harness looks first; the saved log keeps it for whoever reads it later.
    std::fprintf(stderr, "kalo_rs232c: the events cannot be written: %s: %s\n",
                 path.toUtf8().constData(), reason.toUtf8().constData());
    if (m_problemLog)
        m_problemLog->appendStamped(LineTexts::fileNotWritten(path + QLatin1String(": ") + reason));
}

void EventStream::tellLogNotSaved(const QString &problem)
{
    LineEvent event;
    event.kind = LineEvent::Kind::LogNotSaved;
    event.atNs = SessionClock::steady().nowNs();
    event.message = problem;
    write(event);
}

void EventStream::write(const LineEvent &event)
{
    if (m_writer)
        m_writer->writeLine(LineEventJson::line(event, m_runStartNs, timeAt(m_time, event.atNs)));
}
