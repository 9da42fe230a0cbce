#include "answertemplate.h"
#include "notation.h"
#include "numberformat.h"

#include <QTest>

using namespace Profile;

// The byte-level pieces of profiles: the strict notation, checksums at known check values
// and number formats.
class tst_ProfileNotation : public QObject
{
    Q_OBJECT

private slots:
    void shouldReadNotation_data();
    void shouldReadNotation();
    void shouldExpandChecksums_data();
    void shouldExpandChecksums();
    void shouldFormatNumbers_data();
    void shouldFormatNumbers();
};

void tst_ProfileNotation::shouldReadNotation_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes"); // hex, or the error when it starts with "!"
    QTest::newRow("names") << "A[CR][LF]" << QByteArray("41 0d 0a");
    QTest::newRow("SXT EOT EXT as the dialog has them")
        << "[SXT][EOT][EXT]" << QByteArray("02 03 04");
    QTest::newRow("hex bytes, either case") << "[x00][xff][xA5]" << QByteArray("00 ff a5");
    QTest::newRow("a literal bracket") << "[x5B]]" << QByteArray("5b 5d");
    QTest::newRow("code page 932") << "ｱ測" << QByteArray("b1 91 aa");
    QTest::newRow("lower-case name") << "[cr]" << QByteArray("!unknown name [cr]");
    QTest::newRow("empty name") << "A[]" << QByteArray("!unknown name []");
    QTest::newRow("upper-case X") << "[X41]" << QByteArray("!unknown name [X41]");
    QTest::newRow("one hex digit") << "[x4]" << QByteArray("!unknown name [x4]");
}

void tst_ProfileNotation::shouldReadNotation()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QByteArray out;
    QString error;
    const bool ok = appendNotation(text, &out, &error);
    QCOMPARE(ok ? out.toHex(' ') : "!" + error.toUtf8(), bytes);
}

void tst_ProfileNotation::shouldExpandChecksums_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    // The check values of "123456789": sum 0x1DD, XOR 0x31, CRC-16/MODBUS 0x4B37.
    QTest::newRow("sum8") << "123456789{sum8}" << QByteArray("123456789DD");
    QTest::newRow("xor") << "123456789{xor}" << QByteArray("12345678931");
    QTest::newRow("lrc") << "123456789{lrc}" << QByteArray("12345678923");
    QTest::newRow("sum8 raw") << "123456789{sum8:bin}" << QByteArray("123456789\xDD");
    QTest::newRow("crc raw, low byte first")
        << "123456789{crc16_modbus}" << QByteArray("123456789\x37\x4B");
    QTest::newRow("crc hex, high first")
        << "123456789{crc16_modbus:hex}" << QByteArray("1234567894B37");
    QTest::newRow("a Modbus request") << "[x01][x03][x00][x00][x00][x02]{crc16_modbus}"
                                      << QByteArray::fromHex("010300000002C40B");
    QTest::newRow("over an earlier checksum") << "A{sum8:bin}{sum8:bin}" << QByteArray("A\x41\x82");
    QTest::newRow("from check_start") << "[SXT]{check_start}12[EXT]{xor}"
                                      << QByteArray("\x02"
                                                    "12\x04"
                                                    "07");
    QTest::newRow("nothing before")
        << "{crc16_modbus:hex}{check_start}{sum8}" << QByteArray("FFFF00");
    QTest::newRow("literal brace") << "{{sum8}" << QByteArray("{sum8}");
}

void tst_ProfileNotation::shouldExpandChecksums()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QString error;
    const std::optional<AnswerTemplate> answer = AnswerTemplate::parse(
        text, [](QStringView) { return -1; }, 0, &error);
    QVERIFY2(answer, qPrintable(error));
    ValueBank values;
    QByteArray out;
    answer->expand(values, {}, &out);
    QCOMPARE(out.toHex(' '), bytes.toHex(' '));
}

void tst_ProfileNotation::shouldFormatNumbers_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<double>("value");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("plain whole") << "" << 42.0 << QByteArray("42");
    QTest::newRow("plain fraction") << "" << 0.1 << QByteArray("0.1");
    QTest::newRow("signed, zero-padded") << "%+08.2f" << 100.0 << QByteArray("+0100.00");
    QTest::newRow("text around") << "%% %5.1f V" << -1.25 << QByteArray("%  -1.2 V");
    QTest::newRow("integer rounds") << "%04d" << 7.6 << QByteArray("0008");
    QTest::newRow("hex") << "%02X" << 254.0 << QByteArray("FE");
    QTest::newRow("exponent") << "%+.3E" << 5.0 << QByteArray("+5.000E+00");
    QTest::newRow("as text") << "[%-6s]" << 1.5 << QByteArray("[1.5   ]");
    QTest::newRow("big-endian 16") << "be16" << 1013.0 << QByteArray("\x03\xF5");
    QTest::newRow("little-endian 32") << "le32" << -2.0 << QByteArray("\xFE\xFF\xFF\xFF");
    QTest::newRow("u8 wraps") << "u8" << 257.0 << QByteArray("\x01");
}

void tst_ProfileNotation::shouldFormatNumbers()
{
    QFETCH(QString, format);
    QFETCH(double, value);
    QFETCH(QByteArray, bytes);
    QString error;
    const std::optional<NumberFormat> parsed = NumberFormat::parse(format, &error);
    QVERIFY2(parsed, qPrintable(error));
    QByteArray out;
    parsed->appendNumber(value, &out);
    QCOMPARE(out.toHex(' '), bytes.toHex(' '));
}

QTEST_GUILESS_MAIN(tst_ProfileNotation)
#include "tst_profilenotation.moc"
