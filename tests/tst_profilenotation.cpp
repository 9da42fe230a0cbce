#include "profile/answertemplate.h"
#include "profile/clockformat.h"
#include "profile/numberformat.h"
#include "text/notation.h"

#include <QTest>

using namespace Profile;

enum class Piece { Notation, Template, Number, Clock };
Q_DECLARE_METATYPE(Piece)

// The byte-level pieces of profiles, each from its text to the exact bytes it writes: the
// strict notation, templates with checksums at known check values, number and clock formats.
class tst_ProfileNotation : public QObject
{
    Q_OBJECT

private slots:
    void shouldWriteTheBytesTheTextSays_data();
    void shouldWriteTheBytesTheTextSays();
};

namespace {
// What piece writes for text, or "!" and the reason it refuses the text. A number format
// writes value; a clock format the moment 2024-03-09 14:05:06.789 with value as the hour,
// which templates take for {date} and {time}.
QByteArray write(Piece piece, const QString &text, double value)
{
    QByteArray out;
    QString error;
    bool ok = true;
    if (piece == Piece::Notation) {
        ok = appendNotation(text, &out, &error);
    } else if (piece == Piece::Template) {
        const auto answer = AnswerTemplate::parse(text, [](QStringView) { return -1; }, 0, &error);
        ValueBank values;
        values.setWallClock([] { return QDateTime(QDate(2024, 3, 9), QTime(14, 5, 6, 789)); });
        const QList<QByteArray> captures;
        if ((ok = answer.has_value()))
            ok = answer->expand({ values, captures, nullptr }, &out, &error);
    } else if (piece == Piece::Number) {
        const std::optional<NumberFormat> format = NumberFormat::parse(text, &error);
        if ((ok = format.has_value()))
            format->appendNumber(value, &out);
    } else {
        const std::optional<ClockFormat> clock = ClockFormat::parse(text, &error);
        if ((ok = clock.has_value()))
            clock->append({ QDate(2024, 3, 9), QTime(int(value), 5, 6, 789) }, &out);
    }
    return ok ? out : "!" + error.toUtf8();
}
} // namespace

void tst_ProfileNotation::shouldWriteTheBytesTheTextSays_data()
{
    QTest::addColumn<Piece>("piece");
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("value");
    QTest::addColumn<QByteArray>("bytes");
    const auto row = [](const char *name, Piece piece, const QString &text,
                         const QByteArray &bytes, double value = 14) {
        QTest::newRow(name) << piece << text << value << bytes;
    };
    const Piece notation = Piece::Notation;
    row("names", notation, "A[CR][LF]", "A\r\n");
    row("SXT EOT EXT as the dialog has them", notation, "[SXT][EOT][EXT]", "\x02\x03\x04");
    row("hex bytes, either case", notation, "[x00][xff][xA5]", QByteArray::fromHex("00ffa5"));
    row("a literal bracket", notation, "[x5B]]", "[]");
    row("code page 932", notation, "ｱ測", "\xB1\x91\xAA");
    row("lower-case name", notation, "[cr]", "!unknown name [cr]");
    row("empty name", notation, "A[]", "!unknown name []");
    row("upper-case X", notation, "[X41]", "!unknown name [X41]");
    row("one hex digit", notation, "[x4]", "!unknown name [x4]");

    // The check values of "123456789": sum 0x1DD, XOR 0x31, CRC-16/MODBUS 0x4B37.
    const Piece answer = Piece::Template;
    row("sum8", answer, "123456789{sum8}", "123456789DD");
    row("xor", answer, "123456789{xor}", "12345678931");
    row("lrc", answer, "123456789{lrc}", "12345678923");
    row("sum8 raw", answer, "123456789{sum8:bin}", "123456789\xDD");
    row("crc raw, low byte first", answer, "123456789{crc16_modbus}", "123456789\x37\x4B");
    row("crc hex, high first", answer, "123456789{crc16_modbus:hex}", "1234567894B37");
    row("a Modbus request", answer, "[x01][x03][x00][x00][x00][x02]{crc16_modbus}",
        QByteArray::fromHex("010300000002C40B"));
    row("over an earlier checksum", answer, "A{sum8:bin}{sum8:bin}", "A\x41\x82");
    row("from check_start", answer, "[SXT]{check_start}12[EXT]{xor}", "\x02" "12\x04" "07");
    row("nothing before", answer, "{crc16_modbus:hex}{check_start}{sum8}", "FFFF00");
    row("literal brace", answer, "{{sum8}", "{sum8}");
    row("date and time as the log stamps them", answer, "{date} {time}", "2024/03/09 14:05:06");

    const Piece number = Piece::Number;
    row("plain whole", number, "", "42", 42.0);
    row("plain fraction", number, "", "0.1", 0.1);
    row("signed, zero-padded", number, "%+08.2f", "+0100.00", 100.0);
    row("text around", number, "%% %5.1f V", "%  -1.2 V", -1.25);
    row("integer rounds", number, "%04d", "0008", 7.6);
    row("hex", number, "%02X", "FE", 254.0);
    row("exponent", number, "%+.3E", "+5.000E+00", 5.0);
    row("as text", number, "[%-6s]", "[1.5   ]", 1.5);
    row("big-endian 16", number, "be16", "\x03\xF5", 1013.0);
    row("little-endian 32", number, "le32", "\xFE\xFF\xFF\xFF", -2.0);
    row("u8 wraps", number, "u8", "\x01", 257.0);

    const Piece clock = Piece::Clock;
    row("every field", clock, "%Y %y %m %d %H %I %M %S %p %j %L %%",
        "2024 24 03 09 14 02 05 06 PM 069 789 %");
    row("midnight on the 12-hour clock", clock, "%H %I%p", "00 12AM", 0);
    row("noon on the 12-hour clock", clock, "%H %I%p", "12 12PM", 12);
    row("text in code page 932", clock, "%H時", "14\x8E\x9E");
    row("a lone percent sign", clock, "%H%",
        "!clock format '%H%' knows %Y %y %m %d %H %I %M %S %p %j %L and %%");
}

void tst_ProfileNotation::shouldWriteTheBytesTheTextSays()
{
    QFETCH(Piece, piece);
    QFETCH(QString, text);
    QFETCH(double, value);
    QFETCH(QByteArray, bytes);
    QCOMPARE(write(piece, text, value), bytes);
}

QTEST_GUILESS_MAIN(tst_ProfileNotation)
#include "tst_profilenotation.moc"
