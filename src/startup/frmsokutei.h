#pragma once

#include "session/station.h"
#include "settings/loadsettings.h"
#include "startup/windowservices.h"

#include <QWidget>

#include <functional>
#include <memory>

class MonitorWindow;
class QLabel;
class QMenu;
class QAction;

namespace Ui {
class frmSOKUTEI;
}

// The main window: the log, the status bar and the buttons that start and stop the
// simulator, save the log, open the other windows and end the program.
class frmSOKUTEI : public QWidget
{
    Q_OBJECT

public:
    // Outer height after loading: 5300 twips at 96 dpi.
    static constexpr int kOuterHeight = 353;

    // The station is the caller's and outlives the window.
    frmSOKUTEI(Station &station, const WindowServices &services, QWidget *parent = nullptr);
    ~frmSOKUTEI() override;

    // The load handler: centres the window, registers the tray icon, loads the settings,
    // opens the port and sets the outer height. Run once, before the window is first shown.
    void Form_Load();
    void ProTask();
    void RefreshStatusBar();
    // The status bar with the output type and line in force (a profile's, while it plays).
    void showWhatIsInForce();

    SerialComm &MSComm1() { return m_station.port(); }
    CommLog &log() { return m_station.log(); }
    CommSession &session() { return m_station.session(); }
    QMenu *mnuTray() const { return m_mnuTray; }
    MonitorWindow *monitor() const { return m_monitor.get(); }
    QString statusPanelText(int panel) const;
    const LoadSettingsReport &lastLoadReport() const { return m_loadReport; }

    // Runs LoadSettings again, as after the settings dialog's OK.
    void reloadSettings();

    // Where the settings dialog will open: hides this window and shows it.
    void setSettingsDialogOpener(std::function<void()> opener) { m_openSettings = std::move(opener); }
    void setVersionDialogOpener(std::function<void()> opener) { m_openVersion = std::move(opener); }

public slots:
    void cmdSend_Click();
    void cmdSTOP_Click();
    void cmdSAVE_Click();
    void Command1_Click();
    void cmd_Click();
    void cmdVER_Click();
    void cmdEND_Click();
    void mnuAbout_Click();
    // The line monitor: from the tray menu, F2, or a double click on the log.
    void mnuMonitor_Click();

protected:
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void setUpMonitor();
    QString iconFile(const QString &name) const;
    void setCommunicatingLook(bool communicating);
    void setLogColour(const QColor &colour);
    bool confirmEnd();
    void endProgram();
    void followLogIfAtBottom();
    void bringForward();

    std::unique_ptr<Ui::frmSOKUTEI> ui;
    Station &m_station;
    WindowServices m_services;
    LoadSettingsReport m_loadReport;
    QLabel *m_panel1 = nullptr;
    QLabel *m_panel2 = nullptr;
    QMenu *m_mnuTray = nullptr;
    QAction *m_mnuAbout = nullptr;
    QAction *m_mnuMonitor = nullptr;
    QAction *m_mnuEnd = nullptr;
    bool m_logWasAtBottom = true;
    QPoint m_dragOffset;
    bool m_dragging = false;
    std::function<void()> m_openSettings;
    std::function<void()> m_openVersion;
    // Made with the window, so that it has followed the run from its first event.
    std::unique_ptr<MonitorWindow> m_monitor;
};
