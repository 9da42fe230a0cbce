#pragma once

#include <QByteArray>
#include <QJsonObject>

class CommSession;

// What the control channel can ask of a running session, one JSON request at a time:
// set a profile value, switch a fault, load another profile, send bytes now, read the
// counters, stop. Every request gets one reply, {"ok": true, ...} or {"ok": false,
// "error": "..."}; a request that cannot be understood changes nothing.
class ControlRequests
{
public:
    struct Reply
    {
        QByteArray line; // compact JSON, without a newline
        // The requester asked for the stop: it comes once the reply is on its way.
        bool stop = false;
        // Not 0: the reply is the outcome of this profile load, which comes later
        // (CommSession::profileSwitched); line is empty meanwhile.
        quint64 pendingLoad = 0;
    };

    explicit ControlRequests(CommSession &session) : m_session(session) { }

    Reply handle(const QByteArray &line);
    static QByteArray errorLine(const QString &error);
    // The reply to a load once it has ended.
    static QByteArray loadedLine(const QString &problems);

private:
    QJsonObject set(const QJsonObject &request);
    QJsonObject call(const QJsonObject &request);
    QJsonObject fault(const QJsonObject &request);
    Reply load(const QJsonObject &request);
    QJsonObject send(const QJsonObject &request);
    QJsonObject lines(const QJsonObject &request);
    QJsonObject sendBreak(const QJsonObject &request);
    QJsonObject counters() const;

    CommSession &m_session;
};
