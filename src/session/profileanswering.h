#pragma once

#include "session/retirement.h"

#include <QByteArray>
#include <QObject>

#include <deque>
#include <functional>
#include <memory>

class CommLog;
class SessionClock;

namespace Profile {
class Framer;
class Responder;
struct Frame;
struct Reply;
} // namespace Profile

// Answers commands by an instrument profile: received bytes -> framer -> responder -> a timed,
// paced send -> log. Nothing here waits: the framer's deadlines, the answers' delays and the
// gaps between paced bytes are calls on the session clock, so answers never nest inside one
// another and a profile runs on virtual time as well as on the real one.
//
// Answers go out one after the other, in the order their commands came, each no earlier
// than its delay after its command was whole. Stop drops the unfinished command and every
// answer not yet sent; those answers are reported as refused, so every framed command is
// accounted for.
class ProfileAnswering : public QObject
{
    Q_OBJECT

public:
    // Hands bytes to the port; false with the reason when the port did not take them (the
    // port's own log line says so there).
    using Send = std::function<bool(const QByteArray &, QString *reason)>;

    ProfileAnswering(CommLog &log, SessionClock &clock, Send send, QObject *parent = nullptr);
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

signals:
    // A command's answer has gone out (bytes: what the port took; empty when a fault dropped
    // it), after its log line.
    void answered(const QByteArray &command, const QByteArray &bytes, const QString &rule,
                  const QStringList &faults);
    // A command no rule takes, dropped after its log line; budgetRule names the rule where
    // the frame's match steps ran out, if they did.
    void unanswered(const QByteArray &bytes, const QString &budgetRule);
    // A command whose answer did not go out whole: the port refused it, or a stop came
    // first. bytes: what the port took of it.
    void refused(const QByteArray &command, const QByteArray &bytes, const QString &rule,
                 const QStringList &faults, const QString &reason);

private:
    struct Pending
    {
        QByteArray command;
        QString rule;
        QStringList faults;
        QByteArray bytes;
        qsizetype sent = 0;
        qint64 dueNs = 0;
        qint64 byteGapNs = 0;
        // Why the rest of the answer never went out; empty while it may.
        QString refusal;
    };

    void handle(std::vector<Profile::Frame> frames, qint64 atNs);
    void takeOverIfDue(bool frameEnded, qint64 atNs);
    void armDeadline();
    void onDeadline(quint64 generation);
    void pump();
    void armPump(qint64 dueNs);
    void finish(const Pending &answer);
    void logUnanswered(const QByteArray &bytes, const QString &budgetRule = QString());

    CommLog &m_log;
    SessionClock &m_clock;
    Send m_send;
    std::unique_ptr<Profile::Responder> m_responder;
    // The responder that takes over once the command under way is whole.
    std::unique_ptr<Profile::Responder> m_next;
    Retirement m_retirement;
    std::unique_ptr<Profile::Framer> m_framer;
    std::deque<Pending> m_queue;
    // Each begin() and end() starts a new generation; calls armed for an older one do nothing.
    quint64 m_generation = 0;
    qint64 m_deadlineArmedFor = 0;
    bool m_pumpArmed = false;
};
