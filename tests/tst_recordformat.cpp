#include "settings/recordformat.h"
#include "settings/settingsfiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using RecordFormat::Reader;

namespace {

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

QList<QByteArray> readAll(const QByteArray &data)
{
    Reader reader(data);
    QList<QByteArray> fields;
    QByteArray field;
    while (reader.readField(&field))
        fields.append(field);
    return fields;
}

// The protocol record of the instrument's manual, field by field.
ProtocolSettings exampleProtocol()
{
    ProtocolSettings p;
    p.OutputType = QStringLiteral("0");
    p.IntervalSeconds = QStringLiteral("1");
    p.ContinuousOutputText = QStringLiteral("99.99");
    p.OutputDataText = { QStringLiteral("4569.12"), QStringLiteral("49.12cm"), {}, {}, {} };
    p.DeviceCommandText = { QStringLiteral("ABC+[CR]+[LF]"), QStringLiteral("[ACK]+ODF+[NCK]"), {}, {}, {} };
    return p;
}

const QByteArray kExampleLine = "\"0\",\"1\",\"99.99\",\"4569.12\",\"49.12cm\",\"\",\"\",\"\","
                                "\"ABC+[CR]+[LF]\",\"[ACK]+ODF+[NCK]\",\"\",\"\",\"\"\r\n";

} // namespace

class TestRecordFormat : public QObject
{
    Q_OBJECT

private slots:
    // --- writing ---
    void shouldWriteRecordByteExact_data();
    void shouldWriteRecordByteExact();
    void shouldWriteProtocolRecordInFieldOrder();
    void shouldListCommandTableFieldsInFileOrder();

    // --- reading ---
    void shouldReadBackAnyFieldUnchanged_data();
    void shouldReadBackAnyFieldUnchanged();
    void shouldParseFieldsFromText_data();
    void shouldParseFieldsFromText();
    void shouldLeaveDestinationsPastTheDataUntouched();
    void shouldReadSeveralRecordsFromOneBuffer();
    void shouldBeAtEndWhenOnlyLineEndsRemain();

    // --- settings files ---
    void shouldKeepLastRecordInForceUnlessFirstOnly();
    void shouldDecodeCodePage932TextFields();
    void shouldWriteRecordFileAtomicallyAndByteExact();
    void shouldRefuseReadOnlyRecordFileAndLeaveItUnchanged();
    void shouldFailNamingThePathWhenTheFolderIsMissing();
};

void TestRecordFormat::shouldWriteRecordByteExact_data()
{
    QTest::addColumn<QList<QByteArray>>("fields");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("comm settings") << QList<QByteArray> { "1", "9600", "N", "8", "1" }
                                   << QByteArray::fromHex("2231222C2239363030222C224E222C2238222C2231220D0A");
    QTest::newRow("one field") << QList<QByteArray> { "1" } << QByteArray::fromHex("2231220D0A");
    QTest::newRow("empty field") << QList<QByteArray> { "" } << QByteArray("\"\"\r\n");
    QTest::newRow("empty fields") << QList<QByteArray> { "", "a", "" } << QByteArray("\"\",\"a\",\"\"\r\n");
    QTest::newRow("raw bytes kept") << QList<QByteArray> { QByteArray("\x06\r\n\0,", 5) }
                                    << QByteArray("\"\x06\r\n\0,\"\r\n", 9);
}

void TestRecordFormat::shouldWriteRecordByteExact()
{
    QFETCH(QList<QByteArray>, fields);
    QFETCH(QByteArray, bytes);
    QCOMPARE(RecordFormat::writeRecord(fields).toHex(' '), bytes.toHex(' '));
}

void TestRecordFormat::shouldWriteProtocolRecordInFieldOrder()
{
    QList<QByteArray> values;
    QVERIFY(SettingsFiles::encodeFields(SettingsFiles::constFieldsOf(exampleProtocol()), &values));
    QCOMPARE(values.size(), 13);
    QCOMPARE(RecordFormat::writeRecord(values), kExampleLine);

    ProtocolSettings read;
    QCOMPARE(SettingsFiles::readTextRecords(kExampleLine, SettingsFiles::fieldsOf(read), false), 1);
    const ProtocolSettings expected = exampleProtocol();
    QCOMPARE(read.OutputType, expected.OutputType);
    QCOMPARE(read.IntervalSeconds, expected.IntervalSeconds);
    QCOMPARE(read.ContinuousOutputText, expected.ContinuousOutputText);
    for (int i = 0; i < kPatternCount; ++i) {
        QCOMPARE(read.OutputDataText[i], expected.OutputDataText[i]);
        QCOMPARE(read.DeviceCommandText[i], expected.DeviceCommandText[i]);
    }
}

void TestRecordFormat::shouldListCommandTableFieldsInFileOrder()
{
    DeviceCommandTable table;
    table.ContinuousOutputBytes = "C";
    for (int i = 0; i < kPatternCount; ++i) {
        table.DeviceCommandBytes[i] = "D" + QByteArray::number(i);
        table.OutputDataBytes[i] = "O" + QByteArray::number(i);
    }
    const QList<QByteArray> order { "C", "D0", "D1", "D2", "D3", "D4", "O0", "O1", "O2", "O3", "O4" };
    QCOMPARE(SettingsFiles::fieldValues(table), order);

    // Reading the written record fills the same members again.
    DeviceCommandTable read;
    Reader reader(RecordFormat::writeRecord(order));
    QCOMPARE(reader.readFields(SettingsFiles::fieldsOf(read)), order.size());
    QCOMPARE(SettingsFiles::fieldValues(read), order);
}

void TestRecordFormat::shouldReadBackAnyFieldUnchanged_data()
{
    QTest::addColumn<QByteArray>("field");
    QTest::newRow("CR") << QByteArray("a\rb");
    QTest::newRow("LF") << QByteArray("a\nb");
    QTest::newRow("CR LF") << QByteArray("ABC\r\n");
    QTest::newRow("only CR LF") << QByteArray("\r\n");
    QTest::newRow("commas") << QByteArray(",a,,b,");
    QTest::newRow("NUL bytes") << QByteArray("\0x\0", 3);
    QTest::newRow("blanks") << QByteArray("  a  ");
    QTest::newRow("control bytes") << QByteArray("\x02\x06\x15\x7F");
    QTest::newRow("code page 932") << QByteArray::fromHex("835C955C92CA");
    QTest::newRow("empty") << QByteArray();
}

void TestRecordFormat::shouldReadBackAnyFieldUnchanged()
{
    QFETCH(QByteArray, field);
    const QList<QByteArray> record { "before", field, "after" };
    const QByteArray data = RecordFormat::writeRecord(record);
    QCOMPARE(readAll(data + data), record + record);
}

void TestRecordFormat::shouldParseFieldsFromText_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QList<QByteArray>>("fields");
    QTest::newRow("blanks before fields") << QByteArray("  \"a\", \t\"b\"\r\n") << QList<QByteArray> { "a", "b" };
    QTest::newRow("unquoted to comma and line end") << QByteArray("abc,d e\r\nf") << QList<QByteArray> { "abc", "d e", "f" };
    QTest::newRow("unquoted trimmed") << QByteArray(" 12 , 34 \r\n") << QList<QByteArray> { "12", "34" };
    QTest::newRow("unquoted empty between commas") << QByteArray("a,,b") << QList<QByteArray> { "a", "", "b" };
    QTest::newRow("missing closing quote") << QByteArray("\"a\",\"bc\r\nd") << QList<QByteArray> { "a", "bc\r\nd" };
    QTest::newRow("text after closing quote") << QByteArray("\"a\"xy,\"b\"") << QList<QByteArray> { "a", "b" };
    QTest::newRow("empty lines between") << QByteArray("\"a\"\r\n\r\n\n\"b\"\r\n") << QList<QByteArray> { "a", "b" };
    QTest::newRow("LF line ends") << QByteArray("\"a\"\n\"b\"\n") << QList<QByteArray> { "a", "b" };
    QTest::newRow("CR line ends") << QByteArray("\"a\"\r\"b\"\r") << QList<QByteArray> { "a", "b" };
    QTest::newRow("nothing") << QByteArray(" \r\n ") << QList<QByteArray> {};
}

void TestRecordFormat::shouldParseFieldsFromText()
{
    QFETCH(QByteArray, data);
    QFETCH(QList<QByteArray>, fields);
    QCOMPARE(readAll(data), fields);
}

void TestRecordFormat::shouldLeaveDestinationsPastTheDataUntouched()
{
    QByteArray a = "old", b = "old", c = "old", d = "old";
    Reader reader("\"x\",\"\"\r\n");
    QCOMPARE(reader.readFields({ &a, &b, &c, &d }), 2);
    QCOMPARE(a, QByteArray("x"));
    QCOMPARE(b, QByteArray(""));
    QCOMPARE(c, QByteArray("old"));
    QCOMPARE(d, QByteArray("old"));
    QVERIFY(reader.atEnd());
}

void TestRecordFormat::shouldReadSeveralRecordsFromOneBuffer()
{
    const QByteArray data = RecordFormat::writeRecord({ "1", "a\r\nb" }) + RecordFormat::writeRecord({ "2", "c,d" });
    Reader reader(data);
    QByteArray first, second;
    QCOMPARE(reader.readFields({ &first, &second }), 2);
    QCOMPARE(first, QByteArray("1"));
    QCOMPARE(second, QByteArray("a\r\nb"));
    QVERIFY(!reader.atEnd());
    QCOMPARE(reader.readFields({ &first, &second }), 2);
    QCOMPARE(first, QByteArray("2"));
    QCOMPARE(second, QByteArray("c,d"));
    QVERIFY(reader.atEnd());
    QVERIFY(!reader.readField(&first));
    QCOMPARE(first, QByteArray("2"));
}

void TestRecordFormat::shouldBeAtEndWhenOnlyLineEndsRemain()
{
    Reader reader("\"a\"\r\n \r\n\t\n");
    QVERIFY(!reader.atEnd());
    QByteArray field;
    QVERIFY(reader.readField(&field));
    QVERIFY(reader.atEnd());
    QVERIFY(Reader(QByteArray()).atEnd());
}

void TestRecordFormat::shouldKeepLastRecordInForceUnlessFirstOnly()
{
    const QByteArray data = RecordFormat::writeRecord({ "1", "9600", "N", "8", "1" })
            + RecordFormat::writeRecord({ "3", "19200", "E", "7", "2" })
            + RecordFormat::writeRecord({ "5" });

    CommSettings last;
    QCOMPARE(SettingsFiles::readTextRecords(data, SettingsFiles::fieldsOf(last), false), 3);
    // The partial last record replaces only the fields it holds.
    QCOMPARE(last.settingsString(), QStringLiteral("19200,E,7,2"));
    QCOMPARE(last.PortNumber, QStringLiteral("5"));

    CommSettings first;
    QCOMPARE(SettingsFiles::readTextRecords(data, SettingsFiles::fieldsOf(first), true), 1);
    QCOMPARE(first.PortNumber, QStringLiteral("1"));
    QCOMPARE(first.settingsString(), QStringLiteral("9600,N,8,1"));
}

void TestRecordFormat::shouldDecodeCodePage932TextFields()
{
    const QByteArray data = RecordFormat::writeRecord(
            { QByteArray::fromHex("92CA904D82F08A4A8E6E82B582DC82B582BD8142"), QByteArray::fromHex("835CC0B2CCDF") });
    QString a, b;
    QCOMPARE(SettingsFiles::readTextRecords(data, { &a, &b }, false), 1);
    QCOMPARE(a, QStringLiteral("通信を開始しました。"));
    QCOMPARE(b, QStringLiteral("ソﾀｲﾌﾟ"));
}

void TestRecordFormat::shouldWriteRecordFileAtomicallyAndByteExact()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("ACSet.txt"));
    QString error;
    QVERIFY2(SettingsFiles::writeRecordFile(path, { "1", "9600", "N", "8", "1" }, &error), qPrintable(error));
    QCOMPARE(fileBytes(path), QByteArray("\"1\",\"9600\",\"N\",\"8\",\"1\"\r\n"));

    // A second write replaces the whole file and leaves no temporary file behind.
    QVERIFY2(SettingsFiles::writeRecordFile(path, { "2" }, &error), qPrintable(error));
    QCOMPARE(fileBytes(path), QByteArray("\"2\"\r\n"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList { QStringLiteral("ACSet.txt") });
}

void TestRecordFormat::shouldRefuseReadOnlyRecordFileAndLeaveItUnchanged()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("PROTcol.txt"));
    const QByteArray old = "\"old\"\r\n";
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(old), old.size());
    }
    QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther)); // 0444
    QString error;
    QVERIFY(!SettingsFiles::writeRecordFile(path, { "new" }, &error));
    QVERIFY2(error.contains(path), qPrintable(error));
    QCOMPARE(fileBytes(path), old);
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
}

void TestRecordFormat::shouldFailNamingThePathWhenTheFolderIsMissing()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("missing/ACSet.txt"));
    QString error;
    QVERIFY(!SettingsFiles::writeRecordFile(path, { "1" }, &error));
    QVERIFY2(error.contains(path), qPrintable(error));
    QVERIFY(!QFile::exists(path));
}

QTEST_GUILESS_MAIN(TestRecordFormat)
#include "tst_recordformat.moc"
