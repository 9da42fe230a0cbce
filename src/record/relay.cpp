#include "record/relay.h"

#include "log/commlog.h"
#include "log/linetexts.h"
#include "platform/sessionclock.h"
#include "record/recordtexts.h"
#include "serial/serialcomm.h"
#include "text/ansicodec.h"

using Recording::Side;

Relay::Relay(SerialComm &host, SerialComm &device, CommLog &log, QObject *parent)
    : QObject(parent),
      m_host(host),
      m_device(device),
      m_log(log),
      m_hostSupervisor(host, SessionClock::steady()),
      m_deviceSupervisor(device, SessionClock::steady())
{
    connect(&m_host, &SerialComm::commEvent, this,
            [this] { forward(m_host, m_device, m_deviceSupervisor, Side::Host); });
    connect(&m_device, &SerialComm::commEvent, this,
            [this] { forward(m_device, m_host, m_hostSupervisor, Side::Device); });
    watch(m_host, m_hostSupervisor);
    watch(m_device, m_deviceSupervisor);
}

void Relay::watch(SerialComm &port, PortSupervisor &supervisor)
{
    connect(&port, &SerialComm::outputDropped, this, [this](qint64 bytes, const QString &device) {
        m_log.appendStamped(LineTexts::droppedOutput(bytes, device));
        reportMessage(LineEvent::Kind::DroppedOutput, device, bytes);
    });
    connect(&supervisor, &PortSupervisor::said, this, &Relay::tellPort);
    // A port the retry brought back relays again at once.
    connect(&supervisor, &PortSupervisor::reopened, this, [&port] {
        port.setDiscardInput(false);
        port.setRThreshold(1);
    });
}

void Relay::start()
{
    m_relaying = true;
    startPort(m_host, m_hostSupervisor);
    startPort(m_device, m_deviceSupervisor);
    report(LineEvent::Kind::Start);
}

void Relay::startPort(SerialComm &port, PortSupervisor &supervisor)
{
    port.setDiscardInput(false);
    // A port lost before the start is one lost while relaying.
    supervisor.ensureOpen();
    supervisor.setRetrying(true);
    port.setRThreshold(1);
}

void Relay::stop()
{
    m_relaying = false;
    m_hostSupervisor.setRetrying(false);
    m_deviceSupervisor.setRetrying(false);
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

void Relay::forward(SerialComm &from, SerialComm &to, PortSupervisor &toSupervisor, Side side)
{
    if (!m_relaying)
        return;
    const QByteArray bytes = from.input();
    if (bytes.isEmpty())
        return;
    const qint64 atNs = from.lastEventArrivalNs();
    const bool queueWasEmpty = to.pendingOutput() == 0;
    // The write goes first: the log and the recording are the relay's business, not the line's.
    const bool forwarded = to.output(bytes);
    if (side == Side::Host)
        report(LineEvent::Kind::Received, bytes, atNs);
    else if (forwarded)
        report(LineEvent::Kind::Sent, bytes);
    if (!forwarded) {
        // A side that is gone says so too: the bytes it missed are logged right below.
        toSupervisor.sendRefused();
        m_log.appendStampedBytes(Ansi::encodeLossy(RecordTexts::notForwarded()) + bytes);
        return;
    }
    toSupervisor.sendWent(queueWasEmpty);
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

void Relay::tellPort(const QString &line)
{
    m_log.appendStamped(line);
    reportMessage(LineEvent::Kind::Port, line);
}
