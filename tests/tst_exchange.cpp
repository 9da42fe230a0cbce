#include "log/linetexts.h"
#include "oracle/cp932.h"
#include "runningwindow.h"
#include "session/station.h"
#include "startup/statustexts.h"
#include "text/ansicodec.h"
#include "virtualsession.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>

#include <unistd.h>

// Answers to device commands over a real pty, with the test or pyserial as the host.
class tst_Exchange : public QObject
{
    Q_OBJECT

private:
    static constexpr const char *kPattern1 = "ABC+\r+\n";
    static constexpr const char *kArrow = "\x81\xA8";

    static QByteArray unansweredPrefix()
    {
        return Ansi::encodeLossy(LineTexts::unansweredInputPrefix());
    }

    // Writes a command and waits long enough for any answer to arrive.
    static QByteArray ask(RunningWindow &w, const QByteArray &command, int waitMs = 1500)
    {
        const qsizetype before = w.pty.collected().size();
        w.pty.write(command);
        QTest::qWait(waitMs);
        return w.pty.collected().mid(before);
    }

private slots:
    void shouldAnswerPatternOneAboutOneSecondAfterFirstByte();
    void shouldAnswerEachPatternWithItsOutput_data();
    void shouldAnswerEachPatternWithItsOutput();
    void shouldAnswerSameCommandTwice();
    void shouldAnswerCommandSplitAcrossTwoEvents();
    void shouldDropAndLogInputNoCommandBeginsWith_data();
    void shouldDropAndLogInputNoCommandBeginsWith();
    void shouldStayDeafAfterStopDuringHandlerWait();
    void shouldNotAnswerBeforeStart();
    void shouldRunOneReceiveHandlerAtATime();
    void shouldSwitchLookOnStartAndStop();
    void shouldAnswerIndependentPyserialHost();
    void shouldAnswerByProfileOrRefuseStartWithOneItCannotRead();
    void shouldPlayTheExampleProfileAsWritten();
    void shouldPlayAScriptedSupplyOnItsOwnLine();
    void shouldStreamOnlyWhileTheHostHasAskedForIt();
    void shouldPlayTheSupplyAsWritten();
};

void tst_Exchange::shouldAnswerPatternOneAboutOneSecondAfterFirstByte()
{
    RunningWindow w;
    w.button("cmdSend")->click();
    QCOMPARE(RunningWindow::textOf(w.lastLine()),
             QByteArray("\x92\xCA\x90\x4D\x82\xF0\x8A\x4A\x8E\x6E\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x81\x42"));

    const qint64 sentAt = w.pty.sinceCollectingStarted();
    w.pty.write(QByteArray::fromHex("41 42 43 2B 0D 2B 0A"));
    const QByteArray answer = w.pty.waitCollected(7, 3000);
    QCOMPARE(answer, QByteArray::fromHex("34 35 36 39 2E 31 32"));
    const qint64 latency = w.pty.arrivals().first().ms - sentAt;
    QVERIFY2(latency >= 1000 && latency <= 1200, qPrintable(QString::number(latency)));

    // The log line holds the received bytes, the arrow and the answer.
    QTRY_COMPARE(RunningWindow::textOf(w.lastLine()), QByteArray(kPattern1) + kArrow + "4569.12");
    QVERIFY(QRegularExpression(QStringLiteral("^\\[\\d{4}/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d\\] "))
                    .match(QString::fromLatin1(w.lastLine().left(22)))
                    .hasMatch());
    QCOMPARE(w.log().displayText(w.log().lineCount() - 1).mid(22),
             QStringLiteral("ABC+[CR]+[LF]→4569.12"));
}

void tst_Exchange::shouldAnswerEachPatternWithItsOutput_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("answer");
    QTest::newRow("pattern 1") << QByteArray(kPattern1) << QByteArray("4569.12");
    QTest::newRow("pattern 2") << QByteArray("\x06+ODF+") << QByteArray("49.12cm");
}

void tst_Exchange::shouldAnswerEachPatternWithItsOutput()
{
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, answer);
    RunningWindow w;
    w.button("cmdSend")->click();
    QCOMPARE(ask(w, command), answer);
    QCOMPARE(RunningWindow::textOf(w.lastLine()), command + kArrow + answer);
}

void tst_Exchange::shouldAnswerSameCommandTwice()
{
    RunningWindow w;
    w.button("cmdSend")->click();
    QCOMPARE(ask(w, kPattern1), QByteArray("4569.12"));
    QCOMPARE(ask(w, kPattern1), QByteArray("4569.12"));
    const int lines = w.log().lineCount();
    QCOMPARE(RunningWindow::textOf(w.log().line(lines - 2)), RunningWindow::textOf(w.log().line(lines - 1)));
}

void tst_Exchange::shouldAnswerCommandSplitAcrossTwoEvents()
{
    RunningWindow w;
    w.button("cmdSend")->click();
    // The first part waits in the buffer; the second part's event finds the whole command.
    QCOMPARE(ask(w, "ABC", 1300), QByteArray());
    QCOMPARE(ask(w, "+\r+\n"), QByteArray("4569.12"));
}

// Each row: what the host writes, one window apart, and what every window must answer and
// log. Input that no command is, nor begins, is dropped and logged; a beginning waits.
void tst_Exchange::shouldDropAndLogInputNoCommandBeginsWith_data()
{
    QTest::addColumn<QByteArrayList>("writes");
    QTest::addColumn<QByteArrayList>("answers");
    QTest::addColumn<QByteArrayList>("logged");
    const QByteArray p1(kPattern1);
    const QByteArray ok = p1 + kArrow + "4569.12";
    const auto dropped = [](const QByteArray &bytes) { return unansweredPrefix() + bytes; };
    QTest::newRow("two commands at once") << QByteArrayList { p1 + p1, p1 }
                                          << QByteArrayList { "", "4569.12" }
                                          << QByteArrayList { dropped(p1 + p1), ok };
    QTest::newRow("right length, wrong bytes")
            << QByteArrayList { "ABD+\r+\n", "abc+\r+\n", p1 } << QByteArrayList { "", "", "4569.12" }
            << QByteArrayList { dropped("ABD+\r+\n"), dropped("abc+\r+\n"), ok };
    QTest::newRow("stray bytes, then a command")
            << QByteArrayList { "xyz", "\n", p1 } << QByteArrayList { "", "", "4569.12" }
            << QByteArrayList { dropped("xyz"), dropped("\n"), ok };
    QTest::newRow("a beginning, then a stray byte")
            << QByteArrayList { "AB", "X", p1 } << QByteArrayList { "", "", "4569.12" }
            << QByteArrayList { dropped("ABX"), ok };
}

void tst_Exchange::shouldDropAndLogInputNoCommandBeginsWith()
{
    QFETCH(QByteArrayList, writes);
    QFETCH(QByteArrayList, answers);
    QFETCH(QByteArrayList, logged);
    RunningWindow w;
    w.button("cmdSend")->click();
    const int linesBefore = w.log().lineCount();
    for (qsizetype i = 0; i < writes.size(); ++i)
        QCOMPARE(ask(w, writes.at(i)), answers.at(i));
    QCOMPARE(w.texts().mid(linesBefore - 1), logged);
}

void tst_Exchange::shouldStayDeafAfterStopDuringHandlerWait()
{
    RunningWindow w;
    w.button("cmdSend")->click();
    w.pty.write(kPattern1);
    QTimer::singleShot(400, w.button("cmdSTOP"), &QPushButton::click);
    QTest::qWait(1500);
    QCOMPARE(w.pty.collected(), QByteArray());
    QCOMPARE(w.form->MSComm1().rThreshold(), 0);
    QCOMPARE(ask(w, kPattern1), QByteArray());
    QCOMPARE(RunningWindow::textOf(w.lastLine()),
             QByteArray("\x92\xCA\x90\x4D\x82\xF0\x92\xE2\x8E\x7E\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x81\x42"));
}

void tst_Exchange::shouldNotAnswerBeforeStart()
{
    RunningWindow w;
    QCOMPARE(ask(w, kPattern1), QByteArray());
    QCOMPARE(w.log().lineCount(), 1);
    // A host polling a stopped simulator for long: the line keeps taking its bytes, far more
    // than the driver and the cable could hold, so none wait to spoil the first command.
    const QByteArray polls = QByteArray(kPattern1).repeated(30'000);
    qsizetype taken = 0;
    for (int pass = 0; pass < 400 && taken < polls.size(); ++pass) {
        const ssize_t n = ::write(w.pty.masterFd(), polls.constData() + taken, size_t(polls.size() - taken));
        taken += qMax<ssize_t>(n, 0);
        QTest::qWait(5);
    }
    QCOMPARE(taken, polls.size());
    QTest::qWait(200);
    w.button("cmdSend")->click();
    QCOMPARE(ask(w, kPattern1), QByteArray("4569.12"));
}

// Whatever delivers a second receive event while a handler waits (a port retry, a queued
// signal), it must not start a second handler inside the first.
void tst_Exchange::shouldRunOneReceiveHandlerAtATime()
{
    VirtualSession v("1", "1");
    v.load();
    qint64 secondTook = -1;
    v.at(100, [&] { v.pty.write(kPattern1); });
    v.at(600, [&] {
        const qint64 before = v.clock.nowNs();
        emit v.port.commEvent();
        secondTook = v.clock.nowNs() - before;
    });
    v.run(3000);
    QCOMPARE(secondTook, qint64(0));
    QCOMPARE(v.pty.read(200), QByteArray("4569.12"));
    QCOMPARE(RunningWindow::textOf(v.log.line(v.log.lineCount() - 1)),
             QByteArray(kPattern1) + kArrow + "4569.12");
}

void tst_Exchange::shouldSwitchLookOnStartAndStop()
{
    RunningWindow w;
    auto colour = [&] {
        return w.form->findChild<QWidget *>(QStringLiteral("lblJu"))->palette().color(QPalette::Base);
    };
    w.button("cmdSend")->click();
    for (const char *name : { "cmdSAVE", "cmdVER", "cmd", "cmdSend" })
        QVERIFY2(!w.button(name)->isEnabled(), name);
    QVERIFY(w.button("cmdSTOP")->isEnabled());
    QVERIFY(w.button("cmdEND")->isEnabled());
    QVERIFY(w.button("Command1")->isEnabled());
    QCOMPARE(colour(), QColor(0x80, 0xFF, 0xFF));
    QCOMPARE(w.fake.tray.currentTip, QStringLiteral("起動中"));
    QCOMPARE(w.form->statusPanelText(2), QStringLiteral("9600,N,8,1"));
    QCOMPARE(w.form->MSComm1().rThreshold(), 1);
    QCOMPARE(w.form->session().stopFlag(), qint16(0));

    w.button("cmdSTOP")->click();
    for (const char *name : { "cmdSAVE", "cmdVER", "cmd", "cmdSend" })
        QVERIFY2(w.button(name)->isEnabled(), name);
    QVERIFY(!w.button("cmdSTOP")->isEnabled());
    QCOMPARE(colour(), QColor(192, 192, 192));
    QCOMPARE(w.fake.tray.currentTip, QStringLiteral("停止中"));
    QCOMPARE(w.form->statusPanelText(2), QStringLiteral("9600,N,8,1"));
    QCOMPARE(w.form->session().stopFlag(), qint16(-1));
    QCOMPARE(w.form->MSComm1().rThreshold(), 0);
    // Answering only: Start and Stop each write their line.
    const QList<QByteArray> texts = w.texts();
    QCOMPARE(texts.size(), 2);
}

void tst_Exchange::shouldAnswerIndependentPyserialHost()
{
    const QString python = QStringLiteral("/usr/bin/python3");
    QProcess check;
    check.start(python, { QStringLiteral("-c"), QStringLiteral("import serial") });
    if (!check.waitForFinished(10000) || check.exitCode() != 0)
        QSKIP("pyserial for /usr/bin/python3 is not installed (python3-serial)");
    const QString socat = QStandardPaths::findExecutable(QStringLiteral("socat"));
    if (socat.isEmpty())
        QSKIP("socat is not installed");

    // A cable of two named ptys, as a user would lay it: one end is COM1, pyserial the other.
    SettingsFolder folder;
    const QString host = folder.file(QStringLiteral("HOST"));
    const QString device = folder.file(QStringLiteral("DEV"));
    QProcess cable;
    cable.start(socat, { QStringLiteral("pty,raw,echo=0,link=") + device,
                         QStringLiteral("pty,raw,echo=0,link=") + host });
    QTRY_VERIFY(QFile::exists(device) && QFile::exists(host));
    folder.writeDefaults(device, "1");

    FakeServices fake;
    Station station(folder.path());
    frmSOKUTEI form(station, fake.services());
    form.Form_Load();
    QVERIFY2(form.MSComm1().portOpen(), qPrintable(form.lastLoadReport().portError));
    form.findChild<QPushButton *>(QStringLiteral("cmdSend"))->click();

    QProcess client;
    client.start(python, { QStringLiteral(KALO_TESTS_DIR "/host/ask.py"), host,
                           QStringLiteral("41 42 43 2B 0D 2B 0A"), QStringLiteral("7") });
    QTRY_VERIFY_WITH_TIMEOUT(client.state() == QProcess::NotRunning, 10000);
    const QStringList result = QString::fromLatin1(client.readAllStandardOutput()).trimmed().split(QLatin1Char(' '));
    QVERIFY2(result.size() == 8, qPrintable(result.join(QLatin1Char(' ')) + QString::fromLocal8Bit(client.readAllStandardError())));
    QCOMPARE(result.mid(0, 7).join(QLatin1Char(' ')), QStringLiteral("34 35 36 39 2e 31 32"));
    const int latency = result.at(7).toInt();
    QVERIFY2(latency >= 1000 && latency <= 1200, qPrintable(QString::number(latency)));

    form.findChild<QPushButton *>(QStringLiteral("cmdSTOP"))->click();
    cable.terminate();
    cable.waitForFinished();
}

// A profile is read at each Start: one that cannot be read refuses it with a message, and
// an edited one answers at once, without the fixed instrument's second.
void tst_Exchange::shouldAnswerByProfileOrRefuseStartWithOneItCannotRead()
{
    RunningWindow w;
    w.folder.write(QStringLiteral("Instrument.toml"), "[[rule]]\nmatch = \"A[STX]\"\n");
    w.button("cmdSend")->click();
    QVERIFY(!w.form->session().isCommunicating());
    QVERIFY(w.button("cmdSend")->isEnabled());
    QCOMPARE(w.fake.messages.shown.size(), 1);
    QCOMPARE(w.fake.messages.shown.first().kind, QStringLiteral("warning"));
    QVERIFY2(w.fake.messages.shown.first().text.contains(QStringLiteral("Instrument.toml:2:")),
             qPrintable(w.fake.messages.shown.first().text));

    w.folder.write(QStringLiteral("Instrument.toml"),
                   "seed = 3\n[framing]\nterminator = \"[CR]\"\n"
                   "[[rule]]\nmatch = \"P[CR]\"\nanswer = \"OK[CR]\"\n");
    w.button("cmdSend")->click();
    QVERIFY(w.form->session().isCommunicating());
    QCOMPARE(ask(w, "P\r", 100), QByteArray("OK\r"));
    QVERIFY(w.texts().contains(Ansi::encodeLossy(LineTexts::profileInForce(
            w.folder.file(QStringLiteral("Instrument.toml")), 3))));
}

// The bench supply of the examples, with its Lua beside it: state kept across commands,
// computed answers, and its line settings in force only while it plays.
void tst_Exchange::shouldPlayAScriptedSupplyOnItsOwnLine()
{
    RunningWindow w;
    QFile example(QStringLiteral(KALO_EXAMPLES_DIR "/profiles/psu.toml"));
    QVERIFY(example.open(QIODevice::ReadOnly));
    w.folder.write(QStringLiteral("Instrument.toml"),
                   example.readAll().replace("speed = 9600", "speed = 19200"));
    QVERIFY(QFile::copy(QStringLiteral(KALO_EXAMPLES_DIR "/profiles/psu.lua"),
                        w.folder.file(QStringLiteral("psu.lua"))));
    w.button("cmdSend")->click();
    QVERIFY(w.form->session().isCommunicating());
    QCOMPARE(w.form->statusPanelText(2), QStringLiteral("19200,N,8,1"));
    w.pty.write("VSET 12.5\nISET 3\nOUT1\n");
    QCOMPARE(ask(w, "VOUT?\nPOWER?\nSTATUS?\n", 300), QByteArray("12.500\n15.625\n\x41"));
    QCOMPARE(ask(w, "OUT0\nVOUT?\nVSET 99\n", 300), QByteArray("0.000\nERR range\n"));
    QVERIFY(w.texts().contains(Oracle::cp932(QStringLiteral("プロファイルの回線設定: 19200,N,8,1"))));
    w.button("cmdSTOP")->click();
    QCOMPARE(w.form->statusPanelText(2), QStringLiteral("9600,N,8,1"));
}

// A balance that streams only after O1 and stops at O0, whatever the settings' output type;
// the status bar says which output is in force.
void tst_Exchange::shouldStreamOnlyWhileTheHostHasAskedForIt()
{
    RunningWindow w;
    w.folder.write(QStringLiteral("Instrument.toml"),
                   "[framing]\nterminator = \"[CR]\"\n"
                   "[continuous]\ntext = \"W[CR]\"\ninterval = 0.1\nenabled = false\n"
                   "[[rule]]\nmatch = \"O1[CR]\"\ncontinuous = \"on\"\n"
                   "[[rule]]\nmatch = \"O0[CR]\"\ncontinuous = \"off\"\n");
    const auto panel = [](const char *type) {
        return StatusTexts::make(QLatin1String(type), QStringLiteral("9600,N,8,1"))->outputType;
    };
    w.button("cmdSend")->click();
    QCOMPARE(ask(w, "", 300), QByteArray());
    QCOMPARE(w.form->statusPanelText(1), panel("1"));
    const QByteArray streamed = ask(w, "O1\r", 550);
    QVERIFY2(streamed.size() >= 8 && streamed == QByteArray("W\r").repeated(streamed.size() / 2),
             streamed.constData());
    QCOMPARE(w.form->statusPanelText(1), panel("0"));
    w.pty.write("O0\r");
    QTest::qWait(150);
    QCOMPARE(ask(w, "", 300), QByteArray());
    QCOMPARE(w.form->statusPanelText(1), panel("1"));
}

// The bench supply exactly as its reference first shows it, in the window.
void tst_Exchange::shouldPlayTheSupplyAsWritten()
{
    RunningWindow w;
    QVERIFY(QFile::copy(QStringLiteral(KALO_TESTS_DIR "/golden/psu-as-written.toml"),
                        w.folder.file(QStringLiteral("Instrument.toml"))));
    QVERIFY(QFile::copy(QStringLiteral(KALO_TESTS_DIR "/golden/psu.lua"),
                        w.folder.file(QStringLiteral("psu.lua"))));
    w.button("cmdSend")->click();
    w.pty.write("VSET 12.5\nOUT1\n");
    QCOMPARE(ask(w, "VOUT?\nPOWER?\nSTATUS?\n", 300), QByteArray("12.500\n15.625\n\x41"));
    QCOMPARE(ask(w, "OUT0\nVOUT?\nSTATUS?\nVSET 99\n", 300),
             QByteArray("0.000\n\x01" "ERR range\n"));
}

// The walk-through's profile (docs/profiles.md), verbatim: a weight within its delay, far
// inside the fixed instrument's second, and a value the host sets and reads back.
void tst_Exchange::shouldPlayTheExampleProfileAsWritten()
{
    RunningWindow w;
    QVERIFY(QFile::copy(QStringLiteral(KALO_TESTS_DIR "/golden/Instrument.toml"),
                        w.folder.file(QStringLiteral("Instrument.toml"))));
    w.button("cmdSend")->click();
    QVERIFY(w.form->session().isCommunicating());

    const qint64 sentAt = w.pty.sinceCollectingStarted();
    w.pty.write("W\r\n");
    // The profile's seed fixes the walk: its first reading is its start.
    QCOMPARE(w.pty.waitCollected(12, 1000), QByteArray("+0100.00 g\r\n"));
    const qint64 latency = w.pty.arrivals().value(0).ms - sentAt;
    QVERIFY2(latency >= 20 && latency < 500, qPrintable(QString::number(latency)));

    // Two commands in one read: two frames, answered in order, the first setting the second.
    w.pty.write("SET 12.5\r\nT?\r\n");
    QCOMPARE(w.pty.waitCollected(22, 1000).mid(12), QByteArray("OK\r\n12.5\r\n"));
    QTest::qWait(100);
    QCOMPARE(w.pty.collected().size(), 22);
    const QString seedLine = QStringLiteral("プロファイル: %1 (seed 7)")
                                 .arg(w.folder.file(QStringLiteral("Instrument.toml")));
    QVERIFY(w.texts().contains(Oracle::cp932(seedLine)));
}

QTEST_MAIN(tst_Exchange)
#include "tst_exchange.moc"
