#include "headless/runend.h"

#include "log/logfiles.h"
#include "platform/appfolder.h"
#include "session/station.h"
#include "settings/firststart.h"
#include "settings/loadsettings.h"

#include <QDate>
#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <limits>

RunEnd::RunEnd(Station &station, QObject *parent) : QObject(parent), m_station(station)
{
    m_durationTimer.setSingleShot(true);
    // A coarse timer may end a run of some seconds early by several per cent.
    m_durationTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_durationTimer, &QTimer::timeout, this, &RunEnd::stopDue);
}

bool RunEnd::takeDefaultsIfFirstStart()
{
    if (!FirstStart::isFirstStart(m_station.appFolder()))
        return false;
    SettingsRecords &records = m_station.records();
    records.comm = FirstStart::defaultComm();
    records.CommSettingsString = records.comm.settingsString();
    return true;
}

bool RunEnd::writeFirstStartDefaults(bool profileInForce, QString *error)
{
    if (!FirstStart::writeDefaults(m_station.appFolder(), profileInForce, error))
        return false;
    LoadSettings(m_station.records(), m_station.port(), m_station.appFolder());
    return true;
}

bool RunEnd::begin()
{
    if (m_stopTaken)
        return false;
    if (m_durationSeconds) {
        const double ms = std::ceil(*m_durationSeconds * 1000);
        m_durationTimer.start(int(std::min(ms, double(std::numeric_limits<int>::max()))));
    }
    return true;
}

bool RunEnd::takeStop()
{
    if (m_stopTaken)
        return false;
    m_stopTaken = true;
    m_durationTimer.stop();
    return true;
}

QString RunEnd::saveLog(QString *problem) const
{
    const QString folder = AppFolder::filePath(m_station.appFolder(), LogFiles::folderName());
    if (!LogFiles::ensureFolder(folder, problem))
        return QString();
    const QString path =
            QFileInfo(LogFiles::proposedName(folder, QDate::currentDate())).absoluteFilePath();
    return LogFiles::save(m_station.log(), path, problem) ? path : QString();
}
