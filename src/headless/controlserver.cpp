#include "headless/controlserver.h"

#include "platform/descriptorio.h"
#include "platform/socketpath.h"
#include "session/commsession.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <utility>

ControlServer::ControlServer(CommSession &session, QObject *parent)
    : QObject(parent), m_requests(session)
{
    connect(&session, &CommSession::profileSwitched, this, &ControlServer::onProfileSwitched);
    connect(&m_listener, &ListeningSocket::accepted, this, &ControlServer::accept);
    connect(&m_listener, &ListeningSocket::outOfDescriptors, this,
            &ControlServer::sayOutOfDescriptors);
    m_listener.setRefusal(ControlRequests::errorLine(
                                  QStringLiteral("the program has no descriptor left for another "
                                                 "client; try again when one has closed"))
                          + '\n');
}

ControlServer::~ControlServer()
{
    // The sockets are this one's children, which would report their end to a half-destroyed
    // this when the QObject part goes.
    for (QLocalSocket *socket : m_clients.keys()) {
        socket->disconnect(this);
        delete socket;
    }
    m_clients.clear();
    m_listener.close();
}

bool ControlServer::listen(const QString &path, long descriptorLimit, QString *error)
{
    // QLocalServer takes a name without a slash as one in the temporary folder.
    const QString absolute = QFileInfo(path).absoluteFilePath();
    if (!SocketPath::claim(absolute, error)) {
        *error = QStringLiteral("--control: ") + *error;
        return false;
    }
    const int fd = SocketPath::listenOwnerOnly(absolute, error);
    if (fd < 0) {
        *error = QStringLiteral("--control: ") + *error;
        return false;
    }
    m_listener.take(fd, absolute);
    m_maxClients = int(std::clamp(descriptorLimit - kReservedDescriptors, 1L, long(kMaxClients)));
    if (!SocketPath::restrictToOwner(absolute, error)) {
        m_listener.close();
        *error = QStringLiteral("--control: ") + *error;
        return false;
    }
    return true;
}

void ControlServer::finish(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    for (QLocalSocket *socket : m_clients.keys()) {
        while (socket->bytesToWrite() > 0 && !deadline.hasExpired()) {
            if (!socket->waitForBytesWritten(int(deadline.remainingTime())))
                break;
        }
    }
    m_listener.close();
}

void ControlServer::accept(int fd)
{
    if (m_clients.size() >= m_maxClients) {
        ListeningSocket::refuse(fd, ControlRequests::errorLine(
                                            QStringLiteral("at most %1 clients at a time")
                                                    .arg(m_maxClients))
                                            + '\n');
        return;
    }
    auto *socket = new QLocalSocket(this);
    if (!socket->setSocketDescriptor(fd)) {
        DescriptorIo::close(fd);
        delete socket;
        return;
    }
    m_clients.insert(socket, Client());
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readFrom(socket); });
    connect(socket, &QLocalSocket::disconnected, this, [this, socket] { forget(socket); });
    readFrom(socket);
}

void ControlServer::sayOutOfDescriptors(const QString &reason)
{
    if (std::exchange(m_saidOutOfDescriptors, true))
        return;
    std::fprintf(stderr,
                 "kalo_rs232c: --control: no descriptor left for a client (%s); such clients "
                 "get an error line (said once)\n",
                 reason.toLocal8Bit().constData());
}

void ControlServer::readFrom(QLocalSocket *socket)
{
    while (m_clients.contains(socket) && socket->bytesAvailable() > 0) {
        const QByteArray chunk = socket->read(kMaxLineBytes);
        for (qsizetype begin = 0; begin < chunk.size() && m_clients.contains(socket);) {
            const qsizetype newline = chunk.indexOf('\n', begin);
            const qsizetype end = newline < 0 ? chunk.size() : newline;
            takeLinePart(socket, QByteArrayView(chunk).sliced(begin, end - begin), newline >= 0);
            begin = end + 1;
        }
    }
}

void ControlServer::takeLinePart(QLocalSocket *socket, QByteArrayView part, bool lineEnds)
{
    Client &client = m_clients[socket];
    if (!client.skippingLine)
        client.partial.append(part);
    // Said once per line, when it passes the bound; the rest of it is dropped unread.
    const bool tooLong = !client.skippingLine && client.partial.size() > kMaxLineBytes;
    if (tooLong) {
        client.partial.clear();
        client.skippingLine = true;
    }
    QByteArray line;
    bool complete = false;
    if (lineEnds) {
        line = std::exchange(client.partial, QByteArray());
        complete = !std::exchange(client.skippingLine, false);
    }
    // Replying may disconnect the client, and client with it.
    if (tooLong)
        reply(socket, ControlRequests::errorLine(
                              QStringLiteral("line longer than %1 bytes").arg(kMaxLineBytes)));
    if (complete && m_clients.contains(socket))
        answer(socket, line);
}

void ControlServer::answer(QLocalSocket *socket, const QByteArray &line)
{
    // A blank line asks nothing, so it gets no reply that could pair with the next request.
    if (line.trimmed().isEmpty())
        return;
    if (m_refusing) {
        reply(socket, stoppingLine());
        return;
    }
    Client &client = m_clients[socket];
    if (client.awaitedLoad != 0) {
        client.held.push_back(line);
        return;
    }
    const ControlRequests::Reply answered = m_requests.handle(line);
    if (answered.pendingLoad != 0) {
        client.awaitedLoad = answered.pendingLoad;
        return;
    }
    reply(socket, answered.line);
    if (answered.stop) {
        refuseRequests();
        // The reply goes out before the stop takes the process down.
        socket->flush();
        QTimer::singleShot(0, this, &ControlServer::stopRequested);
    }
}

void ControlServer::reply(QLocalSocket *socket, const QByteArray &line)
{
    socket->write(line + '\n');
    if (socket->bytesToWrite() > kMaxReplyBacklog) {
        forget(socket);
        socket->abort();
    }
}

QByteArray ControlServer::stoppingLine()
{
    return ControlRequests::errorLine(QStringLiteral("the run is stopping"));
}

void ControlServer::refuseRequests()
{
    if (m_refusing)
        return;
    m_refusing = true;
    const QByteArray stopping = stoppingLine();
    for (QLocalSocket *socket : m_clients.keys()) {
        Client &client = m_clients[socket];
        if (client.awaitedLoad == 0)
            continue;
        client.awaitedLoad = 0;
        const qsizetype waiting = qsizetype(client.held.size());
        client.held.clear();
        for (qsizetype i = 0; i <= waiting && m_clients.contains(socket); ++i)
            reply(socket, stopping);
    }
}

void ControlServer::onProfileSwitched(quint64 ticket, const QString &problems)
{
    for (auto it = m_clients.begin(); it != m_clients.end(); ++it) {
        if (it->awaitedLoad != ticket)
            continue;
        QLocalSocket *socket = it.key();
        it->awaitedLoad = 0;
        std::deque<QByteArray> held;
        held.swap(it->held);
        reply(socket, ControlRequests::loadedLine(problems));
        // The requests that came meanwhile, in their order; another load holds the rest again.
        while (!held.empty() && m_clients.contains(socket)) {
            answer(socket, held.front());
            held.pop_front();
            if (m_clients.contains(socket) && m_clients[socket].awaitedLoad != 0) {
                std::move(held.begin(), held.end(), std::back_inserter(m_clients[socket].held));
                break;
            }
        }
        return;
    }
}

void ControlServer::forget(QLocalSocket *socket)
{
    if (m_clients.remove(socket))
        socket->deleteLater();
}
