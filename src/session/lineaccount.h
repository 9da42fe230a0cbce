#pragma once

#include "session/lineevent.h"

#include <QObject>

class SessionClock;

// What the line has done, counted and told as events: one place turns each answer, refusal,
// dropped command and byte movement into the counters and the LineEvent that the event
// stream, the control channel and the tests read.
class LineAccount : public QObject
{
    Q_OBJECT

public:
    explicit LineAccount(SessionClock &clock, QObject *parent = nullptr);

    const LineCounters &counters() const { return m_counters; }

    void answered(const QByteArray &command, const QByteArray &bytes, const QString &rule,
                  const QStringList &faults);
    void refused(const QByteArray &command, const QByteArray &bytes, const QString &rule,
                 const QStringList &faults, const QString &reason);
    void unanswered(const QByteArray &bytes, const QString &budgetRule);
    void received(const QByteArray &bytes, qint64 atNs);
    void sent(const QByteArray &bytes);
    // An event without counting; atNs 0 is now.
    void report(LineEvent event);

signals:
    void lineEvent(const LineEvent &event);

private:
    SessionClock &m_clock;
    LineCounters m_counters;
};
