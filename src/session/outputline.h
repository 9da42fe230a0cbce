#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <deque>
#include <functional>
#include <utility>
#include <vector>

class SessionClock;

// The one way out to the port: every byte the instrument sends (answers, continuous output,
// bytes sent on request) passes here, in order of when it is due. An item whose bytes have
// begun to go out finishes before any other starts, so two items never interleave on the
// wire. Answers keep the order of their commands among themselves: one that is due earlier
// than the answer before it waits behind it.
//
// Nothing here waits: an item due later, and each paced byte, is a call on the session clock.
class OutputLine : public QObject
{
    Q_OBJECT

public:
    enum class Kind { Answer, Other };

    struct Item
    {
        QByteArray bytes;
        // On the session clock; 0 or a moment past: as soon as the line is free.
        qint64 dueNs = 0;
        // Between the starts of successive bytes; 0 sends them all at once.
        qint64 byteGapNs = 0;
        // An answer in parts: before the byte at each offset, a pause this long (offsets
        // rising). The item stays on the wire through its pauses.
        std::vector<std::pair<qsizetype, qint64>> pauses;
        Kind kind = Kind::Other;
        // An item without bytes still goes to the port, and fails there when it is closed: the
        // fixed instrument's empty answers and empty continuous texts count as sent only so.
        bool emptyNeedsPort = false;
        // Called once, when the item is done: what of it the port took, and why the rest did
        // not go out (empty when all of it did). An item without bytes is done when due.
        std::function<void(const QByteArray &sent, const QString &refusal)> done;
    };

    // Hands bytes to the port; false with the reason when the port did not take them.
    using Write = std::function<bool(const QByteArray &bytes, QString *reason)>;

    OutputLine(SessionClock &clock, Write write, QObject *parent = nullptr);

    // Queues the item and sends what is due at once; done() may have run when this returns.
    void enqueue(Item item);
    // Every answer not wholly sent is cut short, the one on the wire too, and done with the
    // reason; other items go on.
    void cutAnswers(const QString &reason);
    bool isIdle() const { return m_queue.empty(); }

private:
    struct Queued
    {
        Item item;
        quint64 id = 0;
        qsizetype sent = 0;
        QString refusal;
    };

    void pump();
    void armFor(qint64 dueNs);
    static void finish(Queued &done);

    SessionClock &m_clock;
    Write m_write;
    std::deque<Queued> m_queue;
    quint64 m_lastId = 0;
    bool m_pumping = false;
    // The earliest moment a call on the clock is armed for; 0 when none is.
    qint64 m_armedForNs = 0;
};
