#pragma once

#include "profile/modemlines.h"
#include "serial/lineflow.h"

#include <QObject>

class LineAccount;
class SerialComm;

// The flow control an instrument keeps with its host. It asks the host to wait when its receive
// buffer fills (XOFF, or CTS down) and to go on when it has emptied (XON, CTS up), and it
// waits itself while the host's RTS is down; the host's XOFF the port's driver or cable keeps.
class InstrumentFlow : public QObject
{
    Q_OBJECT

public:
    InstrumentFlow(SerialComm &port, LineAccount &account, QObject *parent = nullptr);

    void setFlow(LineFlow flow);
    LineFlow flow() const { return m_flow; }
    // The host set its lines; until it has, it is taken to be ready.
    void hostLinesChanged(bool rts);
    // The receive buffer filled or emptied again: the host is told, and the log.
    void receiveBufferCrossed(bool full, qint64 fill, qint64 size);
    // The lines the host sees of those the instrument drives: CTS is down while the buffer
    // is full under RTS/CTS.
    ModemLines seenByHost(ModemLines lines) const;

signals:
    // What seenByHost() gives has changed.
    void linesHeld();

private:
    SerialComm &m_port;
    LineAccount &m_account;
    LineFlow m_flow = LineFlow::None;
    bool m_ctsHeld = false;
    bool m_hostReady = true;
};
