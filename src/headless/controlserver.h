#pragma once

#include "controlrequests.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QLocalServer>
#include <QObject>
#include <QString>

class CommSession;
class QLocalSocket;

// The control channel (--control): a Unix-domain socket, owner only, taking JSON requests a
// line at a time and answering each with one line. Clients never hold up the line: requests
// are read as they come, and replies wait in the socket's buffer; a client that lets that
// buffer grow past its bound by not reading is disconnected. A line that is too long or no
// JSON gets an error reply, and the connection goes on.
class ControlServer : public QObject
{
    Q_OBJECT

public:
    static constexpr qsizetype kMaxLineBytes = qsizetype(64) * 1024;
    static constexpr qsizetype kMaxReplyBacklog = qsizetype(1) << 20;

    explicit ControlServer(CommSession &session, QObject *parent = nullptr);
    ~ControlServer() override;

    // Claims path (a stale socket there is removed) and listens on it with mode 0600.
    // False with the reason; nothing is left at path then.
    bool listen(const QString &path, QString *error);
    // Before the process ends: replies still queued get at most timeoutMs to go out.
    void finish(int timeoutMs);
    // The run is stopping (asked here or elsewhere): every request from now on is refused,
    // so that nothing is answered ok that will not happen.
    void refuseRequests() { m_refusing = true; }

signals:
    // A client asked for the stop; its reply has been handed to the socket.
    void stopRequested();

private:
    struct Client
    {
        QByteArray partial;
        // Inside a line that was too long: its bytes up to the newline are dropped.
        bool skippingLine = false;
    };

    void accept();
    void readFrom(QLocalSocket *socket);
    void takeLinePart(QLocalSocket *socket, QByteArrayView part, bool lineEnds);
    void answer(QLocalSocket *socket, const QByteArray &line);
    void reply(QLocalSocket *socket, const QByteArray &line);
    void forget(QLocalSocket *socket);

    QLocalServer m_server;
    ControlRequests m_requests;
    QHash<QLocalSocket *, Client> m_clients;
    bool m_refusing = false;
};
