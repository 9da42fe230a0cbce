#include "serial/cabledirection.h"

#include "platform/descriptorio.h"

#include <algorithm>
#include <utility>

namespace {
constexpr qint64 kRetryNs = 1'000'000;
} // namespace

void CableDirection::setLine(const UartFormat &sender, const UartFormat &receiver,
                             const UartReceiverFlags &flags, bool paced)
{
    m_sender = sender;
    m_receiver = receiver;
    m_flags = flags;
    m_senderByteNs = sender.byteNs();
    m_receiverByteNs = receiver.byteNs();
    m_pacer.setByteNs(paced ? m_senderByteNs : 0);
    auto model = std::make_unique<UartLine>(sender, receiver, flags);
    // Ends that agree see each other's bytes as they are: no model on the way.
    m_model = model->transparent() ? nullptr : std::move(model);
    m_modelBusy = false;
    m_ahead.clear();
    m_breaks.clear();
    m_stopped = false;
    m_flowStop.reset();
}

bool CableDirection::fill(int fd, qint64 nowNs)
{
    const qint64 n = DescriptorIo::readSome(fd, m_data, kChunk);
    if (n > 0) {
        m_begin = 0;
        m_end = n;
        m_readInAll += n;
        m_pacer.took(nowNs);
    }
    return n >= 0;
}

void CableDirection::writeOut(int fd)
{
    if (m_out.isEmpty())
        return;
    m_out.remove(0, qsizetype(DescriptorIo::writeSome(fd, m_out.constData(), m_out.size())));
}

// Where the first of count bytes handed on now ends on the sender's line: paced, when it is
// due; else as if sent now, or back to back behind the last.
qint64 CableDirection::firstEndNs(qint64 nowNs) const
{
    return m_pacer.byteNs() > 0 ? m_pacer.nextDueNs() : std::max(nowNs, m_lastEndNs) + m_senderByteNs;
}

qint64 CableDirection::hand(int fd, const char *bytes, qint64 count, qint64 nowNs)
{
    const qint64 endNs = firstEndNs(nowNs);
    qint64 handed = count;
    if (m_model || m_watchFlow) {
        QByteArray seen(bytes, int(count));
        if (m_model) {
            const qint64 idleNs = m_lastEndNs > 0
                    ? std::max<qint64>(0, endNs - m_senderByteNs - m_lastEndNs)
                    : 0;
            seen = m_model->send(seen, idleNs);
            m_modelBusy = true;
        }
        m_out += takeFlowCharacters(seen);
    } else {
        handed = DescriptorIo::writeSome(fd, bytes, count);
    }
    m_pacer.handed(handed);
    if (handed > 0)
        m_lastEndNs = endNs + (handed - 1) * m_senderByteNs;
    return handed;
}

// The receiver's UART keeps the flow-control characters to itself.
QByteArray CableDirection::takeFlowCharacters(QByteArray seen)
{
    if (!m_watchFlow)
        return seen;
    const qsizetype before = seen.size();
    for (const char c : seen) {
        if (c == FlowCharacter::kXoff || c == FlowCharacter::kXon)
            m_flowStop = c == FlowCharacter::kXoff;
    }
    seen.removeIf([](char c) { return c == FlowCharacter::kXoff || c == FlowCharacter::kXon; });
    m_flowTakenInAll += before - seen.size();
    return seen;
}

std::optional<bool> CableDirection::takeFlowStop()
{
    return std::exchange(m_flowStop, std::nullopt);
}

void CableDirection::setStopped(bool stopped, qint64 nowNs)
{
    if (stopped == m_stopped)
        return;
    m_stopped = stopped;
    // The bytes that waited go on from now, not in a burst for the time they waited.
    if (!stopped)
        m_pacer.held(nowNs);
}

void CableDirection::sendAhead(char byte, qint64 nowNs)
{
    if (m_begin == m_end && m_ahead.isEmpty())
        m_pacer.took(nowNs);
    else
        m_pacer.held(nowNs);
    m_ahead += byte;
}

bool CableDirection::handAhead(int fd, qint64 nowNs, qint64 room)
{
    while (!m_ahead.isEmpty() && room - m_out.size() > 0 && m_pacer.due(nowNs, 1) > 0) {
        if (hand(fd, m_ahead.constData(), 1, nowNs) == 0)
            return false;
        m_ahead.remove(0, 1);
    }
    return true;
}

void CableDirection::scheduleBreak(qint64 after, qint64 durationNs)
{
    m_breaks.emplace_back(after, durationNs);
}

qint64 CableDirection::handedInAll() const
{
    return m_readInAll - (m_end - m_begin);
}

bool CableDirection::breakReached() const
{
    return !m_breaks.empty() && handedInAll() >= m_breaks.front().first;
}

qint64 CableDirection::beforeBreak() const
{
    const qint64 waitingBytes = m_end - m_begin;
    if (m_breaks.empty())
        return waitingBytes;
    return std::clamp<qint64>(m_breaks.front().first - handedInAll(), 0, waitingBytes);
}

// The break starts once the last byte before it has ended on the line; the receiver sees it
// as its UART would (a zero with a framing error, marked, or nothing), and the line is busy
// until the break has ended.
bool CableDirection::breakIfDue(qint64 nowNs)
{
    if (!breakReached())
        return true;
    const qint64 lineFreeNs = m_pacer.byteNs() > 0 ? m_lastEndNs : 0;
    if (nowNs < lineFreeNs)
        return false;
    const qint64 durationNs = m_breaks.front().second;
    m_breaks.pop_front();
    if (m_model) {
        m_out += m_model->sendBreak(durationNs, m_lastEndNs > 0 ? std::max<qint64>(0, nowNs - m_lastEndNs) : 0);
        m_modelBusy = true;
    } else {
        UartLine line(m_sender, m_receiver, m_flags);
        m_out += line.sendBreak(durationNs, 0) + line.idle();
    }
    m_breakEndNs = nowNs + durationNs;
    m_lastEndNs = m_breakEndNs;
    m_pacer.held(m_breakEndNs);
    return true;
}

qint64 CableDirection::move(int fd, qint64 nowNs, qint64 room)
{
    writeOut(fd);
    if (!handAhead(fd, nowNs, room)) {
        m_pacer.held(nowNs);
        return nowNs + kRetryNs;
    }
    if (!breakIfDue(nowNs))
        return m_lastEndNs;
    writeOut(fd);
    if (nowNs < m_breakEndNs)
        return m_breakEndNs;
    const bool sending = beforeBreak() > 0 && !m_stopped;
    if (sending) {
        const qint64 due = m_pacer.due(nowNs, beforeBreak());
        const qint64 count = std::min(due, room - m_out.size());
        if (count > 0) {
            const qint64 handed = hand(fd, m_data + m_begin, count, nowNs);
            m_begin += handed;
            // An end that takes no more holds the line until it does, tried again soon.
            if (handed < count) {
                m_pacer.held(nowNs);
                return nowNs + kRetryNs;
            }
        } else if (due > 0) {
            m_pacer.held(nowNs);
        }
        writeOut(fd);
    }
    // A break whose bytes before it have all gone starts when the line is free.
    if (breakReached())
        return std::max(m_lastEndNs, nowNs + 1);
    if (!m_ahead.isEmpty() || (!m_stopped && beforeBreak() > 0))
        return std::max(m_pacer.nextDueNs(), m_out.isEmpty() ? nowNs : nowNs + kRetryNs);
    // The line rests: a frame the receiver was still reading ends with the rest.
    if (m_model && m_modelBusy) {
        const qint64 restAtNs = m_lastEndNs + m_receiverByteNs;
        if (nowNs < restAtNs)
            return restAtNs;
        m_out += m_model->idle();
        m_modelBusy = false;
        m_lastEndNs = restAtNs;
        writeOut(fd);
    }
    // An end that took only part of what it was given is tried again soon.
    return m_out.isEmpty() ? kNothingDue : nowNs + kRetryNs;
}

void CableDirection::discard()
{
    m_begin = m_end = 0;
    m_out.clear();
    if (m_model)
        m_model->idle();
    m_modelBusy = false;
    m_ahead.clear();
    m_breaks.clear();
    m_stopped = false;
    m_flowStop.reset();
}
