#pragma once

#include "fakeservices.h"
#include "log/commlog.h"
#include "ptypair.h"
#include "session/station.h"
#include "settingsfolder.h"
#include "startup/frmsokutei.h"
#include "text/ansicodec.h"

#include <QDeadlineTimer>
#include <QPushButton>
#include <QTest>

#include <memory>

// Clicks 開始 on the main window and serves events until its run has ended with a stop line
// and its last bytes have reached the host: a continuous run goes on after the click has
// returned.
inline void startAndServeRun(QWidget *mainWindow, const CommLog &log, int patienceMs = 30'000)
{
    const QByteArray stopLine = Ansi::encodeLossy(CommSession::stoppedLine());
    bool ended = false;
    const QMetaObject::Connection watch =
            QObject::connect(&log, &CommLog::lineAppended, mainWindow, [&](int index) {
                ended = ended || log.line(index).endsWith(stopLine);
            });
    mainWindow->findChild<QPushButton *>(QStringLiteral("cmdSend"))->click();
    for (QDeadlineTimer patience(patienceMs); !ended && !patience.hasExpired();)
        QTest::qWait(2);
    QObject::disconnect(watch);
    // The last cycle's bytes are on their way through the pty to the host's end.
    QTest::qWait(100);
}

// A main window started on default settings files, its port 1 wired to a pty whose host
// end the test plays.
struct RunningWindow
{
    PtyPair pty;
    SettingsFolder folder;
    FakeServices fake;
    Station station { folder.path() };
    SettingsRecords &records = station.records();
    std::unique_ptr<frmSOKUTEI> form;

    explicit RunningWindow(const QByteArray &outputType = "1", const QByteArray &interval = "1")
    {
        folder.writeDefaults(pty.slavePath(), outputType, interval);
        form = std::make_unique<frmSOKUTEI>(station, fake.services());
        form->Form_Load();
        form->log().appendLine("caption");
        form->show();
        pty.startCollecting();
    }

    QPushButton *button(const char *name) const
    {
        return form->findChild<QPushButton *>(QLatin1String(name));
    }
    CommLog &log() const { return form->log(); }
    void startAndServeRun() const { ::startAndServeRun(form.get(), log()); }
    // The device goes away. Its pty number is free for any process to take, and the
    // program's retry must not open someone else's terminal through port 1.
    void pullCable()
    {
        pty.closeMaster();
        folder.linkMissingCom1();
    }
    QByteArray lastLine() const { return log().line(log().lineCount() - 1); }
    // The text of a stamped line, after "[YYYY/MM/DD HH:MM:SS] ".
    static QByteArray textOf(const QByteArray &line) { return line.mid(22); }
    QList<QByteArray> texts() const
    {
        QList<QByteArray> all;
        for (int i = 1; i < log().lineCount(); ++i)
            all.append(textOf(log().line(i)));
        return all;
    }
};
