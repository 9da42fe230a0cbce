#include "serial/pacedoutput.h"

void PacedOutput::take(const QByteArray &bytes, qint64 nowNs)
{
    if (m_waiting.isEmpty())
        m_pacer.took(nowNs);
    m_waiting += bytes;
}

QByteArray PacedOutput::due(qint64 nowNs)
{
    const qint64 count = paces() ? m_pacer.due(nowNs, m_waiting.size()) : m_waiting.size();
    if (count <= 0)
        return QByteArray();
    m_pacer.handed(count);
    const QByteArray bytes = m_waiting.left(count);
    m_waiting.remove(0, count);
    return bytes;
}

qint64 PacedOutput::clear()
{
    const qint64 thrown = m_waiting.size();
    m_waiting.clear();
    return thrown;
}
