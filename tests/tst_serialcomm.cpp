#include "ptypair.h"
#include "serial/serialcomm.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

// The serial component against a real pseudo-terminal: the test plays the host.
class tst_SerialComm : public QObject
{
    Q_OBJECT

private:
    // A component whose port 1 is the slave end of a pty, through a COM1 link in a folder
    // of its own; the test plays the host on the master.
    struct WiredPort
    {
        PtyPair pty;
        QTemporaryDir folder;
        SerialComm comm;

        WiredPort()
        {
            QFile::link(pty.slavePath(), folder.filePath(QStringLiteral("COM1")));
            comm.setAppFolder(folder.path());
        }
        // The device goes away, and port 1 with it: its freed pty number may soon be
        // another process's terminal.
        void pullCable()
        {
            pty.closeMaster();
            QFile::remove(folder.filePath(QStringLiteral("COM1")));
            QFile::link(folder.filePath(QStringLiteral("unplugged")), folder.filePath(QStringLiteral("COM1")));
        }
    };

private slots:
    void shouldParseSettingsTexts_data();
    void shouldParseSettingsTexts();
    void shouldNameDevicesByPortNumber();
    void shouldOpenMappedPortWithItsParameters();
    void shouldCarryEveryByteBothWays();
    void shouldRaiseReceiveEventsOnlyAboveThreshold();
    void shouldRefuseWithDeviceNameAndReason();
    void shouldApplyOnlyChangedParametersWhileOpen();
    void shouldKeepReceiveBufferBoundedUnderFlood();
    void shouldCloseAndReportOnceWhenDeviceVanishes();
    void shouldRefuseOutputWhenHostStopsReading();
};

void tst_SerialComm::shouldParseSettingsTexts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("parity");
    QTest::addColumn<int>("dataBits");
    QTest::addColumn<int>("stopBits");

    QTest::newRow("defaults") << "9600,N,8,1" << true << 9600 << int(QSerialPort::NoParity) << 8
                              << int(QSerialPort::OneStop);
    QTest::newRow("one and a half stop bits")
            << "9600,N,8,1.5" << true << 9600 << int(QSerialPort::NoParity) << 8
            << int(QSerialPort::OneAndHalfStop);
    QTest::newRow("even, 7 bits, 2 stop") << "300,E,7,2" << true << 300
                                          << int(QSerialPort::EvenParity) << 7
                                          << int(QSerialPort::TwoStop);
    QTest::newRow("odd") << "38400,O,8,1" << true << 38400 << int(QSerialPort::OddParity) << 8
                         << int(QSerialPort::OneStop);
    for (const char *bad : { "", "9600,N,8", "9600,N,8,1,1", "9600,n,8,1", "9600,X,8,1",
                             "9600,N,9,1", "9600,N,8,3", " 9600,N,8,1", "96OO,N,8,1", "0,N,8,1",
                             "-9600,N,8,1", "9600,N,8,1.0", ",,,", "9600;N;8;1" })
        QTest::newRow(bad) << QString::fromLatin1(bad) << false << 0 << 0 << 0 << 0;
}

void tst_SerialComm::shouldParseSettingsTexts()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    const auto parsed = CommParameters::parse(text);
    QCOMPARE(parsed.has_value(), valid);
    if (!valid)
        return;
    QFETCH(int, baud);
    QFETCH(int, parity);
    QFETCH(int, dataBits);
    QFETCH(int, stopBits);
    QCOMPARE(parsed->baudRate, baud);
    QCOMPARE(int(parsed->parity), parity);
    QCOMPARE(int(parsed->dataBits), dataBits);
    QCOMPARE(int(parsed->stopBits), stopBits);
}

void tst_SerialComm::shouldNameDevicesByPortNumber()
{
    QTemporaryDir folder;
    SerialComm comm;
    comm.setAppFolder(folder.path());
    QCOMPARE(comm.deviceName(), QStringLiteral("/dev/ttyS0"));
    QVERIFY(comm.setCommPort(16));
    QCOMPARE(comm.deviceName(), QStringLiteral("/dev/ttyS15"));

    // A link named COMn in the application folder wins, even while it dangles.
    QVERIFY(QFile::link(QStringLiteral("/nonexistent/device"), folder.filePath(QStringLiteral("COM16"))));
    QCOMPARE(comm.deviceName(), folder.filePath(QStringLiteral("COM16")));
    QVERIFY(!comm.setPortOpen(true));
    QVERIFY2(comm.lastError().startsWith(folder.filePath(QStringLiteral("COM16"))),
             qPrintable(comm.lastError()));

    QVERIFY(!comm.setCommPort(0));
    QCOMPARE(comm.commPort(), 16);
}

void tst_SerialComm::shouldOpenMappedPortWithItsParameters()
{
    WiredPort w;
    PtyPair &pty = w.pty;
    QVERIFY(pty.isValid());
    SerialComm &comm = w.comm;
    QVERIFY(comm.setCommPort(1));
    QVERIFY(comm.setSettings(QStringLiteral("19200,N,8,2")));
    QVERIFY2(comm.setPortOpen(true), qPrintable(comm.lastError()));
    QVERIFY(comm.portOpen());

    termios tio {};
    QCOMPARE(tcgetattr(pty.masterFd(), &tio), 0);
    QCOMPARE(cfgetospeed(&tio), speed_t(B19200));
    QVERIFY(tio.c_cflag & CSTOPB);
    QCOMPARE(tio.c_cflag & CSIZE, tcflag_t(CS8));

    // Speed changes apply to the open port at once.
    QVERIFY2(comm.setSettings(QStringLiteral("9600,N,8,1")), qPrintable(comm.lastError()));
    QCOMPARE(tcgetattr(pty.masterFd(), &tio), 0);
    QCOMPARE(cfgetospeed(&tio), speed_t(B9600));
    QVERIFY(!(tio.c_cflag & CSTOPB));
    QCOMPARE(comm.settings(), QStringLiteral("9600,N,8,1"));

    QVERIFY(comm.setPortOpen(false));
    QVERIFY(!comm.portOpen());
}

void tst_SerialComm::shouldCarryEveryByteBothWays()
{
    WiredPort w;
    PtyPair &pty = w.pty;
    SerialComm &comm = w.comm;
    QVERIFY(comm.setPortOpen(true));

    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(char(b));
    QVERIFY(comm.output(all));
    QCOMPARE(pty.read(2000, all.size()), all);

    QVERIFY(pty.write(all));
    QTRY_COMPARE(comm.inBufferCount(), 256);
    QCOMPARE(comm.input(), all);
    QCOMPARE(comm.inBufferCount(), 0);

    // An empty output sends nothing and is no failure.
    QVERIFY(comm.output(QByteArray()));
    QCOMPARE(pty.read(100), QByteArray());
}

void tst_SerialComm::shouldRaiseReceiveEventsOnlyAboveThreshold()
{
    WiredPort w;
    PtyPair &pty = w.pty;
    SerialComm &comm = w.comm;
    QVERIFY(comm.setPortOpen(true));
    QSignalSpy events(&comm, &SerialComm::commEvent);

    comm.setRThreshold(0);
    QVERIFY(pty.write("abc"));
    QTRY_COMPARE(comm.inBufferCount(), 3);
    QTest::qWait(100);
    QCOMPARE(events.count(), 0);

    comm.setRThreshold(1);
    QVERIFY(pty.write("d"));
    QTRY_COMPARE(events.count(), 1);
    QCOMPARE(comm.inBufferCount(), 4);

    // Dropping the waiting bytes leaves nothing for the next event to see.
    QVERIFY(comm.clearInBuffer());
    QCOMPARE(comm.inBufferCount(), 0);
    QVERIFY(pty.write("e"));
    QTRY_COMPARE(comm.inBufferCount(), 1);
    QCOMPARE(comm.input(), QByteArray("e"));
}

void tst_SerialComm::shouldRefuseWithDeviceNameAndReason()
{
    QTemporaryDir folder;
    SerialComm comm;
    comm.setAppFolder(folder.path());
    QVERIFY(comm.setCommPort(200));
    QVERIFY(!comm.setPortOpen(true));
    QVERIFY2(comm.lastError().startsWith(QStringLiteral("/dev/ttyS199 (")), qPrintable(comm.lastError()));

    // Operations on a closed port are refused, not silently taken.
    QVERIFY(!comm.output("x"));
    QVERIFY(comm.lastError().contains(QStringLiteral("/dev/ttyS199")));
    QVERIFY(!comm.clearInBuffer());
    QCOMPARE(comm.input(), QByteArray());

    QVERIFY(!comm.setSettings(QStringLiteral("9600,N,8")));
    QVERIFY(comm.lastError().contains(QStringLiteral("9600,N,8")));
    QCOMPARE(comm.settings(), QStringLiteral("9600,N,8,1"));

    // A device that is not a terminal.
    QFile plain(folder.filePath(QStringLiteral("COM3")));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.close();
    QVERIFY(comm.setCommPort(3));
    QVERIFY(!comm.setPortOpen(true));
    QVERIFY(comm.lastError().startsWith(folder.filePath(QStringLiteral("COM3")) + QStringLiteral(" (")));

    PtyPair pty;
    QVERIFY(QFile::link(pty.slavePath(), folder.filePath(QStringLiteral("COM1"))));
    QVERIFY(comm.setCommPort(1));
    QVERIFY(comm.setPortOpen(true));
    QVERIFY(!comm.setCommPort(2));
    QVERIFY(comm.lastError().contains(pty.slavePath()) || comm.lastError().contains(QStringLiteral("COM1")));
    QCOMPARE(comm.commPort(), 1);
    QVERIFY(!comm.setPortOpen(true));

    // A second component cannot take a port that is in use.
    SerialComm other;
    other.setAppFolder(folder.path());
    QVERIFY(!other.setPortOpen(true));
    QVERIFY(!other.lastError().isEmpty());
}

void tst_SerialComm::shouldApplyOnlyChangedParametersWhileOpen()
{
    WiredPort w;
    PtyPair &pty = w.pty;
    SerialComm &comm = w.comm;
    QVERIFY(comm.setSettings(QStringLiteral("9600,N,8,1")));
    QVERIFY(comm.setPortOpen(true));
    // The same settings again (what reloading after a settings change does) must not fail,
    // although a pty refuses to set its parity a second time.
    QVERIFY2(comm.setSettings(QStringLiteral("9600,N,8,1")), qPrintable(comm.lastError()));
    QVERIFY2(comm.setSettings(QStringLiteral("4800,N,8,1")), qPrintable(comm.lastError()));
    // A pty cannot do parity: the refusal says why and the old settings stay.
    if (!comm.setSettings(QStringLiteral("4800,E,7,1"))) {
        QVERIFY(comm.lastError().contains(pty.slavePath()) || comm.lastError().contains(QStringLiteral("COM1")));
        QCOMPARE(comm.settings(), QStringLiteral("4800,N,8,1"));
    }
}

void tst_SerialComm::shouldKeepReceiveBufferBoundedUnderFlood()
{
    WiredPort w;
    PtyPair &pty = w.pty;
    SerialComm &comm = w.comm;
    QVERIFY(comm.setPortOpen(true));
    comm.setRThreshold(1);
    QSignalSpy events(&comm, &SerialComm::commEvent);

    // Far more than any buffer: the host side is non-blocking, so what the line cannot take
    // stays with the host instead of piling up in the program.
    const QByteArray block(4096, 'F');
    for (int i = 0; i < 256; ++i) {
        ::write(pty.masterFd(), block.constData(), size_t(block.size()));
        QCoreApplication::processEvents();
    }
    QTest::qWait(200);
    QVERIFY2(comm.inBufferCount() <= SerialComm::kInBufferSize,
             qPrintable(QString::number(comm.inBufferCount())));
    // Many reads, few events: one is queued at a time.
    QVERIFY(events.count() >= 1);
    QVERIFY(events.count() < 256);

    // After dropping the flood the line works again.
    QVERIFY(comm.clearInBuffer());
    pty.read(200); // drain the host's own queue of echoes, if any
    QTest::qWait(50);
    comm.clearInBuffer();
    QVERIFY(pty.write("PING"));
    QTRY_VERIFY(comm.inBufferCount() >= 4);
    QVERIFY(comm.input().endsWith("PING"));
}

void tst_SerialComm::shouldCloseAndReportOnceWhenDeviceVanishes()
{
    WiredPort w;
    const QTemporaryDir &folder = w.folder;
    SerialComm &comm = w.comm;
    QVERIFY(comm.setPortOpen(true));
    comm.setRThreshold(1);
    QSignalSpy lost(&comm, &SerialComm::portLost);

    rusage before {};
    getrusage(RUSAGE_SELF, &before);
    w.pullCable();
    QTRY_COMPARE(lost.count(), 1);
    QTest::qWait(500);
    rusage after {};
    getrusage(RUSAGE_SELF, &after);
    const double cpu = (after.ru_utime.tv_sec - before.ru_utime.tv_sec)
            + (after.ru_utime.tv_usec - before.ru_utime.tv_usec) / 1e6;

    QCOMPARE(lost.count(), 1);
    QVERIFY(!comm.portOpen());
    QVERIFY(lost.at(0).at(0).toString().contains(folder.filePath(QStringLiteral("COM1"))));
    // Left open, the vanished device would keep a core busy with error signals.
    QVERIFY2(cpu < 0.3, qPrintable(QString::number(cpu)));
}

void tst_SerialComm::shouldRefuseOutputWhenHostStopsReading()
{
    WiredPort w;
    PtyPair &pty = w.pty;
    SerialComm &comm = w.comm;
    QVERIFY(comm.setPortOpen(true));
    // The host never reads: the driver fills up, then the component's own buffer.
    const QByteArray block(4096, 'O');
    int taken = 0;
    for (int i = 0; i < 1000 && comm.output(block); ++i)
        ++taken;
    QVERIFY(taken < 1000);
    QVERIFY2(comm.lastError().contains(QStringLiteral("send buffer full")), qPrintable(comm.lastError()));
    // Once the host reads again, output is taken again.
    QByteArray drained;
    for (int i = 0; i < 500 && !comm.output(block); ++i) {
        drained += pty.read(10);
        QCoreApplication::processEvents();
    }
    QVERIFY(comm.portOpen());
    QVERIFY(drained.size() >= block.size());
    QVERIFY(drained.startsWith(block));
}

QTEST_GUILESS_MAIN(tst_SerialComm)
#include "tst_serialcomm.moc"
