#include "record/relay.h"

#include "log/commlog.h"
#include "log/linetexts.h"
#include "platform/sessionclock.h"
#include "record/recordtexts.h"
#include "serial/serialcomm.h"
#include "text/ansicodec.h"

#include <QTimer>

using Recording::Side;

Relay::Relay(SerialComm &host, SerialComm &device, CommLog &log, QObject *parent)
    : QObject(parent), m_host(host), m_device(device), m_log(log)
{
    connect(&m_host, &SerialComm::commEvent, this,
            [this] { forward(m_host, m_device, Side::Host); });
    connect(&m_device, &SerialComm::commEvent, this,
            [this] { forward(m_device, m_host, Side::Device); });
    for (SerialComm *port : { &m_host, &m_device }) {
        connect(port, &SerialComm::portLost, this,
                [this, port](const QString &message) { onPortLost(*port, message); });
        connect(port, &SerialComm::outputDropped, this,
                [this](qint64 bytes, const QString &device) {
                    m_log.appendStamped(LineTexts::droppedOutput(bytes, device));
                    reportMessage(LineEvent::Kind::DroppedOutput, device, bytes);
                });
    }
}

void Relay::start()
{
    m_relaying = true;
    for (SerialComm *port : { &m_host, &m_device }) {
        port->setDiscardInput(false);
        if (port->portOpen())
            port->clearInBuffer();
        port->setRThreshold(1);
    }
    report(LineEvent::Kind::Start);
}

void Relay::stop()
{
    m_relaying = false;
    m_host.setRThreshold(0);
    m_device.setRThreshold(0);
    report(LineEvent::Kind::Stop);
}

void Relay::report(LineEvent::Kind kind, const QByteArray &bytes, qint64 atNs)
{
    LineEvent event;
    event.kind = kind;
    event.bytes = bytes;
    event.atNs = atNs ? atNs : SessionClock::steady().nowNs();
    emit lineEvent(event);
}

void Relay::reportMessage(LineEvent::Kind kind, const QString &message, qint64 count)
{
    LineEvent event;
    event.kind = kind;
    event.message = message;
    event.count = count;
    event.atNs = SessionClock::steady().nowNs();
    emit lineEvent(event);
}

void Relay::forward(SerialComm &from, SerialComm &to, Side side)
{
    if (!m_relaying)
        return;
    const QByteArray bytes = from.input();
    if (bytes.isEmpty())
        return;
    const qint64 atNs = from.lastEventArrivalNs();
    // The write goes first: the log and the recording are the relay's business, not the line's.
    const bool forwarded = to.output(bytes);
    if (side == Side::Host)
        report(LineEvent::Kind::Received, bytes, atNs);
    else if (forwarded)
        report(LineEvent::Kind::Sent, bytes);
    if (!forwarded) {
        logProblem(QStringLiteral("送信できません: ") + to.lastError());
        m_log.appendStampedBytes(Ansi::encodeLossy(RecordTexts::notForwarded()) + bytes);
        return;
    }
    m_loggedProblem.clear();
    const QString prefix =
            side == Side::Host ? RecordTexts::hostToDevice() : RecordTexts::deviceToHost();
    m_log.appendStampedBytes(Ansi::encodeLossy(prefix) + bytes);
    record(side, bytes, atNs);
}

void Relay::record(Side side, const QByteArray &bytes, qint64 atNs)
{
    if (m_full || m_reads.append(side, bytes, atNs))
        return;
    m_full = true;
    m_log.appendStamped(RecordTexts::recordingFull());
}

void Relay::logProblem(const QString &line)
{
    if (line == m_loggedProblem)
        return;
    m_loggedProblem = line;
    m_log.appendStamped(line);
    reportMessage(LineEvent::Kind::Port, line);
}

void Relay::onPortLost(SerialComm &port, const QString &message)
{
    logProblem(QStringLiteral("ポートが切断されました: ") + message);
    if (m_relaying)
        QTimer::singleShot(kPortRetryMs, this, [this, &port] { retry(port); });
}

void Relay::retry(SerialComm &port)
{
    if (!m_relaying || port.portOpen())
        return;
    if (!port.setPortOpen(true)) {
        QTimer::singleShot(kPortRetryMs, this, [this, &port] { retry(port); });
        return;
    }
    m_loggedProblem.clear();
    const QString line = QStringLiteral("ポートを再接続しました: ") + port.deviceName();
    m_log.appendStamped(line);
    reportMessage(LineEvent::Kind::Port, line);
    port.setDiscardInput(false);
    port.setRThreshold(1);
}
