#include "record/recordrun.h"

#include "app/texts.h"
#include "log/linetexts.h"
#include "log/logfiles.h"
#include "platform/appfolder.h"
#include "platform/atomicfile.h"
#include "platform/safefile.h"
#include "record/exchangeinference.h"
#include "record/recordedprofile.h"
#include "record/recordtexts.h"
#include "session/commsession.h"
#include "settings/firststart.h"
#include "settings/loadsettings.h"
#include "text/ansicodec.h"

#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <limits>

RecordRun::RecordRun(const QString &appFolder, QObject *parent)
    : QObject(parent), m_appFolder(appFolder), m_relay(m_host, m_device, m_log)
{
    m_durationTimer.setSingleShot(true);
    m_durationTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_durationTimer, &QTimer::timeout, this, &RecordRun::requestStop);
}

void RecordRun::setHostPort(const QString &device, OutputCable *cable)
{
    m_host.setDevicePath(device);
    m_host.setOutputCable(cable);
}

bool RecordRun::prepare(QString *error)
{
    // Refused now rather than at the end, when the recording would be lost with it.
    const QString recorded = AppFolder::filePath(m_appFolder, fileName());
    if (!SafeFile::checkPath(m_appFolder, error) || !SafeFile::checkOwner(recorded, error))
        return false;
    // The folder's line settings when it has them, the defaults otherwise; both ports alike,
    // as the host and the instrument share one line.
    SettingsRecords records;
    if (FirstStart::isFirstStart(m_appFolder)) {
        records.comm = FirstStart::defaultComm();
        records.CommSettingsString = records.comm.settingsString();
    }
    for (SerialComm *port : { &m_host, &m_device }) {
        const LoadSettingsReport report = LoadSettings(records, *port, m_appFolder);
        if (!report.portError.isEmpty()) {
            *error = QStringLiteral("the %1 port cannot be opened: %2")
                             .arg(port == &m_host ? QStringLiteral("host's")
                                                  : QStringLiteral("instrument's"),
                                  report.portError);
            return false;
        }
    }
    return true;
}

void RecordRun::begin()
{
    if (m_stopRequested)
        return;
    if (m_durationSeconds) {
        const double ms = std::ceil(*m_durationSeconds * 1000);
        m_durationTimer.start(int(std::min(ms, double(std::numeric_limits<int>::max()))));
    }
    m_began = QDateTime::currentDateTime();
    m_log.appendLine(Ansi::encodeLossy(Texts::mainCaption()));
    m_log.appendStamped(RecordTexts::recordingStarted(m_host.deviceName(), m_device.deviceName()));
    m_relay.start();
    m_log.appendStamped(CommSession::startedLine());
}

void RecordRun::requestStop()
{
    if (m_stopRequested)
        return;
    m_stopRequested = true;
    m_durationTimer.stop();
    m_relay.stop();
    // What is still on its way to either side gets its bounded time to arrive.
    for (SerialComm *port : { &m_host, &m_device }) {
        if (port->portOpen())
            port->setPortOpen(false);
    }
    // A stop before the relay began still leaves a log that says what wrote it.
    if (!m_began.isValid())
        m_log.appendLine(Ansi::encodeLossy(Texts::mainCaption()));
    m_log.appendStamped(CommSession::stoppedLine());

    QString recorded;
    QString logFile;
    QString problem;
    const bool written = writeProfile(&recorded, &problem);
    if (written)
        m_log.appendStamped(RecordTexts::recordedTo(recorded));
    const bool saved = saveLog(&logFile, written ? &problem : nullptr);
    emit finished(written && saved, recorded, logFile, problem);
}

bool RecordRun::writeProfile(QString *path, QString *problem)
{
    Recording::RecordingInfo info;
    info.device = m_device.deviceName();
    info.lineSettings = m_device.settings();
    info.began = m_began.isValid() ? m_began : QDateTime::currentDateTime();
    info.ended = QDateTime::currentDateTime();
    const auto byteNs = qint64(m_device.bitsPerByte() * 1e9 / std::max(1, m_device.baudRate()));
    const QByteArray text = Recording::recordedProfileText(
            Recording::inferExchanges(m_relay.reads(), byteNs), info);

    *path = QFileInfo(AppFolder::filePath(m_appFolder, fileName())).absoluteFilePath();
    AtomicFile file(*path);
    bool written = file.open(problem);
    if (written) {
        file.write(text); // a failure is commit()'s to tell
        written = file.commit(problem);
    }
    if (!written) {
        // The saved log tells it too, for whoever reads it rather than the run's error output.
        m_log.appendStamped(LineTexts::fileNotWritten(*problem));
        path->clear();
        return false;
    }
    return true;
}

bool RecordRun::saveLog(QString *path, QString *problem)
{
    QString reason;
    const QString folder = AppFolder::filePath(m_appFolder, LogFiles::folderName());
    if (LogFiles::ensureFolder(folder, &reason)) {
        *path = QFileInfo(LogFiles::proposedName(folder, QDate::currentDate())).absoluteFilePath();
        if (LogFiles::save(m_log, *path, &reason))
            return true;
    }
    path->clear();
    // The first problem is the one to tell.
    if (problem)
        *problem = QStringLiteral("the log cannot be saved: %1").arg(reason);
    return false;
}
