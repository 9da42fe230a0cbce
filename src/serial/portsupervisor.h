#pragma once

#include <QObject>
#include <QString>

class SerialComm;
class SessionClock;

// Keeps one port working for whoever talks over it, and says so in few words: a problem is
// said once, not again until the port has worked in between, and its end ("back") only
// when a problem had been said. A lost port, or one that would not open, is tried again
// every kRetryMs while the owner's run goes on. Input waiting in the driver when the port
// (re)opens belongs to before and is dropped.
//
// The owner still opens, closes and configures the port as it likes; an open of its own
// counts as the port working again.
class PortSupervisor : public QObject
{
    Q_OBJECT

public:
    static constexpr int kRetryMs = 1000;

    PortSupervisor(SerialComm &port, SessionClock &clock, QObject *parent = nullptr);

    // Opens the port when closed; an open one just drops its waiting input. False once the
    // problem has been said (once).
    bool ensureOpen();
    // While on, a port that is closed or lost is tried again every kRetryMs until it opens.
    void setRetrying(bool on);
    bool isRetrying() const { return m_retrying; }

    // The port refused bytes: says "送信できません: <error>" once. A refusal by a closed
    // port is the owner's to leave unsaid, as its loss has a line already.
    void sendRefused();
    // The port took bytes. Only a send that found nothing queued lets the next refusal be
    // said again: a full queue that takes a little now and then is still the one problem.
    void sendWent(bool queueWasEmpty);

signals:
    // A line for the log and the port event stream: a problem (said once) or the port back.
    void said(const QString &line);
    // The retry has opened the port again (the owner switches receiving on).
    void reopened();

private:
    void onOpened();
    void onLost(const QString &message);
    void sayPortProblem(const QString &line);
    void armRetry();
    void retry();

    SerialComm &m_port;
    SessionClock &m_clock;
    bool m_retrying = false;
    bool m_retryArmed = false;
    // The port problem said last; "back" is said only while there is one.
    QString m_saidPortProblem;
    // Likewise for bytes an open port would not take.
    QString m_saidSendProblem;
};
