#include "profile/modbus/rtuframer.h"

#include "profile/modbus/requestlength.h"

namespace Profile::Modbus {

RtuFramer::RtuFramer(const Framing &framing)
    : Framer(kMaxFrame)
    , m_silenceNs(framing.gapNs)
{ }

void RtuFramer::take(const QByteArray &bytes, qint64 atNs, std::vector<Frame> *out)
{
    append(bytes, atNs);
    while (!skipping()) {
        const int length = requestLength(m_buffer);
        if (length <= 0 || m_buffer.size() < length)
            break;
        handOut(length, atNs, out);
    }
    if (skipping() || m_buffer.size() > maxBytes())
        skipOverLong();
    m_deadlineNs = m_buffer.isEmpty() && !skipping() ? kNoDeadline : atNs + m_silenceNs;
    m_lastByteNs = atNs;
}

void RtuFramer::timeUp(std::vector<Frame> *out)
{
    if (!skipping() && requestLength(m_buffer) == kUnknownLength)
        handOut(m_buffer.size(), m_lastByteNs + m_silenceNs, out);
    else
        discard();
}

} // namespace Profile::Modbus
