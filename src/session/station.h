#pragma once

#include "log/commlog.h"
#include "serial/serialcomm.h"
#include "session/commsession.h"
#include "settings/settingsrecords.h"

#include <QString>

#include <optional>

class SessionClock;

// One running instrument: its settings records, its port, its log and the session that
// answers on that port, in the application folder it runs in. The windows and the runs
// without windows are given a station and only show or steer it; the station outlives them.
class Station
{
public:
    // Who reads the port. A relay forwards the bytes itself; a session on its port would
    // take them first, log a loss twice and wait out the fixed instrument's second.
    enum class Reader { Session, Relay };

    // clock: the steady clock when none is given.
    explicit Station(const QString &appFolder, SessionClock *clock = nullptr,
                     Reader reader = Reader::Session);
    Station(const Station &) = delete;
    Station &operator=(const Station &) = delete;

    const QString &appFolder() const { return m_appFolder; }
    SettingsRecords &records() { return m_records; }
    const SettingsRecords &records() const { return m_records; }
    SerialComm &port() { return m_port; }
    const SerialComm &port() const { return m_port; }
    CommLog &log() { return m_log; }
    const CommLog &log() const { return m_log; }
    // Only for a station whose session reads the port.
    bool hasSession() const { return m_session.has_value(); }
    CommSession &session();

private:
    QString m_appFolder;
    SettingsRecords m_records;
    SerialComm m_port;
    CommLog m_log;
    std::optional<CommSession> m_session;
};
