#include "startup/startup.h"

#include "app/texts.h"
#include "log/linetexts.h"
#include "platform/appfolder.h"
#include "platform/messageboxes.h"
#include "platform/trayicon.h"
#include "session/instrumentprofile.h"
#include "settings/firststart.h"
#include "settings/loadsettings.h"
#include "settings_dialog/frmoption.h"
#include "startup/frmsokutei.h"
#include "startup/windowtexts.h"
#include "text/ansicodec.h"
#include "version_dialog/frmabout.h"

#include <QFileInfo>

Startup::Startup(const QString &appFolder, const WindowServices &services)
    : m_appFolder(appFolder), m_services(services), m_station(appFolder, services.clock)
{
}

Startup::~Startup()
{
    delete m_about.data();
}

void Startup::setPortDevice(const QString &device, const QString &hostEnd)
{
    m_portDevice = device;
    m_hostEnd = hostEnd;
}

bool Startup::Main()
{
    // Before anything else: a second instance must not read or write a single file.
    switch (m_lock.acquire(m_appFolder, &m_refusal)) {
    case InstanceLock::Result::Acquired:
        break;
    case InstanceLock::Result::HeldElsewhere:
        m_services.messages->information(nullptr, Texts::appTitle(), Texts::alreadyRunning());
        return false;
    case InstanceLock::Result::Unavailable:
        // Nothing could be kept there, and a second program could share the folder unseen.
        m_services.messages->warning(nullptr, Texts::appTitle(), Texts::noSettingsFolder());
        return false;
    }
    // From here on a failing step is skipped and start-up goes on.

    // The window reads the folder's profile at each Start; one there now is the instrument.
    if (FirstStart::isFirstStart(m_appFolder)) {
        const QFileInfo profile(
                AppFolder::filePath(m_appFolder, InstrumentProfile::folderFileName()));
        FirstStart::writeDefaults(m_appFolder, profile.exists() || profile.isSymLink(), nullptr);
    }
    LoadShowAtStartup(m_station.records(), m_appFolder);

    m_station.port().setDevicePath(m_portDevice);
    m_station.port().setOutputCable(m_cable);
    m_station.port().setPacingAllowed(m_pacingAllowed);
    m_window = std::make_unique<frmSOKUTEI>(m_station, m_services);
    m_window->Form_Load();
    // The settings dialog is made on first use and then only hidden and shown.
    m_window->setSettingsDialogOpener([this] {
        if (!m_options) {
            m_options = std::make_unique<frmOPTION>(m_station, *m_window, m_services);
            QObject::connect(m_options.get(), &frmOPTION::okFinished, m_window.get(),
                             &frmSOKUTEI::RefreshStatusBar);
        }
        m_options->showDialog();
    });
    // One version dialog at a time; it goes away when closed.
    m_window->setVersionDialogOpener([this] {
        if (!m_about) {
            m_about = new frmAbout(m_services);
            m_about->show();
        }
        m_about->raise();
        m_about->activateWindow();
    });
    m_window->setWindowTitle(Texts::mainCaption());
    CommLog &log = m_station.log();
    log.appendLine(Ansi::encodeLossy(Texts::mainCaption()));
    if (!m_hostEnd.isEmpty())
        log.appendStamped(Texts::virtualHostEnd() + m_hostEnd);
    const QStringList &differing = m_window->lastLoadReport().commandFieldsDiffering;
    if (!differing.isEmpty())
        log.appendStamped(LineTexts::filesDisagree(differing.join(QStringLiteral(", "))));

    // Without a notification area a hidden window could never be brought back.
    const bool trayAvailable = m_services.tray && m_services.tray->isAvailable();
    if (m_station.records().ShowAtStartup == QLatin1String("1") || !trayAvailable)
        m_window->show();
    return true;
}

frmAbout *Startup::versionDialog() const
{
    return m_about.data();
}

void Startup::releaseInstanceLock()
{
    m_lock.release();
}
