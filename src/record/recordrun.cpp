#include "record/recordrun.h"

#include "app/texts.h"
#include "log/linetexts.h"
#include "platform/appfolder.h"
#include "platform/atomicfile.h"
#include "platform/safefile.h"
#include "record/exchangeinference.h"
#include "record/recordedprofile.h"
#include "record/recordtexts.h"
#include "session/commsession.h"
#include "settings/loadsettings.h"
#include "text/ansicodec.h"

#include <QFileInfo>

#include <algorithm>

RecordRun::RecordRun(const QString &appFolder, QObject *parent)
    : QObject(parent),
      m_host(appFolder, nullptr, Station::Reader::Relay),
      m_relay(m_host.port(), m_device, m_host.log()),
      m_end(m_host)
{
    connect(&m_end, &RunEnd::stopDue, this, &RecordRun::requestStop);
}

void RecordRun::setHostPort(const QString &device, OutputCable *cable)
{
    m_host.port().setDevicePath(device);
    m_host.port().setOutputCable(cable);
}

bool RecordRun::prepare(QString *error)
{
    // Refused now rather than at the end, when the recording would be lost with it.
    const QString &folder = m_host.appFolder();
    const QString recorded = AppFolder::filePath(folder, fileName());
    if (!SafeFile::checkPath(folder, error) || !SafeFile::checkOwner(recorded, error))
        return false;
    // The folder's line settings when it has them, the defaults otherwise; both ports alike,
    // as the host and the instrument share one line.
    m_end.takeDefaultsIfFirstStart();
    for (SerialComm *port : { &m_host.port(), &m_device }) {
        const LoadSettingsReport report = LoadSettings(m_host.records(), *port, folder);
        if (!report.portError.isEmpty()) {
            *error = QStringLiteral("the %1 port cannot be opened: %2")
                             .arg(port == &m_host.port() ? QStringLiteral("host's")
                                                         : QStringLiteral("instrument's"),
                                  report.portError);
            return false;
        }
    }
    return true;
}

void RecordRun::begin()
{
    if (!m_end.begin())
        return;
    m_began = QDateTime::currentDateTime();
    CommLog &log = m_host.log();
    log.appendLine(Ansi::encodeLossy(Texts::mainCaption()));
    log.appendStamped(
            RecordTexts::recordingStarted(m_host.port().deviceName(), m_device.deviceName()));
    m_relay.start();
    log.appendStamped(CommSession::startedLine());
}

void RecordRun::requestStop()
{
    if (!m_end.takeStop())
        return;
    m_relay.stop();
    // What is still on its way to either side gets its bounded time to arrive.
    for (SerialComm *port : { &m_host.port(), &m_device }) {
        if (port->portOpen())
            port->setPortOpen(false);
    }
    CommLog &log = m_host.log();
    // A stop before the relay began still leaves a log that says what wrote it.
    if (!m_began.isValid())
        log.appendLine(Ansi::encodeLossy(Texts::mainCaption()));
    log.appendStamped(CommSession::stoppedLine());

    QString recorded;
    QString problem;
    const bool written = writeProfile(&recorded, &problem);
    if (written)
        log.appendStamped(RecordTexts::recordedTo(recorded));
    QString reason;
    const QString logFile = m_end.saveLog(&reason);
    // The first problem is the one to tell.
    if (logFile.isEmpty() && written)
        problem = QStringLiteral("the log cannot be saved: %1").arg(reason);
    emit finished(written && !logFile.isEmpty(), recorded, logFile, problem);
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

    *path = QFileInfo(AppFolder::filePath(m_host.appFolder(), fileName())).absoluteFilePath();
    AtomicFile file(*path);
    bool written = file.open(problem);
    if (written) {
        file.write(text); // a failure is commit()'s to tell
        written = file.commit(problem);
    }
    if (!written) {
        // The saved log tells it too, for whoever reads it rather than the run's error output.
        m_host.log().appendStamped(LineTexts::fileNotWritten(*problem));
        path->clear();
        return false;
    }
    return true;
}
