#include "serial/linepacer.h"

#include <algorithm>

void LinePacer::took(qint64 nowNs)
{
    // A byte read within a byte time of the last one's end followed it back to back: the
    // relay's own wake-up delay is no gap on the line.
    const bool backToBack = m_lineFreeNs > 0 && nowNs <= m_lineFreeNs + m_byteNs;
    m_nextNs = (backToBack ? m_lineFreeNs : nowNs) + m_byteNs;
}

qint64 LinePacer::due(qint64 nowNs, qint64 waiting) const
{
    if (m_byteNs <= 0)
        return waiting;
    if (nowNs < m_nextNs)
        return 0;
    return std::min(waiting, 1 + (nowNs - m_nextNs) / m_byteNs);
}

void LinePacer::handed(qint64 count)
{
    if (count <= 0)
        return;
    m_lineFreeNs = m_nextNs + (count - 1) * m_byteNs;
    m_nextNs += count * m_byteNs;
}

void LinePacer::held(qint64 nowNs)
{
    m_nextNs = std::max(m_nextNs, nowNs + m_byteNs);
}
