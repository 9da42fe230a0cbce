#include "session/station.h"

Station::Station(const QString &appFolder, SessionClock *clock, Reader reader)
    : m_appFolder(appFolder)
{
    if (reader != Reader::Session)
        return;
    m_session.emplace(m_records, m_port, m_log, nullptr, clock);
    // The folder's profile until one is named instead.
    m_session->profile().setAppFolder(appFolder);
}

CommSession &Station::session()
{
    Q_ASSERT(m_session);
    return *m_session;
}
