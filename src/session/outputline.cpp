#include "session/outputline.h"

#include "platform/sessionclock.h"

#include <algorithm>
#include <utility>

OutputLine::OutputLine(SessionClock &clock, Write write, QObject *parent)
    : QObject(parent), m_clock(clock), m_write(std::move(write))
{
}

void OutputLine::enqueue(Item item)
{
    // An item on the wire stays first, whatever is due before its next byte.
    auto from = m_queue.begin();
    if (from != m_queue.end() && from->sent > 0)
        ++from;
    if (item.kind == Kind::Answer) {
        for (auto it = from; it != m_queue.end(); ++it) {
            if (it->item.kind == Kind::Answer)
                item.dueNs = std::max(item.dueNs, it->item.dueNs);
        }
    }
    const auto at = std::upper_bound(from, m_queue.end(), item.dueNs,
                                     [](qint64 due, const Queued &q) { return due < q.item.dueNs; });
    Queued queued;
    queued.item = std::move(item);
    queued.id = ++m_lastId;
    m_queue.insert(at, std::move(queued));
    pump();
}

void OutputLine::cutAnswers(const QString &reason)
{
    std::deque<Queued> cut;
    std::deque<Queued> kept;
    for (Queued &q : m_queue)
        (q.item.kind == Kind::Answer ? cut : kept).push_back(std::move(q));
    m_queue.swap(kept);
    for (Queued &q : cut) {
        q.refusal = reason;
        finish(q);
    }
    pump();
}

void OutputLine::armFor(qint64 dueNs)
{
    if (m_armedForNs != 0 && m_armedForNs <= dueNs)
        return;
    m_armedForNs = dueNs;
    m_clock.callAt(dueNs, this, [this, dueNs] {
        if (m_armedForNs == dueNs)
            m_armedForNs = 0;
        pump();
    });
}

// Sends what is due: whole items at once, paced ones byte by byte on their schedule. The port
// may report a loss while it writes, and whatever that sets off may cut answers: the head is
// looked up again after every write.
void OutputLine::pump()
{
    // done() may queue more; the loop that runs already takes it.
    if (m_pumping)
        return;
    m_pumping = true;
    while (!m_queue.empty()) {
        Queued &head = m_queue.front();
        const quint64 id = head.id;
        const qint64 now = m_clock.nowNs();
        if (head.sent < head.item.bytes.size()) {
            qint64 nextDue = head.item.dueNs + qint64(head.sent) * head.item.byteGapNs;
            // Up to the next part's first byte, which waits for its pause.
            qsizetype partEnd = head.item.bytes.size();
            for (const auto &[offset, pauseNs] : head.item.pauses) {
                if (offset <= head.sent) {
                    nextDue += pauseNs;
                } else {
                    partEnd = std::min(partEnd, offset);
                    break;
                }
            }
            if (nextDue > now) {
                armFor(nextDue);
                break;
            }
            qsizetype count = partEnd - head.sent;
            if (head.item.byteGapNs > 0)
                count = std::min<qsizetype>(count, 1 + (now - nextDue) / head.item.byteGapNs);
            QString refusal;
            const bool taken = m_write(head.item.bytes.mid(head.sent, count), &refusal);
            if (m_queue.empty() || m_queue.front().id != id)
                continue;
            Queued &same = m_queue.front();
            if (taken) {
                same.sent += count;
            } else { // the rest never reaches the wire: the log and the stream say what did
                same.item.bytes.truncate(same.sent);
                same.refusal = refusal;
            }
            if (same.sent < same.item.bytes.size())
                continue;
        } else if (head.item.dueNs > now) {
            armFor(head.item.dueNs); // an item without bytes is done when it was due
            break;
        } else if (head.item.bytes.isEmpty() && head.item.emptyNeedsPort) {
            QString refusal;
            const bool taken = m_write(QByteArray(), &refusal);
            if (m_queue.empty() || m_queue.front().id != id)
                continue;
            if (!taken)
                m_queue.front().refusal = refusal;
        }
        Queued done = std::move(m_queue.front());
        m_queue.pop_front();
        finish(done);
    }
    m_pumping = false;
}

void OutputLine::finish(Queued &done)
{
    if (done.item.done)
        done.item.done(done.item.bytes.left(done.sent), done.refusal);
}
