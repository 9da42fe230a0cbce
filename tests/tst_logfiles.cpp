#include "log/commlog.h"
#include "log/logfiles.h"
#include "oracle/cp932.h"
#include "oracle/records.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray quoted(const QByteArray &line)
{
    return '"' + line + "\"\r\n";
}

} // namespace

class TestLogFiles : public QObject
{
    Q_OBJECT

private slots:
    // --- names ---
    void shouldProposeFirstFreeNumberOfTheDay_data();
    void shouldProposeFirstFreeNumberOfTheDay();
    void shouldAddTxtExtensionUnlessNameEndsInLowerCaseTxt_data();
    void shouldAddTxtExtensionUnlessNameEndsInLowerCaseTxt();

    // --- folder ---
    void shouldCreateMissingLogFolder();
    void shouldFailWhenAFileIsInTheWayOfTheFolder();

    // --- saving ---
    void shouldSaveEachLineQuotedWithItsBytesUnchanged();
    void shouldSaveWhatAHostSentAsOneRecordThatReadsBack();
    void shouldSaveCaptionOnlyLogAsOneLine();
    void shouldReplaceAnExistingFile();
    void shouldRefuseReadOnlyFileAndLeaveItUnchanged();
    void shouldRefuseAPathInAMissingFolder();
    void shouldSaveEveryLineOfALargeLog();
};

void TestLogFiles::shouldProposeFirstFreeNumberOfTheDay_data()
{
    QTest::addColumn<QStringList>("existing");
    QTest::addColumn<QString>("proposed");
    QTest::newRow("empty folder") << QStringList {} << QStringLiteral("20050309-1.txt");
    QTest::newRow("after 1 and 2") << QStringList { "20050309-1.txt", "20050309-2.txt" } << QStringLiteral("20050309-3.txt");
    QTest::newRow("gap filled") << QStringList { "20050309-2.txt" } << QStringLiteral("20050309-1.txt");
    QTest::newRow("other days ignored") << QStringList { "20050308-1.txt", "20050310-1.txt" }
                                        << QStringLiteral("20050309-1.txt");
    QTest::newRow("folder of that name counts") << QStringList { "20050309-1.txt/" } << QStringLiteral("20050309-2.txt");
}

void TestLogFiles::shouldProposeFirstFreeNumberOfTheDay()
{
    QFETCH(QStringList, existing);
    QFETCH(QString, proposed);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    for (const QString &name : existing) {
        if (name.endsWith(u'/'))
            QVERIFY(QDir(dir.path()).mkdir(name.chopped(1)));
        else
            QVERIFY(writeBytes(dir.filePath(name), "x"));
    }
    QCOMPARE(LogFiles::proposedName(dir.path(), QDate(2005, 3, 9)), QDir(dir.path()).filePath(proposed));
}

void TestLogFiles::shouldAddTxtExtensionUnlessNameEndsInLowerCaseTxt_data()
{
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("written");
    QTest::newRow("no extension") << QStringLiteral("log") << QStringLiteral("log.txt");
    QTest::newRow("upper case") << QStringLiteral("a.TXT") << QStringLiteral("a.TXT.txt");
    QTest::newRow("already txt") << QStringLiteral("b.txt") << QStringLiteral("b.txt");
    QTest::newRow("other extension") << QStringLiteral("c.log") << QStringLiteral("c.log.txt");
    QTest::newRow("txt inside") << QStringLiteral("d.txt.bak") << QStringLiteral("d.txt.bak.txt");
    QTest::newRow("full path") << QStringLiteral("/tmp/LogData/e") << QStringLiteral("/tmp/LogData/e.txt");
}

void TestLogFiles::shouldAddTxtExtensionUnlessNameEndsInLowerCaseTxt()
{
    QFETCH(QString, chosen);
    QFETCH(QString, written);
    QCOMPARE(LogFiles::withTxtExtension(chosen), written);
}

void TestLogFiles::shouldCreateMissingLogFolder()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString folder = dir.filePath(LogFiles::folderName());
    QString error;
    QVERIFY2(LogFiles::ensureFolder(folder, &error), qPrintable(error));
    QVERIFY(QFileInfo(folder).isDir());
    // An existing folder is fine too.
    QVERIFY2(LogFiles::ensureFolder(folder, &error), qPrintable(error));
}

void TestLogFiles::shouldFailWhenAFileIsInTheWayOfTheFolder()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString folder = dir.filePath(LogFiles::folderName());
    QVERIFY(writeBytes(folder, "not a folder"));
    QString error;
    QVERIFY(!LogFiles::ensureFolder(folder, &error));
    QVERIFY2(error.contains(folder), qPrintable(error));
    QVERIFY(QFileInfo(folder).isFile());
    QCOMPARE(fileBytes(folder), QByteArray("not a folder"));
}

void TestLogFiles::shouldSaveEachLineQuotedWithItsBytesUnchanged()
{
    CommLog log;
    const QByteArray caption = QByteArray::fromHex("4B616C6F8356837E8385838C815B835E"); // "Kaloシミュレータ"
    log.appendLine(caption);
    log.appendStamped(QStringLiteral("通信を開始しました。"));
    log.appendStampedBytes(QByteArray("ABC\r\n\x06", 6));
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("20050309-1.txt"));

    QString error;
    QVERIFY2(LogFiles::save(log, path, &error), qPrintable(error));
    const QByteArray expected = quoted(caption) + quoted(log.line(1))
            + quoted(log.line(2).left(22) + "ABC[CR][LF][ACK]");
    QVERIFY(log.line(2).endsWith(QByteArray("] ABC\r\n\x06")));
    QCOMPARE(fileBytes(path).toHex(' '), expected.toHex(' '));
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList { QStringLiteral("20050309-1.txt") });
}

// A host that sends quotes, line ends and a stamp of its own gets them into one record of the
// line it sent; the tests' own reader gives back every byte of every line.
void TestLogFiles::shouldSaveWhatAHostSentAsOneRecordThatReadsBack()
{
    using Oracle::cp932;
    CommLog log;
    log.appendLine(cp932(QStringLiteral("Kaloシミュレータ")));
    log.appendStamped(QStringLiteral("通信を開始しました。"));
    const QList<QByteArray> sent {
        cp932(QStringLiteral("Z\"\r\n\"[2026/12/09 00:00:00] 通信を停止しました。\r\n"
                             "\"[2026/12/09 00:00:00] FAKE→OK")),
        QByteArray("\x7F[x5B]\x83\x5B\xED\x40\xB1\x80\xFF\x81"),
    };
    for (const QByteArray &bytes : sent)
        log.appendStampedBytes(bytes);
    log.appendExchange("A\x81", "B\r\n");
    log.appendStamped(QStringLiteral("間隔 \"x\" は数値でないため 1 秒で出力します"));
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("forged.txt"));
    QString error;
    QVERIFY2(LogFiles::save(log, path, &error), qPrintable(error));

    QByteArray saved = fileBytes(path);
    QCOMPARE(saved.count('\n'), qsizetype(log.lineCount()));
    for (qsizetype at = saved.indexOf("\n\"[") + 2; at > 1; at = saved.indexOf("\n\"[", at) + 2)
        saved.replace(at, 21, "[2005/03/09 12:00:00]");
    QCOMPARE(saved, fileBytes(QStringLiteral(KALO_TESTS_DIR "/golden/SavedLog.txt")));
    const std::optional<QList<Oracle::SavedLine>> lines = Oracle::savedLog(saved);
    QVERIFY(lines && lines->size() == log.lineCount());
    for (int i = 0; i < log.lineCount(); ++i)
        QCOMPARE(lines->at(i).text.toHex(' '), log.line(i).mid(i == 0 ? 0 : 22).toHex(' '));
}

void TestLogFiles::shouldSaveCaptionOnlyLogAsOneLine()
{
    CommLog log;
    log.appendLine("Kalo");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("only.txt"));
    QString error;
    QVERIFY2(LogFiles::save(log, path, &error), qPrintable(error));
    QCOMPARE(fileBytes(path), QByteArray("\"Kalo\"\r\n"));
}

void TestLogFiles::shouldReplaceAnExistingFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("old.txt"));
    QVERIFY(writeBytes(path, QByteArray(100000, 'x')));
    CommLog log;
    log.appendLine("new");
    QString error;
    QVERIFY2(LogFiles::save(log, path, &error), qPrintable(error));
    QCOMPARE(fileBytes(path), QByteArray("\"new\"\r\n"));
}

void TestLogFiles::shouldRefuseReadOnlyFileAndLeaveItUnchanged()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("locked.txt"));
    QVERIFY(writeBytes(path, "\"kept\"\r\n"));
    QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther)); // 0444
    CommLog log;
    log.appendLine("replacement");
    QString error;
    QVERIFY(!LogFiles::save(log, path, &error));
    QVERIFY2(error.contains(path), qPrintable(error));
    QCOMPARE(fileBytes(path), QByteArray("\"kept\"\r\n"));
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
}

void TestLogFiles::shouldRefuseAPathInAMissingFolder()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("LogData/20050309-1.txt"));
    CommLog log;
    log.appendLine("Kalo");
    QString error;
    QVERIFY(!LogFiles::save(log, path, &error));
    QVERIFY2(error.contains(path), qPrintable(error));
    QVERIFY(!QFile::exists(path));
}

void TestLogFiles::shouldSaveEveryLineOfALargeLog()
{
    constexpr int lines = 200000;
    CommLog log;
    QByteArray expected;
    for (int i = 0; i < lines; ++i) {
        const QByteArray line = "line " + QByteArray::number(i);
        const bool ended = i % 7 == 0;
        log.appendLine(ended ? line + "\r\n" : line);
        expected += quoted(ended ? line + "[CR][LF]" : line);
    }
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("big.txt"));
    QString error;
    QVERIFY2(LogFiles::save(log, path, &error), qPrintable(error));
    const QByteArray saved = fileBytes(path);
    QCOMPARE(saved.count("\"\r\n"), qsizetype(lines));
    QVERIFY(saved.endsWith(quoted("line " + QByteArray::number(lines - 1))));
    QCOMPARE(saved.size(), expected.size());
    QVERIFY(saved == expected);
}

QTEST_GUILESS_MAIN(TestLogFiles)
#include "tst_logfiles.moc"
