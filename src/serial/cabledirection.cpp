#include "serial/cabledirection.h"

#include "platform/descriptorio.h"

#include <algorithm>

namespace {
constexpr qint64 kRetryNs = 1'000'000;
} // namespace

void CableDirection::setLine(const UartFormat &sender, const UartFormat &receiver,
                             const UartReceiverFlags &flags, bool paced)
{
    m_senderByteNs = sender.byteNs();
    m_receiverByteNs = receiver.byteNs();
    m_pacer.setByteNs(paced ? m_senderByteNs : 0);
    auto model = std::make_unique<UartLine>(sender, receiver, flags);
    // Ends that agree see each other's bytes as they are: no model on the way.
    m_model = model->transparent() ? nullptr : std::move(model);
    m_modelBusy = false;
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

qint64 CableDirection::move(int fd, qint64 nowNs, qint64 room)
{
    writeOut(fd);
    if (m_begin < m_end) {
        const qint64 due = m_pacer.due(nowNs, m_end - m_begin);
        const qint64 count = std::min(due, room - m_out.size());
        if (count > 0) {
            // Where the first of these bytes ends on the sender's line: paced, when it is due;
            // else as if sent now, or back to back behind the last.
            const qint64 firstEndNs = m_pacer.byteNs() > 0
                    ? m_pacer.nextDueNs()
                    : std::max(nowNs, m_lastEndNs) + m_senderByteNs;
            qint64 handed = count;
            if (m_model) {
                const qint64 idleNs = m_lastEndNs > 0
                        ? std::max<qint64>(0, firstEndNs - m_senderByteNs - m_lastEndNs)
                        : 0;
                m_out += m_model->send(QByteArray(m_data + m_begin, int(count)), idleNs);
                m_modelBusy = true;
            } else {
                handed = DescriptorIo::writeSome(fd, m_data + m_begin, count);
            }
            m_begin += handed;
            m_pacer.handed(handed);
            if (handed > 0)
                m_lastEndNs = firstEndNs + (handed - 1) * m_senderByteNs;
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
    if (m_begin < m_end)
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
}
