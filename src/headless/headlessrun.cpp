#include "headless/headlessrun.h"

#include "app/texts.h"
#include "log/linetexts.h"
#include "settings/loadsettings.h"
#include "text/ansicodec.h"

HeadlessRun::HeadlessRun(const QString &appFolder, QObject *parent)
    : QObject(parent), m_station(appFolder), m_end(m_station)
{
    connect(&m_end, &RunEnd::stopDue, this, &HeadlessRun::requestStop);
}

bool HeadlessRun::loadProfile(const QString &file, std::optional<quint64> seed, QString *error)
{
    InstrumentProfile &profile = session().profile();
    if (!file.isEmpty())
        profile.setFile(file);
    profile.setSeed(seed);
    return session().loadProfile(error);
}

bool HeadlessRun::prepare(QString *error)
{
    const bool firstStart = m_end.takeDefaultsIfFirstStart();
    const LoadSettingsReport report =
            LoadSettings(m_station.records(), m_station.port(), m_station.appFolder());
    // Unattended runs fail fast: nobody is there to see a retry in the log.
    if (!report.portError.isEmpty()) {
        *error = QStringLiteral("the port cannot be opened: %1").arg(report.portError);
        return false;
    }
    if (firstStart && !m_end.writeFirstStartDefaults(session().profile().inForce(), error))
        return false;
    LoadShowAtStartup(m_station.records(), m_station.appFolder());
    CommLog &log = m_station.log();
    log.appendLine(Ansi::encodeLossy(Texts::mainCaption()));
    const QStringList &differing = report.commandFieldsDiffering;
    if (!differing.isEmpty())
        log.appendStamped(LineTexts::filesDisagree(differing.join(QStringLiteral(", "))));
    return true;
}

void HeadlessRun::begin()
{
    if (!m_end.begin())
        return;
    m_began = true;
    session().start();
}

void HeadlessRun::requestStop()
{
    if (!m_end.takeStop())
        return;
    // Unattended runs stop at once: nobody wants the rest of a long interval and one more
    // output after asking to stop.
    if (m_began)
        session().stopAtOnce();
    // Output still queued for a slow host gets its bounded time to drain; what is dropped
    // then is logged before the log is saved.
    SerialComm &port = m_station.port();
    if (port.portOpen())
        port.setPortOpen(false);
    QString problem;
    const QString logFile = m_end.saveLog(&problem);
    if (logFile.isEmpty())
        emit finished(false, QString(), problem);
    else
        emit finished(true, logFile, QString());
}
