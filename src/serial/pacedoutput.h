#pragma once

#include "serial/linepacer.h"

#include <QByteArray>

// Output for a line that nothing paces (a pseudo-terminal of someone else's): the port takes
// the bytes at once, as a driver does, and they wait here until a UART at the line's speed
// would have sent them, each when its stop bit has ended, back to back while they wait.
class PacedOutput
{
public:
    // 0: nothing is held back.
    void setByteNs(qint64 byteNs) { m_pacer.setByteNs(byteNs); }
    bool paces() const { return m_pacer.byteNs() > 0; }

    void take(const QByteArray &bytes, qint64 nowNs);
    // The bytes due by nowNs, no longer waiting here; the caller writes them.
    QByteArray due(qint64 nowNs);
    // When the next waiting byte is due.
    qint64 nextDueNs() const { return m_pacer.nextDueNs(); }
    qint64 waiting() const { return m_waiting.size(); }
    // Throws the waiting bytes away and says how many they were.
    qint64 clear();

private:
    LinePacer m_pacer;
    QByteArray m_waiting;
};
