#include "fakeservices.h"
#include "platform/trayicon.h"
#include "ptypair.h"
#include "settingsfolder.h"
#include "startup/frmsokutei.h"

#include <QProcess>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTest>

// The real notification-area icon, in a real tray (trayer on Xvfb).
class tst_RealTray : public QObject
{
    Q_OBJECT

private:
    // Icons of this program embedded in the tray: windows of our name at icon size.
    static int embeddedIcons()
    {
        QProcess tree;
        tree.start(QStringLiteral("xwininfo"), { QStringLiteral("-root"), QStringLiteral("-tree") });
        tree.waitForFinished(5000);
        int count = 0;
        const QString name = QCoreApplication::applicationName();
        for (const QByteArray &line : tree.readAllStandardOutput().split('\n')) {
            const QString text = QString::fromLocal8Bit(line);
            if (text.contains(QLatin1Char('"') + name + QLatin1Char('"')) && text.contains(QStringLiteral("22x22")))
                ++count;
        }
        return count;
    }

private slots:
    void initTestCase();
    void shouldShowOneIconThroughStartAndStop();
};

void tst_RealTray::initTestCase()
{
    QTRY_VERIFY_WITH_TIMEOUT(QSystemTrayIcon::isSystemTrayAvailable(), 5000);
}

void tst_RealTray::shouldShowOneIconThroughStartAndStop()
{
    PtyPair pty;
    SettingsFolder folder;
    folder.writeDefaults(pty.slavePath(), "1");
    FakeServices fake;
    QtTrayIcon tray;
    QVERIFY(tray.isAvailable());
    WindowServices services = fake.services();
    services.tray = &tray;
    Station station(folder.path());
    frmSOKUTEI form(station, services);
    form.Form_Load();
    QVERIFY(form.windowType() == Qt::Tool);

    QTRY_COMPARE(embeddedIcons(), 1);
    QCOMPARE(tray.tip(), QStringLiteral("停止中"));
    for (int cycle = 0; cycle < 10; ++cycle) {
        form.findChild<QPushButton *>(QStringLiteral("cmdSend"))->click();
        QCOMPARE(tray.tip(), QStringLiteral("起動中"));
        form.findChild<QPushButton *>(QStringLiteral("cmdSTOP"))->click();
        QCOMPARE(tray.tip(), QStringLiteral("停止中"));
    }
    QTest::qWait(300);
    QCOMPARE(embeddedIcons(), 1);

    tray.remove();
    QTRY_COMPARE(embeddedIcons(), 0);
}

QTEST_MAIN(tst_RealTray)
#include "tst_realtray.moc"
