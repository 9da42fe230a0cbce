#include "session/lineaccount.h"

#include "log/commlog.h"
#include "log/linetexts.h"
#include "platform/sessionclock.h"

namespace {
LineEvent answerEvent(LineEvent::Kind kind, const QByteArray &command, const QByteArray &bytes,
                      const QString &rule, const QStringList &faults)
{
    LineEvent event;
    event.kind = kind;
    event.command = command;
    event.bytes = bytes;
    event.rule = rule;
    event.faults = faults;
    return event;
}
} // namespace

LineAccount::LineAccount(SessionClock &clock, CommLog &log, QObject *parent)
    : QObject(parent), m_clock(clock), m_log(log)
{
}

void LineAccount::portLine(const QString &line)
{
    m_log.appendStamped(line);
    LineEvent event;
    event.kind = LineEvent::Kind::Port;
    event.message = line;
    report(event);
}

void LineAccount::droppedOutput(qint64 bytes, const QString &device)
{
    m_log.appendStamped(LineTexts::droppedOutput(bytes, device));
    LineEvent event;
    event.kind = LineEvent::Kind::DroppedOutput;
    event.count = bytes;
    event.message = device;
    report(event);
}

void LineAccount::lineCompared(const QString &host, const QString &instrument, bool agree)
{
    m_log.appendStamped(agree ? LineTexts::hostLineAgrees(instrument)
                              : LineTexts::hostLineDiffers(host, instrument));
    LineEvent event;
    event.kind = LineEvent::Kind::LineSettings;
    event.hostLine = host;
    event.instrumentLine = instrument;
    event.agree = agree;
    report(event);
}

void LineAccount::hostLines(bool dtr, bool rts)
{
    m_log.appendStamped(LineTexts::hostLines(dtr, rts));
    LineEvent event;
    event.kind = LineEvent::Kind::HostLines;
    event.dtr = dtr;
    event.rts = rts;
    report(event);
}

void LineAccount::hostBreak(int ms)
{
    logBreak(LineEvent::Kind::Break, LineTexts::hostBreak(ms), ms);
}

void LineAccount::breakSent(int ms)
{
    logBreak(LineEvent::Kind::BreakSent, LineTexts::breakSent(ms), ms);
}

void LineAccount::logBreak(LineEvent::Kind kind, const QString &line, int ms)
{
    m_log.appendStamped(line);
    LineEvent event;
    event.kind = kind;
    event.count = ms;
    report(event);
}

void LineAccount::receiveBufferCrossed(bool full, qint64 fill, qint64 size, const QString &signal)
{
    const QString shown = !signal.isEmpty() ? signal
                          : full            ? QStringLiteral("full")
                                            : QStringLiteral("free");
    m_log.appendStamped(LineTexts::receiveBufferCrossed(fill, size, shown));
    LineEvent event;
    event.kind = LineEvent::Kind::Flow;
    event.message = shown;
    event.count = fill;
    event.size = size;
    report(event);
}

void LineAccount::overrun(const QByteArray &lost)
{
    LineEvent event;
    event.kind = LineEvent::Kind::Overrun;
    event.bytes = lost;
    report(event);
}

void LineAccount::report(LineEvent event)
{
    event.atNs = event.atNs ? event.atNs : m_clock.nowNs();
    emit lineEvent(event);
}

void LineAccount::answered(const QByteArray &command, const QByteArray &bytes, const QString &rule,
                           const QStringList &faults)
{
    ++m_counters.commandsSeen;
    const bool dropped = faults.contains(QStringLiteral("drop"));
    ++(dropped ? m_counters.dropped : m_counters.answered);
    LineEvent event = answerEvent(LineEvent::Kind::Answer, command, bytes, rule, faults);
    report(event);
    if (!faults.isEmpty()) {
        event.kind = LineEvent::Kind::Fault;
        event.bytes.clear();
        report(event);
    }
}

void LineAccount::refused(const QByteArray &command, const QByteArray &bytes, const QString &rule,
                          const QStringList &faults, const QString &reason)
{
    ++m_counters.commandsSeen;
    ++m_counters.refused;
    LineEvent event = answerEvent(LineEvent::Kind::Refused, command, bytes, rule, faults);
    event.message = reason;
    report(event);
}

void LineAccount::scriptError(const QString &where, const QString &message)
{
    LineEvent event;
    event.kind = LineEvent::Kind::ScriptError;
    event.rule = where;
    event.message = message;
    report(event);
}

void LineAccount::unanswered(const QByteArray &bytes, const QString &budgetRule,
                             const QString &reason)
{
    ++m_counters.commandsSeen;
    ++m_counters.dropped;
    LineEvent event;
    event.kind = LineEvent::Kind::Unanswered;
    event.bytes = bytes;
    event.rule = budgetRule;
    event.message = reason;
    report(event);
}

void LineAccount::received(const QByteArray &bytes, qint64 atNs)
{
    m_counters.bytesIn += bytes.size();
    LineEvent event;
    event.kind = LineEvent::Kind::Received;
    event.bytes = bytes;
    event.atNs = atNs;
    report(event);
}

void LineAccount::sent(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return;
    m_counters.bytesOut += bytes.size();
    LineEvent event;
    event.kind = LineEvent::Kind::Sent;
    event.bytes = bytes;
    report(event);
}
