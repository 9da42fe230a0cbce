#include "startup/frmsokutei.h"
#include "ui_frmsokutei.h"

#include "log/logfiles.h"
#include "monitor/monitorwindow.h"
#include "platform/appfolder.h"
#include "platform/filedialogs.h"
#include "platform/messageboxes.h"
#include "platform/processexit.h"
#include "platform/trayicon.h"
#include "platform/windowlook.h"
#include "startup/logtooltip.h"
#include "startup/statustexts.h"
#include "startup/windowtexts.h"
#include "text/ansicodec.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QScrollBar>
#include <QShortcut>
#include <QStatusBar>
#include <QStyle>
#include <QWindow>

namespace {
const QColor kLogColourStopped(192, 192, 192); // 0x00C0C0C0
const QColor kLogColourRunning(0x80, 0xFF, 0xFF); // 0x00FFFF80, blue-green-red order
constexpr int kPanel1Width = 167; // 2500 twips
constexpr int kPanel2Width = 133; // 2000 twips
} // namespace

frmSOKUTEI::frmSOKUTEI(Station &station, const WindowServices &services, QWidget *parent)
    : QWidget(parent), ui(new Ui::frmSOKUTEI), m_station(station), m_services(services)
{
    ui->setupUi(this);
    m_station.port().setObjectName(QStringLiteral("MSComm1"));

    // Off the taskbar only where the notification area can bring the window back.
    const bool trayAvailable = m_services.tray && m_services.tray->isAvailable();
    WindowLook::applyFixedFrame(this, trayAvailable ? Qt::Tool : Qt::Window);

    CommLog &log = m_station.log();
    ui->lblJu->setModel(&log);
    setLogColour(kLogColourStopped);
    connect(&log, &QAbstractItemModel::rowsAboutToBeInserted, this, [this] {
        const QScrollBar *bar = ui->lblJu->verticalScrollBar();
        m_logWasAtBottom = bar->value() >= bar->maximum();
    });
    connect(&log, &QAbstractItemModel::rowsInserted, this, &frmSOKUTEI::followLogIfAtBottom);

    m_panel1 = new QLabel(this);
    m_panel1->setObjectName(QStringLiteral("StB_Panel1"));
    m_panel1->setFixedWidth(kPanel1Width);
    m_panel2 = new QLabel(this);
    m_panel2->setObjectName(QStringLiteral("StB_Panel2"));
    m_panel2->setFixedWidth(kPanel2Width);
    ui->StB->addWidget(m_panel1);
    ui->StB->addWidget(m_panel2);
    connect(&m_station.session(), &CommSession::outputTypeChanged, this,
            &frmSOKUTEI::showWhatIsInForce);

    m_mnuTray = new QMenu(QStringLiteral("menu"), this);
    m_mnuTray->setObjectName(QStringLiteral("mnuTray"));
    m_mnuAbout = m_mnuTray->addAction(QStringLiteral("Kalo_232Cシミュレータの表示"));
    m_mnuAbout->setObjectName(QStringLiteral("mnuAbout"));
    m_mnuMonitor = m_mnuTray->addAction(QStringLiteral("ラインモニタ"));
    m_mnuMonitor->setObjectName(QStringLiteral("mnuMonitor"));
    m_mnuTray->addSeparator()->setObjectName(QStringLiteral("mnuLine"));
    m_mnuEnd = m_mnuTray->addAction(QStringLiteral("Kalo_232Cシミュレータの終了"));
    m_mnuEnd->setObjectName(QStringLiteral("mnuEnd"));
    // While the menu is open the instrument's one thread is inside it: continuous output
    // waits, and goes on when the menu closes.
    connect(m_mnuTray, &QMenu::aboutToShow, this, [this] { session().setOutputHeld(true); });
    connect(m_mnuTray, &QMenu::aboutToHide, this, [this] { session().setOutputHeld(false); });
    connect(m_mnuAbout, &QAction::triggered, this, &frmSOKUTEI::mnuAbout_Click);
    connect(m_mnuEnd, &QAction::triggered, this, &frmSOKUTEI::cmdEND_Click);
    setUpMonitor();

    connect(ui->Command1, &QPushButton::clicked, this, &frmSOKUTEI::Command1_Click);
    connect(ui->cmdVER, &QPushButton::clicked, this, &frmSOKUTEI::cmdVER_Click);
    connect(ui->cmdSAVE, &QPushButton::clicked, this, &frmSOKUTEI::cmdSAVE_Click);
    connect(ui->cmdSend, &QPushButton::clicked, this, &frmSOKUTEI::cmdSend_Click);
    connect(ui->cmdSTOP, &QPushButton::clicked, this, &frmSOKUTEI::cmdSTOP_Click);
    connect(ui->cmd, &QPushButton::clicked, this, &frmSOKUTEI::cmd_Click);
    connect(ui->cmdEND, &QPushButton::clicked, this, &frmSOKUTEI::cmdEND_Click);
}

frmSOKUTEI::~frmSOKUTEI() = default;

// The monitor, opened by the tray menu's item, F2 and a double click on the log; and the
// tooltip that shows a log line cut at the edge whole.
void frmSOKUTEI::setUpMonitor()
{
    m_monitor = std::make_unique<MonitorWindow>(m_station.session());
    connect(m_mnuMonitor, &QAction::triggered, this, &frmSOKUTEI::mnuMonitor_Click);
    auto *monitorKey = new QShortcut(QKeySequence(Qt::Key_F2), this);
    monitorKey->setObjectName(QStringLiteral("keyMonitor"));
    connect(monitorKey, &QShortcut::activated, this, &frmSOKUTEI::mnuMonitor_Click);
    connect(ui->lblJu, &QAbstractItemView::doubleClicked, this, &frmSOKUTEI::mnuMonitor_Click);
    new LogToolTip(*ui->lblJu);
}

void frmSOKUTEI::Form_Load()
{
    ProTask();
    m_loadReport = LoadSettings(m_station.records(), m_station.port(), m_station.appFolder());
    RefreshStatusBar();
    // The frame is not known before the window manager has it; the style's title bar is
    // the best guess until then.
    const int frame = QWidget::style()->pixelMetric(QStyle::PM_TitleBarHeight)
            + 2 * QWidget::style()->pixelMetric(QStyle::PM_DefaultFrameWidth);
    setFixedHeight(kOuterHeight - frame);
}

void frmSOKUTEI::reloadSettings()
{
    m_loadReport = LoadSettings(m_station.records(), m_station.port(), m_station.appFolder());
    RefreshStatusBar();
}

void frmSOKUTEI::ProTask()
{
    WindowLook::centreOnScreen(this);
    if (m_services.tray) {
        m_services.tray->setMenu(m_mnuTray);
        // A right press on the icon brings the window forward before its menu opens.
        m_services.tray->setMenuRequestHandler([this] { bringForward(); });
        m_services.tray->registerIcon(windowIcon(), Texts::tipStopped());
    }
}

void frmSOKUTEI::RefreshStatusBar()
{
    const SettingsRecords &records = m_station.records();
    const std::optional<StatusTexts> texts =
            StatusTexts::make(records.protocol.OutputType, records.CommSettingsString);
    if (!texts)
        return;
    m_panel1->setText(texts->outputType);
    m_panel2->setText(texts->commSettings);
}

QString frmSOKUTEI::statusPanelText(int panel) const
{
    return panel == 1 ? m_panel1->text() : m_panel2->text();
}

void frmSOKUTEI::setLogColour(const QColor &colour)
{
    QPalette p = ui->lblJu->palette();
    p.setColor(QPalette::Base, colour);
    ui->lblJu->setPalette(p);
}

void frmSOKUTEI::followLogIfAtBottom()
{
    if (m_logWasAtBottom)
        ui->lblJu->scrollToBottom();
}

void frmSOKUTEI::setCommunicatingLook(bool communicating)
{
    const QIcon icon(iconFile(communicating ? QStringLiteral("Telp.ico") : QStringLiteral("Telp5.ico")));
    // A missing icon file leaves the window icon as it was.
    if (!icon.isNull() && !icon.availableSizes().isEmpty())
        setWindowIcon(icon);
    WindowLook::centreOnScreen(this);
    if (m_services.tray)
        m_services.tray->registerIcon(windowIcon(),
                                      communicating ? Texts::tipRunning() : Texts::tipStopped());
    ui->cmdSend->setEnabled(!communicating);
    ui->cmdSTOP->setEnabled(communicating);
    setLogColour(communicating ? kLogColourRunning : kLogColourStopped);
}

// The icon files sit beside the executable, or in the data folder of an installed
// program; a copy in the settings folder wins, so a user can put their own there.
QString frmSOKUTEI::iconFile(const QString &name) const
{
    const QString exeFolder = QCoreApplication::applicationDirPath();
    for (const QString &folder :
         { m_station.appFolder(), exeFolder, AppFolder::installedDataFolder(exeFolder) }) {
        const QString path = AppFolder::filePath(folder, name);
        if (!folder.isEmpty() && QFileInfo::exists(path))
            return path;
    }
    return AppFolder::filePath(exeFolder, name);
}

void frmSOKUTEI::cmdSend_Click()
{
    // A profile that cannot be read refuses the Start: nothing runs half-read.
    QString problem;
    if (!session().loadProfile(&problem)) {
        m_services.messages->warning(this, Texts::appTitle(),
                                     QStringLiteral("プロファイルを読めません。\n%1").arg(problem));
        return;
    }
    ui->cmdSAVE->setEnabled(false);
    ui->cmdVER->setEnabled(false);
    RefreshStatusBar();
    m_panel2->setText(m_station.records().CommSettingsString);
    ui->cmd->setEnabled(false);
    setCommunicatingLook(true);
    session().start();
    showWhatIsInForce();
}

// A profile's [line] and [continuous] win over the settings while it plays.
void frmSOKUTEI::showWhatIsInForce()
{
    if (const std::optional<StatusTexts> texts =
                StatusTexts::make(session().outputTypeInForce(), session().lineInForce()))
        m_panel1->setText(texts->outputType);
    // From Start on the panel shows the settings text alone, as it always has.
    m_panel2->setText(session().lineInForce());
}

void frmSOKUTEI::cmdSTOP_Click()
{
    ui->cmd->setEnabled(true);
    session().stop();
    showWhatIsInForce();
    setCommunicatingLook(false);
    ui->cmdSAVE->setEnabled(true);
    ui->cmdVER->setEnabled(true);
}

void frmSOKUTEI::cmdSAVE_Click()
{
    const QString folder = AppFolder::filePath(m_station.appFolder(), LogFiles::folderName());
    QString error;
    if (!LogFiles::ensureFolder(folder, &error)) {
        m_services.messages->warning(this, Texts::appTitle(),
                                     tr("ログを保存できません。\n%1").arg(error));
        return;
    }
    const QString proposed = LogFiles::proposedName(folder, QDate::currentDate());
    const QString chosen = m_services.fileDialogs
            ? m_services.fileDialogs->saveFileName(this, folder, QStringLiteral("(*.txt) (*.txt)"),
                                                   proposed)
            : QString();
    if (chosen.isEmpty())
        return;
    const QString path = LogFiles::withTxtExtension(chosen);
    if (!LogFiles::save(m_station.log(), path, &error))
        m_services.messages->warning(this, Texts::appTitle(),
                                     tr("ログを保存できません。\n%1").arg(error));
}

void frmSOKUTEI::Command1_Click()
{
    // Without a notification area a hidden window could never come back.
    if (m_services.tray && m_services.tray->isAvailable())
        hide();
    else
        showMinimized();
}

void frmSOKUTEI::cmd_Click()
{
    if (m_openSettings) {
        hide();
        m_openSettings();
    }
}

void frmSOKUTEI::cmdVER_Click()
{
    if (m_openVersion)
        m_openVersion();
}

void frmSOKUTEI::mnuAbout_Click()
{
    if (isMinimized())
        showNormal();
    show();
    bringForward();
}

void frmSOKUTEI::mnuMonitor_Click()
{
    m_monitor->bringForward();
}

// An open window behind others comes to the front as well, not only a hidden one.
void frmSOKUTEI::bringForward()
{
    if (!isVisible())
        return;
    raise();
    activateWindow();
}

// The question is modal: continuous output waits beneath it until it is answered.
bool frmSOKUTEI::confirmEnd()
{
    session().setOutputHeld(true);
    const bool confirmed =
            m_services.messages->okCancel(this, Texts::confirmTitle(), Texts::endQuestion());
    // Once confirmed the program ends at once, without that cycle.
    if (!confirmed)
        session().setOutputHeld(false);
    return confirmed;
}

void frmSOKUTEI::endProgram()
{
    SerialComm &port = m_station.port();
    if (port.portOpen())
        port.setPortOpen(false);
    if (m_services.tray)
        m_services.tray->remove();
    if (m_services.exit)
        m_services.exit->endNow();
}

void frmSOKUTEI::cmdEND_Click()
{
    if (confirmEnd())
        endProgram();
}

void frmSOKUTEI::closeEvent(QCloseEvent *event)
{
    if (!confirmEnd()) {
        event->ignore();
        return;
    }
    event->accept();
    endProgram();
}

void frmSOKUTEI::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    // The status bar stays docked at the bottom edge whatever the height.
    ui->StB->setGeometry(0, height() - ui->StB->height(), width(), ui->StB->height());
}

void frmSOKUTEI::mousePressEvent(QMouseEvent *event)
{
    // Only presses on the bare surface arrive here: the controls take their own.
    if (event->button() != Qt::LeftButton)
        return;
    if (windowHandle() && windowHandle()->startSystemMove())
        return;
    // Without a window manager the move is ours to do.
    m_dragging = true;
    m_dragOffset = event->globalPosition().toPoint() - frameGeometry().topLeft();
}

void frmSOKUTEI::mouseMoveEvent(QMouseEvent *event)
{
    if (m_dragging && (event->buttons() & Qt::LeftButton))
        move(event->globalPosition().toPoint() - m_dragOffset);
}

void frmSOKUTEI::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        m_dragging = false;
}
