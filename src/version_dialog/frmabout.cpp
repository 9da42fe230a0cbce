#include "version_dialog/frmabout.h"
#include "ui_frmabout.h"

#include "app/programversion.h"
#include "platform/messageboxes.h"
#include "platform/uifont.h"
#include "platform/urlopener.h"
#include "platform/windowlook.h"
#include "startup/windowtexts.h"

#include <QGuiApplication>
#include <QMouseEvent>

namespace {
void setTextColour(QWidget *label, const QColor &colour)
{
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, colour);
    label->setPalette(p);
}
} // namespace

frmAbout::frmAbout(const WindowServices &services, QWidget *parent)
    : QDialog(parent), ui(new Ui::frmAbout), m_services(services)
{
    setAttribute(Qt::WA_DeleteOnClose);
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    ui->setupUi(this);
    WindowLook::applyFixedFrame(this, Qt::Dialog);
    setModal(false);

    ui->lblVersion->setFont(UiFont::gothic(14.25, true));
    ui->lblDescription->setFont(UiFont::gothic(11.25, false));
    for (QWidget *label : { ui->lblVersion, ui->Label1, ui->lblDescription, ui->Label4 })
        setTextColour(label, Qt::black);
    setTextColour(ui->Label2, QColor(0, 0, 255));
    setTextColour(ui->Label3, QColor(0, 0, 255));
    WindowLook::fillBackground(ui->Line1_1, QColor(255, 0, 0));
    WindowLook::centreOnScreen(this);
    ui->lblVersion->setText(versionLine());
    // The design's fonts are wider here than on the system they were chosen for.
    for (QLabel *label : { ui->lblVersion, ui->lblDescription })
        UiFont::fitToWidth(label);
    QGuiApplication::restoreOverrideCursor();
    // A window title shows "&" as it is.
    setWindowTitle(QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報(&A)..."));

    ui->cmdOK->setDefault(true);
    connect(ui->cmdOK, &QPushButton::clicked, this, &QDialog::close);
    ui->Label3->installEventFilter(this);
}

frmAbout::~frmAbout() = default;

QString frmAbout::versionLine()
{
    return ProgramVersion::aboutLine();
}

bool frmAbout::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == ui->Label3 && event->type() == QEvent::MouseButtonRelease
        && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
        Label3_Click();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void frmAbout::Label3_Click()
{
    if (!m_services.messages->yesNo(this, QStringLiteral("接続画面"),
                                    QStringLiteral("ｲﾝﾀｰﾈｯﾄに接続しますか？")))
        return;
    if (!m_services.urls || !m_services.urls->openUrl(QUrl(Texts::makerUrl())))
        m_services.messages->warning(
                this, Texts::appTitle(),
                QStringLiteral("ブラウザを起動できません。\n%1").arg(Texts::makerUrl()));
}
