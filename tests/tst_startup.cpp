#include "app/texts.h"
#include "fakeservices.h"
#include "log/commlog.h"
#include "serial/virtualport.h"
#include "settingsfolder.h"
#include "startup/frmsokutei.h"
#include "startup/startup.h"

#include <QDirIterator>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QTest>

// The program's start and its three ways to end.
class tst_Startup : public QObject
{
    Q_OBJECT

private:
    // Every file of a folder with its bytes, to show that nothing was touched.
    static QMap<QString, QByteArray> snapshot(const QString &folder)
    {
        QMap<QString, QByteArray> files;
        QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            QFile f(path);
            files.insert(path, f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>"));
        }
        return files;
    }

private slots:
    void shouldCreateStartupFileAndShowWindowWithCaptionLine();
    void shouldStayHiddenUnlessStartupFileSaysExactlyOne_data();
    void shouldStayHiddenUnlessStartupFileSaysExactlyOne();
    void shouldShowWindowWhenThereIsNoNotificationArea();
    void shouldRefuseSecondInstanceWithoutTouchingAnyFile();
    void shouldEndOnlyAfterConfirmation_data();
    void shouldEndOnlyAfterConfirmation();
    void shouldWriteDefaultsOnlyIntoFolderWithoutSettings_data();
    void shouldWriteDefaultsOnlyIntoFolderWithoutSettings();
    void shouldUseVirtualPortAndLogItsHostEnd();
};

void tst_Startup::shouldCreateStartupFileAndShowWindowWithCaptionLine()
{
    SettingsFolder folder;
    folder.linkMissingCom1();
    FakeServices fake;
    Startup startup(folder.path(), fake.services());
    QVERIFY(startup.Main());

    QCOMPARE(folder.read(QStringLiteral("ACSet2.txt")), QByteArray("\x22\x31\x22\x0D\x0A"));
    frmSOKUTEI *window = startup.mainWindow();
    QVERIFY(window->isVisible());
    QCOMPARE(window->windowTitle(), Texts::mainCaption());
    QVERIFY(window->windowTitle().startsWith(QStringLiteral("Kalo_232Cシミュレータ v1.01 ")));
    QCOMPARE(window->log().lineCount(), 1);
    QCOMPARE(window->log().displayText(0), Texts::mainCaption());
    QVERIFY(fake.messages.shown.isEmpty());
    QCOMPARE(fake.tray.currentTip, QStringLiteral("停止中"));
    QVERIFY(fake.tray.registered);
}

void tst_Startup::shouldStayHiddenUnlessStartupFileSaysExactlyOne_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("shown");
    QTest::newRow("one") << QByteArray("\"1\"\r\n") << true;
    QTest::newRow("zero") << QByteArray("\"0\"\r\n") << false;
    QTest::newRow("one with blank inside quotes") << QByteArray("\" 1\"\r\n") << false;
    QTest::newRow("empty field") << QByteArray("\"\"\r\n") << false;
    QTest::newRow("empty file") << QByteArray() << false;
    QTest::newRow("unquoted one") << QByteArray("1\r\n") << true;
}

void tst_Startup::shouldStayHiddenUnlessStartupFileSaysExactlyOne()
{
    QFETCH(QByteArray, file);
    QFETCH(bool, shown);
    SettingsFolder folder;
    folder.linkMissingCom1();
    folder.write(QStringLiteral("ACSet2.txt"), file);
    FakeServices fake;
    Startup startup(folder.path(), fake.services());
    QVERIFY(startup.Main());
    QCOMPARE(startup.mainWindow()->isVisible(), shown);
    QCOMPARE(folder.read(QStringLiteral("ACSet2.txt")), file);
    // Hidden or not, the program keeps its icon and its log.
    QVERIFY(fake.tray.registered);
    QCOMPARE(startup.mainWindow()->log().lineCount(), 1);
}

void tst_Startup::shouldShowWindowWhenThereIsNoNotificationArea()
{
    SettingsFolder folder;
    folder.linkMissingCom1();
    folder.write(QStringLiteral("ACSet2.txt"), "\"0\"\r\n");
    FakeServices fake;
    fake.tray.available = false;
    Startup startup(folder.path(), fake.services());
    QVERIFY(startup.Main());
    frmSOKUTEI *window = startup.mainWindow();
    QVERIFY(window->isVisible());
    // "タスク(&H)" minimises instead of hiding the window beyond reach.
    window->findChild<QPushButton *>(QStringLiteral("Command1"))->click();
    QVERIFY(window->isVisible());
    QVERIFY(window->isMinimized());
    QVERIFY(window->windowType() != Qt::Tool);
}

void tst_Startup::shouldRefuseSecondInstanceWithoutTouchingAnyFile()
{
    SettingsFolder folder;
    // The real program, copied so that its own folder is the test's application folder.
    const QString exe = folder.file(QStringLiteral("kalo_rs232c"));
    QVERIFY(QFile::copy(QStringLiteral(KALO_BIN_DIR "/kalo_rs232c"), exe));
    folder.writeDefaults();
    folder.linkMissingCom1();

    QProcess first;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    first.setProcessEnvironment(env);
    first.start(exe, {});
    QVERIFY(first.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(folder.file(Startup::lockFileName())), 10000);
    QTest::qWait(300);
    const auto before = snapshot(folder.path());

    FakeServices fake;
    Startup second(folder.path(), fake.services());
    QVERIFY(!second.Main());
    QVERIFY(second.mainWindow() == nullptr);
    QCOMPARE(fake.messages.shown.size(), 1);
    QCOMPARE(fake.messages.shown.at(0).kind, QStringLiteral("information"));
    QCOMPARE(fake.messages.shown.at(0).text, QStringLiteral("既に起動されています。"));
    QCOMPARE(fake.messages.shown.at(0).title, QStringLiteral("Kalo_RS232Cシミュレータ"));
    QVERIFY(!fake.tray.registered);
    QCOMPARE(snapshot(folder.path()), before);
    QCOMPARE(first.state(), QProcess::Running);

    first.kill();
    first.waitForFinished();
    // The lock of a process that is gone does not keep the next start out.
    FakeServices again;
    Startup third(folder.path(), again.services());
    QVERIFY(third.Main());
    QVERIFY(again.messages.shown.isEmpty());
}

void tst_Startup::shouldEndOnlyAfterConfirmation_data()
{
    QTest::addColumn<QString>("way");
    QTest::addColumn<bool>("answer");
    for (const char *way : { "button", "tray menu", "close box" }) {
        QTest::newRow(qPrintable(QStringLiteral("%1, Cancel").arg(QLatin1String(way))))
                << QString::fromLatin1(way) << false;
        QTest::newRow(qPrintable(QStringLiteral("%1, OK").arg(QLatin1String(way))))
                << QString::fromLatin1(way) << true;
    }
}

void tst_Startup::shouldEndOnlyAfterConfirmation()
{
    QFETCH(QString, way);
    QFETCH(bool, answer);
    SettingsFolder folder;
    folder.linkMissingCom1();
    FakeServices fake;
    fake.messages.answers = { answer };
    Startup startup(folder.path(), fake.services());
    QVERIFY(startup.Main());
    frmSOKUTEI *window = startup.mainWindow();

    if (way == QLatin1String("button"))
        window->findChild<QPushButton *>(QStringLiteral("cmdEND"))->click();
    else if (way == QLatin1String("tray menu"))
        window->mnuTray()->findChild<QAction *>(QStringLiteral("mnuEnd"))->trigger();
    else
        window->close();

    QCOMPARE(fake.messages.shown.size(), 1);
    QCOMPARE(fake.messages.shown.at(0).kind, QStringLiteral("okCancel"));
    QCOMPARE(fake.messages.shown.at(0).title, QStringLiteral("確認"));
    QCOMPARE(fake.messages.shown.at(0).text, QStringLiteral("終了してもよろしいですか?"));
    QCOMPARE(fake.exit.calls, answer ? 1 : 0);
    QCOMPARE(fake.tray.registered, !answer);
    if (!answer)
        QVERIFY(window->isVisible());
}

void tst_Startup::shouldWriteDefaultsOnlyIntoFolderWithoutSettings_data()
{
    QTest::addColumn<QString>("present"); // the one settings file the user already has
    QTest::newRow("none") << QString();
    for (const char *name : { "ACSet.txt", "PROTcol.txt", "SOUCHICMD.txt" })
        QTest::newRow(name) << QString::fromLatin1(name);
    // A profile is no settings file, but it is the instrument: the defaults then have
    // neither continuous output nor the sample patterns.
    QTest::newRow("Instrument.toml") << QStringLiteral("Instrument.toml");
}

void tst_Startup::shouldWriteDefaultsOnlyIntoFolderWithoutSettings()
{
    QFETCH(QString, present);
    SettingsFolder folder;
    folder.linkMissingCom1();
    const QByteArray own("\"own\"\r\n");
    const bool profile = present == QLatin1String("Instrument.toml");
    if (!present.isEmpty())
        folder.write(present, own);
    FakeServices fake;
    Startup startup(folder.path(), fake.services());
    QVERIFY(startup.Main());

    for (const QString &name : { QStringLiteral("ACSet.txt"), QStringLiteral("PROTcol.txt"),
                                QStringLiteral("SOUCHICMD.txt") }) {
        const QString goldenFolder = QStringLiteral(KALO_TESTS_DIR "/golden/");
        QFile golden(goldenFolder + (profile && name != QLatin1String("ACSet.txt")
                                             ? QStringLiteral("profile_defaults/") : QString())
                     + name);
        QVERIFY(golden.open(QIODevice::ReadOnly));
        const QByteArray expected = present.isEmpty() || profile ? golden.readAll()
                : name == present                               ? own
                                                                : QByteArray();
        QCOMPARE(folder.read(name), expected);
    }
    // The defaults are in force at once: 開始 sends "99.99", or with a profile answers only.
    if (present.isEmpty())
        QCOMPARE(startup.records().commands.ContinuousOutputBytes, QByteArray("99.99"));
    if (profile)
        QCOMPARE(startup.records().protocol.OutputType, QStringLiteral("1"));
}

void tst_Startup::shouldUseVirtualPortAndLogItsHostEnd()
{
    SettingsFolder folder;
    folder.writeDefaults();
    VirtualPort cable;
    QVERIFY(cable.open(nullptr));
    FakeServices fake;
    Startup startup(folder.path(), fake.services());
    startup.setPortDevice(cable.portPath(), cable.hostPath());
    QVERIFY(startup.Main());

    const SerialComm &port = startup.mainWindow()->MSComm1();
    QVERIFY(port.portOpen());
    QCOMPARE(port.deviceName(), cable.portPath());
    QVERIFY(startup.mainWindow()->log().displayText(1).endsWith(Texts::virtualHostEnd() + cable.hostPath()));
}

QTEST_MAIN(tst_Startup)
#include "tst_startup.moc"
