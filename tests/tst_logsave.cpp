#include "platform/timestamp.h"
#include "runningwindow.h"

#include <QTest>

#include <sys/stat.h>

// Saving the log from the main window: the proposal, the dialog, and failures told.
class tst_LogSave : public QObject
{
    Q_OBJECT

private slots:
    void shouldProposeFirstFreeNameInLogFolder();
    void shouldSaveUnderChosenNameWithTxtRule_data();
    void shouldSaveUnderChosenNameWithTxtRule();
    void shouldWriteNothingWhenCancelled();
    void shouldReportFileThatCannotBeWritten();
    void shouldReportLogFolderThatCannotBeMade();
};

void tst_LogSave::shouldProposeFirstFreeNameInLogFolder()
{
    RunningWindow w;
    const QString logFolder = w.folder.file(QStringLiteral("LogData"));
    const QString day = Stamp::dayCode();
    w.button("cmdSAVE")->click();
    QVERIFY(QFileInfo(logFolder).isDir());
    QCOMPARE(w.fake.files.lastFolder, logFolder);
    QCOMPARE(w.fake.files.lastProposed, logFolder + QLatin1Char('/') + day + QStringLiteral("-1.txt"));
    QVERIFY(w.fake.files.lastFilter.endsWith(QStringLiteral("(*.txt)")));
    QVERIFY(w.fake.files.lastFilter.startsWith(QStringLiteral("(*.txt)")));

    w.fake.files.answer = w.fake.files.lastProposed;
    w.button("cmdSAVE")->click();
    w.button("cmdSAVE")->click();
    QCOMPARE(w.fake.files.lastProposed, logFolder + QLatin1Char('/') + day + QStringLiteral("-2.txt"));
}

void tst_LogSave::shouldSaveUnderChosenNameWithTxtRule_data()
{
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("written");
    QTest::newRow("no extension") << "log" << "log.txt";
    QTest::newRow("capital extension") << "a.TXT" << "a.TXT.txt";
    QTest::newRow("txt") << "b.txt" << "b.txt";
}

void tst_LogSave::shouldSaveUnderChosenNameWithTxtRule()
{
    QFETCH(QString, chosen);
    QFETCH(QString, written);
    RunningWindow w;
    w.log().appendStampedBytes("ABC+\r+\n\x81\xA8" "4569.12");
    w.fake.files.answer = w.folder.file(chosen);
    w.button("cmdSAVE")->click();
    QVERIFY(w.fake.messages.shown.isEmpty());
    const QByteArray file = w.folder.read(written);
    QCOMPARE(file, "\"caption\"\r\n\"" + w.log().line(1).left(22) + "ABC+[CR]+[LF]\x81\xA8" "4569.12\"\r\n");
}

void tst_LogSave::shouldWriteNothingWhenCancelled()
{
    RunningWindow w;
    w.fake.files.answer.clear();
    w.button("cmdSAVE")->click();
    QCOMPARE(w.fake.files.calls, 1);
    QCOMPARE(QDir(w.folder.file(QStringLiteral("LogData"))).entryList(QDir::Files).size(), 0);
    QVERIFY(w.fake.messages.shown.isEmpty());
}

void tst_LogSave::shouldReportFileThatCannotBeWritten()
{
    RunningWindow w;
    const QString target = w.folder.file(QStringLiteral("locked.txt"));
    w.folder.write(QStringLiteral("locked.txt"), "old contents");
    QVERIFY(::chmod(QFile::encodeName(target).constData(), 0444) == 0);
    w.fake.files.answer = target;
    w.button("cmdSAVE")->click();
    QCOMPARE(w.fake.messages.shown.size(), 1);
    QCOMPARE(w.fake.messages.shown.at(0).kind, QStringLiteral("warning"));
    QVERIFY(w.fake.messages.shown.at(0).text.contains(target));
    QCOMPARE(w.folder.read(QStringLiteral("locked.txt")), QByteArray("old contents"));
}

void tst_LogSave::shouldReportLogFolderThatCannotBeMade()
{
    RunningWindow w;
    // A file where the folder should be.
    w.folder.write(QStringLiteral("LogData"), "in the way");
    w.button("cmdSAVE")->click();
    QCOMPARE(w.fake.files.calls, 0);
    QCOMPARE(w.fake.messages.shown.size(), 1);
    QVERIFY(w.fake.messages.shown.at(0).text.contains(w.folder.file(QStringLiteral("LogData"))));
}

QTEST_MAIN(tst_LogSave)
#include "tst_logsave.moc"
