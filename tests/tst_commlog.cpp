#include "log/commlog.h"
#include "platform/timestamp.h"

#include <QAbstractItemModelTester>
#include <QDateTime>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QThread>
#include <QtTest>

#include <deque>
#include <memory>

namespace {

// "[YYYY/MM/DD HH:MM:SS] " at the start of a line; captures the date and time.
const QRegularExpression kStamped(QStringLiteral("^\\[(\\d{4}/\\d{2}/\\d{2} \\d{2}:\\d{2}:\\d{2})\\] "));

QDateTime stampOf(const QByteArray &line)
{
    const QRegularExpressionMatch m = kStamped.match(QString::fromLatin1(line));
    return m.hasMatch() ? QDateTime::fromString(m.captured(1), QStringLiteral("yyyy/MM/dd HH:mm:ss"))
                        : QDateTime();
}

// Bytes after the "[stamp] " prefix.
QByteArray bodyOf(const QByteArray &line)
{
    return line.mid(22);
}

} // namespace

class TestCommLog : public QObject
{
    Q_OBJECT

private slots:
    // --- appending ---
    void shouldKeepCaptionLineBytesAsGiven();
    void shouldStampTextWithCurrentLocalTime();
    void shouldEncodeStampedTextInCodePage932();
    void shouldReplaceUnmappableCharactersOfStampedTextWithQuestionMarks();
    void shouldKeepRawLineBytesIncludingControls();

    // --- showing ---
    void shouldNameControlCharactersAsTheSettingsDo_data();
    void shouldNameControlCharactersAsTheSettingsDo();
    void shouldShowCommandAndAnswerOfAnExchangeApart_data();
    void shouldShowCommandAndAnswerOfAnExchangeApart();
    void shouldStoreAtOnceAndShowRowsInALaterBatch();
    void shouldStampEachSecondWithItsOwnLocalTime();

    // --- the cap ---
    void shouldKeepViewsInStepThroughBatchesAndDrops();
    void shouldHoldAMillionLinesUnderTheDefaultCap();
    void shouldKeepTheNewestLinesWithinTheByteCap();
};

void TestCommLog::shouldKeepCaptionLineBytesAsGiven()
{
    CommLog log;
    const QByteArray caption = QByteArray::fromHex("4B616C6F5F5253323332438356837E8385838C815B835E");
    log.appendLine(caption);
    QCOMPARE(log.lineCount(), 1);
    QCOMPARE(log.line(0), caption);
    QVERIFY(!kStamped.match(QString::fromLatin1(log.line(0))).hasMatch());
    QCOMPARE(log.line(1), QByteArray());
    QCOMPARE(log.line(-1), QByteArray());
}

void TestCommLog::shouldStampTextWithCurrentLocalTime()
{
    CommLog log;
    const QDateTime before = QDateTime::currentDateTime().addMSecs(-999);
    log.appendStamped(QStringLiteral("port opened"));
    const QDateTime after = QDateTime::currentDateTime();

    const QByteArray line = log.line(0);
    QVERIFY2(kStamped.match(QString::fromLatin1(line)).hasMatch(), line.constData());
    QCOMPARE(bodyOf(line), QByteArray("port opened"));
    const QDateTime stamp = stampOf(line);
    QVERIFY(stamp.isValid());
    QVERIFY2(stamp >= before && stamp <= after, qPrintable(stamp.toString(Qt::ISODate)));
}

void TestCommLog::shouldEncodeStampedTextInCodePage932()
{
    CommLog log;
    log.appendStamped(QStringLiteral("通信を開始しました。"));
    QCOMPARE(bodyOf(log.line(0)).toHex(' '),
             QByteArray::fromHex("92CA904D82F08A4A8E6E82B582DC82B582BD8142").toHex(' '));
    QVERIFY(log.displayText(0).endsWith(QStringLiteral("] 通信を開始しました。")));
}

void TestCommLog::shouldReplaceUnmappableCharactersOfStampedTextWithQuestionMarks()
{
    // On a thread of its own: the codec's per-thread state is touched by the refused character.
    QByteArray body;
    std::unique_ptr<QThread> thread(QThread::create([&] {
        CommLog log;
        log.appendStamped(QStringLiteral("A€B"));
        body = bodyOf(log.line(0));
    }));
    thread->start();
    QVERIFY(thread->wait(10000));
    QCOMPARE(body, QByteArray("A?B"));
}

void TestCommLog::shouldKeepRawLineBytesIncludingControls()
{
    CommLog log;
    const QByteArray raw("ABC\r\n\x06\0\xFF", 8);
    log.appendStampedBytes(raw);
    QCOMPARE(log.lineCount(), 1);
    QVERIFY(stampOf(log.line(0)).isValid());
    QCOMPARE(bodyOf(log.line(0)).toHex(' '), raw.toHex(' '));
}

void TestCommLog::shouldNameControlCharactersAsTheSettingsDo_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("shown");
    QTest::newRow("CR") << QByteArray("\r") << QStringLiteral("[CR]");
    QTest::newRow("LF") << QByteArray("\n") << QStringLiteral("[LF]");
    QTest::newRow("ACK") << QByteArray("\x06") << QStringLiteral("[ACK]");
    QTest::newRow("NUL") << QByteArray("\0", 1) << QStringLiteral("[NUL]");
    QTest::newRow("02 is SXT") << QByteArray("\x02") << QStringLiteral("[SXT]");
    QTest::newRow("US") << QByteArray("\x1F") << QStringLiteral("[US]");
    QTest::newRow("DEL") << QByteArray("\x7F") << QStringLiteral("[DEL]");
    QTest::newRow("space stays") << QByteArray(" ") << QStringLiteral(" ");
    QTest::newRow("text and controls") << QByteArray("ABC+\r+\n") << QStringLiteral("ABC+[CR]+[LF]");
    QTest::newRow("kanji stays") << QByteArray::fromHex("92CA0D") << QStringLiteral("通[CR]");
    QTest::newRow("trail byte 5B is no bracket") << QByteArray::fromHex("835B") << QStringLiteral("ゼ");
    QTest::newRow("lone lead byte at the end") << QByteArray("A\x81") << QStringLiteral("A[x81]");
    QTest::newRow("lead byte before a control") << QByteArray("\x81\r") << QStringLiteral("[x81][CR]");
    QTest::newRow("no character") << QByteArray("\x80\xA0\xFF") << QStringLiteral("[x80][xA0][xFF]");
}

void TestCommLog::shouldNameControlCharactersAsTheSettingsDo()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, shown);
    CommLog log;
    log.appendLine(bytes);
    QCOMPARE(log.displayText(0), shown);
    QCOMPARE(log.line(0), bytes); // the saved bytes stay real
}

void TestCommLog::shouldShowCommandAndAnswerOfAnExchangeApart_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("shown");
    QTest::newRow("command ends in a lead byte") << QByteArray("A\x81") << QByteArray("B\r\n")
                                                 << QStringLiteral("A[x81]→B[CR][LF]");
    QTest::newRow("answer ends in a lead byte") << QByteArray("Q") << QByteArray("\x01\x03\xE0")
                                                << QStringLiteral("Q→[SOH][EOT][xE0]");
}

void TestCommLog::shouldShowCommandAndAnswerOfAnExchangeApart()
{
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, answer);
    QFETCH(QString, shown);
    CommLog log;
    log.appendExchange(command, answer);
    QCOMPARE(log.displayText(0).mid(22), shown);
    QCOMPARE(bodyOf(log.line(0)), command + "\x81\xA8" + answer);
}

void TestCommLog::shouldStoreAtOnceAndShowRowsInALaterBatch()
{
    CommLog log;
    QSignalSpy appended(&log, &CommLog::lineAppended);
    QSignalSpy inserted(&log, &QAbstractItemModel::rowsInserted);
    log.appendLine("caption");
    log.appendStampedBytes(QByteArray("\x06", 1));
    log.appendStamped(QStringLiteral("done"));

    QCOMPARE(log.lineCount(), 3);
    QVERIFY(log.line(2).endsWith("] done"));
    QCOMPARE(appended.count(), 3);
    for (int i = 0; i < 3; ++i)
        QCOMPARE(appended.at(i).at(0).toInt(), i);
    QCOMPARE(log.rowCount(), 0);
    QVERIFY(inserted.isEmpty());

    QTRY_COMPARE(log.rowCount(), 3);
    QCOMPARE(inserted.count(), 1);
    QCOMPARE(inserted.at(0).at(1).toInt(), 0);
    QCOMPARE(inserted.at(0).at(2).toInt(), 2);
    QCOMPARE(log.rowCount(log.index(0)), 0);
    for (int row = 0; row < 3; ++row)
        QCOMPARE(log.data(log.index(row)).toString(), log.displayText(row));
    QVERIFY(log.data(log.index(1)).toString().endsWith(QStringLiteral("[ACK]")));
    QVERIFY(!log.data(log.index(0), Qt::EditRole).isValid());
    QVERIFY(!log.data(log.index(3)).isValid());

    log.appendLine("next");
    log.announceAppendedRows();
    QCOMPARE(inserted.count(), 2);
    QCOMPARE(inserted.at(1).at(1).toInt(), 3);
    QCOMPARE(log.rowCount(), 4);
}

// Appends and batches in random order; a view that rebuilds its rows from the signals alone
// must always show what the log holds, also when more than a block is dropped unseen.
void TestCommLog::shouldKeepViewsInStepThroughBatchesAndDrops()
{
    constexpr int keepLines = 5000;
    constexpr int total = 60000;
    CommLog log(keepLines);
    QAbstractItemModelTester tester(&log, QAbstractItemModelTester::FailureReportingMode::QtTest);
    std::deque<QString> view;
    connect(&log, &QAbstractItemModel::rowsInserted, this,
            [&](const QModelIndex &, int first, int last) {
                QCOMPARE(size_t(first), view.size());
                for (int row = first; row <= last; ++row)
                    view.push_back(log.data(log.index(row)).toString());
            });
    connect(&log, &QAbstractItemModel::rowsRemoved, this,
            [&](const QModelIndex &, int first, int last) {
                QCOMPARE(first, 0);
                view.erase(view.begin(), view.begin() + last + 1);
            });
    // Gaps of up to three blocks between batches, as when the event loop was held up.
    QRandomGenerator random(11);
    int nextBatch = 0;
    for (int i = 0; i < total; ++i) {
        log.appendLine(QByteArray::number(i));
        QVERIFY(log.lineCount() <= keepLines + CommLog::kBlockLines);
        QCOMPARE(log.droppedLines() + log.lineCount(), qint64(i) + 1);
        if (i == nextBatch) {
            log.announceAppendedRows();
            nextBatch += random.bounded(1, 3 * CommLog::kBlockLines);
        }
        QCOMPARE(size_t(log.rowCount()), view.size());
        QVERIFY(log.rowCount() <= log.lineCount());
    }
    log.announceAppendedRows();
    QVERIFY(log.droppedLines() > 0);
    QVERIFY(log.lineCount() >= keepLines);
    QCOMPARE(log.rowCount(), log.lineCount());
    for (int row = 0; row < log.lineCount(); ++row) {
        QCOMPARE(log.line(row).toLongLong(), log.droppedLines() + row);
        QCOMPARE(view[size_t(row)], QString::fromLatin1(log.line(row)));
    }
}

void TestCommLog::shouldStampEachSecondWithItsOwnLocalTime()
{
    // In the order a clock may give them: within a second, across it, set back, before 1970.
    const qint64 t = QDateTime(QDate(2005, 3, 9), QTime(23, 59, 58)).toMSecsSinceEpoch();
    Stamp::SecondCache cache;
    for (const qint64 ms :
         { t, t + 999, t + 1000, t + 1999, t + 2000, t - 1, t, qint64(-1), qint64(0) })
        QCOMPARE(cache.at(ms).toByteArray(),
                 Stamp::logStamp(QDateTime::fromMSecsSinceEpoch(ms)).toLatin1());
    QCOMPARE(cache.at(t + 2000).toByteArray(), QByteArray("[2005/03/10 00:00:00]"));
}

void TestCommLog::shouldHoldAMillionLinesUnderTheDefaultCap()
{
    CommLog log;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < CommLog::kDefaultKeepLines; ++i)
        log.appendLine(QByteArray::number(i));
    QVERIFY2(timer.elapsed() < 10000, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(log.lineCount(), CommLog::kDefaultKeepLines);
    QCOMPARE(log.droppedLines(), qint64(0));
    QCOMPARE(log.line(0), QByteArray("0"));
    QCOMPARE(log.line(CommLog::kBlockLines), QByteArray::number(CommLog::kBlockLines));
    QCOMPARE(log.line(log.lineCount() - 1), QByteArray::number(CommLog::kDefaultKeepLines - 1));
}

// A flood of long lines: the bytes, not the lines, bound the log, and what stays is the newest.
void TestCommLog::shouldKeepTheNewestLinesWithinTheByteCap()
{
    constexpr qint64 keepBytes = 64 * 1024;
    CommLog log(CommLog::kDefaultKeepLines, keepBytes);
    QAbstractItemModelTester tester(&log, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QRandomGenerator random(7);
    qint64 appended = 0;
    for (int i = 0; i < 3000; ++i) {
        const QByteArray line = QByteArray::number(i) + ' ' + QByteArray(random.bounded(1, 2000), 'x');
        log.appendLine(line);
        appended += line.size();
        QVERIFY2(log.heldBytes() <= keepBytes, qPrintable(QString::number(log.heldBytes())));
        QCOMPARE(log.line(log.lineCount() - 1), line);
        if (i % 100 == 0)
            log.announceAppendedRows();
    }
    QVERIFY(log.heldBytes() > keepBytes / 2);
    for (int row = 0; row < log.lineCount(); ++row)
        QCOMPARE(log.line(row).split(' ').first().toLongLong(), log.droppedLines() + row);
}

QTEST_GUILESS_MAIN(TestCommLog)
#include "tst_commlog.moc"
