#pragma once

#include "headless/controlrequests.h"
#include "platform/listeningsocket.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QObject>
#include <QString>

#include <deque>

class CommSession;
class QLocalSocket;

// The control channel (--control): a Unix-domain socket, owner only, taking JSON requests a
// line at a time and answering each with one line. Clients never hold up the line: requests
// are read as they come, and replies wait in the socket's buffer; a client that lets that
// buffer grow past its bound by not reading is disconnected. A line that is too long or no
// JSON gets an error reply, and the connection goes on. Clients past the bound, and those
// that come when the process has no descriptor left, get an error line and are let go; the
// socket keeps listening.
class ControlServer : public QObject
{
    Q_OBJECT

public:
    static constexpr qsizetype kMaxLineBytes = qsizetype(64) * 1024;
    static constexpr qsizetype kMaxReplyBacklog = qsizetype(1) << 20;
    static constexpr int kMaxClients = 1000;
    // Descriptors kept from clients for the run's own files: the saved log above all.
    static constexpr long kReservedDescriptors = 32;

    explicit ControlServer(CommSession &session, QObject *parent = nullptr);
    ~ControlServer() override;

    // Claims path (a stale socket there is removed) and listens on it with mode 0600, taking
    // as many clients at once as descriptorLimit leaves (at most kMaxClients).
    // False with the reason; nothing is left at path then.
    bool listen(const QString &path, long descriptorLimit, QString *error);
    // Before the process ends: replies still queued get at most timeoutMs to go out.
    void finish(int timeoutMs);
    // The run is stopping (asked here or elsewhere): every request from now on is refused,
    // so that nothing is answered ok that will not happen.
    // From now on every request gets "the run is stopping", also those waiting behind a
    // profile load, whose own reply says so at once.
    void refuseRequests();

signals:
    // A client asked for the stop; its reply has been handed to the socket.
    void stopRequested();

private:
    struct Client
    {
        QByteArray partial;
        // Inside a line that was too long: its bytes up to the newline are dropped.
        bool skippingLine = false;
        // The profile load whose outcome is this client's next reply; until it comes, the
        // client's further requests wait, so replies keep the order of the requests.
        quint64 awaitedLoad = 0;
        std::deque<QByteArray> held;
    };

    void accept(int fd);
    void sayOutOfDescriptors(const QString &reason);
    void readFrom(QLocalSocket *socket);
    void takeLinePart(QLocalSocket *socket, QByteArrayView part, bool lineEnds);
    void answer(QLocalSocket *socket, const QByteArray &line);
    void reply(QLocalSocket *socket, const QByteArray &line);
    void forget(QLocalSocket *socket);
    static QByteArray stoppingLine();
    void onProfileSwitched(quint64 ticket, const QString &problems);

    ListeningSocket m_listener;
    int m_maxClients = kMaxClients;
    // Said once a run: a limit that is too low stays so.
    bool m_saidOutOfDescriptors = false;
    ControlRequests m_requests;
    QHash<QLocalSocket *, Client> m_clients;
    bool m_refusing = false;
};
