#pragma once

#include "session/instrumentprofile.h"
#include "session/lineevent.h"
#include "session/profileanswering.h"
#include "session/profileloadqueue.h"
#include "session/retirement.h"
#include "settings/settingsrecords.h"

#include <QObject>
#include <QString>


class CommLog;
class SerialComm;
class SessionClock;

// The simulator's line work: Start and Stop with the continuous-output loop, and the
// answers to device commands. The window around it only changes how things look.
//
// Everything runs on one thread, but the waits serve events, so Start, Stop, settings
// changes and receive events run nested inside a waiting loop or handler. The rules that
// keep the wire, the log and the window in agreement across such nesting:
// - at most one continuous-output loop sends; a stopped run sends at most its one pending
//   cycle, and nothing once a later Start has begun;
// - the continuous text goes out only while the output type in force is continuous output;
// - every Stop is followed by exactly one stop line;
// - one receive handler at a time;
// - a line is logged as sent only when the device took its bytes.
class CommSession : public QObject
{
    Q_OBJECT

public:
    static constexpr int kReceiveWaitSeconds = 1;
    static constexpr int kPortRetryMs = 1000;

    // clock: the steady clock when none is given.
    CommSession(SettingsRecords &records, SerialComm &port, CommLog &log, QObject *parent = nullptr,
                SessionClock *clock = nullptr);

    // Switches answering on with an empty input buffer and, for continuous output, runs the
    // output loop; in that case it returns only when the run has ended (after Stop, at the
    // end of the cycle under way).
    void start();
    // Ends communication: the loop leaves after its current cycle, waiting input is dropped
    // and no more commands are answered.
    void stop();
    // Ends communication for a stop asked from outside: like stop(), but every wait under way
    // ends now and the pending cycle is not sent. Its stop line follows at once.
    void stopAtOnce();

    // The instrument profile, read again by loadProfile() before each Start. With one in
    // force, commands are answered by its rules (the dialog's patterns after them) without
    // the one-second wait of the fixed instrument, and its continuous text is sent.
    InstrumentProfile &profile() { return m_profile; }
    bool loadProfile(QString *error) { return m_profile.reload(error); }
    // The profile's player while a run with a profile answers; null otherwise.
    Profile::Responder *responder() const { return m_answering.responder(); }

    // Reads another profile off the event loop, one request after the other; the profile in
    // force answers meanwhile. While communicating the new one takes over between two frames,
    // with a new seed (or the one given). profileSwitched() tells the outcome under the
    // ticket returned; a profile that cannot be used leaves the one in force.
    quint64 switchProfileLater(const QString &file);
    // Sends bytes now, outside any answer (an instrument's alarm), and logs them as sent.
    bool sendNow(const QByteArray &bytes);
    const LineCounters &counters() const { return m_counters; }

    bool isCommunicating() const { return m_communicating; }
    // -1 once Stop was pressed, 0 while a run may go on.
    qint16 stopFlag() const { return m_stopFlag; }

    // The receive handler, run for each receive event of the port.
    void handleCommEvent();

    // When the k-th continuous output is due, given when the one before was due: one interval
    // later, so the period does not drift. A deadline already past (the loop was held up
    // longer than an interval) is taken from now instead, so no burst of catch-up output
    // follows.
    static qint64 nextOutputDue(qint64 previousDueNs, qint64 intervalNs, qint64 nowNs);

    static QString startedLine() { return QStringLiteral("通信を開始しました。"); }
    static QString stoppedLine() { return QStringLiteral("通信を停止しました。"); }

signals:
    void communicatingChanged(bool communicating);
    void lineEvent(const LineEvent &event);
    // problems: empty once the profile is in force, else its "FILE:LINE:COL: reason" lines.
    void profileSwitched(quint64 ticket, const QString &problems);

private:
    void runContinuousOutput(quint64 run);
    void finishLoopRun();
    bool send(const QByteArray &bytes, QString *refusal = nullptr);
    void onPortOpened();
    void onPortLost(const QString &message);
    void onOutputDropped(qint64 bytes, const QString &device);
    void answerWaitingInput();
    double intervalSeconds(quint64 run);
    void logContinuousOutput();
    void sendContinuousOutput();
    void beginProfile();
    void prepareToPlay(Profile::Responder &responder);
    void onProfileAnswered(const QByteArray &command, const QByteArray &bytes, const QString &rule,
                           const QStringList &faults);
    void countUnanswered(const QByteArray &bytes, const QString &budgetRule = QString());
    void onAnswerRefused(const QByteArray &command, const QByteArray &bytes, const QString &rule,
                         const QStringList &faults, const QString &reason);
    void adoptLoadedProfile(quint64 ticket, ProfileLoadJob::Result result);
    QByteArray receivedInput();
    void report(LineEvent event);
    // A port problem or its end: a log line and the same words as a port event.
    void reportPort(const QString &line);
    // Bytes of one kind; atNs 0 is now.
    void reportBytes(LineEvent::Kind kind, const QByteArray &bytes, qint64 atNs = 0);
    void armRetry();
    void retryPort();
    bool openPortIfClosed();
    void answerAgain();
    void logPortProblem(const QString &line);
    bool outputTypeIsContinuous() const;

    SettingsRecords &m_records;
    SerialComm &m_port;
    CommLog &m_log;
    SessionClock &m_clock;
    InstrumentProfile m_profile;
    ProfileAnswering m_answering;
    ProfileLoadQueue m_loads;
    Retirement m_retirement;
    LineCounters m_counters;
    bool m_communicating = false;
    qint16 m_stopFlag = 0;
    // Each Start begins a new run. A loop whose run is no longer the latest stays on the stack
    // until the nested work above it returns, and then leaves without sending.
    quint64 m_run = 0;
    // The run whose continuous loop still owes its stop line; 0 when none does.
    quint64 m_loopRun = 0;
    bool m_inHandler = false;
    // The run that has already said its interval text is no number.
    quint64 m_intervalWarnedRun = 0;
    bool m_retryArmed = false;
    // The last port problem written to the log: the same one is not written again until the
    // port has worked in between.
    QString m_loggedPortProblem;
    // Likewise for output the device refused while the port stayed open.
    QString m_loggedSendProblem;
};
