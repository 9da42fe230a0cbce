#include "profileanswering.h"

#include "ansicodec.h"
#include "commlog.h"
#include "framer.h"
#include "linetexts.h"
#include "responder.h"
#include "sessionclock.h"

#include <algorithm>

namespace {
int msUntil(qint64 dueNs, qint64 nowNs)
{
    const qint64 leftNs = std::max<qint64>(0, dueNs - nowNs);
    return int(std::min<qint64>((leftNs + 999'999) / 1'000'000, 24 * 3600 * 1000));
}
} // namespace

ProfileAnswering::ProfileAnswering(CommLog &log, SessionClock &clock,
                                   std::function<bool(const QByteArray &)> send, QObject *parent)
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

void ProfileAnswering::end()
{
    ++m_generation;
    m_framer.reset();
    m_queue.clear();
    m_pumpArmed = false;
    m_deadlineArmedFor = 0;
}

void ProfileAnswering::take(const QByteArray &bytes, qint64 arrivalNs)
{
    if (!m_framer || bytes.isEmpty())
        return;
    handle(m_framer->feed(bytes, arrivalNs));
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
    handle(m_framer->expire(m_clock.nowNs()));
    armDeadline();
}

void ProfileAnswering::handle(std::vector<Profile::Frame> frames)
{
    // Bytes no frame will take (a stale half command, a flood past the frame limit).
    const QByteArray lost = m_framer->takeDropped();
    if (!lost.isEmpty())
        logUnanswered(lost);
    for (const Profile::Frame &frame : frames) {
        const Profile::Reply reply = m_responder->reply(frame.bytes);
        if (!reply.matched) {
            logUnanswered(frame.bytes);
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
}

// As without a profile: the user must see why nothing was answered.
void ProfileAnswering::logUnanswered(const QByteArray &bytes)
{
    m_log.appendStampedBytes(Ansi::encodeLossy(LineTexts::unansweredInputPrefix()) + bytes);
    emit unanswered(bytes);
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
            if (m_send(head.bytes.mid(head.sent, count)))
                head.sent += count;
            else
                head.bytes.remove(head.sent, count); // refused: never on the wire, never logged
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
    m_log.appendExchange(answer.command, QByteArrayView(answer.bytes).first(answer.sent));
    if (!answer.faults.isEmpty())
        m_log.appendStamped(LineTexts::faultsApplied(answer.rule, answer.faults));
    emit answered(answer.command, answer.bytes.left(answer.sent), answer.rule, answer.faults);
}
