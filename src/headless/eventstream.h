#pragma once

#include "platform/timestamp.h"
#include "session/lineevent.h"

#include <QObject>
#include <QString>

#include <memory>

class CommLog;
class CommSession;
class Relay;
class StreamWriter;

// The run's line events as JSON lines (--events), for a harness that follows the line as a
// program rather than reading the log. The stream goes through a StreamWriter like standard
// output: a reader that falls behind loses events, never holds up the line, and a "skipped"
// event says how many it lost.
class EventStream : public QObject
{
    Q_OBJECT

public:
    // runStartNs: the session clock's reading that "t_ns" counts from.
    explicit EventStream(qint64 runStartNs, QObject *parent = nullptr);
    ~EventStream() override;

    // A file of the stream's own (see SafeFile::openStream), emptied first; opening a FIFO
    // waits for its reader. False with the reason, or with none when a stop came meanwhile.
    bool openFile(const QString &path, QString *error);
    // Standard output's writer, shared with the KEY=value lines (--events -).
    void shareWriter(StreamWriter &writer);

    void follow(const CommSession &session);
    void follow(const Relay &relay);
    // Before the process ends: what is queued goes out, within a few seconds.
    void finish();
    // Where a failed write of the stream's own file is noted besides standard error.
    void setProblemLog(CommLog *log) { m_problemLog = log; }
    // True once the stream's own file could take no more (a full disk): the run is not a
    // success, whatever else it did.
    bool failed() const { return m_failed; }
    // The stream is where a log that could not be saved can still be told of.
    void tellLogNotSaved(const QString &problem);

private:
    void write(const LineEvent &event);
    void tellFailure(const QString &path, const QString &reason);

    qint64 m_runStartNs = 0;
    int m_fd = -1;
    std::unique_ptr<StreamWriter> m_ownWriter;
    StreamWriter *m_writer = nullptr;
    Stamp::IsoMillisCache m_time;
    CommLog *m_problemLog = nullptr;
    bool m_failed = false;
};
