#pragma once

#include "session/lineevent.h"

#include <QObject>

class CommLog;
class SessionClock;

// What the line has done, counted and told as events: one place turns each answer, refusal,
// dropped command and byte movement into the counters and the LineEvent that the event
// stream, the control channel and the tests read; what the port says is logged here too.
class LineAccount : public QObject
{
    Q_OBJECT

public:
    LineAccount(SessionClock &clock, CommLog &log, QObject *parent = nullptr);

    const LineCounters &counters() const { return m_counters; }

    void answered(const QByteArray &command, const QByteArray &bytes, const QString &rule,
                  const QStringList &faults);
    void refused(const QByteArray &command, const QByteArray &bytes, const QString &rule,
                 const QStringList &faults, const QString &reason);
    void unanswered(const QByteArray &bytes, const QString &budgetRule, const QString &reason);
    void scriptError(const QString &where, const QString &message);
    void received(const QByteArray &bytes, qint64 atNs);
    void sent(const QByteArray &bytes);
    // A port problem or its end: a log line and the same words as a port event.
    void portLine(const QString &line);
    // Output queued for the device that a close dropped.
    void droppedOutput(qint64 bytes, const QString &device);
    // The host's settings differ from the instrument's (or agree again): a log line and a
    // line_settings event naming both.
    void lineCompared(const QString &host, const QString &instrument, bool agree);
    // The host set its DTR or RTS: a log line and a host_lines event.
    void hostLines(bool dtr, bool rts);
    // A break from the host: a log line and a break event.
    void hostBreak(int ms);
    void breakSent(int ms);
    // The instrument's receive buffer crossed a mark, and what it signalled ("XOFF", "CTS on"
    // …; empty when it keeps no flow control).
    void receiveBufferCrossed(bool full, qint64 fill, qint64 size, const QString &signal);
    // Input lost to a full receive buffer (its log line is the answering's).
    void overrun(const QByteArray &lost);
    // An event without counting; atNs 0 is now.
    void report(LineEvent event);

signals:
    void lineEvent(const LineEvent &event);

private:
    void logBreak(LineEvent::Kind kind, const QString &line, int ms);
    SessionClock &m_clock;
    CommLog &m_log;
    LineCounters m_counters;
};
