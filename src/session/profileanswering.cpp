#include "session/profileanswering.h"

#include "log/commlog.h"
#include "log/linetexts.h"
#include "platform/sessionclock.h"
#include "profile/framer.h"
#include "profile/responder.h"
#include "session/outputline.h"
#include "text/ansicodec.h"

#include <algorithm>
#include <utility>

ProfileAnswering::ProfileAnswering(CommLog &log, SessionClock &clock, OutputLine &line,
                                   QObject *parent)
    : QObject(parent), m_log(log), m_clock(clock), m_line(line)
{
}

ProfileAnswering::~ProfileAnswering() = default;

void ProfileAnswering::begin(std::unique_ptr<Profile::Responder> responder)
{
    end();
    m_responder = std::move(responder);
    m_framer = m_responder->makeFramer();
    m_bufferSize = m_responder->instrument().receiveBuffer;
    m_bufferFull = false;
}

void ProfileAnswering::switchTo(std::unique_ptr<Profile::Responder> responder)
{
    if (!m_framer) {
        begin(std::move(responder));
        return;
    }
    m_next = std::move(responder);
    takeOverIfDue(false, m_clock.nowNs());
}

void ProfileAnswering::takeOverIfDue(bool frameEnded, qint64 atNs)
{
    if (!m_next || (!frameEnded && m_framer->pendingBytes() > 0))
        return;
    // What follows the frame that just ended belongs to the next command, the new one's.
    const QByteArray unfinished = m_framer->takeUnfinished();
    m_retirement.retire(std::exchange(m_responder, std::move(m_next)));
    m_framer = m_responder->makeFramer();
    m_bufferSize = m_responder->instrument().receiveBuffer;
    m_deadlineArmedFor = 0;
    if (!unfinished.isEmpty())
        handle(m_framer->feed(unfinished, atNs), atNs);
}

void ProfileAnswering::end()
{
    ++m_generation;
    m_framer.reset();
    m_next.reset();
    m_deadlineArmedFor = 0;
    // Every command framed is accounted for, also those a stop leaves without their answer.
    m_line.cutAnswers(QStringLiteral("communication stopped before the answer was sent"));
}

void ProfileAnswering::dropUnfinished()
{
    if (m_framer)
        m_framer->clear();
    m_deadlineArmedFor = 0;
}

std::optional<qint64> ProfileAnswering::openWindowEndNs() const
{
    if (!m_framer || !m_responder || !m_responder->instrument().framing.windowExact)
        return std::nullopt;
    const qint64 deadline = m_framer->deadlineNs();
    if (deadline == Profile::Framer::kNoDeadline)
        return std::nullopt;
    return deadline;
}

void ProfileAnswering::take(const QByteArray &bytes, qint64 arrivalNs)
{
    if (!m_framer || bytes.isEmpty())
        return;
    // A full receive buffer loses what comes, as a UART's overrun does.
    const qint64 room = m_bufferSize > 0 ? std::max<qint64>(0, m_bufferSize - bufferFill()) : bytes.size();
    if (room < bytes.size()) {
        const QByteArray lost = bytes.mid(room);
        m_log.appendStampedBytes(Ansi::encodeLossy(LineTexts::overrunPrefix()) + lost);
        emit overrun(lost);
    }
    if (room > 0)
        handle(m_framer->feed(bytes.left(room), arrivalNs), arrivalNs);
    armDeadline();
    checkBuffer();
}

qint64 ProfileAnswering::bufferFill() const
{
    return (m_framer ? m_framer->pendingBytes() : 0) + m_heldBytes;
}

// Three quarters full asks the host to wait, a quarter lets it go on: the quarter left is
// for the bytes a host sends before it has seen the XOFF.
void ProfileAnswering::checkBuffer()
{
    if (m_bufferSize <= 0)
        return;
    const qint64 fill = bufferFill();
    if (!m_bufferFull && fill >= std::max<qint64>(1, m_bufferSize - m_bufferSize / 4)) {
        m_bufferFull = true;
        emit receiveBufferCrossed(true, fill, m_bufferSize);
    } else if (m_bufferFull && fill <= m_bufferSize / 4) {
        m_bufferFull = false;
        emit receiveBufferCrossed(false, fill, m_bufferSize);
    }
}

void ProfileAnswering::armDeadline()
{
    if (!m_framer)
        return;
    const qint64 deadline = m_framer->deadlineNs();
    if (deadline == Profile::Framer::kNoDeadline || deadline == m_deadlineArmedFor)
        return;
    m_deadlineArmedFor = deadline;
    const quint64 generation = m_generation;
    m_clock.callAt(deadline, this, [this, generation] { onDeadline(generation); });
}

namespace {
// How soon a deadline is looked at again while the line still carries bytes toward the port.
constexpr qint64 kArrivingRecheckNs = 500'000;
} // namespace

void ProfileAnswering::onDeadline(quint64 generation)
{
    if (generation != m_generation || !m_framer)
        return;
    m_deadlineArmedFor = 0;
    if (m_lateInput) {
        const qint64 before = m_framer->deadlineNs();
        const bool arriving = m_lateInput(before - 1);
        if (generation != m_generation || !m_framer)
            return;
        const qint64 after = m_framer->deadlineNs();
        const bool silence = m_framer->deadlineIsSilence() && after != Profile::Framer::kNoDeadline;
        // Bytes taken only now, late: the event loop was behind, and what follows them may be
        // as late. The line is silent once it has been so for a whole span as seen from here.
        const bool tookLate = silence && before != Profile::Framer::kNoDeadline && after != before;
        if (silence && (arriving || tookLate)) {
            const qint64 now = m_clock.nowNs();
            const qint64 again = arriving ? now + kArrivingRecheckNs : now + (after - (before - 1));
            m_deadlineArmedFor = again;
            m_clock.callAt(again, this, [this, generation] { onDeadline(generation); });
            return;
        }
    }
    const qint64 now = m_clock.nowNs();
    const bool window = openWindowEndNs().has_value();
    handle(m_framer->expire(now), now);
    armDeadline();
    if (window && !openWindowEndNs())
        emit windowClosed();
}

void ProfileAnswering::handle(std::vector<Profile::Frame> frames, qint64 atNs)
{
    // Bytes no frame will take (a stale half command, a flood past the frame limit).
    const QByteArray lost = m_framer->takeDropped();
    if (!lost.isEmpty())
        logUnanswered(lost);
    for (const Profile::Frame &frame : frames) {
        Profile::Reply reply = frame.isBreak ? m_responder->replyToBreak()
                                             : m_responder->reply(frame.bytes);
        reportScriptProblems();
        if (!reply.matched && frame.isBreak)
            continue; // the break has its own log line
        if (!reply.matched) {
            if (reply.failure.isEmpty())
                logUnanswered(frame.bytes, reply.budgetRule);
            else
                logUnanswered(frame.bytes, reply.rule, reply.failure);
            continue;
        }
        if (reply.continuous)
            emit continuousSwitched(*reply.continuous);
        if (reply.lines.any())
            emit linesSwitched(reply.lines);
        OutputLine::Item item;
        item.kind = OutputLine::Kind::Answer;
        item.bytes = reply.dropped ? QByteArray() : reply.bytes;
        for (Profile::ReplyPart &part : reply.laterParts) {
            item.pauses.emplace_back(item.bytes.size(), part.pauseNs);
            item.bytes += part.bytes;
        }
        item.dueNs = frame.completeNs + reply.delayNs;
        item.byteGapNs = reply.byteGapNs;
        item.emptyNeedsPort = m_responder->instrument().framing.windowExact;
        m_heldBytes += frame.bytes.size();
        item.done = [this, command = frame.bytes, reply](const QByteArray &sent,
                                                          const QString &refusal) {
            m_heldBytes -= command.size();
            finish(command, reply, sent, refusal);
            checkBuffer();
        };
        m_line.enqueue(std::move(item));
    }
    takeOverIfDue(!frames.empty(), atNs);
}

void ProfileAnswering::takeBreak(qint64 atNs)
{
    if (!m_framer)
        return;
    Profile::Frame frame;
    frame.isBreak = true;
    frame.firstByteNs = frame.completeNs = atNs;
    handle({ frame }, atNs);
}

void ProfileAnswering::reportScriptProblems()
{
    if (!m_responder)
        return;
    for (const Profile::ScriptProblem &problem : m_responder->takeProblems()) {
        if (problem.firstOfItsKind)
            m_log.appendStamped(LineTexts::scriptError(problem.where, problem.message));
        emit scriptError(problem.where, problem.message);
    }
}

// As without a profile: the user must see why nothing was answered.
void ProfileAnswering::logUnanswered(const QByteArray &bytes, const QString &budgetRule,
                                     const QString &reason)
{
    const QString prefix = !reason.isEmpty()     ? LineTexts::unansweredBecause(budgetRule, reason)
                           : budgetRule.isEmpty() ? LineTexts::unansweredInputPrefix()
                                                  : LineTexts::unansweredBudgetPrefix(budgetRule);
    m_log.appendStampedBytes(Ansi::encodeLossy(prefix) + bytes);
    emit unanswered(bytes, budgetRule, reason);
}

void ProfileAnswering::finish(const QByteArray &command, const Profile::Reply &reply,
                              const QByteArray &sent, const QString &refusal)
{
    // An answer of which nothing went out is no exchange: only the stream tells of it.
    if (refusal.isEmpty() || !sent.isEmpty()) {
        m_log.appendExchange(command, sent);
        if (!reply.faults.isEmpty())
            m_log.appendStamped(LineTexts::faultsApplied(reply.rule, reply.faults));
    }
    if (refusal.isEmpty())
        emit answered(command, sent, reply.rule, reply.faults);
    else
        emit refused(command, sent, reply.rule, reply.faults, refusal);
}
