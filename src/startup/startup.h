#pragma once

#include "platform/instancelock.h"
#include "session/station.h"
#include "startup/windowservices.h"

#include <QPointer>
#include <QString>

#include <memory>

class frmSOKUTEI;
class frmOPTION;
class frmAbout;

// The program's start: one instance per application folder, ACSet2.txt, the main
// window with its first log line, shown or left in the notification area.
class Startup
{
public:
    Startup(const QString &appFolder, const WindowServices &services);
    ~Startup();

    // Before Main(): the port opens device instead of the device of its port number. hostEnd,
    // when the device is a virtual port, is the end for the host software; the log tells it.
    void setPortDevice(const QString &device, const QString &hostEnd = QString());
    // Before Main(): what the cable of the program's own still carries toward the host.
    void setOutputCable(OutputCable *cable) { m_cable = cable; }
    void setPacingAllowed(bool allowed) { m_pacingAllowed = allowed; }

    // Runs the start-up steps. False when the program must end at once (another instance
    // runs, or the folder cannot hold its lock); the main window then does not exist.
    bool Main();
    // After Main() returned false for a folder that cannot hold the lock: why, for the
    // terminal. Empty when another instance runs, which is no fault.
    const QString &refusal() const { return m_refusal; }

    frmSOKUTEI *mainWindow() const { return m_window.get(); }
    // The settings dialog, once it has been opened.
    frmOPTION *settingsDialog() const { return m_options.get(); }
    // The version dialog while it is open.
    frmAbout *versionDialog() const;
    SettingsRecords &records() { return m_station.records(); }
    // Gives up the instance lock; used just before the process ends.
    void releaseInstanceLock();

    static QString lockFileName() { return InstanceLock::fileName(); }

private:
    QString m_appFolder;
    WindowServices m_services;
    QString m_portDevice;
    QString m_hostEnd;
    QString m_refusal;
    OutputCable *m_cable = nullptr;
    bool m_pacingAllowed = false;
    InstanceLock m_lock;
    // Gone before the lock is given up, after the windows that show it.
    Station m_station;
    std::unique_ptr<frmSOKUTEI> m_window;
    std::unique_ptr<frmOPTION> m_options;
    QPointer<frmAbout> m_about;
};
