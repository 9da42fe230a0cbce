#include "profile/seededrandom.h"
#include "sampleduart.h"
#include "serial/uartline.h"

#include <QTest>

#include <cstdio>

Q_DECLARE_METATYPE(UartFormat)
Q_DECLARE_METATYPE(UartReceiverFlags)

namespace {

// "9600 8N1", "19200 7E1.5": the notation of UartFormat::text().
UartFormat format(const char *text)
{
    UartFormat f;
    char stop[4] = {};
    std::sscanf(text, "%d %1d%c%3s", &f.baud, &f.dataBits, &f.parity, stop);
    f.stopHalfBits = qstrcmp(stop, "1") == 0 ? 2 : qstrcmp(stop, "1.5") == 0 ? 3 : 4;
    Q_ASSERT(f.isValid() && f.text() == QLatin1String(text));
    return f;
}

// termios names: "INPCK ISTRIP".
UartReceiverFlags flags(const QByteArray &names)
{
    const QList<QByteArray> set = names.split(' ');
    UartReceiverFlags f;
    f.ignoreParityErrors = set.contains("IGNPAR");
    f.markErrors = set.contains("PARMRK");
    f.checkParity = set.contains("INPCK");
    f.stripHighBit = set.contains("ISTRIP");
    f.ignoreBreak = set.contains("IGNBRK");
    return f;
}

// How pyserial leaves a port: INPCK and ISTRIP with parity, neither without.
UartReceiverFlags hostFlags(const UartFormat &host)
{
    return host.hasParity() ? flags("INPCK ISTRIP") : UartReceiverFlags {};
}

// Bytes sent back to back, then the line left idle; in two statements, as the operands of a
// + run in no set order.
QByteArray readAll(UartLine &line, const QByteArray &bytes)
{
    const QByteArray read = line.send(bytes, 0);
    return read + line.idle();
}

QByteArray everyByte(int times)
{
    QByteArray bytes;
    for (int i = 0; i < 256 * times; ++i)
        bytes.append(char(i));
    return bytes;
}

UartFormat randomFormat(Profile::Rng &rng, int baud)
{
    static const char kParities[] = "NEOMS";
    return { baud, int(rng.between(5, 8)), kParities[rng.between(0, 4)], int(rng.between(2, 4)) };
}

// A sender and a receiver: the same speed, another standard one, or one a few per mille off.
std::pair<UartFormat, UartFormat> randomPair(Profile::Rng &rng)
{
    static const int kSpeeds[] = { 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200 };
    static const int kPerMille[] = { -80, -60, -50, -40, -30, -20, -10, -5, 5, 10, 20, 30, 40, 50, 60, 80 };
    const UartFormat sender = randomFormat(rng, kSpeeds[rng.between(0, 7)]);
    UartFormat receiver = rng.chance(0.5) ? sender : randomFormat(rng, sender.baud);
    const qint64 pick = rng.between(0, 9);
    if (pick >= 7)
        receiver.baud = kSpeeds[rng.between(0, 7)];
    else if (pick >= 4)
        receiver.baud = int(qint64(sender.baud) * (1000 + kPerMille[rng.between(0, 15)]) / 1000);
    return { sender, receiver };
}

QByteArray randomBytes(Profile::Rng &rng, int count)
{
    QByteArray bytes;
    for (int i = 0; i < count; ++i)
        bytes.append(rng.chance(0.2) ? char(rng.chance(0.5) ? 0x00 : 0xFF) : char(rng.between(0, 255)));
    return bytes;
}

// Idle gaps from none to several frames, and ones shorter than a bit.
qint64 randomGap(Profile::Rng &rng, const UartFormat &sender)
{
    const qint64 pick = rng.between(0, 9);
    return pick < 5 ? 0 : pick < 8 ? rng.between(1, 2 * sender.byteNs()) : pick < 9 ? rng.between(1, 1'000'000'000 / sender.baud) : rng.between(0, 5 * sender.byteNs());
}

QString describe(const UartFormat &s, const UartFormat &r, const UartReceiverFlags &f)
{
    return QStringLiteral("%1 -> %2 IGNPAR=%3 PARMRK=%4 INPCK=%5 ISTRIP=%6 IGNBRK=%7")
        .arg(s.text(), r.text())
        .arg(f.ignoreParityErrors).arg(f.markErrors).arg(f.checkParity).arg(f.stripHighBit).arg(f.ignoreBreak);
}

bool clean(const UartLine &line) { return line.counters().framingErrors + line.counters().parityErrors + line.counters().breaks == 0; }

} // namespace

class tst_UartLine : public QObject
{
    Q_OBJECT

private slots:
    // 'A' = 0x41 sent 8N1 at 9600 is, LSB first, start 0, data 1000 0010, stop 1. Read at 19200
    // each sent bit lasts two received bits: 0 0 1 1 0 0 0 0 0 0 0 0 0 0 1 1 0 0 1 1 then idle.
    // The first frame takes 0 1 1 0 0 0 0 0 as data (0x06) and a space as stop (framing error),
    // waits for mark, starts again on the last data bit: 0 1 1 1 1 1 1 1 = 0xFE, stop at mark.
    // Read at 4800 a received half bit is a sent bit: the start bit's middle falls on d0 (mark,
    // no start); the next start is at d1, whose frame samples d2, d6, the stop bit and the
    // idle after it: 0 1 1 1 1 1 1 1 = 0xFE.
    // 7E1 "ABC\r\n" read as 8N1: the parity bit becomes bit 7, set where the byte has an odd
    // number of ones (C, \r). 8N1 read as 7E1: bit 7 (0) is taken for the parity, wrong where
    // the ones are odd; with INPCK the byte becomes 0x00, IGNPAR drops it, PARMRK marks it.
    void shouldReadAsARealLineDoes_data()
    {
        QTest::addColumn<UartFormat>("sender");
        QTest::addColumn<UartFormat>("receiver");
        QTest::addColumn<UartReceiverFlags>("flags");
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<QByteArray>("readHex");
        QTest::addColumn<int>("framingErrors");
        QTest::addColumn<int>("parityErrors");
        const UartFormat f9600 = format("9600 8N1");
        QTest::newRow("19200 reads 9600") << f9600 << format("19200 8N1") << flags("") << QByteArray("A") << QByteArray("06fe") << 1 << 0;
        QTest::newRow("19200 with INPCK") << f9600 << format("19200 8N1") << flags("INPCK") << QByteArray("A") << QByteArray("00fe") << 1 << 0;
        QTest::newRow("4800 reads 9600") << f9600 << format("4800 8N1") << flags("") << QByteArray("A") << QByteArray("fe") << 0 << 0;
        QTest::newRow("8N1 reads 7E1") << format("9600 7E1") << f9600 << flags("") << QByteArray("ABC\r\n") << QByteArray("4142c38d0a") << 0 << 0;
        QTest::newRow("7E1 reads 8N1") << f9600 << format("9600 7E1") << flags("INPCK ISTRIP") << QByteArray("ABC\r\n") << QByteArray("414200000a") << 0 << 2;
        QTest::newRow("IGNPAR") << f9600 << format("9600 7E1") << flags("INPCK IGNPAR") << QByteArray("ABC\r\n") << QByteArray("41420a") << 0 << 2;
        QTest::newRow("PARMRK") << f9600 << format("9600 7E1") << flags("INPCK PARMRK") << QByteArray("ABC\r\n") << QByteArray("4142ff0043ff000d0a") << 0 << 2;
        QTest::newRow("no INPCK") << f9600 << format("9600 7E1") << flags("IGNPAR PARMRK") << QByteArray("ABC\r\n") << QByteArray("4142430d0a") << 0 << 2;
        QTest::newRow("2 stop bits read as 1") << format("9600 8N2") << f9600 << flags("") << QByteArray("ABC\r\n") << QByteArray("4142430d0a") << 0 << 0;
    }
    void shouldReadAsARealLineDoes()
    {
        QFETCH(UartFormat, sender);
        QFETCH(UartFormat, receiver);
        QFETCH(UartReceiverFlags, flags);
        QFETCH(QByteArray, sent);
        UartLine line(sender, receiver, flags);
        QTEST(readAll(line, sent).toHex(), "readHex");
        QTEST(int(line.counters().framingErrors), "framingErrors");
        QTEST(int(line.counters().parityErrors), "parityErrors");
    }

    // Space for a whole frame, stop bit included, is a break; shorter is a byte.
    void shouldTellBreaksFromBytes_data()
    {
        QTest::addColumn<int>("spaceBits");
        QTest::addColumn<UartReceiverFlags>("flags");
        QTest::addColumn<QByteArray>("readHex");
        QTest::addColumn<int>("breaks");
        QTest::newRow("5 bits: d4..d7 at mark") << 5 << flags("INPCK") << QByteArray("f0") << 0;
        QTest::newRow("9 bits: 0x00, stop at mark") << 9 << flags("INPCK") << QByteArray("00") << 0;
        QTest::newRow("10 bits") << 10 << flags("") << QByteArray("00") << 1;
        QTest::newRow("IGNBRK") << 30 << flags("IGNBRK") << QByteArray() << 1;
        QTest::newRow("PARMRK") << 30 << flags("PARMRK") << QByteArray("ff0000") << 1;
        QTest::newRow("IGNPAR keeps it") << 30 << flags("INPCK IGNPAR") << QByteArray("00") << 1;
    }
    void shouldTellBreaksFromBytes()
    {
        QFETCH(int, spaceBits);
        QFETCH(UartReceiverFlags, flags);
        UartLine line(format("9600 8N1"), format("9600 8N1"), flags);
        QByteArray read = line.sendBreak(spaceBits * 1'000'000'000LL / 9600 + 1, 0);
        read += line.idle();
        QTEST(read.toHex(), "readHex");
        QTEST(int(line.counters().breaks), "breaks");
        QCOMPARE(line.counters().framingErrors, 0u);
    }

    // Sampled at the middle of its bits, an 8N1 frame read by a receiver clock r against the
    // sender's s stays in step while the stop bit's sample, 9.5 bits of r after the start,
    // lies in the sent stop bit, [9, 10) bits of s: s * 0.95 < r <= s * 9.5 / 9.
    // Over 100,000 bytes back to back no error builds up.
    void shouldReadCleanlyWithinTheTolerance_data()
    {
        QTest::addColumn<int>("senderBaud");
        QTest::addColumn<int>("receiverBaud");
        QTest::addColumn<bool>("clean");
        QTest::newRow("115200") << 115200 << 115200 << true;
        QTest::newRow("0.5 % slow") << 9650 << 9600 << true;
        QTest::newRow("0.5 % fast") << 9600 << 9650 << true;
        QTest::newRow("4 % fast") << 9600 << 10000 << true;
        QTest::newRow("-5 %, on the next start") << 9600 << 9120 << false;
        QTest::newRow("just inside -5 %") << 9600 << 9121 << true;
        QTest::newRow("just inside +5.56 %") << 9600 << 10133 << true;
        QTest::newRow("on the last data bit") << 9600 << 10134 << false;
    }
    void shouldReadCleanlyWithinTheTolerance()
    {
        QFETCH(int, senderBaud);
        QFETCH(int, receiverBaud);
        UartLine line({ senderBaud, 8, 'N', 2 }, { receiverBaud, 8, 'N', 2 });
        const QByteArray sent = everyByte(400);
        QTEST(readAll(line, sent) == sent && clean(line), "clean");
    }

    // Equal ends: every byte value arrives as sent, only ISTRIP and PARMRK's doubled 0xFF
    // changing it, with or without idle between the bytes.
    void shouldPassEveryByteWhenTransparent_data()
    {
        QTest::addColumn<UartFormat>("sender");
        QTest::addColumn<UartFormat>("receiver");
        QTest::addColumn<UartReceiverFlags>("flags");
        QTest::newRow("8N1") << format("9600 8N1") << format("9600 8N1") << flags("INPCK");
        QTest::newRow("receiver wants 2 stop bits") << format("115200 8N1") << format("115200 8N2") << flags("");
        QTest::newRow("7E1 ISTRIP") << format("19200 7E1") << format("19200 7E1.5") << flags("INPCK ISTRIP");
        QTest::newRow("PARMRK") << format("4800 8O1.5") << format("4800 8O1") << flags("INPCK PARMRK");
        QTest::newRow("PARMRK ISTRIP") << format("57600 8M2") << format("57600 8M1") << flags("PARMRK ISTRIP");
        QTest::newRow("5 bits") << format("1200 5S1") << format("1200 5S2") << flags("");
    }
    void shouldPassEveryByteWhenTransparent()
    {
        QFETCH(UartFormat, sender);
        QFETCH(UartFormat, receiver);
        QFETCH(UartReceiverFlags, flags);
        UartLine line(sender, receiver, flags);
        QVERIFY(line.transparent());
        Profile::Rng rng(3);
        QByteArray read;
        QByteArray expected;
        for (int b = 0; b < 256; ++b) {
            read += line.send(QByteArray(1, char(b)), rng.chance(0.5) ? 0 : rng.between(0, sender.byteNs()));
            const char c = char(b & ((1 << sender.dataBits) - 1) & (flags.stripHighBit ? 0x7F : 0xFF));
            expected += c == char(0xFF) && flags.markErrors ? QByteArray(2, c) : QByteArray(1, c);
        }
        QCOMPARE(read.toHex(), expected.toHex());
        QVERIFY(!UartLine(sender, { sender.baud + 1, sender.dataBits, sender.parity, 2 }).transparent());
    }

    // Thousands of random lines, each run through both models call by call.
    void shouldAgreeWithTheSampledLine()
    {
        Profile::Rng rng(20240611);
        for (int round = 0; round < 3000; ++round) {
            const auto [sender, receiver] = randomPair(rng);
            const UartReceiverFlags f { rng.chance(0.3), rng.chance(0.3), rng.chance(0.5), rng.chance(0.3), rng.chance(0.3) };
            UartLine line(sender, receiver, f);
            SampledUart sampled(sender, receiver, f);
            QString calls;
            const int count = int(rng.between(1, 6));
            for (int call = 0; call < count; ++call) {
                const qint64 pick = rng.between(0, 19);
                const qint64 gap = randomGap(rng, sender);
                QByteArray got, want;
                if (pick < 15) {
                    const QByteArray bytes = randomBytes(rng, int(rng.between(0, 6)));
                    calls += QStringLiteral(" send(%1,%2)").arg(QString::fromLatin1(bytes.toHex())).arg(gap);
                    got = line.send(bytes, gap);
                    want = sampled.send(bytes, gap);
                } else if (pick < 17) {
                    const qint64 length = rng.between(0, 3 * receiver.byteNs());
                    calls += QStringLiteral(" break(%1,%2)").arg(length).arg(gap);
                    got = line.sendBreak(length, gap);
                    want = sampled.sendBreak(length, gap);
                } else {
                    calls += QStringLiteral(" idle()");
                    got = line.idle();
                    want = sampled.idle();
                }
                if (got != want)
                    QFAIL(qPrintable(QStringLiteral("round %1, %2:%3 gave %4, sampled %5").arg(round)
                              .arg(describe(sender, receiver, f), calls, QString::fromLatin1(got.toHex()), QString::fromLatin1(want.toHex()))));
            }
            const UartLine::Counters &a = line.counters();
            const UartLine::Counters &b = sampled.counters;
            QVERIFY2(a.frames == b.frames && a.framingErrors == b.framingErrors && a.parityErrors == b.parityErrors && a.breaks == b.breaks,
                     qPrintable(QStringLiteral("round %1, %2:%3 counters").arg(round).arg(describe(sender, receiver, f), calls)));
        }
    }

    void shouldNotDependOnHowTheBytesAreSplit()
    {
        Profile::Rng rng(99);
        for (int round = 0; round < 300; ++round) {
            const auto [sender, receiver] = randomPair(rng);
            const QByteArray bytes = randomBytes(rng, 40);
            UartLine whole(sender, receiver, flags("INPCK PARMRK"));
            UartLine split(sender, receiver, flags("INPCK PARMRK"));
            const QByteArray once = readAll(whole, bytes);
            QByteArray pieces;
            for (qsizetype at = 0; at < bytes.size();) {
                const qsizetype n = rng.between(0, 5);
                pieces += split.send(bytes.mid(at, n), 0);
                at += n;
            }
            pieces += split.idle();
            QVERIFY2(once == pieces && whole.counters().frames == split.counters().frames,
                     qPrintable(QStringLiteral("%1 -> %2 of %3").arg(sender.text(), receiver.text(), QString::fromLatin1(bytes.toHex()))));
        }
    }
};

namespace {

// The table of docs/cable.md: "ABC\r\n" from the instrument as a host with other settings
// reads it, then how far the model's receiver clock can be off before a stream fails.
int printTable()
{
    const char *const rows[][2] = {
        { "19200 8N1", "9600 8N1" }, { "4800 8N1", "9600 8N1" }, { "9600 7E1", "9600 8N1" },
        { "9600 8N1", "9600 7E1" }, { "9600 7O1", "9600 7E1" }, { "9600 8N2", "9600 8N1" },
        { "9600 8N1", "9600 8N2" }, { "9650 8N1", "9600 8N1" }, { "10000 8N1", "9600 8N1" },
    };
    std::printf("| host | instrument | host reads (hex) | framing errors | parity errors |\n|---|---|---|---|---|\n");
    for (const auto &row : rows) {
        const UartFormat host = format(row[0]);
        UartLine line(format(row[1]), host, hostFlags(host));
        const QByteArray read = readAll(line, "ABC\r\n");
        std::printf("| %s | %s | %s | %llu | %llu |\n", row[0], row[1], read.isEmpty() ? "(nothing)" : read.toHex(' ').constData(),
                    line.counters().framingErrors, line.counters().parityErrors);
    }
    std::printf("\n| instrument | host speeds read cleanly | off by |\n|---|---|---|\n");
    for (const char *text : { "9600 8N1", "9600 7E1", "9600 8E1", "9600 8N2" }) {
        const UartFormat sender = format(text);
        QByteArray sent = everyByte(4);
        for (char &c : sent)
            c = char(c & ((1 << sender.dataBits) - 1));
        const auto cleanAt = [&](int baud) {
            UartFormat host = sender;
            host.baud = baud;
            UartLine line(sender, host);
            return readAll(line, sent) == sent && clean(line);
        };
        int low = sender.baud, high = sender.baud;
        while (cleanAt(low - 1))
            --low;
        while (cleanAt(high + 1))
            ++high;
        std::printf("| %s | %d to %d baud | %+.2f %% to %+.2f %% |\n", text, low, high, 100.0 * (low - sender.baud) / sender.baud,
                    100.0 * (high - sender.baud) / sender.baud);
    }
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc > 1 && qstrcmp(argv[1], "--print-table") == 0)
        return printTable();
    tst_UartLine test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_uartline.moc"
