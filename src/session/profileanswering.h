#pragma once

#include "profile/modemlines.h"
#include "session/retirement.h"

#include <QByteArray>
#include <QObject>

#include <functional>
#include <memory>
#include <optional>

class CommLog;
class OutputLine;
class SessionClock;

namespace Profile {
class Framer;
class Responder;
struct Frame;
struct Reply;
} // namespace Profile

// Answers commands by an instrument, a profile's or the dialog's fixed one: received bytes ->
// framer -> responder -> the output line -> log. Nothing here waits: the framer's deadlines
// are calls on the session clock, and the answers' delays and paced bytes the output line's,
// so answers never nest inside one another and a run goes on virtual time as on the real one.
//
// Answers go out one after the other, in the order their commands came, each no earlier
// than its delay after its command was whole. Stop drops the unfinished command and every
// answer not yet sent; those answers are reported as refused, so every framed command is
// accounted for.
class ProfileAnswering : public QObject
{
    Q_OBJECT

public:
    ProfileAnswering(CommLog &log, SessionClock &clock, OutputLine &line, QObject *parent = nullptr);
    ~ProfileAnswering() override;

    // Starts answering with this responder, which lives until the next begin().
    void begin(std::unique_ptr<Profile::Responder> responder);
    // Another responder takes over between two frames: a command begun before the switch is
    // framed and answered by the one in force, answers already made go out as planned, and
    // the next command is the new responder's. Without one in force it begins at once.
    void switchTo(std::unique_ptr<Profile::Responder> responder);
    void end();
    bool isAnswering() const { return m_framer != nullptr; }
    // The one that answers next: a responder waiting to take over counts as in force already,
    // so a request that follows its load (a value, a fault) is its.
    Profile::Responder *responder() const { return m_next ? m_next.get() : m_responder.get(); }

    // Bytes as they arrived; the framer counts its deadlines from arrivalNs.
    void take(const QByteArray &bytes, qint64 arrivalNs);
    // A break from the host, answered by a rule for a break if there is one.
    void takeBreak(qint64 atNs);

    // Called when a framer's deadline is reached, before the framer is told: bytes that came
    // before it but were not taken yet (the event loop was busy) are taken first, stamped
    // no later than latestNs, so a late read is no silence on the line. True when more bytes
    // are on their way on the line: the deadline is looked at again a little later.
    using LateInput = std::function<bool(qint64 latestNs)>;
    void setLateInput(LateInput lateInput) { m_lateInput = std::move(lateInput); }

    // The port went away: the command under way can never be finished, and its bytes must
    // not become the beginning of the first one after the port is back.
    void dropUnfinished();

    // Logs and streams the responder's Lua errors since the last call.
    void reportScriptProblems();

    // When the fixed instrument's one-second window under way closes; nothing when none is
    // open, and always nothing for a profile (its window holds nothing else up).
    std::optional<qint64> openWindowEndNs() const;

signals:
    // A command's answer has gone out (bytes: what the port took; empty when a fault dropped
    // it), after its log line.
    void answered(const QByteArray &command, const QByteArray &bytes, const QString &rule,
                  const QStringList &faults);
    // A command no rule takes, dropped after its log line; budgetRule names the rule where
    // the frame's match steps ran out, if they did.
    // A rule that took the command but whose Lua failed: budgetRule is that rule, reason the
    // error.
    void unanswered(const QByteArray &bytes, const QString &budgetRule, const QString &reason);
    // The profile's Lua failed (also where it only declined a rule); logged once per rule.
    void scriptError(const QString &where, const QString &message);
    // A rule switched continuous output on or off.
    void continuousSwitched(bool on);
    // A rule set lines the instrument drives.
    void linesSwitched(const ModemLinesChange &change);
    // A command whose answer did not go out whole: the port refused it, or a stop came
    // first. bytes: what the port took of it.
    void refused(const QByteArray &command, const QByteArray &bytes, const QString &rule,
                 const QStringList &faults, const QString &reason);
    // The fixed instrument's window has closed, its answer (if any) handed to the line.
    void windowClosed();
    // The instrument's receive buffer ([line] buffer) has filled to three quarters, or
    // emptied to a quarter since: fill and size in bytes.
    void receiveBufferCrossed(bool full, qint64 fill, qint64 size);
    // Bytes that came while the receive buffer was full, lost.
    void overrun(const QByteArray &lost);

private:
    void handle(std::vector<Profile::Frame> frames, qint64 atNs);
    void takeOverIfDue(bool frameEnded, qint64 atNs);
    void armDeadline();
    void onDeadline(quint64 generation);
    void finish(const QByteArray &command, const Profile::Reply &reply, const QByteArray &sent,
                const QString &refusal);
    qint64 bufferFill() const;
    void checkBuffer();
    void logUnanswered(const QByteArray &bytes, const QString &budgetRule = QString(),
                       const QString &reason = QString());


    CommLog &m_log;
    SessionClock &m_clock;
    OutputLine &m_line;
    std::unique_ptr<Profile::Responder> m_responder;
    // The responder that takes over once the command under way is whole.
    std::unique_ptr<Profile::Responder> m_next;
    Retirement m_retirement;
    std::unique_ptr<Profile::Framer> m_framer;
    // Each begin() and end() starts a new generation; calls armed for an older one do nothing.
    quint64 m_generation = 0;
    qint64 m_deadlineArmedFor = 0;
    LateInput m_lateInput;
    // The responder's receive buffer, 0 for none; the bytes of the commands framed whose
    // answers have not gone out yet.
    qint64 m_bufferSize = 0;
    qint64 m_heldBytes = 0;
    bool m_bufferFull = false;
};
