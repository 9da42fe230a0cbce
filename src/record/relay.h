#pragma once

#include "record/exchangeinference.h"
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
// Both ports are opened and closed by the owner; the relay only retries one that went away.
class Relay : public QObject
{
    Q_OBJECT

public:
    static constexpr int kPortRetryMs = 1000;

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
    void forward(SerialComm &from, SerialComm &to, Recording::Side side);
    void record(Recording::Side side, const QByteArray &bytes, qint64 atNs);
    void logProblem(const QString &line);
    void onPortLost(SerialComm &port, const QString &message);
    void retry(SerialComm &port);

    SerialComm &m_host;
    SerialComm &m_device;
    CommLog &m_log;
    bool m_relaying = false;
    Recording::RecordedReads m_reads;
    bool m_full = false;
    // The last port problem logged: the same one is not logged again until a read went through.
    QString m_loggedProblem;
};
