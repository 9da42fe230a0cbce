#include "profilefixture.h"

#include <QRegularExpression>
#include <QTest>

using namespace Profile;

// The profiles of examples/profiles load and answer as their comments say.
class tst_ProfileExamples : public QObject
{
    Q_OBJECT

private slots:
    void shouldStreamAndWeighLikeABalance();
    void shouldAnswerScpiLikeAMultimeter();
    void shouldAnswerModbusWithItsCrc();
};

namespace {
QByteArray withCrc(const QByteArray &hex)
{
    const QByteArray frame = QByteArray::fromHex(hex);
    return frame + ProfileFixture::referenceChecksum("crc16_modbus", true, frame);
}
} // namespace

void tst_ProfileExamples::shouldStreamAndWeighLikeABalance()
{
    const std::unique_ptr<Responder> balance = ProfileFixture::playExample("balance.toml");
    QVERIFY(balance);
    QVERIFY(balance->hasContinuous());
    const QRegularExpression shape(QStringLiteral("^(ST|US),([+-]\\d{5}\\.\\d{2}) (g|kg)\r\n$"));
    double previous = 100.0;
    int unstable = 0;
    for (int i = 0; i < 100; ++i) {
        const QRegularExpressionMatch text
            = shape.match(QString::fromLatin1(balance->continuousText()));
        QVERIFY2(text.hasMatch(), qPrintable(text.captured()));
        QVERIFY(qAbs(text.captured(2).toDouble() - previous) <= 0.02 + 0.01);
        previous = text.captured(2).toDouble();
        unstable += text.captured(1) == QLatin1String("US");
    }
    QCOMPARE(unstable, 20);

    const Reply weigh = balance->reply("Q\r\n");
    QCOMPARE(weigh.rule, QStringLiteral("weigh"));
    QVERIFY(shape.match(QString::fromLatin1(weigh.bytes)).hasMatch());
    QVERIFY(weigh.delayNs >= 20'000'000 && weigh.delayNs <= 60'000'000);
    QCOMPARE(balance->reply("U kg\r\n").bytes, QByteArray("OK\r\n"));
    QVERIFY(balance->reply("Q\r\n").bytes.endsWith(" kg\r\n"));
    QCOMPARE(balance->reply("U lb\r\n").bytes, QByteArray("EC,E01\r\n"));
}

void tst_ProfileExamples::shouldAnswerScpiLikeAMultimeter()
{
    const std::unique_ptr<Responder> meter = ProfileFixture::playExample("multimeter.toml");
    QVERIFY(meter);
    QCOMPARE(meter->reply("*IDN?\n").bytes, QByteArray("KALO,DMM-6500,0001,1.01\n"));
    for (const QByteArray &command : { QByteArray("READ?\n"), QByteArray("MEAS:VOLT:DC?\n") }) {
        const QByteArray reading = meter->reply(command).bytes;
        QVERIFY2(QRegularExpression(QStringLiteral("^[+-]\\d\\.\\d{6}E[+-]\\d\\d\n$"))
                     .match(QString::fromLatin1(reading))
                     .hasMatch(),
            reading.constData());
        QVERIFY(reading.toDouble() >= 4.995 && reading.toDouble() <= 5.005);
    }
    QCOMPARE(meter->reply("VOLT:DC:NPLC?\n").bytes, QByteArray("+1.00000000E+01\n"));
    const Reply set = meter->reply("VOLT:DC:NPLC 0.2\n");
    QVERIFY(set.matched && set.bytes.isEmpty());
    QCOMPARE(meter->reply("VOLT:DC:NPLC?\n").bytes, QByteArray("+2.00000000E-01\n"));
    QCOMPARE(meter->reply("VOLT:AC?\n").bytes, QByteArray("-113,\"Undefined header\"\n"));
}

void tst_ProfileExamples::shouldAnswerModbusWithItsCrc()
{
    const std::unique_ptr<Responder> transmitter = ProfileFixture::playExample("binary_crc.toml");
    QVERIFY(transmitter);
    const std::unique_ptr<Framer> framer = transmitter->makeFramer();
    const QByteArray request = withCrc("010300000002");
    const std::vector<Frame> frames = framer->feed(request + request.left(3), 0);
    QCOMPARE(frames.size(), size_t(1));

    const QByteArray first = transmitter->reply(frames[0].bytes).bytes;
    QCOMPARE(first.size(), 9);
    QVERIFY(first.startsWith(QByteArray::fromHex("01030403F5"))); // 1013 hPa to start with
    const int temperature = quint8(first[5]) * 256 + quint8(first[6]);
    QVERIFY(temperature >= 200 && temperature <= 260);
    QCOMPARE(first, withCrc(first.chopped(2).toHex()));

    QCOMPARE(transmitter->reply(withCrc("0106000501F4")).bytes, withCrc("0106000501F4"));
    QCOMPARE(transmitter->reply(withCrc("010300050001")).bytes, withCrc("01030201F4"));
    QCOMPARE(transmitter->reply(withCrc("010300090001")).bytes, withCrc("018302"));

    // Corruption loads switched off; switched on, about one answer in ten breaks its CRC.
    QVERIFY(transmitter->setFaultEnabled(QString(), FaultKind::Corrupt, true));
    int corrupted = 0;
    for (int i = 0; i < 1000; ++i) {
        const Reply reply = transmitter->reply(request);
        QCOMPARE(withCrc(reply.bytes.chopped(2).toHex()) == reply.bytes, reply.faults.isEmpty());
        corrupted += reply.faults == QStringList { QStringLiteral("corrupt") };
    }
    QVERIFY2(corrupted > 65 && corrupted < 135, qPrintable(QString::number(corrupted)));
}

QTEST_GUILESS_MAIN(tst_ProfileExamples)
#include "tst_profileexamples.moc"
