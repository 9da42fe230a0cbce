#include "ptypair.h"
#include "serial/portsupervisor.h"
#include "serial/serialcomm.h"
#include "settingsfolder.h"
#include "virtualclock.h"

#include <QTest>

#include <memory>

// The supervisor over a real pty on port 1 and a virtual clock: the test plugs and pulls
// the cable, lets time pass, and reads what was said (the words before ": ").
class tst_PortSupervisor : public QObject
{
    Q_OBJECT

private slots:
    void shouldSayEachProblemOnceAndRetryEverySecond_data();
    void shouldSayEachProblemOnceAndRetryEverySecond();
};

void tst_PortSupervisor::shouldSayEachProblemOnceAndRetryEverySecond_data()
{
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QStringList>("heard");
    const QString no = QStringLiteral("ポートを開けません");
    const QString lost = QStringLiteral("ポートが切断されました");
    const QString back = QStringLiteral("ポートを再接続しました");
    QTest::newRow("opens") << "plug write open+ none write open+ none pull open- open- plug open+"
                           << QStringList { lost, no, back };
    QTest::newRow("retried every second")
            << "plug open+ retry+ pull at1500 closed plug at1999 closed at2000 opened at5000"
            << QStringList { lost, back, "reopened" };
    QTest::newRow("retried while on only")
            << "open- retry+ plug at999 closed at1000 opened pull retry- plug at5000 closed"
            << QStringList { no, back, "reopened", lost };
}

void tst_PortSupervisor::shouldSayEachProblemOnceAndRetryEverySecond()
{
    QFETCH(QString, steps);
    QFETCH(QStringList, heard);
    SettingsFolder folder;
    const QString com1 = folder.file(QStringLiteral("COM1"));
    folder.linkMissingCom1();
    std::unique_ptr<PtyPair> pty;
    VirtualClock clock;
    SerialComm port;
    port.setAppFolder(folder.path());
    PortSupervisor supervisor(port, clock);
    QStringList said;
    connect(&supervisor, &PortSupervisor::said, this, [&](const QString &line) {
        said.append(line.section(QStringLiteral(": "), 0, 0));
        QVERIFY2(line.contains(com1), qPrintable(line)); // whatever went wrong, it names the port
    });
    connect(&supervisor, &PortSupervisor::reopened, this, [&] { said.append("reopened"); });
    for (const QString &step : steps.split(' ')) {
        if (step == "plug") { // the adapter comes back under the same name
            pty = std::make_unique<PtyPair>();
            QFile::remove(com1);
            QFile::link(pty->slavePath(), com1);
        } else if (step == "pull") {
            pty->closeMaster();
            folder.linkMissingCom1();
            QTRY_VERIFY(!port.portOpen());
        } else if (step == "write" || step == "none") {
            QVERIFY(step == "none" || pty->write("stale"));
            QTest::qWait(50);
            QVERIFY(step == "write" || port.input().isEmpty());
        } else if (step.startsWith("at")) {
            clock.waitUntil(step.mid(2).toLongLong() * 1'000'000);
        } else if (step == "opened" || step == "closed") {
            QVERIFY2(port.portOpen() == (step == "opened"), qPrintable(step));
        } else if (step.startsWith("open")) {
            QCOMPARE(supervisor.ensureOpen(), step.endsWith('+'));
        } else {
            supervisor.setRetrying(step.endsWith('+'));
        }
    }
    QCOMPARE(said, heard);
}

QTEST_GUILESS_MAIN(tst_PortSupervisor)
#include "tst_portsupervisor.moc"
