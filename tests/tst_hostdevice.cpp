// The device a host program is given by --exec, seen from the program: a Python host
// (whose termios and fcntl modules call the C library as C hosts do) sets the line and the
// lines, sends breaks and waits on CTS; the signals and the host's exit tell what arrived.
#include "platform/hostdevice.h"
#include "serial/virtualport.h"

#include <QSignalSpy>
#include <QTest>

namespace {
const QString kPython = QStringLiteral("/usr/bin/python3");
const QString kDevice = QStringLiteral("/dev/ttyKALO0");

// Exits 3 when the device answered every call as a serial port would, 1 otherwise.
const char kConversation[] = R"(
import fcntl, os, struct, sys, termios, time
CMSPAR, TIOCSBRK, TIOCCBRK = 0o10000000000, 0x5427, 0x5428
fd = os.open(sys.argv[1], os.O_RDWR | os.O_NOCTTY)
a = termios.tcgetattr(fd)
a[2] = (a[2] & ~(termios.CSIZE | termios.PARODD | CMSPAR)) | termios.CS7 \
    | termios.PARENB | termios.CSTOPB | termios.CRTSCTS
a[0] |= termios.IXON | termios.INPCK
a[4] = a[5] = termios.B19200
termios.tcsetattr(fd, termios.TCSANOW, a)
b = termios.tcgetattr(fd)
ok = (b[2] & termios.CSIZE) == termios.CS7 and b[2] & termios.PARENB and b[4] == termios.B19200
fcntl.ioctl(fd, termios.TIOCMBIS, struct.pack('i', termios.TIOCM_DTR))
fcntl.ioctl(fd, termios.TIOCMBIC, struct.pack('i', termios.TIOCM_RTS))
termios.tcsendbreak(fd, 0)
fcntl.ioctl(fd, TIOCSBRK)
time.sleep(0.1)
fcntl.ioctl(fd, TIOCCBRK)
fcntl.ioctl(fd, termios.TIOCMIWAIT, termios.TIOCM_CTS)
lines = struct.unpack('i', fcntl.ioctl(fd, termios.TIOCMGET, struct.pack('i', 0)))[0]
counts = struct.unpack('20i', fcntl.ioctl(fd, termios.TIOCGICOUNT, bytes(80)))
ok = ok and not lines & termios.TIOCM_CTS and lines & termios.TIOCM_DTR and counts[0] == 1
sys.exit(3 if ok else 1)
)";

// Sets DATA_BITS PARITY STOP_BITS SPEED; a speed without a B constant goes by TCSETS2.
const char kSetLine[] = R"(
import fcntl, os, struct, sys, termios
CMSPAR = 0o10000000000
fd = os.open(sys.argv[1], os.O_RDWR | os.O_NOCTTY)
bits, parity, stop, speed = sys.argv[2], sys.argv[3], sys.argv[4], int(sys.argv[5])
a = termios.tcgetattr(fd)
c = a[2] & ~(termios.CSIZE | termios.PARENB | termios.PARODD | CMSPAR | termios.CSTOPB)
c |= getattr(termios, 'CS' + bits) | (termios.CSTOPB if stop == '2' else 0)
c |= {'N': 0, 'E': termios.PARENB, 'O': termios.PARENB | termios.PARODD,
      'M': termios.PARENB | termios.PARODD | CMSPAR,
      'S': termios.PARENB | CMSPAR}[parity]
if hasattr(termios, 'B%d' % speed):
    a[2] = c
    a[4] = a[5] = getattr(termios, 'B%d' % speed)
    termios.tcsetattr(fd, termios.TCSANOW, a)
else:
    t = list(struct.unpack('<4IB19s2I', fcntl.ioctl(fd, 0x802C542A, bytes(44))))
    t[2] = (c & ~termios.CBAUD) | 0o10000
    t[6] = t[7] = speed
    fcntl.ioctl(fd, 0x402C542B, struct.pack('<4IB19s2I', *t))
)";

HostLineSettings line(int baud, int bits, char parity, int stopHalfBits)
{
    HostLineSettings s;
    s.baud = baud;
    s.dataBits = bits;
    s.parity = parity;
    s.stopHalfBits = stopHalfBits;
    return s;
}
} // namespace

Q_DECLARE_METATYPE(HostLineSettings)

class TestHostDevice : public QObject
{
    Q_OBJECT

private slots:
    void conversation();
    void lineAsSet_data();
    void lineAsSet();
};

void TestHostDevice::conversation()
{
    VirtualPort cable;
    HostDevice device;
    QString error;
    QVERIFY2(cable.open(&error), qPrintable(error));
    QSignalSpy settings(&device, &HostDevice::hostSettingsChanged);
    QSignalSpy lines(&device, &HostDevice::hostLinesChanged);
    QSignalSpy breaks(&device, &HostDevice::breakFromHost);
    QSignalSpy finished(&device, &HostDevice::finished);
    // CTS drops once the host waits for it, after its second break.
    connect(&device, &HostDevice::breakFromHost, this, [&] {
        if (breaks.count() == 2)
            QTimer::singleShot(300, &device, [&] { device.setLinesSeenByHost(false, true, true, false); });
    });
    QVERIFY2(device.start(cable.hostPath(), kDevice,
                          { kPython, QStringLiteral("-c"), QLatin1String(kConversation), kDevice },
                          &error),
             qPrintable(error));
    QVERIFY(finished.wait(10000));
    QCOMPARE(finished.first().first().toInt(), 3);
    QCOMPARE(settings.count(), 1);
    HostLineSettings expected = line(19200, 7, 'E', 4);
    expected.crtscts = expected.ixon = expected.inpck = true;
    QVERIFY(device.hostSettings() == expected);
    QVERIFY(settings.first().first().value<HostLineSettings>() == expected);
    QCOMPARE(lines.count(), 2);
    QCOMPARE(lines.last(), (QVariantList { true, false }));
    QCOMPARE(breaks.count(), 2);
    QCOMPARE(breaks.first().first().toInt(), 250);
    QVERIFY(qAbs(breaks.last().first().toInt() - 100) < 80);
}

void TestHostDevice::lineAsSet_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<HostLineSettings>("expected");
    QTest::newRow("7E1 19200") << QStringList { "7", "E", "1", "19200" } << line(19200, 7, 'E', 2);
    QTest::newRow("8N2 115200") << QStringList { "8", "N", "2", "115200" } << line(115200, 8, 'N', 4);
    QTest::newRow("5O1.5 1200") << QStringList { "5", "O", "2", "1200" } << line(1200, 5, 'O', 3);
    QTest::newRow("8 mark 4800") << QStringList { "8", "M", "1", "4800" } << line(4800, 8, 'M', 2);
    QTest::newRow("7 space 2400") << QStringList { "7", "S", "1", "2400" } << line(2400, 7, 'S', 2);
    QTest::newRow("6O2 at 250000, by TCSETS2")
            << QStringList { "6", "O", "2", "250000" } << line(250000, 6, 'O', 4);
}

void TestHostDevice::lineAsSet()
{
    QFETCH(QStringList, arguments);
    QFETCH(HostLineSettings, expected);
    VirtualPort cable;
    HostDevice device;
    QString error;
    QVERIFY2(cable.open(&error), qPrintable(error));
    QSignalSpy finished(&device, &HostDevice::finished);
    QVERIFY2(device.start(cable.hostPath(), kDevice,
                          QStringList { kPython, QStringLiteral("-c"), QLatin1String(kSetLine), kDevice }
                                  + arguments,
                          &error),
             qPrintable(error));
    QVERIFY(finished.wait(10000));
    QCOMPARE(finished.first().first().toInt(), 0);
    const HostLineSettings got = device.hostSettings();
    QVERIFY2(got == expected, qPrintable(QStringLiteral("%1 %2%3 stop/2=%4").arg(got.baud).arg(got.dataBits)
                                                 .arg(QLatin1Char(got.parity)).arg(got.stopHalfBits)));
}

QTEST_GUILESS_MAIN(TestHostDevice)
#include "tst_hostdevice.moc"
