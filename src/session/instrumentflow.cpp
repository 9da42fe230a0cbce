#include "session/instrumentflow.h"

#include "serial/serialcomm.h"
#include "session/lineaccount.h"

InstrumentFlow::InstrumentFlow(SerialComm &port, LineAccount &account, QObject *parent)
    : QObject(parent), m_port(port), m_account(account)
{
}

void InstrumentFlow::setFlow(LineFlow flow)
{
    m_flow = flow;
    m_port.setFlow(flow);
    m_port.setHostReady(m_hostReady);
    if (m_ctsHeld) {
        m_ctsHeld = false;
        emit linesHeld();
    }
}

void InstrumentFlow::hostLinesChanged(bool rts)
{
    m_hostReady = rts;
    m_port.setHostReady(rts);
}

void InstrumentFlow::receiveBufferCrossed(bool full, qint64 fill, qint64 size)
{
    QString signal;
    if (m_flow == LineFlow::XonXoff) {
        m_port.sendFlowCharacter(full);
        signal = full ? QStringLiteral("XOFF") : QStringLiteral("XON");
    } else if (m_flow == LineFlow::RtsCts) {
        m_ctsHeld = full;
        emit linesHeld();
        signal = full ? QStringLiteral("CTS off") : QStringLiteral("CTS on");
    }
    m_account.receiveBufferCrossed(full, fill, size, signal);
}

ModemLines InstrumentFlow::seenByHost(ModemLines lines) const
{
    if (m_ctsHeld)
        lines.cts = false;
    return lines;
}
