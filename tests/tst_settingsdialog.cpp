#include "settings_dialog/frmoption.h"
#include "startedprogram.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <sys/stat.h>

// The settings dialog opened from a started program, answered by the test.
class tst_SettingsDialog : public QObject
{
    Q_OBJECT

private:
    struct Program : StartedProgram
    {
        // defaults: write the default files first; otherwise the folder starts empty.
        explicit Program(bool defaults = true, const QByteArray &outputType = "0")
            : StartedProgram(outputType, defaults)
        {
        }
        frmOPTION *open()
        {
            button("cmd")->click();
            return startup->settingsDialog();
        }
        template<typename T>
        T *child(const char *name) const
        {
            return startup->settingsDialog()->findChild<T *>(QLatin1String(name));
        }
        void ok(bool confirm = true)
        {
            fake.messages.answers.append(confirm);
            child<QPushButton>("Command1")->click();
        }
        QByteArray file(const char *name) const { return folder.read(QLatin1String(name)); }
    };

    static QByteArray golden(const char *name)
    {
        QFile f(QStringLiteral(KALO_TESTS_DIR "/golden/") + QLatin1String(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private slots:
    void shouldLoadDefaultFilesIntoControls();
    void shouldEnableBoxesOfChosenOutputType();
    void shouldShowCancelledEditsAtNextShowing();
    void shouldLeaveListWithoutSelectionForUnknownValue();
    void shouldWriteDefaultsByteExact();
    void shouldStoreOneForEmptyInterval();
    void shouldStoreEmptiedPatternAsEmpty();
    void shouldChangeNothingWhenConfirmationDeclined();
    void shouldRefuseTextsFilesCannotHold_data();
    void shouldRefuseTextsFilesCannotHold();
    void shouldReportUnwritableFileAndKeepAllFilesWhole();
    void shouldBringMainWindowBackFromCloseBox();
    void shouldAnswerWithNewPatternAfterOk();
    void shouldOpenNewPortNumberAtOk();
};

void tst_SettingsDialog::shouldLoadDefaultFilesIntoControls()
{
    Program p;
    frmOPTION *dialog = p.open();
    QVERIFY(dialog && dialog->isVisible());
    QVERIFY(!p.main()->isVisible());
    QCOMPARE(dialog->windowTitle(), QStringLiteral("プロパティ"));
    QVERIFY(p.child<QRadioButton>("Option1_0")->isChecked());
    QCOMPARE(p.child<QLineEdit>("Text1")->text(), QStringLiteral("1"));
    QVERIFY(p.child<QLineEdit>("Text1")->isEnabled());
    QCOMPARE(p.child<QLineEdit>("txtSendIn")->text(), QStringLiteral("99.99"));
    QVERIFY(p.child<QLineEdit>("txtSendIn")->isEnabled());
    const QStringList commands { QStringLiteral("ABC+[CR]+[LF]"), QStringLiteral("[ACK]+ODF+[NCK]"),
                                 QString(), QString(), QString() };
    const QStringList data { QStringLiteral("4569.12"), QStringLiteral("49.12cm"), QString(),
                             QString(), QString() };
    for (int i = 0; i < 5; ++i) {
        QCOMPARE(dialog->txtSend(i)->text(), commands.at(i));
        QCOMPARE(dialog->txtJusin(i)->text(), data.at(i));
        QVERIFY(!dialog->txtSend(i)->isEnabled());
        QVERIFY(!dialog->txtJusin(i)->isEnabled());
    }
    const QStringList shown { QStringLiteral("1"), QStringLiteral("9600"), QStringLiteral("N"),
                              QStringLiteral("8"), QStringLiteral("1") };
    for (int i = 0; i < 5; ++i)
        QCOMPARE(dialog->Combo1(i)->currentText(), shown.at(i));
    QCOMPARE(dialog->Combo1(0)->count(), 16);
    QCOMPARE(dialog->Combo1(1)->itemText(6), QStringLiteral("38400"));
    QCOMPARE(dialog->Combo1(4)->itemText(1), QStringLiteral("1.5"));
    QVERIFY(!dialog->Combo1(1)->isEditable());
    QVERIFY(p.child<QCheckBox>("chOPEN")->isChecked());
    // Data bits sit above parity on screen, although parity comes first in the file.
    QVERIFY(dialog->Combo1(3)->y() < dialog->Combo1(2)->y());
}

void tst_SettingsDialog::shouldEnableBoxesOfChosenOutputType()
{
    Program p(true, "1");
    frmOPTION *dialog = p.open();
    QVERIFY(p.child<QRadioButton>("Option1_1")->isChecked());
    QVERIFY(dialog->txtSend(0)->isEnabled());
    QVERIFY(!p.child<QLineEdit>("Text1")->isEnabled());
    QTest::mouseClick(p.child<QRadioButton>("Option1_0"), Qt::LeftButton);
    QVERIFY(!dialog->txtSend(0)->isEnabled());
    QVERIFY(p.child<QLineEdit>("Text1")->isEnabled());
    QCOMPARE(dialog->txtSend(0)->text(), QStringLiteral("ABC+[CR]+[LF]"));
}

void tst_SettingsDialog::shouldShowCancelledEditsAtNextShowing()
{
    Program p;
    p.open();
    p.child<QLineEdit>("txtSendIn")->setText(QStringLiteral("edited"));
    p.child<QPushButton>("Command2")->click();
    QVERIFY(!p.startup->settingsDialog()->isVisible());
    QVERIFY(p.main()->isVisible());
    QCOMPARE(p.file("PROTcol.txt"), SettingsFolder::defaultProtocol());

    // 既定に設定 then ｷｬﾝｾﾙ: files untouched, the defaults shown next time.
    p.open();
    QCOMPARE(p.child<QLineEdit>("txtSendIn")->text(), QStringLiteral("edited"));
    p.fake.messages.answers = { true };
    p.child<QPushButton>("Command3")->click();
    QCOMPARE(p.child<QLineEdit>("txtSendIn")->text(), QStringLiteral("99.99"));
    p.child<QPushButton>("Command2")->click();
    QCOMPARE(p.file("PROTcol.txt"), SettingsFolder::defaultProtocol());
    p.open();
    QCOMPARE(p.child<QLineEdit>("txtSendIn")->text(), QStringLiteral("99.99"));
}

void tst_SettingsDialog::shouldLeaveListWithoutSelectionForUnknownValue()
{
    Program p;
    p.folder.write(QStringLiteral("ACSet.txt"), "\"1\",\"115200\",\"N\",\"8\",\"1\"\r\n");
    frmOPTION *dialog = p.open();
    QCOMPARE(dialog->Combo1(1)->currentIndex(), -1);
    p.ok();
    QCOMPARE(p.file("ACSet.txt"), QByteArray("\"1\",\"\",\"N\",\"8\",\"1\"\r\n"));
}

void tst_SettingsDialog::shouldWriteDefaultsByteExact()
{
    Program p(false);
    frmOPTION *dialog = p.open();
    p.fake.messages.answers = { true };
    p.child<QPushButton>("Command3")->click();
    QVERIFY(p.child<QRadioButton>("Option1_0")->isChecked());
    QVERIFY(!dialog->txtSend(0)->isEnabled());
    p.child<QCheckBox>("chOPEN")->setChecked(true);
    p.ok();

    QCOMPARE(p.file("ACSet.txt"), golden("ACSet.txt"));
    QCOMPARE(p.file("PROTcol.txt"), golden("PROTcol.txt"));
    QCOMPARE(p.file("SOUCHICMD.txt"), golden("SOUCHICMD.txt"));
    QCOMPARE(p.file("ACSet2.txt"), golden("ACSet2.txt"));
    QVERIFY(!dialog->isVisible());
    QVERIFY(p.main()->isVisible());
    QCOMPARE(p.main()->statusPanelText(2), QStringLiteral("通信設定 : 9600,N,8,1"));
    QCOMPARE(p.fake.messages.shown.last().text, QStringLiteral("設定を変更してもよろしいですか?"));
    QCOMPARE(p.fake.messages.shown.last().title, QStringLiteral("確認"));

    p.open();
    p.child<QCheckBox>("chOPEN")->setChecked(false);
    p.child<QRadioButton>("Option1_1")->setChecked(true);
    p.ok();
    QCOMPARE(p.file("ACSet2.txt"), QByteArray("\"0\"\r\n"));
    QVERIFY(p.file("PROTcol.txt").startsWith("\"1\","));
    QCOMPARE(p.main()->statusPanelText(1), QStringLiteral("出力ﾀｲﾌﾟ : 受信ごとに出力"));
}

void tst_SettingsDialog::shouldStoreOneForEmptyInterval()
{
    Program p;
    p.open();
    p.child<QLineEdit>("Text1")->clear();
    p.ok();
    QVERIFY(p.file("PROTcol.txt").startsWith("\"0\",\"1\","));
    // The box shows "1" only when the dialog loads afresh; it stays as left.
    p.open();
    QCOMPARE(p.child<QLineEdit>("Text1")->text(), QString());
}

void tst_SettingsDialog::shouldStoreEmptiedPatternAsEmpty()
{
    Program p;
    frmOPTION *dialog = p.open();
    p.child<QRadioButton>("Option1_1")->click();
    dialog->txtSend(1)->clear();
    p.ok();
    QVERIFY(p.startup->records().commands.DeviceCommandBytes[1].isEmpty());
    QVERIFY(p.file("SOUCHICMD.txt").contains("\"ABC+\r+\n\",\"\","));
    QVERIFY(p.file("PROTcol.txt").endsWith("\"ABC+[CR]+[LF]\",\"\",\"\",\"\",\"\"\r\n"));
}

void tst_SettingsDialog::shouldChangeNothingWhenConfirmationDeclined()
{
    Program p;
    p.open();
    p.child<QLineEdit>("txtSendIn")->setText(QStringLiteral("changed"));
    p.main()->findChild<QLabel *>(QStringLiteral("StB_Panel1"))->setText(QStringLiteral("stale"));
    p.ok(false);
    QVERIFY(p.startup->settingsDialog()->isVisible());
    QCOMPARE(p.child<QLineEdit>("txtSendIn")->text(), QStringLiteral("changed"));
    QCOMPARE(p.file("PROTcol.txt"), SettingsFolder::defaultProtocol());
    QCOMPARE(p.file("SOUCHICMD.txt"), SettingsFolder::defaultCommands());
    // The status bar is refreshed all the same.
    QCOMPARE(p.main()->statusPanelText(1), QStringLiteral("出力ﾀｲﾌﾟ : 連続出力"));
}

void tst_SettingsDialog::shouldRefuseTextsFilesCannotHold_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("named");
    QTest::newRow("quote in output") << "txtSendIn" << "9\"9" << "出力させたい文字列";
    QTest::newRow("euro in command") << "txtSend_2" << "€" << "ﾊﾟﾀｰﾝ3 受信したい文字列";
    QTest::newRow("quote in interval") << "Text1" << "\"" << "ｲﾝﾀｰﾊﾞﾙ";
}

void tst_SettingsDialog::shouldRefuseTextsFilesCannotHold()
{
    QFETCH(QString, box);
    QFETCH(QString, text);
    QFETCH(QString, named);
    Program p;
    frmOPTION *dialog = p.open();
    dialog->findChild<QLineEdit *>(box)->setText(text);
    p.ok();
    QCOMPARE(p.fake.messages.shown.last().kind, QStringLiteral("warning"));
    QVERIFY2(p.fake.messages.shown.last().text.contains(named), qPrintable(p.fake.messages.shown.last().text));
    QVERIFY(dialog->isVisible());
    QCOMPARE(p.file("PROTcol.txt"), SettingsFolder::defaultProtocol());
    QCOMPARE(p.file("SOUCHICMD.txt"), SettingsFolder::defaultCommands());
}

void tst_SettingsDialog::shouldReportUnwritableFileAndKeepAllFilesWhole()
{
    Program p;
    frmOPTION *dialog = p.open();
    const QString locked = p.folder.file(QStringLiteral("PROTcol.txt"));
    QVERIFY(::chmod(QFile::encodeName(locked).constData(), 0444) == 0);
    p.child<QLineEdit>("txtSendIn")->setText(QStringLiteral("12.34"));
    p.child<QComboBox>("Combo1_1")->setCurrentText(QStringLiteral("4800"));
    p.ok();
    QCOMPARE(p.fake.messages.shown.last().kind, QStringLiteral("warning"));
    QVERIFY(p.fake.messages.shown.last().text.contains(locked));
    QVERIFY(dialog->isVisible());
    // Not one file changed, although ACSet.txt and SOUCHICMD.txt come first.
    QCOMPARE(p.file("ACSet.txt"), SettingsFolder::defaultComm());
    QCOMPARE(p.file("SOUCHICMD.txt"), SettingsFolder::defaultCommands());
    QCOMPARE(p.file("PROTcol.txt"), SettingsFolder::defaultProtocol());
    QCOMPARE(p.startup->records().commands.ContinuousOutputBytes, QByteArray("99.99"));
    QCOMPARE(p.main()->MSComm1().settings(), QStringLiteral("9600,N,8,1"));
}

void tst_SettingsDialog::shouldBringMainWindowBackFromCloseBox()
{
    Program p;
    frmOPTION *dialog = p.open();
    dialog->close();
    QVERIFY(!dialog->isVisible());
    QVERIFY(p.main()->isVisible());
    QCOMPARE(p.startup->settingsDialog(), dialog);
}

void tst_SettingsDialog::shouldAnswerWithNewPatternAfterOk()
{
    Program p;
    frmOPTION *dialog = p.open();
    p.child<QRadioButton>("Option1_1")->click();
    dialog->txtJusin(0)->setText(QStringLiteral("OK[CR]"));
    p.ok();
    p.pty.startCollecting();
    p.main()->findChild<QPushButton *>(QStringLiteral("cmdSend"))->click();
    p.pty.write("ABC+\r+\n");
    QCOMPARE(p.pty.waitCollected(3, 3000), QByteArray("OK\r"));
}

void tst_SettingsDialog::shouldOpenNewPortNumberAtOk()
{
    Program p;
    PtyPair second;
    QVERIFY(QFile::link(second.slavePath(), p.folder.file(QStringLiteral("COM2"))));
    QVERIFY(p.main()->MSComm1().portOpen());
    frmOPTION *dialog = p.open();
    p.child<QRadioButton>("Option1_1")->click();
    dialog->Combo1(0)->setCurrentText(QStringLiteral("2"));
    p.ok();
    QCOMPARE(p.main()->MSComm1().commPort(), 2);
    QVERIFY(p.main()->MSComm1().portOpen());
    QCOMPARE(p.main()->MSComm1().deviceName(), p.folder.file(QStringLiteral("COM2")));

    second.startCollecting();
    p.main()->findChild<QPushButton *>(QStringLiteral("cmdSend"))->click();
    second.write("\x06+ODF+");
    QCOMPARE(second.waitCollected(7, 3000), QByteArray("49.12cm"));
}

QTEST_MAIN(tst_SettingsDialog)
#include "tst_settingsdialog.moc"
