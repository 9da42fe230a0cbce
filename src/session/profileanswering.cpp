#include "session/profileanswering.h"

#include "log/commlog.h"
#include "log/linetexts.h"
#include "platform/sessionclock.h"
#include "profile/framer.h"
#include "profile/responder.h"
#include "text/ansicodec.h"

#include <algorithm>
#include <utility>

namespace {
int msUntil(qint64 dueNs, qint64 nowNs)
{
    const qint64 leftNs = std::max<qint64>(0, dueNs - nowNs);
    return int(std::min<qint64>((leftNs + 999'999) / 1'000'000, 24 * 3600 * 1000));
}
} // namespace

ProfileAnswering::ProfileAnswering(CommLog &log, SessionClock &clock, Send send, QObject *parent)
    : QObject(parent), m_log(log), m_clock(clock), m_send(std::move(send))
{
}

ProfileAnswering::~ProfileAnswering() = default;

void ProfileAnswering::begin(std::unique_ptr<Profile::Responder> responder)
{
    end();
    m_responder = std::move(responder);
    m_framer = m_responder->makeFramer();
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
    m_deadlineArmedFor = 0;
    if (!unfinished.isEmpty())
        handle(m_framer->feed(unfinished, atNs), atNs);
}

void ProfileAnswering::end()
{
    ++m_generation;
    m_framer.reset();
    m_next.reset();
    m_pumpArmed = false;
    m_deadlineArmedFor = 0;
    // Every command framed is accounted for, also those a stop leaves without their answer.
    std::deque<Pending> cutOff;
    cutOff.swap(m_queue);
    for (Pending &answer : cutOff) {
        answer.refusal = QStringLiteral("communication stopped before the answer was sent");
        finish(answer);
    }
}

void ProfileAnswering::take(const QByteArray &bytes, qint64 arrivalNs)
{
    if (!m_framer || bytes.isEmpty())
        return;
    handle(m_framer->feed(bytes, arrivalNs), arrivalNs);
    armDeadline();
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
    m_clock.callAfter(msUntil(deadline, m_clock.nowNs()), this,
                      [this, generation] { onDeadline(generation); });
}

void ProfileAnswering::onDeadline(quint64 generation)
{
    if (generation != m_generation || !m_framer)
        return;
    m_deadlineArmedFor = 0;
    const qint64 now = m_clock.nowNs();
    handle(m_framer->expire(now), now);
    armDeadline();
}

void ProfileAnswering::handle(std::vector<Profile::Frame> frames, qint64 atNs)
{
    // Bytes no frame will take (a stale half command, a flood past the frame limit).
    const QByteArray lost = m_framer->takeDropped();
    if (!lost.isEmpty())
        logUnanswered(lost);
    for (const Profile::Frame &frame : frames) {
        const Profile::Reply reply = m_responder->reply(frame.bytes);
        if (!reply.matched) {
            logUnanswered(frame.bytes, reply.budgetRule);
            continue;
        }
        Pending answer;
        answer.command = frame.bytes;
        answer.rule = reply.rule;
        answer.faults = reply.faults;
        answer.bytes = reply.dropped ? QByteArray() : reply.bytes;
        answer.dueNs = frame.completeNs + reply.delayNs;
        answer.byteGapNs = reply.byteGapNs;
        m_queue.push_back(std::move(answer));
    }
    pump();
    takeOverIfDue(!frames.empty(), atNs);
}

// As without a profile: the user must see why nothing was answered.
void ProfileAnswering::logUnanswered(const QByteArray &bytes, const QString &budgetRule)
{
    const QString prefix = budgetRule.isEmpty() ? LineTexts::unansweredInputPrefix()
                                                : LineTexts::unansweredBudgetPrefix(budgetRule);
    m_log.appendStampedBytes(Ansi::encodeLossy(prefix) + bytes);
    emit unanswered(bytes, budgetRule);
}

void ProfileAnswering::armPump(qint64 dueNs)
{
    if (m_pumpArmed)
        return;
    m_pumpArmed = true;
    const quint64 generation = m_generation;
    m_clock.callAfter(msUntil(dueNs, m_clock.nowNs()), this, [this, generation] {
        if (generation != m_generation)
            return;
        m_pumpArmed = false;
        pump();
    });
}

// Sends what is due: whole answers at once, paced ones byte by byte on their schedule.
void ProfileAnswering::pump()
{
    while (!m_queue.empty()) {
        Pending &head = m_queue.front();
        const qint64 now = m_clock.nowNs();
        if (head.sent < head.bytes.size()) {
            const qint64 nextDue = head.dueNs + qint64(head.sent) * head.byteGapNs;
            if (nextDue > now) {
                armPump(nextDue);
                return;
            }
            qsizetype count = head.bytes.size() - head.sent;
            if (head.byteGapNs > 0)
                count = std::min<qsizetype>(count, 1 + (now - nextDue) / head.byteGapNs);
            if (m_send(head.bytes.mid(head.sent, count), &head.refusal))
                head.sent += count;
            else // the rest never reaches the wire: the log and the stream say what did
                head.bytes.truncate(head.sent);
            if (head.sent < head.bytes.size())
                continue;
        } else if (head.dueNs > now) {
            armPump(head.dueNs); // an answer a fault dropped is logged when it was due
            return;
        }
        const Pending done = std::move(head);
        m_queue.pop_front();
        finish(done);
    }
}

void ProfileAnswering::finish(const Pending &answer)
{
    const QByteArray sent = answer.bytes.left(answer.sent);
    // An answer of which nothing went out is no exchange: only the stream tells of it.
    if (answer.refusal.isEmpty() || !sent.isEmpty()) {
        m_log.appendExchange(answer.command, sent);
        if (!answer.faults.isEmpty())
            m_log.appendStamped(LineTexts::faultsApplied(answer.rule, answer.faults));
    }
    if (answer.refusal.isEmpty())
        emit answered(answer.command, sent, answer.rule, answer.faults);
    else
        emit refused(answer.command, sent, answer.rule, answer.faults, answer.refusal);
}
