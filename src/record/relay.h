#pragma once

#include "record/exchangeinference.h"
#include "serial/portsupervisor.h"
#include "session/lineevent.h"

#include <QObject>
#include <QString>

class CommLog;
class SerialComm;

// The cable that --record lays between the host and a real instrument: every read on one
// port goes to the other at once and unchanged, and only then into the log and the recording,
// so the relay adds to the line no more than a read and a write. Nothing is answered, nothing
// is held back for framing: what a command is, is worked out from the recording afterwards.
//
// Both ports are opened and closed by the owner; while relaying, each has a supervisor that
// opens it again when it went away and says its problems once.
class Relay : public QObject
{
    Q_OBJECT

public:
    Relay(SerialComm &host, SerialComm &device, CommLog &log, QObject *parent = nullptr);

    // Relays from now on; bytes that waited before are not the recording's.
    void start();
    void stop();

    // A run of days must not grow without bound: the recording ends at the reads' bounds,
    // and the line is still relayed past them.
    const Recording::RecordedReads &reads() const { return m_reads; }

signals:
    // The line as the host sees it, for an event stream: its bytes read are "received", the
    // instrument's bytes handed to it "sent".
    void lineEvent(const LineEvent &event);

private:
    void report(LineEvent::Kind kind, const QByteArray &bytes = QByteArray(), qint64 atNs = 0);
    void reportMessage(LineEvent::Kind kind, const QString &message, qint64 count = 0);
    void forward(SerialComm &from, SerialComm &to, PortSupervisor &toSupervisor,
                 Recording::Side side);
    void record(Recording::Side side, const QByteArray &bytes, qint64 atNs);
    void watch(SerialComm &port, PortSupervisor &supervisor);
    void startPort(SerialComm &port, PortSupervisor &supervisor);
    void tellPort(const QString &line);

    SerialComm &m_host;
    SerialComm &m_device;
    CommLog &m_log;
    bool m_relaying = false;
    PortSupervisor m_hostSupervisor;
    PortSupervisor m_deviceSupervisor;
    Recording::RecordedReads m_reads;
    bool m_full = false;
};
