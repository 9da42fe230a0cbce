#include "serial/portsupervisor.h"

#include "platform/sessionclock.h"
#include "serial/serialcomm.h"

PortSupervisor::PortSupervisor(SerialComm &port, SessionClock &clock, QObject *parent)
    : QObject(parent), m_port(port), m_clock(clock)
{
    connect(&m_port, &SerialComm::opened, this, &PortSupervisor::onOpened);
    connect(&m_port, &SerialComm::portLost, this, &PortSupervisor::onLost);
}

bool PortSupervisor::ensureOpen()
{
    if (m_port.portOpen()) {
        m_port.clearInBuffer();
        return true;
    }
    if (m_port.setPortOpen(true))
        return true;
    sayPortProblem(QStringLiteral("ポートを開けません: ") + m_port.lastError());
    return false;
}

void PortSupervisor::setRetrying(bool on)
{
    m_retrying = on;
    if (on && !m_port.portOpen())
        armRetry();
}

void PortSupervisor::sendRefused()
{
    const QString line = QStringLiteral("送信できません: ") + m_port.lastError();
    if (line == m_saidSendProblem)
        return;
    m_saidSendProblem = line;
    emit said(line);
}

void PortSupervisor::sendWent(bool queueWasEmpty)
{
    if (queueWasEmpty)
        m_saidSendProblem.clear();
}

void PortSupervisor::onOpened()
{
    // Whatever waited in the driver belongs to before the port was (re)opened.
    m_port.clearInBuffer();
    const bool hadProblem = !m_saidPortProblem.isEmpty();
    m_saidPortProblem.clear();
    m_saidSendProblem.clear();
    if (hadProblem)
        emit said(QStringLiteral("ポートを再接続しました: ") + m_port.deviceName());
}

void PortSupervisor::onLost(const QString &message)
{
    sayPortProblem(QStringLiteral("ポートが切断されました: ") + message);
    if (m_retrying)
        armRetry();
}

void PortSupervisor::sayPortProblem(const QString &line)
{
    if (line == m_saidPortProblem)
        return;
    m_saidPortProblem = line;
    emit said(line);
}

// One retry at a time: a loss and a Start in the same second share it.
void PortSupervisor::armRetry()
{
    if (m_retryArmed)
        return;
    m_retryArmed = true;
    m_clock.callAfter(kRetryMs, this, [this] {
        m_retryArmed = false;
        retry();
    });
}

// A failed retry says nothing: the problem it would name has been said.
void PortSupervisor::retry()
{
    if (!m_retrying || m_port.portOpen())
        return;
    if (m_port.setPortOpen(true))
        emit reopened();
    else
        armRetry();
}
