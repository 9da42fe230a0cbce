#include "monitor/exchangemodel.h"
#include "monitor/monitorwindow.h"
#include "platform/sessionclock.h"
#include "runningwindow.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QRegularExpression>
#include <QTableView>
#include <QTableWidget>
#include <QToolTip>

// The line monitor over a real session on a pty: what the host and the instrument exchange
// appears in its table, and what it changes reaches the instrument's answers.
class tst_Monitor : public QObject
{
    Q_OBJECT

private slots:
    void shouldOpenFromTrayKeyAndLog_data();
    void shouldOpenFromTrayKeyAndLog();
    void shouldShowExchangesAndTheReadingsSent();
    void shouldFilterRows_data();
    void shouldFilterRows();
    void shouldCopySelectedRowsAsTabSeparatedLines();
    void shouldChangeTheRunThroughRequests();
    void shouldClaimEachWriteOfAnAnswerAndFollowTheLines();
    void shouldKeepOnlyTheLastRows();
    void shouldShowWhatTheLineItselfDid_data();
    void shouldShowWhatTheLineItselfDid();
    void shouldShowACutLogLineWholeInATooltip();
};

namespace {
const QByteArray kProfile
    = "[framing]\nterminator = \"[CR]\"\n"
      "[values.level]\nrandom = [0, 999]\nformat = \"%03d\"\n"
      "[values.target]\ninitial = \"00\"\n"
      "[[rule]]\nname = \"read\"\nmatch = \"R[CR]\"\nanswer = \"R{level}[CR]\"\n"
      "[[rule]]\nname = \"target\"\nmatch = \"T?[CR]\"\n"
      "answer = \"T{target}[CR]\"\n"
      "[[rule]]\nname = \"mute\"\nmatch = \"M[CR]\"\nanswer = \"M[CR]\"\n"
      "drop = { every = 1 }\n"
      "[[rule]]\nname = \"slow\"\nmatch = \"S[CR]\"\nlines = { ri = true }\n"
      "[[rule.part]]\ntext = \"A\"\n[[rule.part]]\ntext = \"B[CR]\"\ndelay_ms = 20\n";

// A main window playing kProfile, its monitor open.
struct MonitoredRun : RunningWindow
{
    MonitorWindow *monitor = nullptr;
    QTableView *table = nullptr;

    MonitoredRun()
    {
        folder.write(QStringLiteral("Instrument.toml"), kProfile);
        // As --seed gives it: all 64 bits, past what a profile's TOML integer holds.
        form->session().profile().setSeed(18446744073709551557ULL);
        button("cmdSend")->click();
        monitor = form->monitor();
        monitor->bringForward();
        table = child<QTableView>("tblExchanges");
    }
    template <typename T> T *child(const char *name) const
    {
        return monitor->findChild<T *>(QLatin1String(name));
    }
    // The host asks; returns what the instrument answered within the wait.
    QByteArray ask(const QByteArray &command, int answerBytes, int waitMs = 2000)
    {
        const qsizetype before = pty.collected().size();
        pty.write(command);
        pty.waitCollected(int(before) + answerBytes, waitMs);
        return pty.collected().mid(before);
    }
    QString cell(int row, int column) const
    {
        return table->model()->index(row, column).data().toString();
    }
    int rows() const { return table->model()->rowCount(); }
    // The rows once the window has caught up with the answer to the last command.
    void waitForAnswers(qint64 commands)
    {
        QTRY_COMPARE(form->session().counters().commandsSeen, commands);
        QTest::qWait(100); // the table takes new rows in batches
    }
};
} // namespace

void tst_Monitor::shouldOpenFromTrayKeyAndLog_data()
{
    QTest::addColumn<QString>("way");
    QTest::newRow("tray menu") << "tray";
    QTest::newRow("F2") << "key";
    QTest::newRow("double click on the log") << "log";
}

void tst_Monitor::shouldOpenFromTrayKeyAndLog()
{
    QFETCH(QString, way);
    RunningWindow w;
    MonitorWindow *monitor = w.form->monitor();
    QVERIFY(monitor && !monitor->isVisible());
    if (way == QLatin1String("tray")) {
        w.form->mnuTray()->findChild<QAction *>(QStringLiteral("mnuMonitor"))->trigger();
    } else if (way == QLatin1String("key")) {
        w.form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
        QTest::keyClick(w.form->windowHandle(), Qt::Key_F2);
    } else {
        auto *log = w.form->findChild<QListView *>(QStringLiteral("lblJu"));
        QTRY_COMPARE(log->model()->rowCount(), 1);
        const QPoint line = log->visualRect(log->model()->index(0, 0)).center();
        QTest::mouseClick(log->viewport(), Qt::LeftButton, {}, line);
        QTest::mouseDClick(log->viewport(), Qt::LeftButton, {}, line);
    }
    QTRY_VERIFY(monitor->isVisible());
    QCOMPARE(monitor->objectName(), QStringLiteral("frmMonitor"));
}

void tst_Monitor::shouldShowExchangesAndTheReadingsSent()
{
    MonitoredRun r;
    // The seed in full, past what a double holds.
    QCOMPARE(r.child<QLineEdit>("txtSeed")->text(), QStringLiteral("18446744073709551557"));
    QVERIFY(r.child<QLineEdit>("txtSeed")->isReadOnly());
    QVERIFY(
        r.child<QLineEdit>("txtProfilePath")->text().endsWith(QLatin1String("Instrument.toml")));
    QCOMPARE(r.child<QLineEdit>("txtInstrumentLine")->text(), QStringLiteral("9600,N,8,1"));

    const QByteArray answer = r.ask("R\r", 5);
    QVERIFY2(QRegularExpression(QStringLiteral("^R\\d{3}\r$"))
                 .match(QString::fromLatin1(answer))
                 .hasMatch(),
        answer.constData());
    r.waitForAnswers(1);
    QString in, out;
    for (int row = 0; row < r.rows(); ++row)
        (r.cell(row, 1) == QStringLiteral("受信") ? in : out) += r.cell(row, 3);
    QCOMPARE(in, QStringLiteral("R[CR]"));
    QCOMPARE(out, QString::fromLatin1(answer.left(4)) + QStringLiteral("[CR]"));
    const int last = r.rows() - 1;
    QCOMPARE(r.cell(last, 2), QString::fromLatin1(answer.toHex(' ').toUpper()));
    QCOMPARE(r.cell(last, 4), QStringLiteral("read"));
    QVERIFY(r.cell(last, 0).contains(
        QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3}$"))));
    QVERIFY(r.cell(last, 5).toDouble() >= 0 && !r.cell(last, 5).isEmpty());

    // The reading the instrument last sent, not a new one drawn to be shown.
    auto *values = r.child<QTableWidget>("tblValues");
    QTRY_COMPARE(values->item(0, 2)->text(), QString::fromLatin1(answer.mid(1, 3)));
    QCOMPARE(values->item(1, 2)->text(), QStringLiteral("00"));

    // A dropped answer is a row of its own, with its fault.
    QCOMPARE(r.ask("M\r", 1, 300), QByteArray());
    r.waitForAnswers(2);
    QCOMPARE(r.cell(r.rows() - 1, 4), QStringLiteral("mute"));
    QCOMPARE(r.cell(r.rows() - 1, 6), QStringLiteral("drop"));
    QCOMPARE(r.cell(r.rows() - 1, 2), QString());
}

void tst_Monitor::shouldFilterRows_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("direction");
    QTest::addColumn<QStringList>("shown"); // the text column of the rows left, in order
    QTest::newRow("all") << "" << 0 << QStringList { "T?[CR]", "T00[CR]", "M[CR]", "" };
    QTest::newRow("in") << "" << 1 << QStringList { "T?[CR]", "M[CR]" };
    QTest::newRow("out") << "" << 2 << QStringList { "T00[CR]", "" };
    QTest::newRow("by hex, spaced") << "4d 0d" << 0 << QStringList { "M[CR]" };
    QTest::newRow("by hex, packed") << "3f0d" << 0 << QStringList { "T?[CR]" };
    QTest::newRow("by rule") << "target" << 0 << QStringList { "T00[CR]" };
    QTest::newRow("by fault, out only") << "drop" << 2 << QStringList { "" };
    QTest::newRow("by text, none out") << "T?" << 2 << QStringList {};
}

void tst_Monitor::shouldFilterRows()
{
    QFETCH(QString, text);
    QFETCH(int, direction);
    QFETCH(QStringList, shown);
    MonitoredRun r;
    r.ask("T?\r", 4);
    r.ask("M\r", 1, 200);
    r.waitForAnswers(2);
    r.child<QLineEdit>("txtFilter")->setText(text);
    r.child<QComboBox>("cboDirection")->setCurrentIndex(direction);
    QStringList left;
    for (int row = 0; row < r.rows(); ++row)
        left.append(r.cell(row, 3));
    QCOMPARE(left, shown);
}

void tst_Monitor::shouldCopySelectedRowsAsTabSeparatedLines()
{
    MonitoredRun r;
    r.ask("T?\r", 4);
    r.waitForAnswers(1);
    r.table->selectAll();
    QTest::keyClick(r.table, Qt::Key_C, Qt::ControlModifier);
    const QStringList lines = QGuiApplication::clipboard()->text().split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), r.rows() + 1); // the last line ends too
    const QStringList last = lines.at(r.rows() - 1).split(QLatin1Char('\t'));
    QCOMPARE(last.size(), 7);
    QCOMPARE(last.mid(1, 5).join(QLatin1Char('|')),
        QStringLiteral("送信|54 30 30 0D|T00[CR]|target|") + r.cell(r.rows() - 1, 5));
}

void tst_Monitor::shouldChangeTheRunThroughRequests()
{
    MonitoredRun r;
    auto *values = r.child<QTableWidget>("tblValues");
    QVERIFY(!(values->item(0, 2)->flags() & Qt::ItemIsEditable)); // drawn, not stored
    values->item(1, 2)->setText(QStringLiteral("4[SP]2"));
    QCOMPARE(r.ask("T?\r", 5), QByteArray("T4 2\r"));

    auto *faults = r.child<QTableWidget>("tblFaults");
    QCOMPARE(faults->rowCount(), 1);
    QCOMPARE(
        faults->item(0, 0)->text() + ' ' + faults->item(0, 1)->text(), QStringLiteral("mute drop"));
    QCOMPARE(r.ask("M\r", 2, 200), QByteArray());
    faults->item(0, 1)->setCheckState(Qt::Unchecked);
    QCOMPARE(r.ask("M\r", 2), QByteArray("M\r"));

    const auto send = [&](const QString &bytes, int form, int want) {
        const qsizetype before = r.pty.collected().size();
        r.child<QLineEdit>("txtSendNow")->setText(bytes);
        r.child<QComboBox>("cboSendAs")->setCurrentIndex(form);
        r.child<QPushButton>("cmdSendNow")->click();
        r.pty.waitCollected(int(before) + want, want ? 2000 : 200);
        return r.pty.collected().mid(before);
    };
    QCOMPARE(send(QStringLiteral("[SXT]AB[EOT]"), 0, 4),
        QByteArray("\x02"
                   "AB\x03"));
    QCOMPARE(send(QStringLiteral("30 31 0d"), 1, 3), QByteArray("01\r"));
    QVERIFY(r.child<QLabel>("lblMonitorStatus")->text().isEmpty());
    QCOMPARE(send(QStringLiteral("[NOPE]"), 0, 0), QByteArray());
    QVERIFY(r.child<QLabel>("lblMonitorStatus")->text().contains(QLatin1String("NOPE")));
}

void tst_Monitor::shouldClaimEachWriteOfAnAnswerAndFollowTheLines()
{
    MonitoredRun r;
    auto *ri = r.child<QCheckBox>("chkRi");
    QVERIFY(!ri->isChecked());
    // An answer in parts: each write is a row, all of them the rule's, the delay on the first.
    QCOMPARE(r.ask("S\r", 3), QByteArray("AB\r"));
    r.waitForAnswers(1);
    QStringList answer;
    for (int row = r.rows() - 2; row < r.rows(); ++row)
        answer << r.cell(row, 3) + '/' + r.cell(row, 4) + '/'
                + (r.cell(row, 5).isEmpty() ? "" : "d");
    QCOMPARE(answer, QStringList({ "A/slow/d", "B[CR]/slow/" }));
    QVERIFY(ri->isChecked()); // the rule raised it

    r.child<QCheckBox>("chkCts")->click();
    QVERIFY(!r.form->session().instrumentLines().cts);
    r.form->session().hostLinesChanged(true, false);
    QCOMPARE(r.child<QLabel>("lblHostLines")->text(), QStringLiteral("DTR ON  RTS OFF"));
    // As the virtual port's cable tells it when the host sets its end.
    emit r.form->MSComm1().lineCompared(
        QStringLiteral("4800,N,8,1"), QStringLiteral("9600,N,8,1"), false);
    QTRY_COMPARE(
        r.child<QLineEdit>("txtHostLine")->text(), QStringLiteral("4800,N,8,1 (計器と異なる)"));

    QCOMPARE(r.ask("X\r", 1, 200), QByteArray());
    r.waitForAnswers(2);
    QCOMPARE(
        r.cell(r.rows() - 1, 3) + ' ' + r.cell(r.rows() - 1, 6), QStringLiteral("X[CR] 応答なし"));
}

void tst_Monitor::shouldKeepOnlyTheLastRows()
{
    MonitoredRun r;
    MonitorWindow small(r.form->session(), 20);
    auto *table = small.findChild<QTableView *>(QStringLiteral("tblExchanges"));
    for (int i = 0; i < 40; ++i)
        r.ask("T?\r", 4);
    r.waitForAnswers(40);
    QCOMPARE(table->model()->rowCount(), 20);
    QCOMPARE(table->model()->index(19, 3).data().toString(), QStringLiteral("T00[CR]"));
    QCOMPARE(table->model()->index(19, 4).data().toString(), QStringLiteral("target"));
}

void tst_Monitor::shouldShowWhatTheLineItselfDid_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("row");
    const auto row = [](const char *name, LineEvent::Kind kind, const QByteArray &bytes,
                        const char *message, const char *shown) {
        QTest::newRow(name) << int(kind) << bytes << QString::fromUtf8(message) << QString::fromUtf8(shown);
    };
    row("overrun", LineEvent::Kind::Overrun, "Q\r", "", "受信 51 0D Q[CR] 受信バッファあふれ");
    row("xoff", LineEvent::Kind::Flow, "", "XOFF", "送信 13 [DC3] 受信バッファ 24/32: XOFF");
    row("cts", LineEvent::Kind::Flow, "", "CTS off", "送信   受信バッファ 24/32: CTS off");
    row("break sent", LineEvent::Kind::BreakSent, "", "", "送信   ブレーク 24 ms");
    row("break from the host", LineEvent::Kind::Break, "", "", "受信   ブレーク 24 ms");
}

void tst_Monitor::shouldShowWhatTheLineItselfDid()
{
    QFETCH(int, kind);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, message);
    ExchangeModel model(10);
    LineEvent event;
    event.kind = LineEvent::Kind(kind);
    event.atNs = SessionClock::steady().nowNs();
    event.bytes = bytes;
    event.message = message;
    event.count = 24;
    event.size = 32;
    model.take(event);
    model.announce();
    QCOMPARE(model.rowCount(), 1);
    QStringList cells;
    for (const int column : { 1, 2, 3, 6 })
        cells << model.index(0, column).data().toString();
    QTEST(cells.join(QLatin1Char(' ')), "row");
}

void tst_Monitor::shouldShowACutLogLineWholeInATooltip()
{
    RunningWindow w;
    auto *log = w.form->findChild<QListView *>(QStringLiteral("lblJu"));
    const QString longLine = QStringLiteral("x").repeated(300);
    w.log().appendLine(longLine.toLatin1());
    QTRY_COMPARE(log->model()->rowCount(), 2);
    const auto tipAt = [&](int row) {
        QToolTip::hideText();
        const QPoint at = log->visualRect(log->model()->index(row, 0)).center();
        QHelpEvent help(QEvent::ToolTip, at, log->viewport()->mapToGlobal(at));
        QCoreApplication::sendEvent(log->viewport(), &help);
        return QToolTip::isVisible() ? QToolTip::text() : QString();
    };
    QCOMPARE(tipAt(0), QString()); // "caption" fits
    QCOMPARE(tipAt(1), longLine);
}

QTEST_MAIN(tst_Monitor)
#include "tst_monitor.moc"
