#pragma once

#include "lineevent.h"
#include "timestamp.h"

#include <QObject>
#include <QString>

#include <memory>

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

    // A file of the stream's own, emptied first; opening a FIFO waits for its reader. False
    // with the reason.
    bool openFile(const QString &path, QString *error);
    // Standard output's writer, shared with the KEY=value lines (--events -).
    void shareWriter(StreamWriter &writer);

    void follow(const CommSession &session);
    void follow(const Relay &relay);
    // Before the process ends: what is queued goes out, within a few seconds.
    void finish();

private:
    void write(const LineEvent &event);

    qint64 m_runStartNs = 0;
    int m_fd = -1;
    std::unique_ptr<StreamWriter> m_ownWriter;
    StreamWriter *m_writer = nullptr;
    Stamp::IsoMillisCache m_time;
};
