#include "settings_dialog/frmoption.h"
#include "ui_frmoption.h"

#include "platform/appfolder.h"
#include "platform/messageboxes.h"
#include "platform/windowlook.h"
#include "session/station.h"
#include "settings/loadsettings.h"
#include "settings/settingsfiles.h"
#include "startup/windowtexts.h"

#include <QCloseEvent>

namespace {
const QStringList kLists[5] = {
    { QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"), QStringLiteral("4"),
      QStringLiteral("5"), QStringLiteral("6"), QStringLiteral("7"), QStringLiteral("8"),
      QStringLiteral("9"), QStringLiteral("10"), QStringLiteral("11"), QStringLiteral("12"),
      QStringLiteral("13"), QStringLiteral("14"), QStringLiteral("15"), QStringLiteral("16") },
    { QStringLiteral("300"), QStringLiteral("1200"), QStringLiteral("2400"), QStringLiteral("4800"),
      QStringLiteral("9600"), QStringLiteral("19200"), QStringLiteral("38400") },
    { QStringLiteral("N"), QStringLiteral("E"), QStringLiteral("O") },
    { QStringLiteral("7"), QStringLiteral("8") },
    { QStringLiteral("1"), QStringLiteral("1.5"), QStringLiteral("2") },
};
} // namespace

frmOPTION::frmOPTION(Station &station, QWidget &mainWindow, const WindowServices &services,
                     QWidget *parent)
    : QWidget(parent),
      ui(new Ui::frmOPTION),
      m_station(station),
      m_main(mainWindow),
      m_services(services)
{
    ui->setupUi(this);
    WindowLook::applyFixedFrame(this, Qt::Dialog);
    // The groups, the option buttons and the hint sit on light grey (E0 E0 E0).
    for (QWidget *w : { static_cast<QWidget *>(ui->Frame1), static_cast<QWidget *>(ui->Frame2),
                        static_cast<QWidget *>(ui->Frame3), static_cast<QWidget *>(ui->Option1_0),
                        static_cast<QWidget *>(ui->Option1_1), static_cast<QWidget *>(ui->lblHint) })
        WindowLook::fillBackground(w, QColor(0xE0, 0xE0, 0xE0));

    connect(ui->Option1_0, &QRadioButton::clicked, this, &frmOPTION::KEY_Locked);
    connect(ui->Option1_1, &QRadioButton::clicked, this, &frmOPTION::KEY_Locked);
    connect(ui->Command1, &QPushButton::clicked, this, &frmOPTION::Command1_Click);
    connect(ui->Command2, &QPushButton::clicked, this, &frmOPTION::Command2_Click);
    connect(ui->Command3, &QPushButton::clicked, this, &frmOPTION::Command3_Click);
    connect(&m_station.session(), &CommSession::communicatingChanged, this,
            &frmOPTION::followCommunication);
}

// The dialog stays open while the main window can be brought back and started, but settings
// change only while stopped: reloading them under a run would end its answering unseen.
void frmOPTION::followCommunication(bool communicating)
{
    ui->Command1->setEnabled(!communicating);
    const QString why = QStringLiteral("通信中は設定を変更できません。停止してから OK を押してください。");
    ui->Command1->setToolTip(communicating ? why : QString());
}

frmOPTION::~frmOPTION() = default;

QLineEdit *frmOPTION::txtSend(int index) const
{
    return findChild<QLineEdit *>(QStringLiteral("txtSend_%1").arg(index));
}

QLineEdit *frmOPTION::txtJusin(int index) const
{
    return findChild<QLineEdit *>(QStringLiteral("txtJusin_%1").arg(index));
}

QComboBox *frmOPTION::Combo1(int index) const
{
    return findChild<QComboBox *>(QStringLiteral("Combo1_%1").arg(index));
}

void frmOPTION::showDialog()
{
    if (!m_loaded) {
        Form_Load();
        m_loaded = true;
    }
    followCommunication(m_station.session().isCommunicating());
    WindowLook::centreOnScreen(this);
    show();
    raise();
    activateWindow();
}

void frmOPTION::Form_Load()
{
    for (int i = 0; i < 5; ++i)
        Combo1(i)->addItems(kLists[i]);

    SettingsRecords &records = m_station.records();
    const QString &folder = m_station.appFolder();
    if (const auto data = SettingsFiles::readFile(AppFolder::filePath(folder, SettingsFileNames::comm())))
        SettingsFiles::readTextRecords(*data, SettingsFiles::fieldsOf(records.comm), false);
    const QString comm[5] = { records.comm.PortNumber, records.comm.BaudRate, records.comm.Parity,
                              records.comm.DataBits, records.comm.StopBits };
    // A value outside its list leaves the list without a selection.
    for (int i = 0; i < 5; ++i)
        Combo1(i)->setCurrentIndex(Combo1(i)->findText(comm[i], Qt::MatchExactly));

    if (const auto data = SettingsFiles::readFile(AppFolder::filePath(folder, SettingsFileNames::protocol())))
        SettingsFiles::readTextRecords(*data, SettingsFiles::fieldsOf(records.protocol), false);
    const ProtocolSettings &p = records.protocol;
    // Only a number equal to 0 means continuous output; empty, other numbers and text that is
    // no number all select output on each receive, so exactly one button is chosen.
    const std::optional<double> type = settingsNumber(p.OutputType);
    (type && *type == 0 ? ui->Option1_0 : ui->Option1_1)->setChecked(true);
    ui->Text1->setText(p.IntervalSeconds);
    ui->txtSendIn->setText(p.ContinuousOutputText);
    for (int i = 0; i < kPatternCount; ++i) {
        txtSend(i)->setText(p.DeviceCommandText[size_t(i)]);
        txtJusin(i)->setText(p.OutputDataText[size_t(i)]);
    }
    KEY_Locked();
    const std::optional<double> show = settingsNumber(records.ShowAtStartup);
    ui->chOPEN->setChecked(show && *show == 1);
}

void frmOPTION::KEY_Locked()
{
    const bool continuous = ui->Option1_0->isChecked();
    for (int i = 0; i < kPatternCount; ++i)
        txtSend(i)->setEnabled(!continuous);
    for (int i = 0; i < kPatternCount; ++i)
        txtJusin(i)->setEnabled(!continuous);
    ui->Text1->setEnabled(continuous);
    ui->txtSendIn->setEnabled(continuous);
}

SettingsForm frmOPTION::form() const
{
    SettingsForm f;
    f.continuousOutput = ui->Option1_0->isChecked();
    f.interval = ui->Text1->text();
    f.texts.continuousOutput = ui->txtSendIn->text();
    for (int i = 0; i < kPatternCount; ++i) {
        f.texts.deviceCommands[size_t(i)] = txtSend(i)->text();
        f.texts.outputData[size_t(i)] = txtJusin(i)->text();
    }
    for (int i = 0; i < 5; ++i)
        f.comm[size_t(i)] = Combo1(i)->currentIndex() < 0 ? QString() : Combo1(i)->currentText();
    f.showAtStartup = ui->chOPEN->isChecked();
    return f;
}

void frmOPTION::setForm(const SettingsForm &f)
{
    (f.continuousOutput ? ui->Option1_0 : ui->Option1_1)->setChecked(true);
    KEY_Locked();
    ui->Text1->setText(f.interval);
    ui->txtSendIn->setText(f.texts.continuousOutput);
    for (int i = 0; i < 5; ++i)
        Combo1(i)->setCurrentIndex(Combo1(i)->findText(f.comm[size_t(i)], Qt::MatchExactly));
    for (int i = 0; i < kPatternCount; ++i) {
        txtSend(i)->setText(f.texts.deviceCommands[size_t(i)]);
        txtJusin(i)->setText(f.texts.outputData[size_t(i)]);
    }
}

void frmOPTION::Command1_Click()
{
    if (m_station.session().isCommunicating())
        return;
    if (m_services.messages->okCancel(this, Texts::confirmTitle(), confirmQuestion())) {
        const SettingsForm current = form();
        if (const std::optional<QString> problem = findUnstorableText(current)) {
            m_services.messages->warning(this, Texts::appTitle(), *problem);
        } else {
            const ApplyResult result = ApplySettingsForm(current, m_station.records(),
                                                         m_station.port(), m_station.appFolder());
            if (result.ok)
                backToMainWindow();
            else
                m_services.messages->warning(
                        this, Texts::appTitle(),
                        QStringLiteral("設定を保存できません。\n%1").arg(result.problem));
        }
    }
    emit okFinished();
}

void frmOPTION::Command2_Click()
{
    backToMainWindow();
}

void frmOPTION::Command3_Click()
{
    if (!m_services.messages->okCancel(this, Texts::confirmTitle(), confirmQuestion()))
        return;
    SettingsForm defaults = SettingsForm::defaults();
    defaults.showAtStartup = ui->chOPEN->isChecked();
    setForm(defaults);
}

void frmOPTION::backToMainWindow()
{
    hide();
    m_main.show();
}

void frmOPTION::closeEvent(QCloseEvent *event)
{
    // The close box acts as ｷｬﾝｾﾙ: the main window must come back.
    event->ignore();
    Command2_Click();
}
