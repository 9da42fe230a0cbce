#include "log/linetexts.h"
#include "runningwindow.h"
#include "text/ansicodec.h"
#include "virtualsession.h"

#include <QMenu>
#include <QTimer>
#include <QTest>

// Start and Stop with continuous output, and what a lost port does to a run.
class tst_Continuous : public QObject
{
    Q_OBJECT

private:
    static QByteArray ansi(const QString &text) { return Ansi::encodeLossy(text); }
    static int count(const QList<QByteArray> &texts, const QByteArray &text)
    {
        return int(std::count(texts.begin(), texts.end(), text));
    }

private slots:
    void shouldSendOncePerIntervalAndFinishCycleAfterStop();
    void shouldKeepOutputsOnTheirDeadlines_data();
    void shouldKeepOutputsOnTheirDeadlines();
    void shouldLogEmptyOutputWithoutSendingAnything();
    void shouldSayWhatAHandEditedFolderSends_data();
    void shouldSayWhatAHandEditedFolderSends();
    void shouldLogRefusedOutputOnceAndNeverAsSent();
    void shouldAnswerCommandsDuringContinuousOutput();
    void shouldStayResponsiveAtIntervalZero();
    void shouldHoldOutputWhileTheUserIsAsked_data();
    void shouldHoldOutputWhileTheUserIsAsked();
    void shouldReportClosedPortOnceAndLogNothingAsSent();
    void shouldReconnectLostPortWhileCommunicating();
};

void tst_Continuous::shouldSendOncePerIntervalAndFinishCycleAfterStop()
{
    RunningWindow w("0", "1");
    // Stop in the middle of the fourth interval: that cycle's output still follows.
    QTimer::singleShot(3500, w.button("cmdSTOP"), &QPushButton::click);
    w.startAndServeRun();

    const QList<PtyPair::Arrival> &arrivals = w.pty.arrivals();
    QCOMPARE(w.pty.collected(), QByteArray("99.99").repeated(4));
    QVERIFY2(arrivals.first().ms >= 1000 && arrivals.first().ms < 1200,
             qPrintable(QString::number(arrivals.first().ms)));
    QVERIFY(arrivals.last().ms >= 4000);

    const QList<QByteArray> texts = w.texts();
    QCOMPARE(texts.first(), ansi(CommSession::startedLine()));
    QCOMPARE(count(texts, "99.99"), 4);
    QCOMPARE(texts.last(), ansi(CommSession::stoppedLine()));
    QCOMPARE(count(texts, ansi(CommSession::stoppedLine())), 1);
    QVERIFY(w.button("cmdSend")->isEnabled());
}

void tst_Continuous::shouldKeepOutputsOnTheirDeadlines_data()
{
    QTest::addColumn<int>("changeAtMs");  // the interval becomes 1 s then
    QTest::addColumn<int>("stallAtMs");   // output is held 2 s from then (a modal box)
    QTest::addColumn<int>("stopAtMs");
    QTest::addColumn<QList<int>>("outputsMs");
    QTest::newRow("steady") << -1 << -1 << 2200 << QList<int> { 500, 1000, 1500, 2000, 2500 };
    QTest::newRow("interval changed") << 1200 << -1 << 2700 << QList<int> { 500, 1000, 1500, 2500, 3500 };
    QTest::newRow("stall, no catch-up") << -1 << 700 << 3300 << QList<int> { 500, 2700, 3230, 3730 };
}

// On virtual time: each output is due one interval after the one before was due, the first
// one interval after Start, and a stalled loop resumes without a burst.
void tst_Continuous::shouldKeepOutputsOnTheirDeadlines()
{
    QFETCH(int, changeAtMs);
    QFETCH(int, stallAtMs);
    QFETCH(int, stopAtMs);
    QFETCH(QList<int>, outputsMs);
    VirtualSession v("0", "0.5");
    v.load();
    QList<int> sentMs;
    connect(&v.log, &CommLog::lineAppended, this, [&](int index) {
        if (v.log.line(index).endsWith(" 99.99")) {
            sentMs.append(int(v.clock.nowNs() / VirtualSession::kMs));
            // Every cycle costs time, which must not add up.
            v.clock.advance(30 * VirtualSession::kMs);
        }
    });
    if (changeAtMs >= 0)
        v.at(changeAtMs, [&] { v.records.protocol.IntervalSeconds = QStringLiteral("1"); });
    if (stallAtMs >= 0) {
        v.at(stallAtMs, [&] { v.session.setOutputHeld(true); });
        v.at(stallAtMs + 2000, [&] { v.session.setOutputHeld(false); });
    }
    v.at(stopAtMs, [&] { v.session.stop(); });
    v.run(10'000);
    QCOMPARE(sentMs, outputsMs);
    QCOMPARE(v.pty.read(200), QByteArray("99.99").repeated(outputsMs.size()));
}

void tst_Continuous::shouldSayWhatAHandEditedFolderSends_data()
{
    QTest::addColumn<QByteArray>("interval");
    QTest::addColumn<QByteArray>("commandFile"); // its first field, the continuous bytes
    QTest::addColumn<QList<int>>("outputsMs");
    QTest::addColumn<QByteArrayList>("logged");
    const QByteArrayList start { ansi(CommSession::startedLine()) };
    const QByteArray stop = ansi(CommSession::stoppedLine());
    const auto noNumber = [](const char *text) {
        return ansi(LineTexts::intervalNotANumber(QString::fromLatin1(text)));
    };
    // An interval that is no number runs at one second instead of flooding the line.
    QTest::newRow("1s") << QByteArray("1s") << QByteArray("99.99") << QList<int> { 1000, 2000, 3000 }
                        << start + QByteArrayList { noNumber("1s"), "99.99", "99.99", "99.99", stop };
    QTest::newRow("1,5") << QByteArray("1,5") << QByteArray("99.99") << QList<int> { 1000, 2000, 3000 }
                         << start + QByteArrayList { noNumber("1,5"), "99.99", "99.99", "99.99", stop };
    // The line shows what goes out when SOUCHICMD.txt is not what PROTcol.txt converts to.
    QTest::newRow("files disagree") << QByteArray("1") << QByteArray("88[x]88") << QList<int> { 1000, 2000, 3000 }
                                    << start + QByteArrayList { "88[x]88", "88[x]88", "88[x]88", stop };
}

void tst_Continuous::shouldSayWhatAHandEditedFolderSends()
{
    QFETCH(QByteArray, interval);
    QFETCH(QByteArray, commandFile);
    QFETCH(QList<int>, outputsMs);
    QFETCH(QByteArrayList, logged);
    VirtualSession v("0", interval);
    v.folder.write(QStringLiteral("SOUCHICMD.txt"), "\"" + commandFile + "\"\r\n");
    v.load();
    QList<int> sentMs;
    connect(&v.log, &CommLog::lineAppended, this, [&](int index) {
        if (v.log.line(index).endsWith(" " + commandFile))
            sentMs.append(int(v.clock.nowNs() / VirtualSession::kMs));
    });
    v.at(2500, [&] { v.session.stop(); });
    v.run(5000);
    QCOMPARE(sentMs, outputsMs);
    QByteArrayList texts;
    for (int i = 0; i < v.log.lineCount(); ++i)
        texts.append(v.log.line(i).mid(22));
    QCOMPARE(texts, logged);
    QCOMPARE(v.pty.read(200), commandFile.repeated(outputsMs.size()));
}

// A host that stops reading: the output the port refuses is not logged as sent, and the
// refusal is logged once with its reason.
void tst_Continuous::shouldLogRefusedOutputOnceAndNeverAsSent()
{
    VirtualSession v("0", "0");
    const QByteArray text(4000, 'X');
    v.folder.write(QStringLiteral("PROTcol.txt"), "\"0\",\"0\",\"" + text + "\"\r\n");
    v.folder.write(QStringLiteral("SOUCHICMD.txt"), "\"" + text + "\"\r\n");
    v.load();
    v.at(2000, [&] { v.session.stop(); });
    v.run(3000);

    int sent = 0, refusals = 0;
    for (int i = 0; i < v.log.lineCount(); ++i) {
        sent += v.log.line(i).endsWith(text);
        refusals += v.log.line(i).contains(ansi(QStringLiteral("送信できません: ")));
    }
    QCOMPARE(refusals, 1);
    QVERIFY(sent > 0);
    QByteArray received;
    for (QByteArray more = "x"; !more.isEmpty();) {
        QCoreApplication::processEvents();
        received += more = v.pty.read(100);
    }
    QCOMPARE(received.size(), qsizetype(sent) * text.size());
}

void tst_Continuous::shouldLogEmptyOutputWithoutSendingAnything()
{
    RunningWindow w("0", "0.2");
    w.records.commands.ContinuousOutputBytes.clear();
    w.records.protocol.ContinuousOutputText.clear();
    QTimer::singleShot(700, w.button("cmdSTOP"), &QPushButton::click);
    w.startAndServeRun();
    QCOMPARE(w.pty.collected(), QByteArray());
    const QList<QByteArray> texts = w.texts();
    QVERIFY(count(texts, QByteArray()) >= 3);
    // An empty cycle's line is the stamp and the space only.
    QCOMPARE(w.log().line(2).size(), 22);
}

void tst_Continuous::shouldAnswerCommandsDuringContinuousOutput()
{
    RunningWindow w("0", "1");
    QTimer::singleShot(300, &w.pty, [&] { w.pty.write("\x06+ODF+"); });
    QTimer::singleShot(2500, w.button("cmdSTOP"), &QPushButton::click);
    w.startAndServeRun();

    const QByteArray all = w.pty.collected();
    QVERIFY2(all.contains("49.12cm"), all.constData());
    QCOMPARE(all.count("99.99"), 3);
    const QList<QByteArray> texts = w.texts();
    QCOMPARE(count(texts, QByteArray("\x06+ODF+\x81\xA8" "49.12cm")), 1);
}

void tst_Continuous::shouldStayResponsiveAtIntervalZero()
{
    RunningWindow w("0", "0");
    QElapsedTimer clock;
    clock.start();
    QTimer::singleShot(300, w.button("cmdSTOP"), &QPushButton::click);
    w.startAndServeRun();
    // The Stop click was served inside the back-to-back cycles.
    QVERIFY2(clock.elapsed() < 1500, qPrintable(QString::number(clock.elapsed())));
    const QList<QByteArray> texts = w.texts();
    QVERIFY(count(texts, "99.99") > 10);
    QCOMPARE(texts.last(), ansi(CommSession::stoppedLine()));
}

void tst_Continuous::shouldHoldOutputWhileTheUserIsAsked_data()
{
    QTest::addColumn<bool>("trayMenu"); // else the end question, answered Cancel
    QTest::newRow("end question") << false;
    QTest::newRow("tray menu") << true;
}

// A modal question or the open tray menu holds the one thread: no output while it is open,
// the cycle due meanwhile as it closes, then the run goes on.
void tst_Continuous::shouldHoldOutputWhileTheUserIsAsked()
{
    QFETCH(bool, trayMenu);
    RunningWindow w("0", "0.2");
    qsizetype during = -1;
    const auto ask = [&] {
        const qsizetype before = w.pty.collected().size();
        QTest::qWait(1000);
        during = w.pty.collected().size() - before;
    };
    QTimer::singleShot(300, &w.pty, [&] {
        auto *menu = w.form->findChild<QMenu *>(QStringLiteral("mnuTray"));
        if (!trayMenu) {
            w.fake.messages.whileAsking = ask;
            w.button("cmdEND")->click();
            return;
        }
        emit menu->aboutToShow();
        ask();
        emit menu->aboutToHide();
    });
    QTimer::singleShot(2000, w.button("cmdSTOP"), &QPushButton::click);
    w.startAndServeRun();
    QCOMPARE(during, qsizetype(0));
    // Before: one output at 200 ms; after: the held one at 1.3 s and about three more.
    const qsizetype outputs = w.pty.collected().count("99.99");
    QVERIFY2(outputs >= 4 && outputs <= 7, qPrintable(QString::number(outputs)));
}

void tst_Continuous::shouldReportClosedPortOnceAndLogNothingAsSent()
{
    RunningWindow w("0", "0.1");
    w.folder.linkMissingCom1();
    w.form->MSComm1().setPortOpen(false);

    for (int run = 0; run < 2; ++run) {
        QTimer::singleShot(450, w.button("cmdSTOP"), &QPushButton::click);
        w.startAndServeRun();
    }
    const QList<QByteArray> texts = w.texts();
    QCOMPARE(count(texts, "99.99"), 0);
    int problems = 0;
    for (const QByteArray &t : texts) {
        if (t.startsWith(ansi(QStringLiteral("ポートを開けません: ")))) {
            ++problems;
            QVERIFY(t.contains(w.folder.file(QStringLiteral("COM1")).toLocal8Bit()));
        }
    }
    QCOMPARE(problems, 1);
    QCOMPARE(count(texts, ansi(CommSession::startedLine())), 2);
    QCOMPARE(count(texts, ansi(CommSession::stoppedLine())), 2);
}

void tst_Continuous::shouldReconnectLostPortWhileCommunicating()
{
    RunningWindow w("0", "0.2");
    auto replacement = std::make_unique<PtyPair>();
    QTimer::singleShot(500, &w.pty, [&] { w.pullCable(); });
    // The adapter comes back under the same name a second later.
    QTimer::singleShot(1500, &w.pty, [&] {
        const QString link = w.folder.file(QStringLiteral("COM1"));
        QFile::remove(link);
        QFile::link(replacement->slavePath(), link);
        replacement->startCollecting();
    });
    QTimer::singleShot(4000, w.button("cmdSTOP"), &QPushButton::click);
    w.startAndServeRun();

    const QList<QByteArray> texts = w.texts();
    int lost = 0, back = 0;
    for (const QByteArray &t : texts) {
        lost += t.startsWith(ansi(QStringLiteral("ポートが切断されました: "))) ? 1 : 0;
        back += t.startsWith(ansi(QStringLiteral("ポートを再接続しました: "))) ? 1 : 0;
    }
    QCOMPARE(lost, 1);
    QCOMPARE(back, 1);
    QVERIFY(replacement->collected().startsWith("99.99"));
    // Every logged output went out: the ones before the loss and after the return.
    QCOMPARE(count(texts, "99.99") * 5, w.pty.collected().size() + replacement->collected().size());
}

QTEST_MAIN(tst_Continuous)
#include "tst_continuous.moc"
