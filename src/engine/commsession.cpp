#include "commsession.h"

#include "commlog.h"
#include "loadsettings.h"
#include "serialcomm.h"
#include "waitseconds.h"

#include <QCoreApplication>

CommSession::CommSession(SettingsRecords &records, SerialComm &port, CommLog &log, QObject *parent)
    : QObject(parent), m_records(records), m_port(port), m_log(log)
{
    m_retryTimer.setInterval(kPortRetryMs);
    connect(&m_retryTimer, &QTimer::timeout, this, &CommSession::retryPort);
    connect(&m_port, &SerialComm::commEvent, this, &CommSession::handleCommEvent);
    connect(&m_port, &SerialComm::portLost, this, &CommSession::onPortLost);
}

bool CommSession::outputTypeIsContinuous() const
{
    const std::optional<double> type = settingsNumber(m_records.protocol.OutputType);
    return type && *type == 0;
}

void CommSession::logPortProblem(const QString &line)
{
    if (line == m_loggedPortProblem)
        return;
    m_loggedPortProblem = line;
    m_log.appendStamped(line);
}

bool CommSession::openPortIfClosed()
{
    if (m_port.portOpen())
        return true;
    if (!m_port.setPortOpen(true)) {
        logPortProblem(QStringLiteral("ポートを開けません: ") + m_port.lastError());
        return false;
    }
    m_port.clearInBuffer();
    if (!m_loggedPortProblem.isEmpty())
        m_log.appendStamped(QStringLiteral("ポートを再接続しました: ") + m_port.deviceName());
    m_loggedPortProblem.clear();
    return true;
}

void CommSession::start()
{
    m_communicating = true;
    const bool portReady = openPortIfClosed();
    m_log.appendStamped(startedLine());
    m_port.setRThreshold(1);
    if (!portReady)
        m_retryTimer.start();
    m_stopFlag = 0;
    if (!outputTypeIsContinuous())
        return;
    runContinuousOutput();
}

void CommSession::runContinuousOutput()
{
    for (;;) {
        // Read every cycle, so the value in force at that moment counts. A text that is not a
        // number means no wait, like 0.
        WaitSeconds(settingsNumber(m_records.protocol.IntervalSeconds).value_or(0.0));
        // A cycle that the port did not take is not logged as sent.
        if (m_port.output(m_records.commands.ContinuousOutputBytes))
            m_log.appendStamped(m_records.protocol.ContinuousOutputText);
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        if (m_stopFlag == -1)
            break;
    }
    m_log.appendStamped(stoppedLine());
}

void CommSession::stop()
{
    m_communicating = false;
    m_stopFlag = -1;
    m_retryTimer.stop();
    m_port.clearInBuffer();
    m_port.setRThreshold(0);
    // In continuous output the loop writes the stop line when it leaves, so every run ends
    // with exactly one.
    if (!outputTypeIsContinuous())
        m_log.appendStamped(stoppedLine());
}

void CommSession::handleCommEvent()
{
    const DeviceCommandTable &table = m_records.commands;
    m_port.setRThreshold(0);
    // The host's time to finish its command: one fixed second from the first byte.
    WaitSeconds(kReceiveWaitSeconds);

    const int waiting = m_port.inBufferCount();
    int longest = 0;
    bool lengthMatches = false;
    for (const QByteArray &command : table.DeviceCommandBytes) {
        // A pattern without a device command is unused; it must not answer every stray event.
        if (command.isEmpty())
            continue;
        longest = qMax(longest, int(command.size()));
        lengthMatches = lengthMatches || waiting == command.size();
    }

    if (lengthMatches) {
        const QByteArray received = m_port.input();
        for (int p = 0; p < kPatternCount; ++p) {
            const QByteArray &command = table.DeviceCommandBytes[size_t(p)];
            if (command.isEmpty() || received != command)
                continue;
            const QByteArray &answer = table.OutputDataBytes[size_t(p)];
            if (m_port.output(answer)) {
                QByteArray exchange = command;
                exchange += "\x81\xA8"; // "→" in code page 932
                exchange += answer;
                m_log.appendStampedBytes(exchange);
            }
            break;
        }
    } else if (waiting > longest) {
        // More bytes than any command can ever match: they would only pile up and keep
        // every later command from being answered.
        m_port.clearInBuffer();
    }

    // A Stop during the wait, or an event before Start, must leave answering off.
    if (m_communicating)
        m_port.setRThreshold(1);
}

void CommSession::onPortLost(const QString &message)
{
    logPortProblem(QStringLiteral("ポートが切断されました: ") + message);
    if (m_communicating)
        m_retryTimer.start();
}

void CommSession::retryPort()
{
    if (!m_communicating) {
        m_retryTimer.stop();
        return;
    }
    if (m_port.portOpen() || m_port.setPortOpen(true)) {
        m_retryTimer.stop();
        m_port.clearInBuffer();
        m_port.setRThreshold(1);
        m_log.appendStamped(QStringLiteral("ポートを再接続しました: ") + m_port.deviceName());
        m_loggedPortProblem.clear();
    }
}
