#pragma once

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
// answer not yet sent.
class ProfileAnswering : public QObject
{
    Q_OBJECT

public:
    // send hands bytes to the port and says whether it took them (a refusal is logged there).
    ProfileAnswering(CommLog &log, SessionClock &clock, std::function<bool(const QByteArray &)> send,
                     QObject *parent = nullptr);
    ~ProfileAnswering() override;

    // Starts answering with this responder, which lives until the next begin().
    void begin(std::unique_ptr<Profile::Responder> responder);
    void end();
    bool isAnswering() const { return m_framer != nullptr; }
    Profile::Responder *responder() const { return m_responder.get(); }

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
    };

    void handle(std::vector<Profile::Frame> frames);
    void armDeadline();
    void onDeadline(quint64 generation);
    void pump();
    void armPump(qint64 dueNs);
    void finish(const Pending &answer);
    void logUnanswered(const QByteArray &bytes, const QString &budgetRule = QString());

    CommLog &m_log;
    SessionClock &m_clock;
    std::function<bool(const QByteArray &)> m_send;
    std::unique_ptr<Profile::Responder> m_responder;
    std::unique_ptr<Profile::Framer> m_framer;
    std::deque<Pending> m_queue;
    // Each begin() and end() starts a new generation; calls armed for an older one do nothing.
    quint64 m_generation = 0;
    qint64 m_deadlineArmedFor = 0;
    bool m_pumpArmed = false;
};
