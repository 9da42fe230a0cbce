#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>

class QSocketNotifier;

// Lines for a reader outside the process (standard output, an event stream, a control
// socket) that may stop reading at any time. The line must never wait for such a reader, so
// the descriptor is made non-blocking and what it cannot take at once waits in a bounded queue
// that a write notifier drains. Ordinary lines are written when the event loop next runs, all
// of them in one write. When the queue is full, ordinary lines are skipped and counted;
// once the queue has room again, one notice line says how many were left out. Essential lines
// (the few the reader needs to go on at all) are never skipped: they may go past the bound.
// A reader that went away (EPIPE, with SIGPIPE ignored by the program) only loses the output;
// any other failure (a full disk) ends the output too, but is told, and a file keeps only its
// whole lines.
class StreamWriter : public QObject
{
    Q_OBJECT

public:
    static constexpr qsizetype kDefaultCapacity = qsizetype(1) << 20;

    // Takes over fd's status flags until close() or destruction; fd itself stays open.
    explicit StreamWriter(int fd, qsizetype capacityBytes = kDefaultCapacity,
                          QObject *parent = nullptr);
    ~StreamWriter() override;

    // The notice line put where skipped lines would have been; the default names no stream.
    void setSkipNotice(std::function<QByteArray(qint64 skipped)> notice);

    // line is written with a newline added; it must not hold one of its own.
    void writeLine(const QByteArray &line);
    void writeEssentialLine(const QByteArray &line);

    // Waits up to timeoutMs for the queue to be written; true when all of it was.
    bool flush(int timeoutMs);
    // A last flush, then the descriptor's own flags back; nothing is written afterwards.
    bool close(int timeoutMs);

    qint64 skippedTotal() const { return m_skippedTotal; }
    // Why the output ended other than by its reader's leaving; empty while it did not.
    QString failure() const { return m_failure; }
    qsizetype queuedBytes() const { return m_queue.size() - m_written; }

signals:
    // Once, when a write fails for any other reason than a reader gone.
    void writeFailed(const QString &reason);

private:
    void noteLineTail(const char *written, qsizetype count);
    void fail(int errorNumber);
    void enqueue(const QByteArray &line);
    void writePosted();
    void noteSkipsIfAny();
    void writeQueued();
    void waitForWritable();
    void dropAll();
    void restoreFlags();

    int m_fd = -1;
    int m_savedFlags = -1;
    qsizetype m_capacity = 0;
    QByteArray m_queue;
    qsizetype m_written = 0; // bytes at the front of m_queue already written
    qsizetype m_lineTail = 0; // bytes of an unfinished line already written
    QString m_failure;
    qint64 m_skippedUnannounced = 0;
    qint64 m_skippedTotal = 0;
    bool m_readerGone = false;
    bool m_closed = false;
    bool m_writePosted = false;
    QSocketNotifier *m_notifier = nullptr;
    std::function<QByteArray(qint64)> m_notice;
};
