#pragma once

#include "serial/portsupervisor.h"
#include "session/continuousoutput.h"
#include "session/instrumentflow.h"
#include "session/instrumentprofile.h"
#include "session/lineaccount.h"
#include "session/lineevent.h"
#include "session/outputline.h"
#include "session/profileanswering.h"
#include "session/profileloadqueue.h"
#include "session/retirement.h"
#include "settings/settingsrecords.h"

#include <QObject>
#include <QString>

class CommLog;
class SerialComm;
class SessionClock;

// The simulator's line work: Start and Stop, continuous output, and the answers to device
// commands. The window around it only changes how things look.
//
// One path from the port to the wire, with or without a profile: received bytes -> framer ->
// responder -> output line -> port, with the log line and the event made from the same record
// of what was sent. Without a profile the responder is the fixed instrument (the dialog's
// patterns in a one-second window). Nothing waits: every wait is a call on the session clock,
// so no handler ever runs inside another. The rules that keep the wire, the log and the window
// in agreement:
// - at most one continuous run sends; a stopped run sends at most its one pending cycle, and
//   nothing once a later Start has begun;
// - the continuous text goes out only while the output type in force is continuous output;
// - every Stop is followed by exactly one stop line;
// - a line is logged as sent only when the device took its bytes.
class CommSession : public QObject
{
    Q_OBJECT

public:
    // clock: the steady clock when none is given.
    CommSession(SettingsRecords &records, SerialComm &port, CommLog &log, QObject *parent = nullptr,
                SessionClock *clock = nullptr);

    // Switches answering on with an empty input buffer and, for continuous output, begins
    // the periodic output. Returns at once.
    void start();
    // Ends communication: waiting input is dropped and no more commands are answered; a
    // continuous run sends its pending cycle and then ends.
    void stop();
    // Ends communication for a stop asked from outside: like stop(), but the pending cycle is
    // not sent. Its stop line follows at once.
    void stopAtOnce();
    // While held (a modal box or the tray menu is open), continuous output waits; a cycle due
    // meanwhile goes out when the hold ends.
    void setOutputHeld(bool held) { m_continuous.setHeld(held); }

    // The instrument profile, read again by loadProfile() before each Start. With one in
    // force, commands are answered by its rules (the dialog's patterns after them) without
    // the one-second window of the fixed instrument, and its continuous text is sent.
    InstrumentProfile &profile() { return m_profile; }
    bool loadProfile(QString *error) { return m_profile.reload(error); }
    // The profile's player while a run with a profile answers; null otherwise.
    Profile::Responder *responder() const;

    // Reads another profile off the event loop, one request after the other; the profile in
    // force answers meanwhile. While communicating the new one takes over between two frames,
    // with a new seed (or the one given). profileSwitched() tells the outcome under the
    // ticket returned; a profile that cannot be used leaves the one in force.
    quint64 switchProfileLater(const QString &file);
    // Sends bytes now, outside any answer (an instrument's alarm), and logs them as sent.
    // False when the port refused them; bytes that wait behind an answer on the wire count
    // as taken.
    bool sendNow(const QByteArray &bytes);
    // A break of ms toward the host, after what has gone to the port; false when it is closed.
    bool sendBreak(int ms);
    // Logs and streams the Lua errors of the profile in force since the last report.
    void reportScriptProblems() { m_answering.reportScriptProblems(); }
    const LineCounters &counters() const { return m_account.counters(); }
    // The lines the instrument drives toward the host (a profile's [line], else all but RI up),
    // changed by a control request; instrumentLinesChanged() tells whoever serves the host.
    ModemLines instrumentLines() const { return m_lines; }
    void setInstrumentLines(const ModemLines &lines);
    // The host set its DTR or RTS: logged and streamed.
    void hostLinesChanged(bool dtr, bool rts);
    // The host sent a break this long: logged, streamed, and answered by a rule for a break.
    void breakFromHost(int ms);
    // The port settings in force: the profile's [line] while it plays, else the settings'.
    QString lineInForce() const;
    // The output type in force, as the settings write it ("0" continuous, "1" on each
    // receive): a profile whose [continuous] says enabled decides it while it plays.
    QString outputTypeInForce() const;

    bool isCommunicating() const { return m_communicating; }
    // -1 once Stop was pressed, 0 while a run may go on.
    qint16 stopFlag() const { return m_stopFlag; }

    static QString startedLine() { return QStringLiteral("通信を開始しました。"); }
    static QString stoppedLine() { return QStringLiteral("通信を停止しました。"); }

signals:
    void communicatingChanged(bool communicating);
    // A rule switched the profile's continuous output: outputTypeInForce() has changed.
    void outputTypeChanged();
    void instrumentLinesChanged(const ModemLines &lines);
    void lineEvent(const LineEvent &event);
    // problems: empty once the profile is in force, else its "FILE:LINE:COL: reason" lines.
    void profileSwitched(quint64 ticket, const QString &problems);

private:
    void onCommEvent();
    bool takeLateInput(qint64 latestNs);
    bool write(const QByteArray &bytes, QString *refusal);
    void beginAnswering();
    void prepareToPlay(Profile::Responder &responder);
    void sendContinuousOutput();
    void logContinuousOutput();
    void adoptLoadedProfile(quint64 ticket, ProfileLoadJob::Result result);
    void onPortLost();
    // Continuous output runs: by the profile's [continuous] when it has one, else by the
    // settings' output type.
    bool continuousWanted() const;
    std::optional<double> continuousInterval() const;
    const Profile::Continuous *profileContinuous() const;
    void switchContinuous(bool on);
    // The profile's [line] instead of the settings' port settings, and back.
    void applyProfileLine(const QString &line);
    void restoreSettingsLine();

    SettingsRecords &m_records;
    SerialComm &m_port;
    CommLog &m_log;
    SessionClock &m_clock;
    InstrumentProfile m_profile;
    PortSupervisor m_supervisor;
    LineAccount m_account;
    InstrumentFlow m_flow;
    OutputLine m_line;
    ProfileAnswering m_answering;
    ContinuousOutput m_continuous;
    ProfileLoadQueue m_loads;
    Retirement m_retirement;
    bool m_communicating = false;
    // The responder answering is a profile's, not the fixed instrument.
    bool m_playsProfile = false;
    // A rule's continuous = "on" / "off" since Start; the profile's enabled before.
    bool m_profileContinuousOn = false;
    bool m_lineFromProfile = false;
    ModemLines m_lines;
    bool m_hostDtr = false;
    bool m_hostRts = false;
    qint16 m_stopFlag = 0;
};
