#pragma once

#include "headless/runend.h"
#include "session/station.h"

#include <QObject>
#include <QString>

#include <optional>

// One run without windows: the settings loaded as the windowed program loads them,
// communication started at once as 開始 starts it, and on a stop request an immediate stop
// (no pending cycle), queued output drained within its bound, and the whole log saved as
// ﾛｸﾞ保存 saves it, under the first free name of the day.
class HeadlessRun : public QObject
{
    Q_OBJECT

public:
    explicit HeadlessRun(const QString &appFolder, QObject *parent = nullptr);

    // Before prepare(): reads the instrument profile, the folder's or the file given, with the
    // seed given instead of the profile's. False with the profile's problems.
    bool loadProfile(const QString &file, std::optional<quint64> seed, QString *error);
    // Before prepare(): the device to open instead of the one of the port number.
    void setPortDevice(const QString &device) { m_station.port().setDevicePath(device); }
    // Before prepare(): what a cable of the program's own still carries toward the host.
    void setOutputCable(OutputCable *cable) { m_station.port().setOutputCable(cable); }
    void setPacingAllowed(bool allowed) { m_station.port().setPacingAllowed(allowed); }
    // Before begin(): a stop request of its own after this many seconds of communication.
    void setDuration(double seconds) { m_end.setDuration(seconds); }

    // Loads the settings and opens the port. A first start writes the defaults only once the
    // port has opened, so a failed start leaves the folder as it was. False with the reason.
    bool prepare(QString *error);

    // Starts communicating; the run goes on until a stop request.
    void begin();
    void requestStop();

    // For those who follow or steer the run from outside: standard output, the event stream,
    // the control channel.
    const CommLog &log() const { return m_station.log(); }
    CommLog &log() { return m_station.log(); }
    CommSession &session() { return m_station.session(); }

signals:
    // The log went to logFile, or could not be saved (problem says why); nothing follows.
    void finished(bool saved, const QString &logFile, const QString &problem);

private:
    Station m_station;
    RunEnd m_end;
    bool m_began = false;
};
