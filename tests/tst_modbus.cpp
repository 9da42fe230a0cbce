#include "profile/checksums.h"
#include "profile/seededrandom.h"
#include "profilefixture.h"

#include <QTest>

#include <map>

using namespace Profile;

// Modbus RTU played from a profile's map, as a master sees it: the frames it cuts, the answers
// and exceptions it gets back, and the requests it gets no answer to.
class tst_Modbus : public QObject
{
    Q_OBJECT

private slots:
    void shouldFrameRequestsByTheirFunctionCodes_data();
    void shouldFrameRequestsByTheirFunctionCodes();
    void shouldAnswerAsTheStandardChecks_data();
    void shouldAnswerAsTheStandardChecks();
    void shouldAnswerRandomRequestsAsAModelSlave();
    void shouldGiveTheMapsAnswersTheFaultsBehaviour();
    void shouldRefuseMapsThatCannotPlay_data();
    void shouldRefuseMapsThatCannotPlay();
};

namespace {
constexpr qint64 kMs = 1'000'000;
// Bytes read at a millisecond.
using Reads = QList<std::pair<QByteArray, int>>;

QByteArray of(std::initializer_list<int> bytes)
{
    QByteArray out;
    for (const int b : bytes)
        out.append(char(b));
    return out;
}

// A frame with its CRC, computed here bit by bit.
QByteArray rtu(const QByteArray &hex)
{
    QByteArray frame = QByteArray::fromHex(hex);
    return frame + ProfileFixture::referenceChecksum("crc16_modbus", true, frame);
}

const QByteArray kMap = R"([[rule]]
regex = '\x05\x11..'
answer = "OK"
[modbus]
address = 5
holding = [{ at = [0, 9], value = "{= 1000 + addr }", writable = true },
    { at = 10, value = -2.4, type = "i16" }, { at = [20, 23], value = "{= 3 * 65536 + addr }", type = "u32" },
    { at = 30, value = 1.5, type = "f32", word_order = "low_first" }, { at = 40, value = 70000 }]
input = [{ at = 0, value = "{= error('sensor lost', 0) }" }]
coils = [{ at = [0, 9], value = "{= addr == 9 }", writable = true }]
)";
} // namespace

void tst_Modbus::shouldFrameRequestsByTheirFunctionCodes_data()
{
    // Reads at their millisecond; the frames handed out and the bytes dropped, in order.
    QTest::addColumn<Reads>("reads");
    QTest::addColumn<QByteArrayList>("frames");
    QTest::addColumn<QByteArrayList>("dropped");
    const QByteArray read = rtu("050300000002");
    const QByteArray write = rtu("0510000000020400010002");
    const QByteArray both = rtu("05170000000100050001020007");
    QTest::newRow("two requests in one read") << Reads { { read + write, 0 } }
                                             << QByteArrayList { read, write } << QByteArrayList {};
    QTest::newRow("a byte a millisecond") << [&] {
        Reads reads;
        for (int i = 0; i < both.size(); ++i)
            reads.append({ both.mid(i, 1), i });
        return reads;
    }() << QByteArrayList { both } << QByteArrayList {};
    QTest::newRow("the count byte waits") << Reads { { write.left(6), 0 }, { write.mid(6), 3 } }
                                          << QByteArrayList { write } << QByteArrayList {};
    QTest::newRow("the silence drops half a request")
        << Reads { { read.left(5), 0 }, { read, 10 } }
        << QByteArrayList { read } << QByteArrayList { read.left(5) };
    QTest::newRow("the silence ends an unknown function")
        << Reads { { rtu("052B0E0100"), 0 }, { read, 10 } }
        << QByteArrayList { rtu("052B0E0100"), read } << QByteArrayList {};
}

void tst_Modbus::shouldFrameRequestsByTheirFunctionCodes()
{
    QFETCH(Reads, reads);
    QFETCH(QByteArrayList, frames);
    QFETCH(QByteArrayList, dropped);
    const std::optional<Instrument> instrument = ProfileFixture::load(kMap);
    QVERIFY(instrument);
    const auto responder = ProfileFixture::play(*instrument);
    // 3.5 characters of 10 bits at 9600 bit/s: 3.65 ms.
    responder->setLineSpeed(9600);
    const std::unique_ptr<Framer> framer = responder->makeFramer();
    QByteArrayList cut;
    QByteArrayList lost;
    const auto take = [&](const std::vector<Frame> &out) {
        for (const Frame &frame : out)
            cut.append(frame.bytes);
        if (const QByteArray bytes = framer->takeDropped(); !bytes.isEmpty())
            lost.append(bytes);
    };
    for (const auto &[bytes, ms] : reads)
        take(framer->feed(bytes, ms * kMs));
    take(framer->expire(framer->deadlineNs()));
    QCOMPARE(cut, frames);
    QCOMPARE(lost, dropped);
}

void tst_Modbus::shouldAnswerAsTheStandardChecks_data()
{
    QTest::addColumn<QByteArray>("request");
    // The whole answer; empty: none, for the reason.
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("reason");
    const auto row = [](const char *name, const QByteArray &request, const QByteArray &answer) {
        QTest::newRow(name) << rtu(request) << (answer.isEmpty() ? answer : rtu(answer)) << QString();
    };
    row("read holding", "050300000003", "05030603E803E903EA");
    row("i16 rounded", "0503000A0001", "05030 2FFFE");
    row("u32 half pairs", "050300150002", "050304 00140003");
    row("f32 low word first", "0503001E0002", "050304 00003FC0");
    row("clamped", "050300280001", "050302FFFF");
    row("a hole in the range", "050300090003", "058302");
    row("count 126", "05030000007E", "058303");
    row("count before address", "0503FFFF0000", "058303");
    row("past the last address", "0503FFFF0002", "058302");
    row("bits", "0501000000 0A", "05010200 02");
    row("single register", "050600011234", "050600011234");
    row("not writable", "0506000A0001", "058602");
    row("coil value first", "050500631234", "058503");
    row("coil unmapped", "05050063FF00", "058502");
    row("coil on", "05050001FF00", "05050001FF00");
    row("coils", "050F0000000A02FF03", "050F0000000A");
    row("coils byte count", "050F0000000A01FF", "058F03");
    row("registers", "051000000002040001000 2", "05100000 0002");
    row("registers not writable", "0510000900020400000000", "059002");
    row("read/write writes first", "05170005000100050001 02ABCD", "051702ABCD");
    row("read/write write count", "0517000000010000007A F4" + QByteArray(488, '0'), "059703");
    row("no discrete table", "050200000001", "058201");
    row("unserved function", "0507", "058701");
    row("Lua fails", "050400000001", "058404");
    row("broadcast", "000600020007", "");
    QTest::newRow("a rule first") << rtu("0511") << QByteArray("OK") << QString();
    QTest::newRow("another slave") << rtu("060300000001") << QByteArray() << "slave 6, not 5";
    QTest::newRow("damaged CRC") << QByteArray::fromHex("0503000000010000") << QByteArray() << "CRC 0000";
}

void tst_Modbus::shouldAnswerAsTheStandardChecks()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, answer);
    QFETCH(QString, reason);
    const std::optional<Instrument> instrument = ProfileFixture::load(kMap);
    QVERIFY(instrument);
    const auto responder = ProfileFixture::play(*instrument);
    const Reply reply = responder->reply(request);
    QCOMPARE(reply.bytes.toHex(), answer.toHex());
    QCOMPARE(reply.matched, reason.isEmpty());
    QVERIFY2(reply.failure.contains(reason), qPrintable(reply.failure));
    // Exception 4 says why in the log.
    const std::vector<ScriptProblem> problems = responder->takeProblems();
    QCOMPARE(problems.size(), answer == rtu("058404") ? 1u : 0u);
    QVERIFY(problems.empty() || problems[0].message.contains("sensor lost"));
}

// Random requests, some damaged or for others, against a model of the map: holding 0-99 of
// 1000 + address (writable), 100-109 of 7 (read-only), coils 0-31; the model answers as the
// standard's checks say.
void tst_Modbus::shouldAnswerRandomRequestsAsAModelSlave()
{
    const std::optional<Instrument> instrument = ProfileFixture::load(
        "[modbus]\naddress = 9\nholding = [{ at = [0, 99], value = \"{= 1000 + addr }\", writable = true },"
        " { at = [100, 109], value = 7 }]\ncoils = [{ at = [0, 31], value = false, writable = true }]\n");
    QVERIFY(instrument);
    const auto responder = ProfileFixture::play(*instrument);
    std::map<int, int> words;
    std::map<int, int> bits;
    for (int a = 0; a < 110; ++a)
        words[a] = a < 100 ? 1000 + a : 7;
    for (int a = 0; a < 32; ++a)
        bits[a] = 0;
    const auto be = [](int word) { return of({ word >> 8, word & 0xFF }); };
    Rng rng(2024);
    for (int n = 0; n < 4000; ++n) {
        const int function = QList<int> { 1, 3, 5, 6, 15, 16, 23, 4, 43 }[int(rng.between(0, 8))];
        const bool registers = function != 1 && function != 5 && function != 15;
        const int first = int(rng.chance(0.05) ? rng.between(65500, 65535) : rng.between(0, registers ? 115 : 36));
        const int count = int(rng.chance(0.05) ? rng.between(0, 2100) : rng.between(1, registers ? 15 : 40));
        const quint8 slave = rng.chance(0.1) ? 0 : rng.chance(0.1) ? 8 : 9;
        QByteArray pdu = of({ function });
        QByteArray data;
        int most = 0;
        const bool write = function == 5 || function == 6 || function == 15 || function == 16;
        if (function == 5 || function == 6) {
            const int value = function == 6 ? int(rng.between(0, 65535))
                                            : QList<int> { 0, 0xFF00, 0x1234 }[int(rng.between(0, 2))];
            pdu += be(first) + be(value);
            data = be(value);
        } else {
            most = QList<int> { 0, 2000, 0, 125, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1968, 123 }.value(function, 125);
            pdu += be(first) + be(count);
            if (function == 15 || function == 16 || function == 23) {
                const int wrote = function == 23 ? int(rng.between(1, 3)) : count;
                for (int i = 0; i < (function == 15 ? (wrote + 7) / 8 : 2 * wrote); ++i)
                    data += char(rng.between(0, 255));
                if (function == 23)
                    pdu += be(first + 1) + be(wrote);
                pdu += char(data.size()) + data;
            }
        }
        const bool damaged = rng.chance(0.05);
        const bool done = !damaged && slave != 8;
        // The model: function, quantity (or a coil's value), address, then the work.
        std::map<int, int> &table = registers ? words : bits;
        const int span = function == 5 || function == 6 ? 1 : count;
        const int writeFrom = function == 23 ? first + 1 : first;
        const int writeCount = function == 23 ? int(data.size() / 2) : span;
        quint8 exception = 0;
        if (function == 4 || function == 43)
            exception = 1;
        else if ((function == 5 && data != be(0) && data != be(0xFF00)) || (most && (count < 1 || count > most))
                 || (function == 15 && data.size() != (count + 7) / 8))
            exception = 3;
        else if (first + span > (registers ? 110 : 32) || writeFrom + writeCount > (write || function == 23 ? 100 : 110))
            exception = 2;
        QByteArray expected = of({ slave, exception ? function | 0x80 : function });
        if (exception) {
            expected += char(exception);
        } else {
            for (int i = 0; done && i < (function == 23 ? writeCount : write ? span : 0); ++i)
                table[writeFrom + i] = function == 5 ? data[0] != 0
                    : function == 15 ? (quint8(data[i / 8]) >> (i % 8)) & 1
                    : quint8(data[2 * i]) << 8 | quint8(data[2 * i + 1]);
            if (write) {
                expected += pdu.mid(1, 4);
            } else if (registers) {
                expected += char(2 * count);
                for (int i = 0; i < count; ++i)
                    expected += be(table[first + i]);
            } else {
                QByteArray packed((count + 7) / 8, '\0');
                for (int i = 0; i < count; ++i)
                    packed[i / 8] = char(packed[i / 8] | table[first + i] << (i % 8));
                expected += char(packed.size()) + packed;
            }
        }
        QByteArray request = rtu((of({ slave }) + pdu).toHex());
        if (damaged)
            request[int(rng.between(0, request.size() - 1))] ^= char(1 << rng.between(0, 7));
        const Reply reply = responder->reply(request);
        const bool silent = damaged || slave != 9;
        QCOMPARE(reply.bytes.toHex(), silent ? QByteArray() : rtu(expected.toHex()).toHex());
    }
}

void tst_Modbus::shouldGiveTheMapsAnswersTheFaultsBehaviour()
{
    const std::optional<Instrument> instrument = ProfileFixture::load(
        "[faults]\ndelay_ms = 25\nchar_gap_ms = 2\ntruncate = { every = 2, keep = 3 }\n"
        "[modbus]\nholding = [{ at = 0, value = 9 }]\n");
    QVERIFY(instrument);
    const auto responder = ProfileFixture::play(*instrument);
    responder->setLineSpeed(9600);
    const Reply first = responder->reply(rtu("010300000001"));
    QCOMPARE(first.bytes, rtu("0103020009"));
    QCOMPARE(first.delayNs, 25 * kMs);
    QCOMPARE(first.byteGapNs, 2 * kMs);
    const Reply second = responder->reply(rtu("010300000001"));
    QCOMPARE(second.bytes, rtu("0103020009").left(3));
    QCOMPARE(second.faults, QStringList { "truncate" });
}

void tst_Modbus::shouldRefuseMapsThatCannotPlay_data()
{
    QTest::addColumn<QByteArray>("map");
    QTest::addColumn<QString>("problem");
    QTest::newRow("twice") << QByteArray("[[modbus.coils]]\nat = [0, 9]\n[[modbus.coils]]\nat = 9\n")
                           << "t.toml:6:6: address 9 of modbus.coils is mapped twice";
    QTest::newRow("half a pair") << QByteArray("[[modbus.input]]\nat = [0, 2]\ntype = \"f32\"\n")
                                 << "t.toml:4:6: 'at' must cover whole values";
    QTest::newRow("writable input") << QByteArray("[[modbus.input]]\nat = 0\nwritable = true\n")
                                    << "t.toml:5:1: unknown key 'writable'";
    QTest::newRow("framing") << QByteArray("[framing]\ngap_ms = 5\n")
                             << "t.toml:3:1: [framing] does not go with [modbus]";
}

void tst_Modbus::shouldRefuseMapsThatCannotPlay()
{
    QFETCH(QByteArray, map);
    QFETCH(QString, problem);
    QString error;
    QVERIFY(!loadProfileText("[modbus]\naddress = 1\n" + map, "t.toml", &error));
    QVERIFY2(error.contains(problem), qPrintable(error));
}

QTEST_GUILESS_MAIN(tst_Modbus)
#include "tst_modbus.moc"
