#include "fakeservices.h"
#include "hostflood.h"
#include "log/commlog.h"
#include "log/logfiles.h"
#include "measure.h"
#include "platform/appfolder.h"
#include "runningwindow.h"
#include "settings/recordformat.h"
#include "settings/settingsfiles.h"
#include "settings_dialog/frmoption.h"
#include "startup/startup.h"
#include "text/ansicodec.h"

#include <QTemporaryFile>
#include <QTimer>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTest>

#include <csignal>
#include <grp.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

// What goes wrong outside the program: vanished devices, hand-edited files, full disks,
// read-only folders, a kill in the middle of saving, a host that floods the line.
class tst_Faults : public QObject
{
    Q_OBJECT

private:
    // Runs body in a child process and returns its exit status; the child's file-size
    // limit makes every write past `limit` bytes fail, as on a full disk.
    template<typename Body>
    static int inChildWithFileLimit(rlim_t limit, Body body)
    {
        const pid_t pid = fork();
        if (pid == 0) {
            std::signal(SIGXFSZ, SIG_IGN);
            rlimit r { limit, limit };
            setrlimit(RLIMIT_FSIZE, &r);
            _exit(body() ? 0 : 1);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void shouldStartAndOpenDialogWithHandEditedFiles_data();
    void shouldStartAndOpenDialogWithHandEditedFiles();
    void shouldReadUtf8OnlyAfterByteOrderMark();
    void shouldLogVanishedDeviceWhileHandlerWaits();
    void shouldRefuseDeviceWithoutPermission();
    void shouldKeepWholeFilesWhenKilledWhileSaving();
    void shouldKeepOldFilesWhenDiskIsFull();
    void shouldFallBackToUserFolderWhenAppFolderIsReadOnly();
    void shouldKeepSettingsOfInstalledProgramInUserFolder();
    void shouldStayBoundedUnderFlood_data();
    void shouldStayBoundedUnderFlood();
    void shouldStopAtOnceAtIntervalZero();
};

void tst_Faults::shouldStartAndOpenDialogWithHandEditedFiles_data()
{
    QTest::addColumn<QByteArray>("comm");
    QTest::addColumn<QByteArray>("protocol");
    QByteArray binary(8192, '\0');
    for (int i = 0; i < binary.size(); ++i)
        binary[i] = char(QRandomGenerator::global()->bounded(256));
    QTest::newRow("binary garbage") << binary << binary;
    QTest::newRow("10 MB") << QByteArray(10 << 20, 'x') << QByteArray(10 << 20, '"');
    QTest::newRow("missing closing quote") << QByteArray("\"1\",\"9600\",\"N\",\"8\",\"1")
                                           << QByteArray("\"0\",\"1\",\"99.99");
    QTest::newRow("words for numbers") << QByteArray("\"COM1\",\"fast\",\"none\",\"eight\",\"one\"\r\n")
                                       << QByteArray("\"continuous\",\"soon\",\"99.99\"\r\n");
    QTest::newRow("byte-order mark") << QByteArray("\xEF\xBB\xBF\"1\",\"9600\",\"N\",\"8\",\"1\"\r\n")
                                     << QByteArray("\xEF\xBB\xBF") + SettingsFolder::defaultProtocol();
    QTest::newRow("UTF-8 text") << SettingsFolder::defaultComm()
                                << QByteArray("\"1\",\"1\",\"９９円\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\"\r\n");
}

void tst_Faults::shouldStartAndOpenDialogWithHandEditedFiles()
{
    QFETCH(QByteArray, comm);
    QFETCH(QByteArray, protocol);
    PtyPair pty;
    SettingsFolder folder;
    folder.writeDefaults(pty.slavePath());
    folder.write(QStringLiteral("ACSet.txt"), comm);
    folder.write(QStringLiteral("PROTcol.txt"), protocol);
    folder.write(QStringLiteral("SOUCHICMD.txt"), protocol);
    FakeServices fake;
    Startup startup(folder.path(), fake.services());
    QVERIFY(startup.Main());
    QVERIFY(startup.mainWindow()->isVisible());
    QVERIFY(fake.messages.shown.isEmpty());

    startup.mainWindow()->findChild<QPushButton *>(QStringLiteral("cmd"))->click();
    QVERIFY(startup.settingsDialog()->isVisible());
    startup.settingsDialog()->findChild<QPushButton *>(QStringLiteral("Command2"))->click();

    // Start and Stop still do all their steps, whatever the files held.
    QTimer::singleShot(300, startup.mainWindow()->findChild<QPushButton *>(QStringLiteral("cmdSTOP")),
                       &QPushButton::click);
    startAndServeRun(startup.mainWindow(), startup.mainWindow()->log());
    QTest::qWait(400);
    QVERIFY(startup.mainWindow()->findChild<QPushButton *>(QStringLiteral("cmdSend"))->isEnabled());
    const CommLog &log = startup.mainWindow()->log();
    int started = 0, stopped = 0;
    for (int i = 0; i < log.lineCount(); ++i) {
        started += log.line(i).endsWith(Ansi::encodeLossy(CommSession::startedLine()));
        stopped += log.line(i).endsWith(Ansi::encodeLossy(CommSession::stoppedLine()));
    }
    QCOMPARE(started, 1);
    QCOMPARE(stopped, 1);
}

void tst_Faults::shouldReadUtf8OnlyAfterByteOrderMark()
{
    SettingsFolder folder;
    folder.linkMissingCom1();
    folder.write(QStringLiteral("PROTcol.txt"),
                 "\xEF\xBB\xBF\"0\",\"1\",\"測定値\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\"\r\n");
    folder.write(QStringLiteral("ACSet.txt"), "\xEF\xBB\xBF\"1\",\"4800\",\"N\",\"8\",\"1\"\r\n");
    SettingsRecords records;
    SerialComm port;
    LoadSettings(records, port, folder.path());
    QCOMPARE(records.protocol.ContinuousOutputText, QStringLiteral("測定値"));
    QCOMPARE(records.CommSettingsString, QStringLiteral("4800,N,8,1"));

    // Code page 932 stays code page 932.
    folder.write(QStringLiteral("PROTcol.txt"), "\"0\",\"1\",\"\x91\xAA\x92\xE8\"\r\n");
    LoadSettings(records, port, folder.path());
    QCOMPARE(records.protocol.ContinuousOutputText, QStringLiteral("測定"));
    // Half-width katakana can look like UTF-8: ﾃｽ is C3 BD, which UTF-8 reads as ý.
    folder.write(QStringLiteral("PROTcol.txt"), "\"0\",\"1\",\"\xC3\xBD\"\r\n");
    LoadSettings(records, port, folder.path());
    QCOMPARE(records.protocol.ContinuousOutputText, QStringLiteral("ﾃｽ"));
}

void tst_Faults::shouldLogVanishedDeviceWhileHandlerWaits()
{
    RunningWindow w;
    w.button("cmdSend")->click();
    w.pty.write("ABC+\r+\n");
    QTimer::singleShot(300, &w.pty, [&] { w.pullCable(); });
    QTest::qWait(2000);
    int lost = 0;
    for (const QByteArray &t : w.texts())
        lost += t.startsWith(Ansi::encodeLossy(QStringLiteral("ポートが切断されました: "))) ? 1 : 0;
    QCOMPARE(lost, 1);
    QVERIFY(!w.form->MSComm1().portOpen());
    w.button("cmdSTOP")->click();
    QVERIFY(w.button("cmdSend")->isEnabled());
}

void tst_Faults::shouldRefuseDeviceWithoutPermission()
{
    PtyPair pty;
    QVERIFY(::chmod(QFile::encodeName(pty.slavePath()).constData(), 0) == 0);
    SettingsFolder folder;
    folder.writeDefaults(pty.slavePath());
    QVERIFY(::chmod(QFile::encodeName(folder.path()).constData(), 0755) == 0);
    // Root opens any device whatever its permissions, so the program runs as nobody here.
    const int status = inChildWithFileLimit(RLIM_INFINITY, [&] {
        if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
            return false;
        SettingsRecords records;
        SerialComm port;
        const LoadSettingsReport report = LoadSettings(records, port, folder.path());
        return !port.portOpen() && report.portError.contains(folder.file(QStringLiteral("COM1")))
                && report.portError.contains(QStringLiteral("ermission"));
    });
    QCOMPARE(status, 0);
}

void tst_Faults::shouldKeepWholeFilesWhenKilledWhileSaving()
{
    SettingsFolder folder;
    const QStringList names { QStringLiteral("ACSet.txt"), QStringLiteral("SOUCHICMD.txt"),
                              QStringLiteral("PROTcol.txt"), QStringLiteral("ACSet2.txt") };
    // Two versions of every file; the big field makes each write take a while.
    const auto version = [&](char tag) {
        QList<SettingsFiles::RecordFile> files;
        for (const QString &name : names)
            files.append({ folder.file(name), { QByteArray(1, tag), QByteArray(200000, tag) } });
        return files;
    };
    const QList<SettingsFiles::RecordFile> a = version('a'), b = version('b');
    QVERIFY(SettingsFiles::writeRecordFiles(a, nullptr));

    for (int round = 0; round < 25; ++round) {
        const pid_t pid = fork();
        if (pid == 0) {
            for (int i = 0;; ++i)
                SettingsFiles::writeRecordFiles(i % 2 ? a : b, nullptr);
        }
        QThread::usleep(1000 + QRandomGenerator::global()->bounded(20000));
        ::kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        for (const QString &name : names) {
            const QByteArray bytes = folder.read(name);
            QVERIFY2(bytes == RecordFormat::writeRecord(a.first().fields)
                             || bytes == RecordFormat::writeRecord(b.first().fields),
                     qPrintable(name + QStringLiteral(" holds %1 bytes").arg(bytes.size())));
        }
    }
}

void tst_Faults::shouldKeepOldFilesWhenDiskIsFull()
{
    SettingsFolder folder;
    const QString logPath = folder.file(QStringLiteral("log.txt"));
    folder.write(QStringLiteral("log.txt"), "old log");
    folder.write(QStringLiteral("ACSet.txt"), SettingsFolder::defaultComm());

    const int logStatus = inChildWithFileLimit(4096, [&] {
        CommLog log;
        for (int i = 0; i < 5000; ++i)
            log.appendStamped(QStringLiteral("99.99"));
        QString error;
        return !LogFiles::save(log, logPath, &error) && error.contains(logPath);
    });
    QCOMPARE(logStatus, 0);
    QCOMPARE(folder.read(QStringLiteral("log.txt")), QByteArray("old log"));

    const int settingsStatus = inChildWithFileLimit(4096, [&] {
        QString error;
        return !SettingsFiles::writeRecordFiles(
                       { { folder.file(QStringLiteral("ACSet.txt")), { QByteArray(10000, '9') } } }, &error)
                && error.contains(QStringLiteral("ACSet.txt"));
    });
    QCOMPARE(settingsStatus, 0);
    QCOMPARE(folder.read(QStringLiteral("ACSet.txt")), SettingsFolder::defaultComm());
    QStringList leftovers = QDir(folder.path()).entryList(QDir::Files);
    leftovers.sort();
    QCOMPARE(leftovers, QStringList({ QStringLiteral("ACSet.txt"), QStringLiteral("log.txt") }));
}

void tst_Faults::shouldFallBackToUserFolderWhenAppFolderIsReadOnly()
{
    QTemporaryDir mountPoint;
    if (::mount("tmpfs", QFile::encodeName(mountPoint.path()).constData(), "tmpfs", MS_RDONLY,
                "size=64k")
        != 0)
        QSKIP("cannot mount a read-only folder here (needs root)");
    const auto unmount = qScopeGuard([&] { ::umount(QFile::encodeName(mountPoint.path()).constData()); });

    QVERIFY(!AppFolder::isWritable(mountPoint.path()));
    const QString folder = AppFolder::resolve(mountPoint.path());
    QVERIFY(!folder.isEmpty());
    QVERIFY(folder != QDir(mountPoint.path()).absolutePath());
    QVERIFY(AppFolder::isWritable(folder));

    // With the per-user folder out of reach as well, the refusal names both, each with why.
    {
        QTemporaryFile inTheWay;
        QVERIFY(inTheWay.open());
        const QByteArray home = qgetenv("HOME");
        qputenv("HOME", QFile::encodeName(inTheWay.fileName()));
        const auto restoreHome = qScopeGuard([&] { qputenv("HOME", home); });
        QStringList refused;
        QVERIFY(AppFolder::resolve(mountPoint.path(), &refused).isEmpty());
        QCOMPARE(refused.size(), 2);
        QVERIFY2(refused.at(0).startsWith(QDir(mountPoint.path()).absolutePath()
                                          + QStringLiteral(" (no file can be written there: ")),
                 qPrintable(refused.at(0)));
        QVERIFY2(refused.at(1).contains(inTheWay.fileName() + QStringLiteral(" is not a folder")),
                 qPrintable(refused.at(1)));
    }

    // The log folder cannot be made in a read-only place: said, not hidden.
    QString error;
    QVERIFY(!LogFiles::ensureFolder(QDir(mountPoint.path()).filePath(QStringLiteral("LogData")), &error));
    QVERIFY(error.contains(QStringLiteral("LogData")));

    // Named as the folder on purpose, it holds no lock either: the windows refuse it too.
    FakeServices fake;
    Startup startup(mountPoint.path(), fake.services());
    QVERIFY(!startup.Main());
    QVERIFY(startup.mainWindow() == nullptr);
    QCOMPARE(fake.messages.shown.size(), 1);
    QCOMPARE(fake.messages.shown.at(0).kind, QStringLiteral("warning"));
    QCOMPARE(fake.messages.shown.at(0).text, QStringLiteral("設定を保存できるフォルダがありません。"));
    QVERIFY(startup.refusal().contains(InstanceLock::fileName()));
}

void tst_Faults::shouldKeepSettingsOfInstalledProgramInUserFolder()
{
    // An installed layout: bin/ beside share/kalo_rs232c/, both writable (as for root).
    QTemporaryDir prefix;
    QVERIFY(QDir(prefix.path()).mkpath(QStringLiteral("bin")));
    QVERIFY(QDir(prefix.path()).mkpath(QStringLiteral("share/kalo_rs232c")));
    const QString bin = QDir(prefix.path()).filePath(QStringLiteral("bin"));
    QVERIFY(AppFolder::isWritable(bin));
    const QString folder = AppFolder::resolve(bin);
    QCOMPARE(folder, QStandardPaths::writableLocation(QStandardPaths::AppDataLocation));
    QCOMPARE(AppFolder::installedDataFolder(bin), QDir(prefix.path()).filePath(QStringLiteral("share/kalo_rs232c")));

    // A copy unpacked anywhere keeps its settings beside itself.
    QTemporaryDir copy;
    QCOMPARE(AppFolder::resolve(copy.path()), QDir(copy.path()).absolutePath());
}

void tst_Faults::shouldStayBoundedUnderFlood_data()
{
    QTest::addColumn<QByteArray>("state");
    QTest::newRow("stopped") << QByteArray("stopped");
    QTest::newRow("answering") << QByteArray("answering");
    QTest::newRow("continuous output") << QByteArray("continuous");
}

void tst_Faults::shouldStayBoundedUnderFlood()
{
    QFETCH(QByteArray, state);
    RunningWindow w(state == "continuous" ? "0" : "1", "0.5");
    double grown = 0;
    qint64 worstGap = 0;
    const auto measure = [&] {
        const double before = Measure::residentMiB();
        worstGap = floodHost(w.pty, 4000);
        grown = Measure::residentMiB() - before;
    };
    if (state == "continuous") {
        // The run holds the click until Stop, so the flood happens inside it.
        QTimer::singleShot(50, &w.pty, [&] {
            measure();
            w.button("cmdSTOP")->click();
        });
        w.startAndServeRun();
    } else {
        if (state == "answering")
            w.button("cmdSend")->click();
        measure();
    }
    QVERIFY2(grown < 16, qPrintable(QString::number(grown)));
    // The user interface kept answering: the host's timer never waited long.
    QVERIFY2(worstGap < 1500, qPrintable(QString::number(worstGap)));

    if (w.button("cmdSTOP")->isEnabled())
        w.button("cmdSTOP")->click();
    QTest::qWait(600);
    w.form->MSComm1().clearInBuffer();
    w.pty.read(200);

    // After Stop and Start the next well-formed command is answered.
    bool answered = false;
    const auto askAndStop = [&] {
        const qsizetype before = w.pty.collected().size();
        w.pty.write("ABC+\r+\n");
        QElapsedTimer clock;
        clock.start();
        while (!answered && clock.elapsed() < 3000) {
            QTest::qWait(20);
            answered = w.pty.collected().mid(before).contains("4569.12");
        }
        w.button("cmdSTOP")->click();
    };
    if (state == "continuous") {
        QTimer::singleShot(10, &w.pty, askAndStop);
        w.startAndServeRun();
    } else {
        w.button("cmdSend")->click();
        askAndStop();
    }
    QVERIFY(answered);
}

void tst_Faults::shouldStopAtOnceAtIntervalZero()
{
    RunningWindow w("0", "0");
    QElapsedTimer clock;
    qint64 stopAt = -1;
    QTimer::singleShot(2000, w.button("cmdSTOP"), [&] {
        clock.start();
        w.button("cmdSTOP")->click();
        stopAt = 0;
    });
    w.startAndServeRun();
    QVERIFY(stopAt == 0);
    QVERIFY2(clock.elapsed() < 200, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(w.log().lineCount() > 100);
    QVERIFY(w.log().lineCount() <= CommLog::kDefaultKeepLines + CommLog::kBlockLines);
}

QTEST_MAIN(tst_Faults)
#include "tst_faults.moc"
