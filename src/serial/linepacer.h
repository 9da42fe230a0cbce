#pragma once

#include <QtGlobal>

// When each byte of one direction of a cable may be handed on, so that bytes leave no faster
// than a line of the given byte time carries them: a byte is handed on when its stop bit has
// ended. Bytes that follow on the heels of the last are back to back on the line; after a
// pause the line was idle and the next byte starts when it came.
class LinePacer
{
public:
    // 0: no pacing, every waiting byte is due at once.
    void setByteNs(qint64 byteNs) { m_byteNs = byteNs; }
    qint64 byteNs() const { return m_byteNs; }

    // Bytes came to a direction that had none waiting.
    void took(qint64 nowNs);
    // How many of waiting bytes are due by nowNs.
    qint64 due(qint64 nowNs, qint64 waiting) const;
    // count of them went on.
    void handed(qint64 count);
    // The far end could take none of the due bytes: the line waits with them (as a sender held
    // by flow control does) instead of bursting them out later.
    void held(qint64 nowNs);
    // The moment the next waiting byte is due.
    qint64 nextDueNs() const { return m_nextNs; }

private:
    qint64 m_byteNs = 0;
    qint64 m_nextNs = 0;
    // When the last byte handed on ended; 0 before the first.
    qint64 m_lineFreeNs = 0;
};
