#include "headless/headlessrun.h"

#include "app/texts.h"
#include "log/linetexts.h"
#include "log/logfiles.h"
#include "platform/appfolder.h"
#include "settings/firststart.h"
#include "settings/loadsettings.h"
#include "text/ansicodec.h"

#include <QDate>
#include <QFileInfo>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {
// How soon a save that waits for a receive handler to unwind looks again.
constexpr int kUnwindPollMs = 10;
} // namespace

HeadlessRun::HeadlessRun(const QString &appFolder, QObject *parent)
    : QObject(parent), m_appFolder(appFolder), m_session(m_records, m_port, m_log)
{
    m_durationTimer.setSingleShot(true);
    // A coarse timer may end a run of some seconds early by several per cent.
    m_durationTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_durationTimer, &QTimer::timeout, this, &HeadlessRun::requestStop);
}

bool HeadlessRun::loadProfile(const QString &file, std::optional<quint64> seed, QString *error)
{
    InstrumentProfile &profile = m_session.profile();
    profile.setAppFolder(m_appFolder);
    if (!file.isEmpty())
        profile.setFile(file);
    profile.setSeed(seed);
    return m_session.loadProfile(error);
}

bool HeadlessRun::prepare(QString *error)
{
    const bool firstStart = FirstStart::isFirstStart(m_appFolder);
    if (firstStart) {
        m_records.comm = FirstStart::defaultComm();
        m_records.CommSettingsString = m_records.comm.settingsString();
    }
    const LoadSettingsReport report = LoadSettings(m_records, m_port, m_appFolder);
    // Unattended runs fail fast: nobody is there to see a retry in the log.
    if (!report.portError.isEmpty()) {
        *error = QStringLiteral("the port cannot be opened: %1").arg(report.portError);
        return false;
    }
    if (firstStart) {
        if (!FirstStart::writeDefaults(m_appFolder, m_session.profile().inForce(), error))
            return false;
        LoadSettings(m_records, m_port, m_appFolder);
    }
    LoadShowAtStartup(m_records, m_appFolder);
    m_log.appendLine(Ansi::encodeLossy(Texts::mainCaption()));
    if (!report.commandFieldsDiffering.isEmpty())
        m_log.appendStamped(LineTexts::filesDisagree(report.commandFieldsDiffering.join(QStringLiteral(", "))));
    return true;
}

void HeadlessRun::begin()
{
    if (m_stopRequested)
        return;
    m_began = true;
    if (m_durationSeconds) {
        const double ms = std::ceil(*m_durationSeconds * 1000);
        m_durationTimer.start(int(std::min(ms, double(std::numeric_limits<int>::max()))));
    }
    m_insideStart = true;
    m_session.start();
    m_insideStart = false;
    if (m_stopRequested)
        finishWhenUnwound();
}

void HeadlessRun::requestStop()
{
    if (m_stopRequested)
        return;
    m_stopRequested = true;
    m_durationTimer.stop();
    // Unattended runs stop at once: nobody wants the rest of a long interval and one more
    // output after asking to stop.
    if (m_began)
        m_session.stopAtOnce();
    // A continuous run is still inside start(); begin() finishes once the loop has left.
    if (!m_insideStart)
        finishWhenUnwound();
}

void HeadlessRun::finishWhenUnwound()
{
    // A receive handler waiting in a nested event loop has still to write its line, and the
    // process must not be told to quit from inside such a loop.
    if (QThread::currentThread()->loopLevel() > 1) {
        QTimer::singleShot(kUnwindPollMs, this, &HeadlessRun::finishWhenUnwound);
        return;
    }
    // Output still queued for a slow host gets its bounded time to drain; what is dropped
    // then is logged before the log is saved.
    if (m_port.portOpen())
        m_port.setPortOpen(false);
    saveLog();
}

void HeadlessRun::saveLog()
{
    const QString folder = AppFolder::filePath(m_appFolder, LogFiles::folderName());
    QString problem;
    if (!LogFiles::ensureFolder(folder, &problem)) {
        emit finished(false, QString(), problem);
        return;
    }
    const QString path = QFileInfo(LogFiles::proposedName(folder, QDate::currentDate())).absoluteFilePath();
    if (!LogFiles::save(m_log, path, &problem)) {
        emit finished(false, QString(), problem);
        return;
    }
    emit finished(true, path, QString());
}
