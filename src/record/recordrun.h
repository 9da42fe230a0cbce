#pragma once

#include "headless/runend.h"
#include "record/relay.h"
#include "session/station.h"

#include <QDateTime>
#include <QObject>
#include <QString>

// One recording without windows (--record): the host's port and the instrument's, both set as
// the folder's ACSet.txt says, relayed until a stop request; then the log saved as a headless
// run saves it and the recording written as Recorded.toml beside the settings. No settings
// file is written: a folder that has none stays without, as a recording needs none.
class RecordRun : public QObject
{
    Q_OBJECT

public:
    explicit RecordRun(const QString &appFolder, QObject *parent = nullptr);

    // Before prepare(): the host's side, and a cable of the program's own on it, if any.
    void setHostPort(const QString &device, OutputCable *cable);
    // Before prepare(): the instrument's side.
    void setInstrumentDevice(const QString &device) { m_device.setDevicePath(device); }
    void setDuration(double seconds) { m_end.setDuration(seconds); }

    // Opens both ports; false with the reason.
    bool prepare(QString *error);
    void begin();
    void requestStop();

    static QString fileName() { return QStringLiteral("Recorded.toml"); }

    // For those who follow the run from outside: standard output, the event stream.
    const CommLog &log() const { return m_host.log(); }
    CommLog &log() { return m_host.log(); }
    const Relay &relay() const { return m_relay; }

signals:
    // Both files written (recordedFile, logFile), or not (problem says why); nothing follows.
    void finished(bool saved, const QString &recordedFile, const QString &logFile,
                  const QString &problem);

private:
    bool writeProfile(QString *path, QString *problem);

    // The host's side: its port, the settings both ports are set from, and the log.
    Station m_host;
    SerialComm m_device;
    Relay m_relay;
    RunEnd m_end;
    QDateTime m_began;
};
